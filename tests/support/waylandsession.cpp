#include "waylandsession.h"

#include "childprocess.h"

#include <algorithm>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <pwd.h>
#include <QCoreApplication>
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDBusObjectPath>
#include <QDBusReply>
#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QRandomGenerator>
#include <QRegularExpression>
#include <QScopeGuard>
#include <QStandardPaths>
#include <QTest>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>
#include <wayland-client.h>
#include <xcb/xcb.h>
#include <xkbcommon/xkbcommon.h>

namespace {

constexpr int startTimeoutMs = 20000;
const QString remoteDesktopService = QStringLiteral("org.gnome.Mutter.RemoteDesktop");
const QString kwinService = QStringLiteral("org.kde.KWin");

// Variables of the desktop the test runs in, which must not leak into this one.
const char *const foreignVariables[] = {"DISPLAY", "WAYLAND_DISPLAY", "XAUTHORITY", "SWAYSOCK", "I3SOCK",
                                        "QT_QPA_PLATFORM", "XDG_SESSION_DESKTOP", "DESKTOP_SESSION",
                                        "KDE_FULL_SESSION", "GNOME_SETUP_DISPLAY", "DBUS_SESSION_BUS_ADDRESS"};

bool writeFile(const QString &path, const QByteArray &content, QFile::Permissions permissions)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly | QIODevice::Truncate) && file.write(content) == content.size()
        && file.setPermissions(permissions);
}

// KWin's fake input and wlroots' virtual keyboard, spelled out here because only a few of
// their requests are needed: fake input's authenticate (opcode 0) and keyboard_key (opcode
// 10, since version 4); the manager's create_virtual_keyboard, and the keyboard's keymap,
// key and modifiers.
const wl_interface *noTypes[4] = {};
const wl_message unused{"unused", "", noTypes};
const wl_message fakeInputRequests[] = {
    {"authenticate", "ss", noTypes}, unused, unused, unused, unused, unused, unused, unused, unused, unused,
    {"keyboard_key", "4uu", noTypes}};
const wl_interface fakeInputInterface = {"org_kde_kwin_fake_input", 4, 11, fakeInputRequests, 0, nullptr};
enum FakeInputRequest : uint32_t { fakeInputAuthenticate = 0, fakeInputKeyboardKey = 10 };
extern const wl_interface virtualKeyboardInterface;
const wl_interface *createKeyboardTypes[2] = {&wl_seat_interface, &virtualKeyboardInterface};
const wl_message virtualKeyboardManagerRequests[] = {{"create_virtual_keyboard", "on", createKeyboardTypes}};
const wl_interface virtualKeyboardManagerInterface = {
    "zwp_virtual_keyboard_manager_v1", 1, 1, virtualKeyboardManagerRequests, 0, nullptr};
const wl_message virtualKeyboardRequests[] = {
    {"keymap", "uhu", noTypes}, {"key", "uuu", noTypes}, {"modifiers", "uuuu", noTypes}, {"destroy", "", noTypes}};
const wl_interface virtualKeyboardInterface = {"zwp_virtual_keyboard_v1", 1, 4, virtualKeyboardRequests, 0, nullptr};
enum VirtualKeyboardRequest : uint32_t {
    virtualKeyboardKeymap, virtualKeyboardKey, virtualKeyboardModifiers, virtualKeyboardDestroy };

// Binds the compositor's globals of the given interfaces, each at most at its version here.
QHash<QByteArray, wl_proxy *> bindGlobals(wl_display *display, QList<const wl_interface *> wanted)
{
    struct State
    {
        QList<const wl_interface *> wanted;
        QHash<QByteArray, wl_proxy *> bound;
    } state{std::move(wanted), {}};
    static const wl_registry_listener listener = {
        [](void *data, wl_registry *registry, uint32_t name, const char *interface, uint32_t version) {
            auto *found = static_cast<State *>(data);
            for (const wl_interface *each : std::as_const(found->wanted)) {
                if (std::strcmp(interface, each->name) == 0 && !found->bound.contains(interface))
                    found->bound.insert(interface, static_cast<wl_proxy *>(wl_registry_bind(
                                                       registry, name, each, std::min(version, uint32_t(each->version)))));
            }
        },
        [](void *, wl_registry *, uint32_t) {}};
    wl_registry *registry = wl_display_get_registry(display);
    wl_registry_add_listener(registry, &listener, &state);
    wl_display_roundtrip(display);
    wl_registry_destroy(registry);
    return state.bound;
}

// Whether the seat offers a keyboard, which decides whether windows get key focus at all;
// false too while the compositor does not answer.
bool seatHasKeyboard(const QString &socket)
{
    wl_display *display = wl_display_connect(QFile::encodeName(socket).constData());
    if (!display)
        return false;
    auto *seat = reinterpret_cast<wl_seat *>(bindGlobals(display, {&wl_seat_interface}).value(wl_seat_interface.name));
    bool keyboard = false;
    static const wl_seat_listener listener = {
        [](void *data, wl_seat *, uint32_t capabilities) {
            *static_cast<bool *>(data) = capabilities & WL_SEAT_CAPABILITY_KEYBOARD;
        },
        [](void *, wl_seat *, const char *) {}};
    if (seat) {
        wl_seat_add_listener(seat, &listener, &keyboard);
        wl_display_roundtrip(display);
        wl_seat_destroy(seat);
    }
    wl_display_disconnect(display);
    return keyboard;
}

// The evdev key codes that type the text on the US layout, with whether Shift is held;
// nothing when some character is not on it.
std::optional<QList<std::pair<uint32_t, bool>>> usStrokes(const QString &text)
{
    static constexpr char plain[] = "1234567890-=qwertyuiop[]asdfghjkl;'`\\zxcvbnm,./";
    static constexpr char shifted[] = "!@#$%^&*()_+QWERTYUIOP{}ASDFGHJKL:\"~|ZXCVBNM<>?";
    // The rows of the layout as evdev numbers them: 2–13, 16–27, 30–41, 43, 44–53.
    const auto code = [](int index) -> uint32_t {
        return index < 12 ? 2 + index : index < 24 ? 4 + index : index < 36 ? 6 + index : index == 36 ? 43 : 7 + index;
    };
    QList<std::pair<uint32_t, bool>> strokes;
    for (const char32_t character : text.toUcs4()) {
        const char *inPlain = character > 0 && character < 0x7f ? std::strchr(plain, int(character)) : nullptr;
        const char *inShifted = character > 0 && character < 0x7f ? std::strchr(shifted, int(character)) : nullptr;
        if (character == U' ' || character == U'\n' || character == U'\t')
            strokes.append({character == U' ' ? 57 : character == U'\n' ? 28 : 15, false});
        else if (inPlain)
            strokes.append({code(int(inPlain - plain)), false});
        else if (inShifted)
            strokes.append({code(int(inShifted - shifted)), true});
        else
            return std::nullopt;
    }
    return strokes;
}

quint32 keysymFor(char32_t character)
{
    if (character == U'\n' || character == U'\t')
        return character == U'\n' ? 0xff0d : 0xff09; // Return, Tab
    if ((character >= 0x20 && character <= 0x7e) || (character >= 0xa0 && character <= 0xff))
        return quint32(character);
    return 0x01000000 | quint32(character);
}

} // namespace

QString WaylandSession::missingProgram(Compositor compositor)
{
    QStringList programs{QStringLiteral("dbus-daemon"), QStringLiteral("Xwayland"), QStringLiteral("wl-copy"),
                         QStringLiteral("wl-paste"),    QStringLiteral("xclip"),    QStringLiteral("xdotool"),
                         QStringLiteral("xprop")};
    if (compositor == Compositor::sway)
        programs << QStringLiteral("sway") << QStringLiteral("swaymsg") << QStringLiteral("setpriv");
    else
        programs << (compositor == Compositor::kwin ? QStringLiteral("kwin_wayland") : QStringLiteral("mutter"));
    for (const QString &program : programs) {
        if (QStandardPaths::findExecutable(program).isEmpty())
            return program;
    }
    return {};
}

QProcessEnvironment WaylandSession::environment() const
{
    QProcessEnvironment variables = QProcessEnvironment::systemEnvironment();
    for (const char *name : foreignVariables)
        variables.remove(QString::fromLatin1(name));
    // Set by Qt Test for its own process; an application that inherits it keeps its widgets
    // off the accessibility bus.
    variables.remove(QStringLiteral("QT_QTESTLIB_RUNNING"));
    const QString home = path(QStringLiteral("home"));
    const QList<std::pair<const char *, QString>> values{
        {"HOME", home},
        {"XDG_CONFIG_HOME", home + QStringLiteral("/.config")},
        {"XDG_DATA_HOME", home + QStringLiteral("/.local/share")},
        {"XDG_STATE_HOME", home + QStringLiteral("/.local/state")},
        {"XDG_CACHE_HOME", home + QStringLiteral("/.cache")},
        {"XDG_RUNTIME_DIR", path(QStringLiteral("run"))},
        {"XDG_SESSION_TYPE", QStringLiteral("wayland")},
        {"XDG_CURRENT_DESKTOP", m_compositor == Compositor::sway   ? QStringLiteral("sway")
                                : m_compositor == Compositor::kwin ? QStringLiteral("KDE")
                                                                   : QStringLiteral("GNOME")},
        {"DBUS_SESSION_BUS_ADDRESS", m_busAddress},
        {"WAYLAND_DISPLAY", m_waylandDisplay},
        {"DISPLAY", m_x11Display},
        {"XAUTHORITY", m_xauthority},
        {"SWAYSOCK", m_swaySocket},
        {"I3SOCK", m_swaySocket}};
    for (const auto &[name, value] : values) {
        if (!value.isEmpty())
            variables.insert(QString::fromLatin1(name), value);
    }
    return variables;
}

void WaylandSession::enter() const
{
    const QProcessEnvironment variables = environment();
    for (const char *name : foreignVariables) {
        if (!variables.contains(QString::fromLatin1(name)))
            qunsetenv(name);
    }
    for (const QString &name : variables.keys())
        qputenv(name.toLocal8Bit().constData(), variables.value(name).toLocal8Bit());
}

void WaylandSession::adopt(QProcess &process) const
{
    // One process group for the whole session, so stop() reaches what the tools leave behind
    // (wl-copy and xclip fork to serve the selection).
    const pid_t group = m_group;
    process.setChildProcessModifier([group] {
        ::prctl(PR_SET_PDEATHSIG, SIGKILL);
        ::setpgid(0, group);
    });
}

void WaylandSession::launch(QProcess &process, const QString &program, const QStringList &arguments,
                            const QProcessEnvironment &variables) const
{
    QProcessEnvironment merged = environment();
    merged.insert(variables);
    process.setProcessEnvironment(merged);
    adopt(process);
    process.start(program, arguments);
}

QString WaylandSession::run(const QString &program, const QStringList &arguments, int *exitCode,
                            const QByteArray &input) const
{
    QProcess tool;
    tool.setProcessEnvironment(environment());
    adopt(tool);
    return QString::fromUtf8(ChildProcess::run(tool, program, arguments, exitCode, input, startTimeoutMs));
}

bool WaylandSession::fail(const QString &reason)
{
    m_error = reason;
    return false;
}

// The compositor's output, the end of which goes into the reasons of failures.
QString WaylandSession::log() const
{
    QFile file(path(QStringLiteral("compositor.log")));
    return file.open(QIODevice::ReadOnly) ? QString::fromLocal8Bit(file.readAll()) : QString();
}

bool WaylandSession::start()
{
    if (!prepareFolders() || !startBus())
        return false;
    switch (m_compositor) {
    case Compositor::sway:
        return startSway();
    case Compositor::kwin:
        return startKwin();
    case Compositor::mutter:
        return startMutter();
    }
    return false;
}

bool WaylandSession::prepareFolders()
{
    if (!m_folder.isValid())
        return fail(QStringLiteral("no temporary folder: ") + m_folder.errorString());
    // Traversable by everyone: sway runs as another user and reads its files from here.
    ::chmod(QFile::encodeName(m_folder.path()).constData(), 0711);
    for (const char *name :
         {"run", "home/.config/menus", "home/.local/share/applications", "home/.local/state", "home/.cache"}) {
        if (!QDir().mkpath(path(QString::fromLatin1(name))))
            return fail(QStringLiteral("could not create ") + path(QString::fromLatin1(name)));
    }
    ::chmod(QFile::encodeName(path(QStringLiteral("run"))).constData(), 0700);
    // Every X server here (XWayland included) insists on a root-owned, world-writable, sticky
    // socket folder; KWin refuses to start XWayland otherwise.
    const char *sockets = "/tmp/.X11-unix";
    struct stat status{};
    if (::stat(sockets, &status) != 0 && (::mkdir(sockets, 01777) != 0 || ::chmod(sockets, 01777) != 0))
        return fail(QStringLiteral("could not create /tmp/.X11-unix"));
    if (::stat(sockets, &status) != 0 || status.st_uid != 0 || (status.st_mode & 07777) != 01777)
        return fail(QStringLiteral("/tmp/.X11-unix must be owned by root with mode 1777"));
    return true;
}

bool WaylandSession::startBus()
{
    adopt(m_bus);
    m_busAddress = ChildProcess::startBus(m_bus, m_folder.path());
    // The bus leads the session's process group; stop() kills the group, so it must be real.
    m_group = pid_t(m_bus.processId());
    if (m_busAddress.isEmpty() || ::getpgid(m_group) != m_group) {
        m_group = 0;
        return fail(QStringLiteral("dbus-daemon did not come up in its own process group"));
    }
    // The backstop for a test process that dies without stop(): its end of this pipe closes,
    // and the watchdog removes the folder and kills the group. That reaches what no
    // parent-death signal does: the helper that wlroots forks to start XWayland keeps sway's
    // end of XWayland's connection, so if sway dies first, the two wait for each other forever.
    const pid_t group = m_group;
    m_watchdog.setChildProcessModifier([group] { ::setpgid(0, group); });
    m_watchdog.start(QStringLiteral("sh"), {QStringLiteral("-c"), QStringLiteral("read -r line; rm -rf -- \"$1\"; kill -KILL 0"),
                                            QStringLiteral("watchdog"), m_folder.path()});
    if (!m_watchdog.waitForStarted(startTimeoutMs))
        return fail(QStringLiteral("the watchdog did not start: ") + m_watchdog.errorString());
    m_busConnection = QStringLiteral("murmel-wayland-session-%1").arg(quintptr(this));
    return QDBusConnection::connectToBus(m_busAddress, m_busConnection).isConnected()
        || fail(QStringLiteral("could not connect to the private bus"));
}

bool WaylandSession::startCompositor(const QString &program, const QStringList &arguments,
                                     const QProcessEnvironment &variables)
{
    m_compositorProcess.setProcessEnvironment(variables);
    // A file, not a pipe: a compositor that logs while nobody reads must never block.
    m_compositorProcess.setProcessChannelMode(QProcess::MergedChannels);
    m_compositorProcess.setStandardOutputFile(path(QStringLiteral("compositor.log")));
    adopt(m_compositorProcess);
    m_compositorProcess.start(program, arguments);
    return m_compositorProcess.waitForStarted(startTimeoutMs)
        || fail(program + QStringLiteral(" did not start: ") + m_compositorProcess.errorString());
}

// The compositors announce their displays only to their own children: each start makes one
// of them write its environment to a file.
bool WaylandSession::readChildEnvironment(const QString &file)
{
    const bool written = QTest::qWaitFor(
        [&] { return QFile::exists(file) || m_compositorProcess.state() == QProcess::NotRunning; }, startTimeoutMs);
    QFile report(file);
    if (!written || !report.open(QIODevice::ReadOnly))
        return fail(QStringLiteral("the compositor did not come up: ") + log().right(2000));
    for (const QByteArray &line : report.readAll().split('\n')) {
        const QString entry = QString::fromLocal8Bit(line);
        const QString name = entry.section(u'=', 0, 0);
        const QString value = entry.section(u'=', 1);
        if (name == u"WAYLAND_DISPLAY")
            m_waylandDisplay = value;
        else if (name == u"DISPLAY")
            m_x11Display = value;
        else if (name == u"SWAYSOCK")
            m_swaySocket = value;
    }
    return (!m_waylandDisplay.isEmpty() && !m_x11Display.isEmpty())
        || fail(QStringLiteral("the compositor named no Wayland or X display: ") + log().right(2000));
}

bool WaylandSession::startSway()
{
    // sway refuses to run as root, and an XWayland of another user admits only that user, so
    // XWayland gets a cookie file (a wildcard entry, valid for whatever display it picks)
    // through a wrapper that wlroots runs instead of it.
    const passwd *nobody = ::getpwnam("nobody");
    if (!nobody)
        return fail(QStringLiteral("there is no user nobody to run sway as"));
    const QString swayFolder = path(QStringLiteral("sway"));
    for (const QString &folder : QStringList{swayFolder, swayFolder + QStringLiteral("/run"), swayFolder + QStringLiteral("/home")}) {
        if (!QDir().mkpath(folder) || ::chown(QFile::encodeName(folder).constData(), nobody->pw_uid, nobody->pw_gid) != 0
            || ::chmod(QFile::encodeName(folder).constData(), 0700) != 0)
            return fail(QStringLiteral("could not prepare ") + folder);
    }
    QByteArray cookie(16, Qt::Uninitialized);
    QRandomGenerator::system()->generate(cookie.begin(), cookie.end());
    const auto field = [](const QByteArray &bytes) -> QByteArray {
        return QByteArray(1, char(bytes.size() >> 8)) + char(bytes.size() & 0xff) + bytes;
    };
    m_xauthority = path(QStringLiteral("xauthority"));
    const QString wrapper = path(QStringLiteral("xwayland"));
    const QString childEnvironment = swayFolder + QStringLiteral("/run/children.env");
    const QFile::Permissions readable = QFile::ReadOwner | QFile::WriteOwner | QFile::ReadGroup | QFile::ReadOther;
    if (!writeFile(m_xauthority,
                   QByteArray("\xff\xff", 2) + field({}) + field({}) + field("MIT-MAGIC-COOKIE-1") + field(cookie),
                   readable)
        || !writeFile(wrapper,
                      QStringLiteral("#!/bin/sh\nexec '%1' \"$@\" -auth '%2'\n")
                          .arg(QStandardPaths::findExecutable(QStringLiteral("Xwayland")), m_xauthority)
                          .toLocal8Bit(),
                      readable | QFile::ExeOwner | QFile::ExeGroup | QFile::ExeOther)
        || !writeFile(path(QStringLiteral("sway.conf")),
                      QStringLiteral("output HEADLESS-1 resolution 1280x800\nxwayland enable\n"
                                     "exec env > %1.part && mv %1.part %1\n")
                          .arg(childEnvironment)
                          .toLocal8Bit(),
                      readable))
        return fail(QStringLiteral("could not write sway's files"));

    QProcessEnvironment variables = environment();
    for (const char *name : {"DBUS_SESSION_BUS_ADDRESS", "XDG_CONFIG_HOME", "XDG_DATA_HOME", "XDG_STATE_HOME", "XDG_CACHE_HOME"})
        variables.remove(QString::fromLatin1(name));
    variables.insert(QStringLiteral("HOME"), swayFolder + QStringLiteral("/home"));
    variables.insert(QStringLiteral("XDG_RUNTIME_DIR"), swayFolder + QStringLiteral("/run"));
    variables.insert(QStringLiteral("WLR_BACKENDS"), QStringLiteral("headless"));
    variables.insert(QStringLiteral("WLR_LIBINPUT_NO_DEVICES"), QStringLiteral("1"));
    variables.insert(QStringLiteral("WLR_RENDERER"), QStringLiteral("pixman"));
    variables.insert(QStringLiteral("WLR_HEADLESS_OUTPUTS"), QStringLiteral("1"));
    variables.insert(QStringLiteral("WLR_XWAYLAND"), wrapper);
    // Changing the user clears the parent-death signal; setpriv sets it again afterwards.
    if (!startCompositor(QStringLiteral("setpriv"),
                         {QStringLiteral("--reuid=%1").arg(nobody->pw_uid), QStringLiteral("--regid=%1").arg(nobody->pw_gid),
                          QStringLiteral("--clear-groups"), QStringLiteral("--pdeathsig"), QStringLiteral("KILL"),
                          QStringLiteral("--"), QStringLiteral("sway"), QStringLiteral("-c"), path(QStringLiteral("sway.conf"))},
                         variables)
        || !readChildEnvironment(childEnvironment))
        return false;
    // Clients here run as root and keep a runtime folder of their own, which Qt wants owned by
    // them; the socket is reached through a link.
    if (!QFile::link(swayFolder + QStringLiteral("/run/") + m_waylandDisplay, waylandSocket()))
        return fail(QStringLiteral("could not link sway's socket"));
    return createKeyboard() && waitForKeyboard();
}

bool WaylandSession::startKwin()
{
    // The installed binary carries a file capability that cannot be granted here; a copy has
    // none, and KWin checks that its name still ends in kwin_wayland.
    const QString binary = path(QStringLiteral("bin/kwin_wayland"));
    if (!QDir().mkpath(path(QStringLiteral("bin")))
        || !QFile::copy(QStandardPaths::findExecutable(QStringLiteral("kwin_wayland")), binary))
        return fail(QStringLiteral("could not copy kwin_wayland"));
    const QString report = path(QStringLiteral("report-environment"));
    const QString childEnvironment = path(QStringLiteral("children.env"));
    const QFile::Permissions private_ = QFile::ReadOwner | QFile::WriteOwner;
    // KWin offers fake input only to a program whose desktop entry asks for it, and compares
    // the entry's Exec with the client's executable path. KDE's service index (KWin 6 looks
    // entries up there) lists applications only through the desktop's menu, which Plasma
    // installs and a bare KWin lacks.
    if (!writeFile(report,
                   QStringLiteral("#!/bin/sh\nenv > %1.part && exec mv %1.part %1\n").arg(childEnvironment).toLocal8Bit(),
                   private_ | QFile::ExeOwner)
        || !writeFile(path(QStringLiteral("home/.local/share/applications/murmel-test-harness.desktop")),
                      "[Desktop Entry]\nType=Application\nName=Murmel test harness\nNoDisplay=true\nExec=\""
                          + QFile::encodeName(QCoreApplication::applicationFilePath())
                          + "\"\nX-KDE-Wayland-Interfaces=org_kde_kwin_fake_input\n",
                      private_)
        || !writeFile(path(QStringLiteral("home/.config/menus/applications.menu")),
                      "<Menu><Name>Applications</Name><DefaultAppDirs/><Include><All/></Include></Menu>\n", private_))
        return fail(QStringLiteral("could not write KWin's files"));
    // KWin runs the programs named after its options once XWayland is up.
    return startCompositor(binary,
                           {QStringLiteral("--virtual"), QStringLiteral("--xwayland"), QStringLiteral("--width"),
                            QStringLiteral("1280"), QStringLiteral("--height"), QStringLiteral("800"),
                            QStringLiteral("--socket"), QStringLiteral("wayland-0"), QStringLiteral("--no-lockscreen"),
                            report},
                           environment())
        && readChildEnvironment(childEnvironment) && waitForBusName(kwinService) && createKeyboard()
        && waitForKeyboard();
}

bool WaylandSession::startMutter()
{
    // mutter quits when a program it was given ends, so its displays come from its log.
    if (!startCompositor(QStringLiteral("mutter"),
                         {QStringLiteral("--headless"), QStringLiteral("--wayland"), QStringLiteral("--virtual-monitor"),
                          QStringLiteral("1280x800"), QStringLiteral("--wayland-display"), QStringLiteral("wayland-0")},
                         environment()))
        return false;
    const QRegularExpression announcement(QStringLiteral("Using public X11 display (:\\d+)"));
    const bool announced = QTest::qWaitFor(
        [&] {
            m_x11Display = announcement.match(log()).captured(1);
            return !m_x11Display.isEmpty() || m_compositorProcess.state() == QProcess::NotRunning;
        },
        startTimeoutMs);
    if (!announced || m_x11Display.isEmpty())
        return fail(QStringLiteral("mutter started no XWayland: ") + log().right(2000));
    m_waylandDisplay = QStringLiteral("wayland-0");
    const QStringList cookies = QDir(path(QStringLiteral("run")))
                                    .entryList({QStringLiteral(".mutter-Xwaylandauth.*")}, QDir::Files | QDir::Hidden);
    if (cookies.isEmpty())
        return fail(QStringLiteral("mutter left no XWayland cookie"));
    m_xauthority = path(QStringLiteral("run/")) + cookies.first();
    // The seat gets its keyboard with the first key of a remote desktop session; a client that
    // sees it appear loses that key, so a lone Shift goes first.
    return waitForBusName(remoteDesktopService) && openRemoteDesktop() && sendKeysym(0xffe1, true)
        && sendKeysym(0xffe1, false) && waitForKeyboard();
}

bool WaylandSession::waitForBusName(const QString &name)
{
    QDBusConnection bus(m_busConnection);
    return QTest::qWaitFor([&] { return bus.interface()->isServiceRegistered(name).value(); }, startTimeoutMs)
        || fail(name + QStringLiteral(" did not appear on the bus: ") + log().right(2000));
}

bool WaylandSession::waitForKeyboard()
{
    return QTest::qWaitFor([this] { return seatHasKeyboard(waylandSocket()); }, startTimeoutMs)
        || fail(QStringLiteral("the seat has no keyboard: ") + log().right(2000));
}

// The session lives as long as this connection: mutter ends it when its caller leaves the bus.
bool WaylandSession::openRemoteDesktop()
{
    QDBusConnection bus(m_busConnection);
    const QDBusReply<QDBusObjectPath> session = bus.call(QDBusMessage::createMethodCall(
        remoteDesktopService, QStringLiteral("/org/gnome/Mutter/RemoteDesktop"), remoteDesktopService,
        QStringLiteral("CreateSession")));
    if (!session.isValid())
        return fail(QStringLiteral("mutter opened no remote desktop session: ") + session.error().message());
    m_remoteDesktopSession = session.value().path();
    const QDBusMessage started = bus.call(QDBusMessage::createMethodCall(
        remoteDesktopService, m_remoteDesktopSession, remoteDesktopService + QStringLiteral(".Session"),
        QStringLiteral("Start")));
    return started.type() == QDBusMessage::ReplyMessage
        || fail(QStringLiteral("mutter did not start the remote desktop session: ") + started.errorMessage());
}

bool WaylandSession::sendKeysym(quint32 keysym, bool pressed) const
{
    QDBusMessage call = QDBusMessage::createMethodCall(remoteDesktopService, m_remoteDesktopSession,
                                                       remoteDesktopService + QStringLiteral(".Session"),
                                                       QStringLiteral("NotifyKeyboardKeysym"));
    call << keysym << pressed;
    return QDBusConnection(m_busConnection).call(call).type() == QDBusMessage::ReplyMessage;
}

// sway: a virtual keyboard with a full US keymap, unlike wtype's, which holds only the keys
// it types and becomes XWayland's keymap too, so that XTEST keys typed there afterwards come
// out wrong. KWin: one fake input device, made before any window opens: an X client of Qt
// 6.8 crashes when XWayland announces an input device that appears while it runs.
bool WaylandSession::createKeyboard()
{
    m_display = wl_display_connect(QFile::encodeName(waylandSocket()).constData());
    if (!m_display)
        return fail(QStringLiteral("could not connect to the compositor"));
    // KWin types through fake input, sway through a virtual keyboard on its seat.
    const QHash<QByteArray, wl_proxy *> globals = m_compositor == Compositor::kwin
        ? bindGlobals(m_display, {&fakeInputInterface})
        : bindGlobals(m_display, {&wl_seat_interface, &virtualKeyboardManagerInterface});
    wl_proxy *const seat = globals.value(wl_seat_interface.name);
    wl_proxy *const manager = globals.value(virtualKeyboardManagerInterface.name);
    m_fakeInput = globals.value(fakeInputInterface.name);
    if (m_fakeInput)
        wl_proxy_marshal(m_fakeInput, fakeInputAuthenticate, "Murmel tests", "typing into test windows");
    if (m_compositor == Compositor::sway && seat && manager) {
        m_virtualKeyboard = wl_proxy_marshal_constructor(manager, 0, &virtualKeyboardInterface, seat, nullptr);
        xkb_context *context = xkb_context_new(XKB_CONTEXT_NO_FLAGS);
        const xkb_rule_names names{"evdev", "pc105", "us", "", ""};
        xkb_keymap *keymap = context ? xkb_keymap_new_from_names(context, &names, XKB_KEYMAP_COMPILE_NO_FLAGS) : nullptr;
        char *description = keymap ? xkb_keymap_get_as_string(keymap, XKB_KEYMAP_FORMAT_TEXT_V1) : nullptr;
        const int file = ::memfd_create("murmel-keymap", MFD_CLOEXEC);
        const size_t size = description ? std::strlen(description) + 1 : 0;
        if (description && file >= 0 && ::write(file, description, size) == ssize_t(size)) {
            m_shiftMask = 1u << xkb_keymap_mod_get_index(keymap, XKB_MOD_NAME_SHIFT);
            wl_proxy_marshal(m_virtualKeyboard, virtualKeyboardKeymap, uint32_t(WL_KEYBOARD_KEYMAP_FORMAT_XKB_V1), file,
                             uint32_t(size));
        }
        wl_display_roundtrip(m_display);
        if (file >= 0)
            ::close(file);
        std::free(description);
        xkb_keymap_unref(keymap);
        xkb_context_unref(context);
    }
    for (wl_proxy *proxy : globals) {
        if (proxy != m_fakeInput)
            wl_proxy_destroy(proxy);
    }
    if (m_compositor == Compositor::sway && (!m_virtualKeyboard || m_shiftMask == 0))
        return fail(QStringLiteral("sway offers no virtual keyboard with a US keymap"));
    if (m_compositor == Compositor::kwin && !m_fakeInput)
        return fail(QStringLiteral("KWin offers no fake input to this program"));
    return wl_display_roundtrip(m_display) >= 0 || fail(QStringLiteral("the compositor refused the keyboard"));
}

bool WaylandSession::typeText(const QString &text)
{
    if (m_compositor == Compositor::mutter) {
        for (const char32_t character : text.toUcs4()) {
            if (!sendKeysym(keysymFor(character), true) || !sendKeysym(keysymFor(character), false))
                return fail(QStringLiteral("mutter refused a key"));
        }
        return true;
    }
    const auto strokes = usStrokes(text);
    if (!strokes)
        return fail(QStringLiteral("not all of \"%1\" can be typed on the US layout").arg(text));
    const auto key = [this](uint32_t code, bool pressed) {
        if (m_virtualKeyboard)
            wl_proxy_marshal(m_virtualKeyboard, virtualKeyboardKey, ++m_keyTime, code, uint32_t(pressed));
        else
            wl_proxy_marshal(m_fakeInput, fakeInputKeyboardKey, code, uint32_t(pressed));
    };
    // wlroots takes a virtual keyboard's modifiers as it says, not from its Shift key.
    const auto shift = [&](bool down) {
        if (m_virtualKeyboard)
            wl_proxy_marshal(m_virtualKeyboard, virtualKeyboardModifiers, down ? m_shiftMask : 0u, 0u, 0u, 0u);
        else
            key(42, down);
    };
    for (const auto &[code, shifted] : *strokes) {
        if (shifted)
            shift(true);
        key(code, true);
        key(code, false);
        if (shifted)
            shift(false);
    }
    return wl_display_roundtrip(m_display) >= 0 || fail(QStringLiteral("the compositor dropped the keyboard"));
}

bool WaylandSession::pressChord(const QList<quint32> &keys)
{
    if (!m_fakeInput)
        return fail(QStringLiteral("chords are played through KWin's fake input only"));
    for (const quint32 code : keys)
        wl_proxy_marshal(m_fakeInput, fakeInputKeyboardKey, code, uint32_t(1));
    for (auto code = keys.crbegin(); code != keys.crend(); ++code)
        wl_proxy_marshal(m_fakeInput, fakeInputKeyboardKey, *code, uint32_t(0));
    return wl_display_roundtrip(m_display) >= 0 || fail(QStringLiteral("KWin went away"));
}

QString WaylandSession::announceLaunch()
{
    const QByteArray authority = qgetenv("XAUTHORITY");
    qputenv("XAUTHORITY", m_xauthority.toLocal8Bit());
    xcb_connection_t *connection = xcb_connect(m_x11Display.toLocal8Bit().constData(), nullptr);
    qputenv("XAUTHORITY", authority);
    const auto disconnect = qScopeGuard([&] { xcb_disconnect(connection); });
    if (xcb_connection_has_error(connection)) {
        fail(QStringLiteral("no connection to the X display"));
        return {};
    }
    const auto atom = [&](const char *name) {
        xcb_intern_atom_reply_t *reply = xcb_intern_atom_reply(
            connection, xcb_intern_atom(connection, 0, uint16_t(std::strlen(name)), name), nullptr);
        const xcb_atom_t value = reply ? reply->atom : xcb_atom_t(XCB_ATOM_NONE);
        std::free(reply);
        return value;
    };
    // The server's time: the stamp of a property change on a window of our own.
    const xcb_window_t root = xcb_setup_roots_iterator(xcb_get_setup(connection)).data->root;
    const xcb_window_t window = xcb_generate_id(connection);
    const uint32_t events = XCB_EVENT_MASK_PROPERTY_CHANGE;
    xcb_create_window(connection, 0, window, root, 0, 0, 1, 1, 0, XCB_WINDOW_CLASS_INPUT_ONLY, 0, XCB_CW_EVENT_MASK,
                      &events);
    xcb_change_property(connection, XCB_PROP_MODE_REPLACE, window, XCB_ATOM_WM_NAME, XCB_ATOM_STRING, 8, 1, "L");
    xcb_flush(connection);
    xcb_timestamp_t time = 0;
    while (time == 0) {
        xcb_generic_event_t *event = xcb_wait_for_event(connection);
        if (!event)
            break;
        if ((event->response_type & 0x7f) == XCB_PROPERTY_NOTIFY)
            time = reinterpret_cast<xcb_property_notify_event_t *>(event)->time;
        std::free(event);
    }
    const QByteArray id = "test-launcher-" + QByteArray::number(++m_count) + "_TIME" + QByteArray::number(time);
    const QByteArray message = "new: ID=\"" + id + "\" NAME=\"Murmel\" SCREEN=0" + QByteArray(1, '\0');
    xcb_client_message_event_t piece{};
    piece.response_type = XCB_CLIENT_MESSAGE;
    piece.format = 8;
    piece.window = window;
    piece.type = atom("_NET_STARTUP_INFO_BEGIN");
    const xcb_atom_t more = atom("_NET_STARTUP_INFO");
    for (qsizetype offset = 0; offset < message.size(); offset += 20) {
        std::memset(piece.data.data8, 0, sizeof piece.data.data8);
        std::memcpy(piece.data.data8, message.constData() + offset, size_t(std::min<qsizetype>(20, message.size() - offset)));
        xcb_send_event(connection, 0, root, XCB_EVENT_MASK_PROPERTY_CHANGE, reinterpret_cast<const char *>(&piece));
        piece.type = more;
    }
    xcb_destroy_window(connection, window);
    xcb_flush(connection);
    return QString::fromLatin1(id);
}

QString WaylandSession::managedX11Window(const QString &title) const
{
    // mutter 48 draws frames in a client of its own, whose frame windows carry their clients'
    // titles; only a managed window is in _NET_CLIENT_LIST.
    const QString clients = run(QStringLiteral("xprop"), {QStringLiteral("-root"), QStringLiteral("_NET_CLIENT_LIST")});
    const QStringList matches = run(QStringLiteral("xdotool"),
                                    {QStringLiteral("search"), QStringLiteral("--onlyvisible"), QStringLiteral("--name"),
                                     u'^' + QRegularExpression::escape(title) + u'$'})
                                    .split(u'\n', Qt::SkipEmptyParts);
    for (const QString &match : matches) {
        if (QRegularExpression(QStringLiteral("\\b0x%1\\b").arg(match.toULongLong(), 0, 16)).match(clients).hasMatch())
            return match;
    }
    return {};
}

bool WaylandSession::focus(const QString &title)
{
    const QString x11Window = managedX11Window(title);
    int code = -1;
    if (m_compositor == Compositor::sway) {
        run(QStringLiteral("swaymsg"),
            {QStringLiteral("[title=\"^%1$\"] focus").arg(QRegularExpression::escape(title))}, &code);
        if (code != 0)
            return fail(QStringLiteral("sway has no window titled ") + title);
    } else if (m_compositor == Compositor::kwin) {
        if (!focusWithKwinScript(title))
            return false;
    } else {
        if (x11Window.isEmpty())
            return fail(QStringLiteral("mutter can activate only X windows, and none is titled ") + title);
        run(QStringLiteral("xdotool"), {QStringLiteral("windowactivate"), QStringLiteral("--sync"), x11Window}, &code);
        if (code != 0)
            return fail(QStringLiteral("mutter did not activate ") + title);
    }
    // mutter names an X window active before XWayland gives it the keyboard, and keys sent in
    // between are lost; XWayland's own input focus is the last step on every compositor.
    return x11Window.isEmpty()
        || QTest::qWaitFor(
               [&] { return run(QStringLiteral("xdotool"), {QStringLiteral("getwindowfocus")}).trimmed() == x11Window; },
               startTimeoutMs)
        || fail(title + QStringLiteral(" did not get the keyboard"));
}

// KWin lists and activates windows only from inside, through a script loaded over D-Bus. A
// script's print() lands in KWin's log, which is where it reports back.
bool WaylandSession::focusWithKwinScript(const QString &title)
{
    QDBusConnection bus(m_busConnection);
    const QString script = path(QStringLiteral("focus.js"));
    const auto call = [&](const QString &method, const QVariantList &arguments) {
        QDBusMessage message = QDBusMessage::createMethodCall(kwinService, QStringLiteral("/Scripting"),
                                                              QStringLiteral("org.kde.kwin.Scripting"), method);
        message.setArguments(arguments);
        bus.call(message);
    };
    QString outcome;
    const bool settled = QTest::qWaitFor(
        [&] {
            const QString token = QStringLiteral("murmel-focus-%1").arg(++m_count);
            // KWin 6 renamed clients to windows.
            const QString source = QStringLiteral(
                "const title = %1[0];\n"
                "const six = workspace.activeWindow !== undefined;\n"
                "const active = () => six ? workspace.activeWindow : workspace.activeClient;\n"
                "let window = null;\n"
                "for (const each of six ? workspace.windowList() : workspace.clientList()) "
                "if (each.caption === title) window = each;\n"
                "if (window && active() !== window) {\n"
                "  if (six) workspace.activeWindow = window;\n"
                "  else workspace.activeClient = window;\n"
                "}\n"
                "print('%2 ' + (!window ? 'missing' : active() === window ? 'active' : 'pending'));\n")
                                       .arg(QString::fromUtf8(QJsonDocument(QJsonArray{title}).toJson(QJsonDocument::Compact)), token);
            if (!writeFile(script, source.toUtf8(), QFile::ReadOwner | QFile::WriteOwner))
                return false;
            call(QStringLiteral("loadScript"), {script, token});
            call(QStringLiteral("start"), {});
            const QRegularExpression report(token + QStringLiteral(" (\\w+)"));
            const bool reported
                = QTest::qWaitFor([&] { return !(outcome = report.match(log()).captured(1)).isEmpty(); }, 2000);
            call(QStringLiteral("unloadScript"), {token});
            return reported && outcome != u"pending";
        },
        5000);
    return (settled && outcome == u"active")
        || fail(outcome == u"missing" ? QStringLiteral("KWin has no window titled ") + title
                                      : QStringLiteral("KWin did not activate ") + title);
}

QString WaylandSession::activeX11Window() const
{
    int code = -1;
    const QString window = run(QStringLiteral("xdotool"), {QStringLiteral("getactivewindow")}, &code).trimmed();
    if (code != 0)
        return {};
    // mutter 48 names a window of its own, one without WM_CLASS, while a native one is active.
    const bool hasClass
        = run(QStringLiteral("xprop"), {QStringLiteral("-id"), window, QStringLiteral("WM_CLASS")}, &code).contains(u'"');
    return code == 0 && hasClass ? window : QString();
}

QString WaylandSession::clipboard(Side side) const
{
    int code = -1;
    const QString text = side == Side::wayland
        ? run(QStringLiteral("wl-paste"), {QStringLiteral("--no-newline")}, &code)
        : run(QStringLiteral("xclip"),
              {QStringLiteral("-o"), QStringLiteral("-selection"), QStringLiteral("clipboard"), QStringLiteral("-t"),
               QStringLiteral("UTF8_STRING")},
              &code);
    return code == 0 ? text : QString();
}

bool WaylandSession::setClipboard(Side side, const QString &text) const
{
    int code = -1;
    if (side == Side::wayland)
        run(QStringLiteral("wl-copy"), {}, &code, text.toUtf8());
    else
        run(QStringLiteral("xclip"), {QStringLiteral("-i"), QStringLiteral("-selection"), QStringLiteral("clipboard")},
            &code, text.toUtf8());
    // Both tools leave a process behind that serves the selection, which may not own it yet.
    return code == 0 && QTest::qWaitFor([&] { return clipboard(side) == text; }, 5000);
}

void WaylandSession::stop()
{
    if (!m_busConnection.isEmpty())
        QDBusConnection::disconnectFromBus(m_busConnection);
    m_busConnection.clear();
    if (m_virtualKeyboard) {
        wl_proxy_marshal(m_virtualKeyboard, virtualKeyboardDestroy);
        wl_proxy_destroy(m_virtualKeyboard);
    }
    if (m_fakeInput)
        wl_proxy_destroy(m_fakeInput);
    if (m_display)
        wl_display_disconnect(m_display);
    m_virtualKeyboard = m_fakeInput = nullptr;
    m_display = nullptr;
    ChildProcess::stop(m_compositorProcess);
    // Whatever is left of the group: XWayland, the bus, and the tools' selection servers.
    if (m_group > 1 && m_group != ::getpgrp())
        ::kill(-m_group, SIGKILL);
    m_group = 0;
    ChildProcess::stop(m_bus);
    ChildProcess::stop(m_watchdog);
}

TextWindow::TextWindow(const WaylandSession &session, const QString &platform, const QString &title)
    : TextWindowProcess(QProcessEnvironment())
{
    QProcessEnvironment variables;
    variables.insert(QStringLiteral("QT_QPA_PLATFORM"), platform);
    variables.insert(QStringLiteral("QT_LINUX_ACCESSIBILITY_ALWAYS_ON"), QStringLiteral("1"));
    session.launch(m_process, program(), {QStringLiteral("--title"), title}, variables);
}
