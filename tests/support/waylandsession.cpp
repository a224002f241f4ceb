#include "waylandsession.h"

#include "childprocess.h"

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
#include <QJsonObject>
#include <QRandomGenerator>
#include <QRegularExpression>
#include <QScopeGuard>
#include <QStandardPaths>
#include <QTest>
#include <sys/mman.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <wayland-client.h>
#include <xcb/xcb.h>
#include <xkbcommon/xkbcommon.h>

namespace {

constexpr int startTimeoutMs = 20000;
const QString remoteDesktopService = QStringLiteral("org.gnome.Mutter.RemoteDesktop");
const QString kwinService = QStringLiteral("org.kde.KWin");

// No <servicedir>: nothing can be activated behind the test's back.
const char busConfig[] =
    R"(<!DOCTYPE busconfig PUBLIC "-//freedesktop//DTD D-Bus Bus Configuration 1.0//EN"
 "http://www.freedesktop.org/standards/dbus/1.0/busconfig.dtd">
<busconfig>
  <type>session</type>
  <listen>unix:path=%1</listen>
  <auth>EXTERNAL</auth>
  <policy context="default">
    <allow send_destination="*" eavesdrop="true"/>
    <allow eavesdrop="true"/>
    <allow own="*"/>
  </policy>
</busconfig>
)";

// Variables of the desktop the test runs in, which must not leak into this one.
const char *const foreignVariables[] = {"DISPLAY",
                                        "WAYLAND_DISPLAY",
                                        "XAUTHORITY",
                                        "SWAYSOCK",
                                        "I3SOCK",
                                        "QT_QPA_PLATFORM",
                                        "XDG_SESSION_DESKTOP",
                                        "DESKTOP_SESSION",
                                        "KDE_FULL_SESSION",
                                        "GNOME_SETUP_DISPLAY",
                                        "DBUS_SESSION_BUS_ADDRESS"};

bool writeFile(const QString &path, const QByteArray &content, QFile::Permissions permissions)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly | QIODevice::Truncate) &&
           file.write(content) == content.size() && file.setPermissions(permissions);
}

// Whether the seat offers a keyboard, which decides whether windows get key focus at all;
// false too while the compositor does not answer.
bool seatHasKeyboard(const QString &socket)
{
    wl_display *display = wl_display_connect(QFile::encodeName(socket).constData());
    if (!display)
        return false;
    struct State
    {
        wl_seat *seat = nullptr;
        bool keyboard = false;
    } state;
    static const wl_seat_listener seatListener = {
        [](void *data, wl_seat *, uint32_t capabilities) {
            static_cast<State *>(data)->keyboard = capabilities & WL_SEAT_CAPABILITY_KEYBOARD;
        },
        [](void *, wl_seat *, const char *) {}};
    static const wl_registry_listener registryListener = {
        [](void *data, wl_registry *registry, uint32_t name, const char *interface, uint32_t) {
            auto *found = static_cast<State *>(data);
            if (std::strcmp(interface, wl_seat_interface.name) == 0 && !found->seat) {
                found->seat =
                    static_cast<wl_seat *>(wl_registry_bind(registry, name, &wl_seat_interface, 1));
                wl_seat_add_listener(found->seat, &seatListener, found);
            }
        },
        [](void *, wl_registry *, uint32_t) {}};
    wl_registry *registry = wl_display_get_registry(display);
    wl_registry_add_listener(registry, &registryListener, &state);
    // The first round trip binds the seat, the second brings its capabilities.
    wl_display_roundtrip(display);
    wl_display_roundtrip(display);
    if (state.seat)
        wl_seat_destroy(state.seat);
    wl_registry_destroy(registry);
    wl_display_disconnect(display);
    return state.keyboard;
}

// KWin's fake input, spelled out here because only two of its requests are needed:
// authenticate (opcode 0) and keyboard_key (opcode 10, since version 4).
const wl_interface *const noTypes[4] = {nullptr, nullptr, nullptr, nullptr};
const wl_message fakeInputRequests[] = {
    {"authenticate", "ss", const_cast<const wl_interface **>(noTypes)},
    {"pointer_motion", "ff", const_cast<const wl_interface **>(noTypes)},
    {"button", "uu", const_cast<const wl_interface **>(noTypes)},
    {"axis", "uf", const_cast<const wl_interface **>(noTypes)},
    {"touch_down", "2uff", const_cast<const wl_interface **>(noTypes)},
    {"touch_motion", "2uff", const_cast<const wl_interface **>(noTypes)},
    {"touch_up", "2u", const_cast<const wl_interface **>(noTypes)},
    {"touch_cancel", "2", const_cast<const wl_interface **>(noTypes)},
    {"touch_frame", "2", const_cast<const wl_interface **>(noTypes)},
    {"pointer_motion_absolute", "3ff", const_cast<const wl_interface **>(noTypes)},
    {"keyboard_key", "4uu", const_cast<const wl_interface **>(noTypes)},
};
const wl_interface fakeInputInterface = {"org_kde_kwin_fake_input", 4, 11,
                                         fakeInputRequests,         0, nullptr};
constexpr uint32_t fakeInputAuthenticate = 0;
constexpr uint32_t fakeInputKeyboardKey = 10;

// wlroots' virtual keyboard, likewise: the manager's create_virtual_keyboard, and the
// keyboard's keymap, key and modifiers requests.
extern const wl_interface virtualKeyboardInterface;
const wl_interface *const createKeyboardTypes[2] = {&wl_seat_interface, &virtualKeyboardInterface};
const wl_message virtualKeyboardManagerRequests[] = {
    {"create_virtual_keyboard", "on", const_cast<const wl_interface **>(createKeyboardTypes)},
};
const wl_interface virtualKeyboardManagerInterface = {
    "zwp_virtual_keyboard_manager_v1", 1, 1, virtualKeyboardManagerRequests, 0, nullptr};
const wl_message virtualKeyboardRequests[] = {
    {"keymap", "uhu", const_cast<const wl_interface **>(noTypes)},
    {"key", "uuu", const_cast<const wl_interface **>(noTypes)},
    {"modifiers", "uuuu", const_cast<const wl_interface **>(noTypes)},
    {"destroy", "", const_cast<const wl_interface **>(noTypes)},
};
const wl_interface virtualKeyboardInterface = {"zwp_virtual_keyboard_v1", 1, 4,
                                               virtualKeyboardRequests,   0, nullptr};
constexpr uint32_t virtualKeyboardKeymap = 0;
constexpr uint32_t virtualKeyboardKey = 1;
constexpr uint32_t virtualKeyboardModifiers = 2;
constexpr uint32_t virtualKeyboardDestroy = 3;

// Both send evdev key codes, so the text goes through the US layout.
struct KeyStroke
{
    uint32_t code = 0;
    bool shift = false;
};

std::optional<KeyStroke> usKey(char32_t character)
{
    static constexpr char plain[] = "1234567890-=qwertyuiop[]asdfghjkl;'`\\zxcvbnm,./";
    static constexpr char shifted[] = "!@#$%^&*()_+QWERTYUIOP{}ASDFGHJKL:\"~|ZXCVBNM<>?";
    // The rows of the layout as evdev numbers them: 2–13, 16–27, 30–41, 43, 44–53.
    const auto code = [](int index) -> uint32_t {
        if (index < 12)
            return 2 + index;
        if (index < 24)
            return 16 + (index - 12);
        if (index < 36)
            return 30 + (index - 24);
        return index == 36 ? 43 : 44 + (index - 37);
    };
    if (character == U' ')
        return KeyStroke{57, false};
    if (character == U'\n')
        return KeyStroke{28, false};
    if (character == U'\t')
        return KeyStroke{15, false};
    if (character == 0 || character > 0x7f)
        return std::nullopt;
    if (const char *found = std::strchr(plain, int(character)))
        return KeyStroke{code(int(found - plain)), false};
    if (const char *found = std::strchr(shifted, int(character)))
        return KeyStroke{code(int(found - shifted)), true};
    return std::nullopt;
}

std::optional<QList<KeyStroke>> usStrokes(const QString &text)
{
    QList<KeyStroke> strokes;
    for (const char32_t character : text.toUcs4()) {
        const std::optional<KeyStroke> stroke = usKey(character);
        if (!stroke)
            return std::nullopt;
        strokes << *stroke;
    }
    return strokes;
}

quint32 keysymFor(char32_t character)
{
    if (character == U'\n')
        return 0xff0d; // Return
    if (character == U'\t')
        return 0xff09; // Tab
    if ((character >= 0x20 && character <= 0x7e) || (character >= 0xa0 && character <= 0xff))
        return quint32(character);
    return 0x01000000 | quint32(character);
}

} // namespace

WaylandSession::WaylandSession(Compositor compositor)
    : m_compositor(compositor)
{}

WaylandSession::~WaylandSession()
{
    stop();
}

QString WaylandSession::missingProgram(Compositor compositor)
{
    QStringList programs{QStringLiteral("dbus-daemon"), QStringLiteral("Xwayland"),
                         QStringLiteral("wl-copy"),     QStringLiteral("wl-paste"),
                         QStringLiteral("xclip"),       QStringLiteral("xdotool"),
                         QStringLiteral("xprop")};
    switch (compositor) {
    case Compositor::sway:
        programs << QStringLiteral("sway") << QStringLiteral("swaymsg")
                 << QStringLiteral("setpriv");
        break;
    case Compositor::kwin:
        programs << QStringLiteral("kwin_wayland");
        break;
    case Compositor::mutter:
        programs << QStringLiteral("mutter");
        break;
    }
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
    variables.insert(QStringLiteral("HOME"), home);
    variables.insert(QStringLiteral("XDG_CONFIG_HOME"), home + QStringLiteral("/.config"));
    variables.insert(QStringLiteral("XDG_DATA_HOME"), home + QStringLiteral("/.local/share"));
    variables.insert(QStringLiteral("XDG_STATE_HOME"), home + QStringLiteral("/.local/state"));
    variables.insert(QStringLiteral("XDG_CACHE_HOME"), home + QStringLiteral("/.cache"));
    variables.insert(QStringLiteral("XDG_RUNTIME_DIR"), path(QStringLiteral("run")));
    variables.insert(QStringLiteral("XDG_SESSION_TYPE"), QStringLiteral("wayland"));
    variables.insert(QStringLiteral("XDG_CURRENT_DESKTOP"),
                     m_compositor == Compositor::sway   ? QStringLiteral("sway")
                     : m_compositor == Compositor::kwin ? QStringLiteral("KDE")
                                                        : QStringLiteral("GNOME"));
    if (!m_busAddress.isEmpty())
        variables.insert(QStringLiteral("DBUS_SESSION_BUS_ADDRESS"), m_busAddress);
    if (!m_waylandDisplay.isEmpty())
        variables.insert(QStringLiteral("WAYLAND_DISPLAY"), m_waylandDisplay);
    if (!m_x11Display.isEmpty())
        variables.insert(QStringLiteral("DISPLAY"), m_x11Display);
    if (!m_xauthority.isEmpty())
        variables.insert(QStringLiteral("XAUTHORITY"), m_xauthority);
    if (!m_swaySocket.isEmpty()) {
        variables.insert(QStringLiteral("SWAYSOCK"), m_swaySocket);
        variables.insert(QStringLiteral("I3SOCK"), m_swaySocket);
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
    launch(tool, program, arguments);
    if (!input.isNull())
        tool.write(input);
    tool.closeWriteChannel();
    const bool finished = tool.waitForFinished(startTimeoutMs);
    if (!finished) {
        tool.kill();
        tool.waitForFinished();
    }
    if (exitCode)
        *exitCode = finished && tool.exitStatus() == QProcess::NormalExit ? tool.exitCode() : -1;
    return QString::fromUtf8(tool.readAllStandardOutput());
}

bool WaylandSession::fail(const QString &reason)
{
    m_error = reason;
    return false;
}

QString WaylandSession::log() const
{
    QFile file(path(QStringLiteral("compositor.log")));
    return file.open(QIODevice::ReadOnly) ? QString::fromLocal8Bit(file.readAll()) : QString();
}

QString WaylandSession::waylandSocket() const
{
    return path(QStringLiteral("run/")) + m_waylandDisplay;
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
    for (const char *name : {"run", "home/.config/menus", "home/.local/share/applications",
                             "home/.local/state", "home/.cache"}) {
        if (!QDir().mkpath(path(QString::fromLatin1(name))))
            return fail(QStringLiteral("could not create ") + path(QString::fromLatin1(name)));
    }
    ::chmod(QFile::encodeName(path(QStringLiteral("run"))).constData(), 0700);
    // Every X server here (XWayland included) insists on a root-owned, world-writable, sticky
    // socket folder; KWin refuses to start XWayland otherwise.
    const QByteArray sockets = "/tmp/.X11-unix";
    struct stat status
    {
    };
    if (::stat(sockets.constData(), &status) != 0) {
        if (::mkdir(sockets.constData(), 01777) != 0 || ::chmod(sockets.constData(), 01777) != 0)
            return fail(QStringLiteral("could not create /tmp/.X11-unix"));
    } else if (status.st_uid != 0 || (status.st_mode & 07777) != 01777) {
        return fail(QStringLiteral("/tmp/.X11-unix must be owned by root with mode 1777"));
    }
    return true;
}

bool WaylandSession::startBus()
{
    const QString configPath = path(QStringLiteral("bus.conf"));
    if (!writeFile(configPath,
                   QString::fromUtf8(busConfig).arg(path(QStringLiteral("bus"))).toUtf8(),
                   QFile::ReadOwner | QFile::WriteOwner))
        return fail(QStringLiteral("could not write the bus configuration"));
    adopt(m_bus);
    m_bus.start(QStringLiteral("dbus-daemon"),
                {QStringLiteral("--config-file=") + configPath, QStringLiteral("--nofork"),
                 QStringLiteral("--print-address")});
    if (!m_bus.waitForStarted(startTimeoutMs))
        return fail(QStringLiteral("dbus-daemon did not start: ") + m_bus.errorString());
    // The bus leads the session's process group; stop() kills the group, so it must be real.
    m_group = pid_t(m_bus.processId());
    if (::getpgid(m_group) != m_group) {
        m_group = 0;
        return fail(QStringLiteral("dbus-daemon did not get its own process group"));
    }
    // The backstop for a test process that dies without stop(): its end of this pipe closes,
    // and the watchdog removes the folder and kills the group. That reaches what no
    // parent-death signal does: the helper that wlroots forks to start XWayland keeps sway's
    // end of XWayland's connection, so if sway dies first, the two wait for each other forever.
    const pid_t group = m_group;
    m_watchdog.setChildProcessModifier([group] { ::setpgid(0, group); });
    m_watchdog.start(QStringLiteral("sh"),
                     {QStringLiteral("-c"),
                      QStringLiteral("read -r line; rm -rf -- \"$1\"; kill -KILL 0"),
                      QStringLiteral("watchdog"), m_folder.path()});
    if (!m_watchdog.waitForStarted(startTimeoutMs))
        return fail(QStringLiteral("the watchdog did not start: ") + m_watchdog.errorString());
    while (!m_bus.canReadLine()) {
        if (!m_bus.waitForReadyRead(startTimeoutMs))
            return fail(QStringLiteral("dbus-daemon gave no address"));
    }
    m_busAddress = QString::fromUtf8(m_bus.readLine()).trimmed();
    m_busConnection = QStringLiteral("murmel-wayland-session-%1").arg(quintptr(this));
    if (!QDBusConnection::connectToBus(m_busAddress, m_busConnection).isConnected())
        return fail(QStringLiteral("could not connect to the private bus"));
    return true;
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
    if (!m_compositorProcess.waitForStarted(startTimeoutMs))
        return fail(program + QStringLiteral(" did not start: ") +
                    m_compositorProcess.errorString());
    return true;
}

// The compositors announce their displays only to their own children: each start makes one
// of them write its environment to a file.
bool WaylandSession::readChildEnvironment(const QString &file)
{
    const bool written = QTest::qWaitFor(
        [&] { return QFile::exists(file) || m_compositorProcess.state() == QProcess::NotRunning; },
        startTimeoutMs);
    QFile report(file);
    if (!written || !report.open(QIODevice::ReadOnly))
        return fail(QStringLiteral("the compositor did not come up: ") + logTail());
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
    if (m_waylandDisplay.isEmpty() || m_x11Display.isEmpty())
        return fail(QStringLiteral("the compositor named no Wayland or X display: ") + logTail());
    return true;
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
    for (const QString &folder : QStringList{swayFolder, swayFolder + QStringLiteral("/run"),
                                             swayFolder + QStringLiteral("/home")}) {
        if (!QDir().mkpath(folder) ||
            ::chown(QFile::encodeName(folder).constData(), nobody->pw_uid, nobody->pw_gid) != 0 ||
            ::chmod(QFile::encodeName(folder).constData(), 0700) != 0)
            return fail(QStringLiteral("could not prepare ") + folder);
    }
    QByteArray cookie(16, Qt::Uninitialized);
    QRandomGenerator::system()->generate(cookie.begin(), cookie.end());
    const auto field = [](const QByteArray &bytes) -> QByteArray {
        return QByteArray(1, char(bytes.size() >> 8)) + char(bytes.size() & 0xff) + bytes;
    };
    const QByteArray entry = QByteArray("\xff\xff", 2) + field({}) + field({}) +
                             field("MIT-MAGIC-COOKIE-1") + field(cookie);
    m_xauthority = path(QStringLiteral("xauthority"));
    const QString wrapper = path(QStringLiteral("xwayland"));
    const QString childEnvironment = swayFolder + QStringLiteral("/run/children.env");
    const QFile::Permissions readable =
        QFile::ReadOwner | QFile::WriteOwner | QFile::ReadGroup | QFile::ReadOther;
    if (!writeFile(m_xauthority, entry, readable) ||
        !writeFile(
            wrapper,
            QStringLiteral("#!/bin/sh\nexec '%1' \"$@\" -auth '%2'\n")
                .arg(QStandardPaths::findExecutable(QStringLiteral("Xwayland")), m_xauthority)
                .toLocal8Bit(),
            readable | QFile::ExeOwner | QFile::ExeGroup | QFile::ExeOther) ||
        !writeFile(path(QStringLiteral("sway.conf")),
                   QStringLiteral("output HEADLESS-1 resolution 1280x800\nxwayland enable\n"
                                  "exec env > %1.part && mv %1.part %1\n")
                       .arg(childEnvironment)
                       .toLocal8Bit(),
                   readable))
        return fail(QStringLiteral("could not write sway's files"));

    QProcessEnvironment variables = environment();
    variables.remove(QStringLiteral("DBUS_SESSION_BUS_ADDRESS"));
    variables.insert(QStringLiteral("HOME"), swayFolder + QStringLiteral("/home"));
    variables.insert(QStringLiteral("XDG_RUNTIME_DIR"), swayFolder + QStringLiteral("/run"));
    for (const char *name :
         {"XDG_CONFIG_HOME", "XDG_DATA_HOME", "XDG_STATE_HOME", "XDG_CACHE_HOME"})
        variables.remove(QString::fromLatin1(name));
    variables.insert(QStringLiteral("WLR_BACKENDS"), QStringLiteral("headless"));
    variables.insert(QStringLiteral("WLR_LIBINPUT_NO_DEVICES"), QStringLiteral("1"));
    variables.insert(QStringLiteral("WLR_RENDERER"), QStringLiteral("pixman"));
    variables.insert(QStringLiteral("WLR_HEADLESS_OUTPUTS"), QStringLiteral("1"));
    variables.insert(QStringLiteral("WLR_XWAYLAND"), wrapper);
    // Changing the user clears the parent-death signal; setpriv sets it again afterwards.
    if (!startCompositor(QStringLiteral("setpriv"),
                         {QStringLiteral("--reuid=%1").arg(nobody->pw_uid),
                          QStringLiteral("--regid=%1").arg(nobody->pw_gid),
                          QStringLiteral("--clear-groups"), QStringLiteral("--pdeathsig"),
                          QStringLiteral("KILL"), QStringLiteral("--"), QStringLiteral("sway"),
                          QStringLiteral("-c"), path(QStringLiteral("sway.conf"))},
                         variables) ||
        !readChildEnvironment(childEnvironment))
        return false;
    // Clients here run as root and keep a runtime folder of their own, which Qt wants owned by
    // them; the socket is reached through a link.
    if (!QFile::link(swayFolder + QStringLiteral("/run/") + m_waylandDisplay, waylandSocket()))
        return fail(QStringLiteral("could not link sway's socket"));
    return createVirtualKeyboard() && waitForKeyboard();
}

bool WaylandSession::startKwin()
{
    // The installed binary carries a file capability that cannot be granted here; a copy has
    // none, and KWin checks that its name still ends in kwin_wayland.
    const QString binary = path(QStringLiteral("bin/kwin_wayland"));
    if (!QDir().mkpath(path(QStringLiteral("bin"))) ||
        !QFile::copy(QStandardPaths::findExecutable(QStringLiteral("kwin_wayland")), binary))
        return fail(QStringLiteral("could not copy kwin_wayland"));
    const QString report = path(QStringLiteral("report-environment"));
    const QString childEnvironment = path(QStringLiteral("children.env"));
    // KWin offers fake input only to a program whose desktop entry asks for it, and compares
    // the entry's Exec with the client's executable path.
    const QByteArray grant =
        "[Desktop Entry]\nType=Application\nName=Murmel test harness\nNoDisplay=true\n"
        "Exec=\"" +
        QFile::encodeName(QCoreApplication::applicationFilePath()) +
        "\"\nX-KDE-Wayland-Interfaces=org_kde_kwin_fake_input\n";
    // KDE's service index (KWin 6 looks entries up there) lists applications only through
    // the desktop's menu, which Plasma installs and a bare KWin lacks.
    const QByteArray applicationsMenu =
        "<Menu><Name>Applications</Name><DefaultAppDirs/><Include><All/></Include></Menu>\n";
    const QFile::Permissions executable = QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner;
    if (!writeFile(report,
                   QStringLiteral("#!/bin/sh\nenv > %1.part && exec mv %1.part %1\n")
                       .arg(childEnvironment)
                       .toLocal8Bit(),
                   executable) ||
        !writeFile(
            path(QStringLiteral("home/.local/share/applications/murmel-test-harness.desktop")),
            grant, QFile::ReadOwner | QFile::WriteOwner) ||
        !writeFile(path(QStringLiteral("home/.config/menus/applications.menu")), applicationsMenu,
                   QFile::ReadOwner | QFile::WriteOwner))
        return fail(QStringLiteral("could not write KWin's files"));
    // KWin runs the programs named after its options once XWayland is up.
    return startCompositor(binary,
                           {QStringLiteral("--virtual"), QStringLiteral("--xwayland"),
                            QStringLiteral("--width"), QStringLiteral("1280"),
                            QStringLiteral("--height"), QStringLiteral("800"),
                            QStringLiteral("--socket"), QStringLiteral("wayland-0"),
                            QStringLiteral("--no-lockscreen"), report},
                           environment()) &&
           readChildEnvironment(childEnvironment) && waitForBusName(kwinService) &&
           createFakeInput() && waitForKeyboard();
}

bool WaylandSession::startMutter()
{
    // mutter quits when a program it was given ends, so its displays come from its log.
    if (!startCompositor(QStringLiteral("mutter"),
                         {QStringLiteral("--headless"), QStringLiteral("--wayland"),
                          QStringLiteral("--virtual-monitor"), QStringLiteral("1280x800"),
                          QStringLiteral("--wayland-display"), QStringLiteral("wayland-0")},
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
        return fail(QStringLiteral("mutter started no XWayland: ") + logTail());
    m_waylandDisplay = QStringLiteral("wayland-0");
    const QStringList cookies =
        QDir(path(QStringLiteral("run")))
            .entryList({QStringLiteral(".mutter-Xwaylandauth.*")}, QDir::Files | QDir::Hidden);
    if (cookies.isEmpty())
        return fail(QStringLiteral("mutter left no XWayland cookie"));
    m_xauthority = path(QStringLiteral("run/")) + cookies.first();
    // The seat gets its keyboard with the first key of a remote desktop session; a client that
    // sees it appear loses that key, so a lone Shift goes first.
    return waitForBusName(remoteDesktopService) && openRemoteDesktop() &&
           sendKeysym(0xffe1, true) && sendKeysym(0xffe1, false) && waitForKeyboard();
}

bool WaylandSession::waitForBusName(const QString &name)
{
    QDBusConnection bus(m_busConnection);
    if (!QTest::qWaitFor([&] { return bus.interface()->isServiceRegistered(name).value(); },
                         startTimeoutMs))
        return fail(name + QStringLiteral(" did not appear on the bus: ") + logTail());
    return true;
}

bool WaylandSession::waitForKeyboard()
{
    if (!QTest::qWaitFor([this] { return seatHasKeyboard(waylandSocket()); }, startTimeoutMs))
        return fail(QStringLiteral("the seat has no keyboard: ") + logTail());
    return true;
}

// The session lives as long as this connection: mutter ends it when its caller leaves the bus.
bool WaylandSession::openRemoteDesktop()
{
    QDBusConnection bus(m_busConnection);
    const QDBusReply<QDBusObjectPath> session = bus.call(QDBusMessage::createMethodCall(
        remoteDesktopService, QStringLiteral("/org/gnome/Mutter/RemoteDesktop"),
        remoteDesktopService, QStringLiteral("CreateSession")));
    if (!session.isValid())
        return fail(QStringLiteral("mutter opened no remote desktop session: ") +
                    session.error().message());
    m_remoteDesktopSession = session.value().path();
    const QDBusMessage started = bus.call(QDBusMessage::createMethodCall(
        remoteDesktopService, m_remoteDesktopSession,
        remoteDesktopService + QStringLiteral(".Session"), QStringLiteral("Start")));
    if (started.type() != QDBusMessage::ReplyMessage)
        return fail(QStringLiteral("mutter did not start the remote desktop session: ") +
                    started.errorMessage());
    return true;
}

bool WaylandSession::sendKeysym(quint32 keysym, bool pressed) const
{
    QDBusMessage call = QDBusMessage::createMethodCall(
        remoteDesktopService, m_remoteDesktopSession,
        remoteDesktopService + QStringLiteral(".Session"), QStringLiteral("NotifyKeyboardKeysym"));
    call << keysym << pressed;
    return QDBusConnection(m_busConnection).call(call).type() == QDBusMessage::ReplyMessage;
}

bool WaylandSession::typeText(const QString &text)
{
    switch (m_compositor) {
    case Compositor::sway:
        return typeWithVirtualKeyboard(text);
    case Compositor::kwin:
        return typeWithFakeInput(text);
    case Compositor::mutter:
        for (const char32_t character : text.toUcs4()) {
            if (!sendKeysym(keysymFor(character), true) || !sendKeysym(keysymFor(character), false))
                return fail(QStringLiteral("mutter refused a key"));
        }
        return true;
    }
    return false;
}

// A full US keymap, unlike wtype's, which holds only the keys it types and becomes XWayland's
// keymap too, so that XTEST keys typed there afterwards come out wrong.
bool WaylandSession::createVirtualKeyboard()
{
    m_display = wl_display_connect(QFile::encodeName(waylandSocket()).constData());
    if (!m_display)
        return fail(QStringLiteral("could not connect to sway"));
    struct Globals
    {
        wl_seat *seat = nullptr;
        wl_proxy *manager = nullptr;
    } globals;
    static const wl_registry_listener registryListener = {
        [](void *data, wl_registry *registry, uint32_t name, const char *interface, uint32_t) {
            auto *found = static_cast<Globals *>(data);
            if (std::strcmp(interface, wl_seat_interface.name) == 0 && !found->seat)
                found->seat =
                    static_cast<wl_seat *>(wl_registry_bind(registry, name, &wl_seat_interface, 1));
            else if (std::strcmp(interface, virtualKeyboardManagerInterface.name) == 0)
                found->manager = static_cast<wl_proxy *>(
                    wl_registry_bind(registry, name, &virtualKeyboardManagerInterface, 1));
        },
        [](void *, wl_registry *, uint32_t) {}};
    wl_registry *registry = wl_display_get_registry(m_display);
    wl_registry_add_listener(registry, &registryListener, &globals);
    wl_display_roundtrip(m_display);
    if (globals.seat && globals.manager) {
        m_virtualKeyboard = wl_proxy_marshal_constructor(
            globals.manager, 0, &virtualKeyboardInterface, globals.seat, nullptr);
        xkb_context *context = xkb_context_new(XKB_CONTEXT_NO_FLAGS);
        const xkb_rule_names names{"evdev", "pc105", "us", "", ""};
        xkb_keymap *keymap =
            context ? xkb_keymap_new_from_names(context, &names, XKB_KEYMAP_COMPILE_NO_FLAGS)
                    : nullptr;
        char *description =
            keymap ? xkb_keymap_get_as_string(keymap, XKB_KEYMAP_FORMAT_TEXT_V1) : nullptr;
        const int file = ::memfd_create("murmel-keymap", MFD_CLOEXEC);
        if (description && file >= 0) {
            m_shiftMask = 1u << xkb_keymap_mod_get_index(keymap, XKB_MOD_NAME_SHIFT);
            const size_t size = std::strlen(description) + 1;
            if (::write(file, description, size) == ssize_t(size))
                wl_proxy_marshal(m_virtualKeyboard, virtualKeyboardKeymap,
                                 uint32_t(WL_KEYBOARD_KEYMAP_FORMAT_XKB_V1), file, uint32_t(size));
        }
        wl_display_roundtrip(m_display);
        if (file >= 0)
            ::close(file);
        std::free(description);
        xkb_keymap_unref(keymap);
        xkb_context_unref(context);
    }
    if (globals.manager)
        wl_proxy_destroy(globals.manager);
    if (globals.seat)
        wl_seat_destroy(globals.seat);
    wl_registry_destroy(registry);
    if (!m_virtualKeyboard)
        return fail(QStringLiteral("sway offers no virtual keyboard"));
    return m_shiftMask != 0 || fail(QStringLiteral("no US keymap for the virtual keyboard"));
}

bool WaylandSession::typeWithVirtualKeyboard(const QString &text)
{
    const std::optional<QList<KeyStroke>> strokes = usStrokes(text);
    if (!strokes)
        return fail(QStringLiteral("not all of \"%1\" can be typed on the US layout").arg(text));
    // wlroots takes a virtual keyboard's modifiers as it says, not from its Shift key.
    const auto modifiers = [this](uint32_t depressed) {
        wl_proxy_marshal(m_virtualKeyboard, virtualKeyboardModifiers, depressed, 0u, 0u, 0u);
    };
    for (const KeyStroke &stroke : *strokes) {
        if (stroke.shift)
            modifiers(m_shiftMask);
        wl_proxy_marshal(m_virtualKeyboard, virtualKeyboardKey, ++m_keyTime, stroke.code, 1u);
        wl_proxy_marshal(m_virtualKeyboard, virtualKeyboardKey, ++m_keyTime, stroke.code, 0u);
        if (stroke.shift)
            modifiers(0);
    }
    return wl_display_roundtrip(m_display) >= 0 ||
           fail(QStringLiteral("sway dropped the virtual keyboard"));
}

// One device for the whole session, made before any window opens: an X client of Qt 6.8
// crashes when XWayland announces an input device that appears while it runs.
bool WaylandSession::createFakeInput()
{
    m_display = wl_display_connect(QFile::encodeName(waylandSocket()).constData());
    if (!m_display)
        return fail(QStringLiteral("could not connect to KWin"));
    static const wl_registry_listener registryListener = {
        [](void *data, wl_registry *registry, uint32_t name, const char *interface,
           uint32_t version) {
            if (std::strcmp(interface, fakeInputInterface.name) == 0 && version >= 4)
                *static_cast<wl_proxy **>(data) = static_cast<wl_proxy *>(
                    wl_registry_bind(registry, name, &fakeInputInterface, 4));
        },
        [](void *, wl_registry *, uint32_t) {}};
    wl_registry *registry = wl_display_get_registry(m_display);
    wl_registry_add_listener(registry, &registryListener, &m_fakeInput);
    wl_display_roundtrip(m_display);
    wl_registry_destroy(registry);
    if (!m_fakeInput)
        return fail(QStringLiteral("KWin offers no fake input to this program"));
    wl_proxy_marshal(m_fakeInput, fakeInputAuthenticate, "Murmel tests",
                     "typing into test windows");
    return wl_display_roundtrip(m_display) >= 0 ||
           fail(QStringLiteral("KWin refused fake input"));
}

bool WaylandSession::typeWithFakeInput(const QString &text)
{
    const std::optional<QList<KeyStroke>> strokes = usStrokes(text);
    if (!strokes)
        return fail(QStringLiteral("not all of \"%1\" can be typed on the US layout").arg(text));
    const auto key = [&](uint32_t code, bool pressed) {
        wl_proxy_marshal(m_fakeInput, fakeInputKeyboardKey, code, uint32_t(pressed ? 1 : 0));
    };
    constexpr uint32_t leftShift = 42;
    for (const KeyStroke &stroke : *strokes) {
        if (stroke.shift)
            key(leftShift, true);
        key(stroke.code, true);
        key(stroke.code, false);
        if (stroke.shift)
            key(leftShift, false);
    }
    return wl_display_roundtrip(m_display) >= 0 || fail(QStringLiteral("KWin went away"));
}

bool WaylandSession::pressChord(const QList<quint32> &keys)
{
    if (m_compositor != Compositor::kwin || !m_fakeInput)
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
    const QByteArray id = "test-launcher-" + QByteArray::number(++m_launches) + "_TIME" + QByteArray::number(time);
    const QByteArray message = "new: ID=\"" + id + "\" NAME=\"Murmel\" SCREEN=0" + QByteArray(1, '\0');
    xcb_client_message_event_t piece{};
    piece.response_type = XCB_CLIENT_MESSAGE;
    piece.format = 8;
    piece.window = window;
    piece.type = atom("_NET_STARTUP_INFO_BEGIN");
    const xcb_atom_t more = atom("_NET_STARTUP_INFO");
    for (qsizetype offset = 0; offset < message.size(); offset += 20) {
        std::memset(piece.data.data8, 0, sizeof piece.data.data8);
        std::memcpy(piece.data.data8, message.constData() + offset,
                    size_t(std::min<qsizetype>(20, message.size() - offset)));
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
    const QString clients =
        run(QStringLiteral("xprop"), {QStringLiteral("-root"), QStringLiteral("_NET_CLIENT_LIST")});
    const QStringList matches =
        run(QStringLiteral("xdotool"),
            {QStringLiteral("search"), QStringLiteral("--onlyvisible"), QStringLiteral("--name"),
             u'^' + QRegularExpression::escape(title) + u'$'})
            .split(u'\n', Qt::SkipEmptyParts);
    for (const QString &match : matches) {
        const QRegularExpression listed(QStringLiteral("\\b0x%1\\b").arg(match.toULongLong(), 0, 16));
        if (listed.match(clients).hasMatch())
            return match;
    }
    return {};
}

bool WaylandSession::focus(const QString &title)
{
    const QString exactTitle = u'^' + QRegularExpression::escape(title) + u'$';
    const QString x11Window = managedX11Window(title);
    int code = -1;
    switch (m_compositor) {
    case Compositor::sway:
        run(QStringLiteral("swaymsg"), {QStringLiteral("[title=\"%1\"] focus").arg(exactTitle)},
            &code);
        if (code != 0)
            return fail(QStringLiteral("sway has no window titled ") + title);
        break;
    case Compositor::kwin:
        if (!focusWithKwinScript(title))
            return false;
        break;
    case Compositor::mutter:
        if (x11Window.isEmpty())
            return fail(QStringLiteral("mutter can activate only X windows, and none is titled ") +
                        title);
        run(QStringLiteral("xdotool"),
            {QStringLiteral("windowactivate"), QStringLiteral("--sync"), x11Window}, &code);
        if (code != 0)
            return fail(QStringLiteral("mutter did not activate ") + title);
        break;
    }
    // mutter names an X window active before XWayland gives it the keyboard, and keys sent in
    // between are lost; XWayland's own input focus is the last step on every compositor.
    const bool focused =
        x11Window.isEmpty() ||
        QTest::qWaitFor(
            [&] {
                return run(QStringLiteral("xdotool"), {QStringLiteral("getwindowfocus")})
                           .trimmed() == x11Window;
            },
            startTimeoutMs);
    return focused || fail(title + QStringLiteral(" did not get the keyboard"));
}

// KWin lists and activates windows only from inside, through a script loaded over D-Bus. A
// script's print() lands in KWin's log, which is where it reports back.
bool WaylandSession::focusWithKwinScript(const QString &title)
{
    QDBusConnection bus(m_busConnection);
    const QString script = path(QStringLiteral("focus.js"));
    const QString quotedTitle =
        QString::fromUtf8(QJsonDocument(QJsonArray{title}).toJson(QJsonDocument::Compact));
    QString outcome;
    const bool settled = QTest::qWaitFor(
        [&] {
            const QString token = QStringLiteral("murmel-focus-%1").arg(++m_scripts);
            const QString source =
                QStringLiteral("const title = %1[0];\n"
                               // KWin 6 renamed clients to windows.
                               "const six = workspace.activeWindow !== undefined;\n"
                               "const active = () => six ? workspace.activeWindow : "
                               "workspace.activeClient;\n"
                               "let window = null;\n"
                               "for (const each of six ? workspace.windowList() : "
                               "workspace.clientList()) if (each.caption === title) window = each;\n"
                               "if (window && active() !== window) {\n"
                               "  if (six) workspace.activeWindow = window;\n"
                               "  else workspace.activeClient = window;\n"
                               "}\n"
                               "print('%2 ' + (!window ? 'missing' : active() === window ? "
                               "'active' : 'pending'));\n")
                    .arg(quotedTitle, token);
            if (!writeFile(script, source.toUtf8(), QFile::ReadOwner | QFile::WriteOwner))
                return false;
            const auto call = [&](const QString &method, const QVariantList &arguments) {
                QDBusMessage message = QDBusMessage::createMethodCall(
                    kwinService, QStringLiteral("/Scripting"),
                    QStringLiteral("org.kde.kwin.Scripting"), method);
                message.setArguments(arguments);
                return bus.call(message);
            };
            call(QStringLiteral("loadScript"), {script, token});
            call(QStringLiteral("start"), {});
            const QRegularExpression report(token + QStringLiteral(" (\\w+)"));
            const bool reported = QTest::qWaitFor(
                [&] { return !(outcome = report.match(log()).captured(1)).isEmpty(); }, 2000);
            call(QStringLiteral("unloadScript"), {token});
            return reported && outcome != u"pending";
        },
        5000);
    if (settled && outcome == u"active")
        return true;
    return fail(outcome == u"missing" ? QStringLiteral("KWin has no window titled ") + title
                                      : QStringLiteral("KWin did not activate ") + title);
}

QString WaylandSession::activeX11Window() const
{
    int code = -1;
    const QString window =
        run(QStringLiteral("xdotool"), {QStringLiteral("getactivewindow")}, &code).trimmed();
    if (code != 0)
        return {};
    // mutter 48 names a window of its own, one without WM_CLASS, while a native one is active.
    const QString windowClass =
        run(QStringLiteral("xprop"), {QStringLiteral("-id"), window, QStringLiteral("WM_CLASS")}, &code);
    return code == 0 && windowClass.contains(u'"') ? window : QString();
}

QString WaylandSession::clipboard(Side side) const
{
    int code = -1;
    const QString text =
        side == Side::wayland
            ? run(QStringLiteral("wl-paste"), {QStringLiteral("--no-newline")}, &code)
            : run(QStringLiteral("xclip"),
                  {QStringLiteral("-o"), QStringLiteral("-selection"), QStringLiteral("clipboard"),
                   QStringLiteral("-t"), QStringLiteral("UTF8_STRING")},
                  &code);
    return code == 0 ? text : QString();
}

bool WaylandSession::setClipboard(Side side, const QString &text) const
{
    int code = -1;
    if (side == Side::wayland)
        run(QStringLiteral("wl-copy"), {}, &code, text.toUtf8());
    else
        run(QStringLiteral("xclip"),
            {QStringLiteral("-i"), QStringLiteral("-selection"), QStringLiteral("clipboard")},
            &code, text.toUtf8());
    // Both tools leave a process behind that serves the selection, which may not own it yet.
    return code == 0 && QTest::qWaitFor([&] { return clipboard(side) == text; }, 5000);
}

void WaylandSession::stop()
{
    if (!m_busConnection.isEmpty()) {
        QDBusConnection::disconnectFromBus(m_busConnection);
        m_busConnection.clear();
        m_remoteDesktopSession.clear();
    }
    if (m_virtualKeyboard) {
        wl_proxy_marshal(m_virtualKeyboard, virtualKeyboardDestroy);
        wl_proxy_destroy(m_virtualKeyboard);
        m_virtualKeyboard = nullptr;
    }
    if (m_fakeInput) {
        wl_proxy_destroy(m_fakeInput);
        m_fakeInput = nullptr;
    }
    if (m_display) {
        wl_display_disconnect(m_display);
        m_display = nullptr;
    }
    ChildProcess::stop(m_compositorProcess);
    // Whatever is left of the group: XWayland, the bus, and the tools' selection servers.
    if (m_group > 1 && m_group != ::getpgrp())
        ::kill(-m_group, SIGKILL);
    m_group = 0;
    m_bus.waitForFinished(5000);
    m_watchdog.waitForFinished(5000);
    ChildProcess::stop(m_bus);
    ChildProcess::stop(m_watchdog);
}

TextWindow::TextWindow(const WaylandSession &session, const QString &platform, const QString &title)
{
    m_process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    QObject::connect(&m_process, &QProcess::readyReadStandardOutput, &m_process, [this] {
        while (m_process.canReadLine()) {
            const QJsonObject event = QJsonDocument::fromJson(m_process.readLine()).object();
            const QString kind = event.value(u"event").toString();
            if (kind == u"ready")
                m_window = QString::number(event.value(u"window").toInteger());
            else if (kind == u"active")
                m_active = event.value(u"active").toBool();
            else if (kind == u"text")
                m_text = event.value(u"text").toString();
        }
    });
    QProcessEnvironment variables;
    variables.insert(QStringLiteral("QT_QPA_PLATFORM"), platform);
    variables.insert(QStringLiteral("QT_LINUX_ACCESSIBILITY_ALWAYS_ON"), QStringLiteral("1"));
    session.launch(m_process, qEnvironmentVariable("MURMEL_TEXTWINDOW"),
                   {QStringLiteral("--title"), title}, variables);
}

bool TextWindow::waitUntilActive()
{
    return QTest::qWaitFor([this] { return m_active; }, 15000);
}

bool TextWindow::waitForText(const QString &expected, int timeoutMs)
{
    return QTest::qWaitFor([&] { return m_text == expected; }, timeoutMs);
}

void TextWindow::close()
{
    m_process.terminate();
    m_process.waitForFinished(5000);
}
