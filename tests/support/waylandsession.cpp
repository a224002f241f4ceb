#include "waylandsession.h"

#include "childprocess.h"

#include <algorithm>
#include <csignal>
#include <cstring>
#include <ctime>
#include <pwd.h>
#include <QCoreApplication>
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDBusObjectPath>
#include <QDBusReply>
#include <QDir>
#include <QFile>
#include <QRandomGenerator>
#include <QRegularExpression>
#include <QScopeGuard>
#include <QStandardPaths>
#include <QTest>
#include <sys/stat.h>
#include <unistd.h>
#include <wayland-client.h>

using namespace Qt::StringLiterals;

namespace {

constexpr int startTimeoutMs = 20000;
const QString remoteDesktopService = u"org.gnome.Mutter.RemoteDesktop"_s;

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
// 10, since version 4), and the manager's create_virtual_keyboard.
const wl_interface *noTypes[4] = {};
const wl_message unused{"unused", "", noTypes};
const wl_message fakeInputRequests[] = {
    {"authenticate", "ss", noTypes}, unused, unused, unused, unused, unused, unused, unused, unused, unused,
    {"keyboard_key", "4uu", noTypes}};
const wl_interface fakeInputInterface = {"org_kde_kwin_fake_input", 4, 11, fakeInputRequests, 0, nullptr};
enum FakeInputRequest : uint32_t { fakeInputAuthenticate = 0, fakeInputKeyboardKey = 10 };
const wl_interface virtualKeyboardInterface = {"zwp_virtual_keyboard_v1", 1, 0, nullptr, 0, nullptr};
const wl_interface *createKeyboardTypes[2] = {&wl_seat_interface, &virtualKeyboardInterface};
const wl_message virtualKeyboardManagerRequests[] = {{"create_virtual_keyboard", "on", createKeyboardTypes}};
const wl_interface virtualKeyboardManagerInterface = {
    "zwp_virtual_keyboard_manager_v1", 1, 1, virtualKeyboardManagerRequests, 0, nullptr};

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

} // namespace

QString WaylandSession::missingProgram(Compositor compositor)
{
    QStringList programs{u"dbus-daemon"_s, u"Xwayland"_s, u"wl-copy"_s, u"wl-paste"_s,
                         u"xclip"_s,       u"xdotool"_s,  u"xprop"_s};
    if (compositor == Compositor::sway)
        programs << u"sway"_s << u"swaymsg"_s << u"setpriv"_s;
    else
        programs << (compositor == Compositor::kwin ? u"kwin_wayland"_s : u"mutter"_s);
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
    variables.remove(u"QT_QTESTLIB_RUNNING"_s);
    const QString home = path(u"home"_s);
    const QList<std::pair<const char *, QString>> values{
        {"HOME", home},
        {"XDG_CONFIG_HOME", home + u"/.config"_s},
        {"XDG_DATA_HOME", home + u"/.local/share"_s},
        {"XDG_STATE_HOME", home + u"/.local/state"_s},
        {"XDG_CACHE_HOME", home + u"/.cache"_s},
        {"XDG_RUNTIME_DIR", path(u"run"_s)},
        {"XDG_SESSION_TYPE", u"wayland"_s},
        {"XDG_CURRENT_DESKTOP", m_compositor == Compositor::sway ? u"sway"_s
                                : m_compositor == Compositor::kwin ? u"KDE"_s
                                                                   : u"GNOME"_s},
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

bool WaylandSession::failWithLog(const QString &reason)
{
    QFile log(path(u"compositor.log"_s));
    return fail(reason + u": "_s + (log.open(QIODevice::ReadOnly) ? QString::fromLocal8Bit(log.readAll().right(2000)) : QString()));
}

bool WaylandSession::start()
{
    if (!m_folder.isValid())
        return fail(u"no temporary folder: "_s + m_folder.errorString());
    // Traversable by everyone: sway runs as another user and reads its files from here.
    ::chmod(QFile::encodeName(m_folder.path()).constData(), 0711);
    for (const char *name :
         {"run", "home/.config/menus", "home/.local/share/applications", "home/.local/state", "home/.cache"}) {
        if (!QDir().mkpath(path(QString::fromLatin1(name))))
            return fail(u"could not create "_s + path(QString::fromLatin1(name)));
    }
    ::chmod(QFile::encodeName(path(u"run"_s)).constData(), 0700);
    // Every X server here (XWayland included) insists on a root-owned, world-writable, sticky
    // socket folder; KWin refuses to start XWayland otherwise.
    const char *sockets = "/tmp/.X11-unix";
    struct stat status{};
    if (::stat(sockets, &status) != 0 && (::mkdir(sockets, 01777) != 0 || ::chmod(sockets, 01777) != 0))
        return fail(u"could not create /tmp/.X11-unix"_s);
    if (::stat(sockets, &status) != 0 || status.st_uid != 0 || (status.st_mode & 07777) != 01777)
        return fail(u"/tmp/.X11-unix must be owned by root with mode 1777"_s);

    adopt(m_bus);
    m_busAddress = ChildProcess::startBus(m_bus, m_folder.path());
    // The bus leads the session's process group; stop() kills the group, so it must be real.
    m_group = pid_t(m_bus.processId());
    if (m_busAddress.isEmpty() || ::getpgid(m_group) != m_group) {
        m_group = 0;
        return fail(u"dbus-daemon did not come up in its own process group"_s);
    }
    // The backstop for a test process that dies without stop(): its end of this pipe closes,
    // and the watchdog removes the folder and kills the group. That reaches what no
    // parent-death signal does: the helper that wlroots forks to start XWayland keeps sway's
    // end of XWayland's connection, so if sway dies first, the two wait for each other forever.
    const pid_t group = m_group;
    m_watchdog.setChildProcessModifier([group] { ::setpgid(0, group); });
    m_watchdog.start(u"sh"_s, {u"-c"_s, u"read -r line; rm -rf -- \"$1\"; kill -KILL 0"_s, u"watchdog"_s, m_folder.path()});
    if (!m_watchdog.waitForStarted(startTimeoutMs))
        return fail(u"the watchdog did not start: "_s + m_watchdog.errorString());
    m_busConnection = u"murmel-wayland-session-%1"_s.arg(quintptr(this));
    if (!QDBusConnection::connectToBus(m_busAddress, m_busConnection).isConnected())
        return fail(u"could not connect to the private bus"_s);
    if (!(m_compositor == Compositor::sway ? startSway() : m_compositor == Compositor::kwin ? startKwin() : startMutter()))
        return false;
    // Windows get key focus only from a seat with a keyboard.
    return QTest::qWaitFor([this] { return seatHasKeyboard(waylandSocket()); }, startTimeoutMs)
        || failWithLog(u"the seat has no keyboard"_s);
}

bool WaylandSession::startCompositor(const QString &program, const QStringList &arguments,
                                     const QProcessEnvironment &variables)
{
    m_compositorProcess.setProcessEnvironment(variables);
    // A file, not a pipe: a compositor that logs while nobody reads must never block.
    m_compositorProcess.setProcessChannelMode(QProcess::MergedChannels);
    m_compositorProcess.setStandardOutputFile(path(u"compositor.log"_s));
    adopt(m_compositorProcess);
    m_compositorProcess.start(program, arguments);
    return m_compositorProcess.waitForStarted(startTimeoutMs)
        || fail(program + u" did not start: "_s + m_compositorProcess.errorString());
}

// The compositors announce their displays only to their own children: each start makes one
// of them write its environment to a file.
bool WaylandSession::readChildEnvironment(const QString &file)
{
    const bool written = QTest::qWaitFor(
        [&] { return QFile::exists(file) || m_compositorProcess.state() == QProcess::NotRunning; }, startTimeoutMs);
    QFile report(file);
    if (!written || !report.open(QIODevice::ReadOnly))
        return failWithLog(u"the compositor did not come up"_s);
    for (const QByteArray &line : report.readAll().split('\n')) {
        const QString entry = QString::fromLocal8Bit(line);
        const QString name = entry.section(u'=', 0, 0);
        QString *const kept = name == u"WAYLAND_DISPLAY" ? &m_waylandDisplay
                              : name == u"DISPLAY"       ? &m_x11Display
                              : name == u"XAUTHORITY"    ? &m_xauthority
                              : name == u"SWAYSOCK"      ? &m_swaySocket
                                                         : nullptr;
        if (kept)
            *kept = entry.section(u'=', 1);
    }
    return (!m_waylandDisplay.isEmpty() && !m_x11Display.isEmpty())
        || failWithLog(u"the compositor named no Wayland or X display"_s);
}

bool WaylandSession::startSway()
{
    // sway refuses to run as root, and an XWayland of another user admits only that user, so
    // XWayland gets a cookie file (a wildcard entry, valid for whatever display it picks)
    // through a wrapper that wlroots runs instead of it.
    const passwd *nobody = ::getpwnam("nobody");
    if (!nobody)
        return fail(u"there is no user nobody to run sway as"_s);
    const QString swayFolder = path(u"sway"_s);
    for (const QString &folder : QStringList{swayFolder, swayFolder + u"/run"_s, swayFolder + u"/home"_s}) {
        if (!QDir().mkpath(folder) || ::chown(QFile::encodeName(folder).constData(), nobody->pw_uid, nobody->pw_gid) != 0
            || ::chmod(QFile::encodeName(folder).constData(), 0700) != 0)
            return fail(u"could not prepare "_s + folder);
    }
    QByteArray cookie(16, Qt::Uninitialized);
    QRandomGenerator::system()->generate(cookie.begin(), cookie.end());
    const auto field = [](const QByteArray &bytes) -> QByteArray {
        return QByteArray(1, char(bytes.size() >> 8)) + char(bytes.size() & 0xff) + bytes;
    };
    m_xauthority = path(u"xauthority"_s);
    const QString wrapper = path(u"xwayland"_s);
    const QString childEnvironment = swayFolder + u"/run/children.env"_s;
    const QFile::Permissions readable = QFile::ReadOwner | QFile::WriteOwner | QFile::ReadGroup | QFile::ReadOther;
    if (!writeFile(m_xauthority, QByteArray("\xff\xff", 2) + field({}) + field({}) + field("MIT-MAGIC-COOKIE-1") + field(cookie),
                   readable)
        || !writeFile(wrapper,
                      u"#!/bin/sh\nexec '%1' \"$@\" -auth '%2'\n"_s
                          .arg(QStandardPaths::findExecutable(u"Xwayland"_s), m_xauthority)
                          .toLocal8Bit(),
                      readable | QFile::ExeOwner | QFile::ExeGroup | QFile::ExeOther)
        || !writeFile(path(u"sway.conf"_s),
                      u"output HEADLESS-1 resolution 1280x800\nxwayland enable\nexec env > %1.part && mv %1.part %1\n"_s
                          .arg(childEnvironment)
                          .toLocal8Bit(),
                      readable))
        return fail(u"could not write sway's files"_s);

    QProcessEnvironment variables = environment();
    for (const char *name : {"DBUS_SESSION_BUS_ADDRESS", "XDG_CONFIG_HOME", "XDG_DATA_HOME", "XDG_STATE_HOME", "XDG_CACHE_HOME"})
        variables.remove(QString::fromLatin1(name));
    variables.insert(u"HOME"_s, swayFolder + u"/home"_s);
    variables.insert(u"XDG_RUNTIME_DIR"_s, swayFolder + u"/run"_s);
    variables.insert(u"WLR_BACKENDS"_s, u"headless"_s);
    variables.insert(u"WLR_LIBINPUT_NO_DEVICES"_s, u"1"_s);
    variables.insert(u"WLR_RENDERER"_s, u"pixman"_s);
    variables.insert(u"WLR_HEADLESS_OUTPUTS"_s, u"1"_s);
    variables.insert(u"WLR_XWAYLAND"_s, wrapper);
    // Changing the user clears the parent-death signal; setpriv sets it again afterwards.
    if (!startCompositor(u"setpriv"_s,
                         {u"--reuid=%1"_s.arg(nobody->pw_uid), u"--regid=%1"_s.arg(nobody->pw_gid), u"--clear-groups"_s,
                          u"--pdeathsig"_s, u"KILL"_s, u"--"_s, u"sway"_s, u"-c"_s, path(u"sway.conf"_s)},
                         variables)
        || !readChildEnvironment(childEnvironment))
        return false;
    // Clients here run as root and keep a runtime folder of their own, which Qt wants owned by
    // them; the socket is reached through a link.
    if (!QFile::link(swayFolder + u"/run/"_s + m_waylandDisplay, waylandSocket()))
        return fail(u"could not link sway's socket"_s);
    return createKeyboard();
}

bool WaylandSession::startKwin()
{
    // The installed binary carries a file capability that cannot be granted here; a copy has
    // none, and KWin checks that its name still ends in kwin_wayland.
    const QString binary = path(u"bin/kwin_wayland"_s);
    if (!QDir().mkpath(path(u"bin"_s)) || !QFile::copy(QStandardPaths::findExecutable(u"kwin_wayland"_s), binary))
        return fail(u"could not copy kwin_wayland"_s);
    const QString childEnvironment = path(u"children.env"_s);
    const QFile::Permissions private_ = QFile::ReadOwner | QFile::WriteOwner;
    // KWin offers fake input only to a program whose desktop entry asks for it, and compares
    // the entry's Exec with the client's executable path. KDE's service index (KWin 6 looks
    // entries up there) lists applications only through the desktop's menu, which Plasma
    // installs and a bare KWin lacks.
    if (!writeFile(path(u"home/.local/share/applications/murmel-test-harness.desktop"_s),
                      "[Desktop Entry]\nType=Application\nName=Murmel test harness\nNoDisplay=true\nExec=\""
                          + QFile::encodeName(QCoreApplication::applicationFilePath())
                          + "\"\nX-KDE-Wayland-Interfaces=org_kde_kwin_fake_input\n",
                      private_)
        || !writeFile(path(u"home/.config/menus/applications.menu"_s),
                      "<Menu><Name>Applications</Name><DefaultAppDirs/><Include><All/></Include></Menu>\n", private_))
        return fail(u"could not write KWin's files"_s);
    // KWin runs the command line named after its options once XWayland is up.
    return startCompositor(binary,
                           {u"--virtual"_s, u"--xwayland"_s, u"--width"_s, u"1280"_s, u"--height"_s, u"800"_s,
                            u"--socket"_s, u"wayland-0"_s, u"--no-lockscreen"_s,
                            u"sh -c 'env > %1.part && exec mv %1.part %1'"_s.arg(childEnvironment)},
                           environment())
        && readChildEnvironment(childEnvironment) && waitForBusName(u"org.kde.KWin"_s) && createKeyboard();
}

bool WaylandSession::startMutter()
{
    // mutter quits when the program it runs ends, so this one stays after its report.
    const QString childEnvironment = path(u"children.env"_s);
    return startCompositor(u"mutter"_s,
                           {u"--headless"_s, u"--wayland"_s, u"--virtual-monitor"_s, u"1280x800"_s,
                            u"--wayland-display"_s, u"wayland-0"_s, u"--"_s, u"sh"_s, u"-c"_s,
                            u"env > \"$1.part\" && mv \"$1.part\" \"$1\" && exec sleep infinity"_s, u"report"_s,
                            childEnvironment},
                           environment())
        && readChildEnvironment(childEnvironment)
        // The seat gets its keyboard with the first key of a remote desktop session; a client
        // that sees it appear loses that key, so a lone Shift goes first.
        && waitForBusName(remoteDesktopService) && openRemoteDesktop() && sendKeysym(0xffe1, true)
        && sendKeysym(0xffe1, false);
}

bool WaylandSession::waitForBusName(const QString &name)
{
    QDBusConnection bus(m_busConnection);
    return QTest::qWaitFor([&] { return bus.interface()->isServiceRegistered(name).value(); }, startTimeoutMs)
        || failWithLog(name + u" did not appear on the bus"_s);
}

// The session lives as long as this connection: mutter ends it when its caller leaves the bus.
bool WaylandSession::openRemoteDesktop()
{
    QDBusConnection bus(m_busConnection);
    const QDBusReply<QDBusObjectPath> session = bus.call(QDBusMessage::createMethodCall(
        remoteDesktopService, u"/org/gnome/Mutter/RemoteDesktop"_s, remoteDesktopService, u"CreateSession"_s));
    if (!session.isValid())
        return fail(u"mutter opened no remote desktop session: "_s + session.error().message());
    m_remoteDesktopSession = session.value().path();
    const QDBusMessage started = bus.call(QDBusMessage::createMethodCall(
        remoteDesktopService, m_remoteDesktopSession, remoteDesktopService + u".Session"_s, u"Start"_s));
    return started.type() == QDBusMessage::ReplyMessage
        || fail(u"mutter did not start the remote desktop session: "_s + started.errorMessage());
}

bool WaylandSession::sendKeysym(quint32 keysym, bool pressed) const
{
    QDBusMessage call = QDBusMessage::createMethodCall(remoteDesktopService, m_remoteDesktopSession,
                                                       remoteDesktopService + u".Session"_s, u"NotifyKeyboardKeysym"_s);
    call << keysym << pressed;
    return QDBusConnection(m_busConnection).call(call).type() == QDBusMessage::ReplyMessage;
}

// sway: a virtual keyboard that never types, there because the seat has a keyboard only while
// one exists. KWin: one fake input device, made before any window opens: an X client of Qt
// 6.8 crashes when XWayland announces an input device that appears while it runs.
bool WaylandSession::createKeyboard()
{
    m_display = wl_display_connect(QFile::encodeName(waylandSocket()).constData());
    if (!m_display)
        return fail(u"could not connect to the compositor"_s);
    if (m_compositor == Compositor::kwin) {
        m_keyboard = bindGlobals(m_display, {&fakeInputInterface}).value(fakeInputInterface.name);
        if (!m_keyboard)
            return fail(u"KWin offers no fake input to this program"_s);
        wl_proxy_marshal(m_keyboard, fakeInputAuthenticate, "Murmel tests", "typing into test windows");
        return wl_display_roundtrip(m_display) >= 0 || fail(u"KWin refused fake input"_s);
    }
    const auto globals = bindGlobals(m_display, {&wl_seat_interface, &virtualKeyboardManagerInterface});
    const auto release = qScopeGuard([&] {
        for (wl_proxy *proxy : globals)
            wl_proxy_destroy(proxy);
    });
    wl_proxy *const seat = globals.value(wl_seat_interface.name);
    wl_proxy *const manager = globals.value(virtualKeyboardManagerInterface.name);
    if (!seat || !manager)
        return fail(u"sway offers no virtual keyboard"_s);
    m_keyboard = wl_proxy_marshal_constructor(manager, 0, &virtualKeyboardInterface, seat, nullptr);
    return wl_display_roundtrip(m_display) >= 0 || fail(u"sway refused the virtual keyboard"_s);
}

bool WaylandSession::typeText(const QString &text)
{
    int code = -1;
    run(u"xdotool"_s, {u"type"_s, u"--"_s, text}, &code);
    return code == 0 || fail(u"xdotool could not type "_s + text);
}

bool WaylandSession::pressChord(const QList<quint32> &keys)
{
    if (m_compositor != Compositor::kwin)
        return fail(u"chords are played through KWin's fake input only"_s);
    for (const quint32 code : keys)
        wl_proxy_marshal(m_keyboard, fakeInputKeyboardKey, code, uint32_t(1));
    for (auto code = keys.crbegin(); code != keys.crend(); ++code)
        wl_proxy_marshal(m_keyboard, fakeInputKeyboardKey, *code, uint32_t(0));
    return wl_display_roundtrip(m_display) >= 0 || fail(u"KWin went away"_s);
}

QString WaylandSession::announceLaunch()
{
    // X servers on Linux keep their time in milliseconds of the monotonic clock.
    timespec now{};
    ::clock_gettime(CLOCK_MONOTONIC, &now);
    const auto time = uint32_t(now.tv_sec * 1000 + now.tv_nsec / 1000000);
    return u"test-launcher-%1_TIME%2"_s.arg(++m_launches).arg(time);
}

QString WaylandSession::managedX11Window(const QString &title) const
{
    // mutter 48 draws frames in a client of its own, whose frame windows carry their clients'
    // titles; only a managed window is in _NET_CLIENT_LIST.
    const QString clients = run(u"xprop"_s, {u"-root"_s, u"_NET_CLIENT_LIST"_s});
    const QStringList matches
        = run(u"xdotool"_s, {u"search"_s, u"--onlyvisible"_s, u"--name"_s, u'^' + QRegularExpression::escape(title) + u'$'})
              .split(u'\n', Qt::SkipEmptyParts);
    for (const QString &match : matches) {
        if (QRegularExpression(u"\\b0x%1\\b"_s.arg(match.toULongLong(), 0, 16)).match(clients).hasMatch())
            return match;
    }
    return {};
}

bool WaylandSession::focus(const QString &title)
{
    const QString x11Window = managedX11Window(title);
    int code = -1;
    // sway only marks a window urgent that asks for the focus itself.
    if (m_compositor == Compositor::sway)
        run(u"swaymsg"_s, {u"[title=\"^%1$\"] focus"_s.arg(QRegularExpression::escape(title))}, &code);
    else if (!x11Window.isEmpty())
        run(u"xdotool"_s, {u"windowactivate"_s, u"--sync"_s, x11Window}, &code);
    if (code != 0)
        return fail(u"could not activate "_s + title);
    // mutter names an X window active before XWayland gives it the keyboard, and keys sent in
    // between are lost; XWayland's own input focus is the last step on every compositor.
    return x11Window.isEmpty()
        || QTest::qWaitFor([&] { return run(u"xdotool"_s, {u"getwindowfocus"_s}).trimmed() == x11Window; },
                           startTimeoutMs)
        || fail(title + u" did not get the keyboard"_s);
}

QString WaylandSession::activeX11Window() const
{
    int code = -1;
    const QString window = run(u"xdotool"_s, {u"getactivewindow"_s}, &code).trimmed();
    // mutter 48 names a window of its own, one without WM_CLASS, while a native one is active.
    return code == 0 && run(u"xprop"_s, {u"-id"_s, window, u"WM_CLASS"_s}).contains(u'"') ? window : QString();
}

QString WaylandSession::clipboard(Side side) const
{
    int code = -1;
    const QString text = side == Side::wayland
        ? run(u"wl-paste"_s, {u"--no-newline"_s}, &code)
        : run(u"xclip"_s, {u"-o"_s, u"-selection"_s, u"clipboard"_s, u"-t"_s, u"UTF8_STRING"_s}, &code);
    return code == 0 ? text : QString();
}

bool WaylandSession::setClipboard(Side side, const QString &text) const
{
    int code = -1;
    if (side == Side::wayland)
        run(u"wl-copy"_s, {}, &code, text.toUtf8());
    else
        run(u"xclip"_s, {u"-i"_s, u"-selection"_s, u"clipboard"_s}, &code, text.toUtf8());
    // Both tools leave a process behind that serves the selection, which may not own it yet.
    return code == 0 && QTest::qWaitFor([&] { return clipboard(side) == text; }, 5000);
}

void WaylandSession::stop()
{
    if (!m_busConnection.isEmpty())
        QDBusConnection::disconnectFromBus(m_busConnection);
    m_busConnection.clear();
    if (m_keyboard)
        wl_proxy_destroy(m_keyboard);
    if (m_display)
        wl_display_disconnect(m_display);
    m_keyboard = nullptr;
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
    variables.insert(u"QT_QPA_PLATFORM"_s, platform);
    variables.insert(u"QT_LINUX_ACCESSIBILITY_ALWAYS_ON"_s, u"1"_s);
    session.launch(m_process, program(), {u"--title"_s, title}, variables);
}
