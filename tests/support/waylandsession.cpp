#include "waylandsession.h"

#include "childprocess.h"
#include "testenvironment.h"
#include "platform/wayland/waylandconnection.h"

#include <csignal>
#include <ctime>
#include <pwd.h>
#include <QCoreApplication>
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusInterface>
#include <QDBusObjectPath>
#include <QDBusReply>
#include <QDir>
#include <QFile>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QTest>
#include <sys/stat.h>
#include <unistd.h>
#include <wayland-client.h>

using namespace Qt::StringLiterals;

namespace {

constexpr int startTimeoutMs = 20000;
const QString remoteDesktopService = u"org.gnome.Mutter.RemoteDesktop"_s;
// The few requests needed of KWin's fake input and wlroots' virtual keyboard, whose interfaces
// the platform's protocol glue defines.
enum Request : uint32_t { fakeInputAuthenticate = 0, fakeInputKeyboardKey = 10, createVirtualKeyboard = 0 };

// Readable by everyone: sway runs as another user.
bool writeFile(const QString &path, const QByteArray &content, QFile::Permissions extra = {})
{
    return TestFiles::write(path, content)
        && QFile::setPermissions(path, QFile::ReadOwner | QFile::WriteOwner | QFile::ReadGroup | QFile::ReadOther | extra);
}

} // namespace

extern "C" {
extern const wl_interface org_kde_kwin_fake_input_interface;
extern const wl_interface zwp_virtual_keyboard_manager_v1_interface;
extern const wl_interface zwp_virtual_keyboard_v1_interface;
}

WaylandSession::WaylandSession(Compositor compositor)
    // The variables of the desktop the test runs in; and QT_QTESTLIB_RUNNING, which Qt Test
    // sets for its own process and which keeps an application's widgets off the
    // accessibility bus.
    : PrivateSession({u"DISPLAY"_s, u"WAYLAND_DISPLAY"_s, u"XAUTHORITY"_s, u"SWAYSOCK"_s, u"I3SOCK"_s,
                      u"QT_QPA_PLATFORM"_s, u"XDG_SESSION_DESKTOP"_s, u"DESKTOP_SESSION"_s, u"KDE_FULL_SESSION"_s,
                      u"GNOME_SETUP_DISPLAY"_s, u"DBUS_SESSION_BUS_ADDRESS"_s, u"QT_QTESTLIB_RUNNING"_s})
    , m_compositor(compositor)
    , m_busConnection(u"murmel-wayland-session-%1"_s.arg(quintptr(this)))
{
    const std::pair<QString, QString> folders[]{
        {u"HOME"_s, u"home"_s}, {u"XDG_CONFIG_HOME"_s, u"home/.config"_s}, {u"XDG_DATA_HOME"_s, u"home/.local/share"_s},
        {u"XDG_STATE_HOME"_s, u"home/.local/state"_s}, {u"XDG_CACHE_HOME"_s, u"home/.cache"_s},
        {u"XDG_RUNTIME_DIR"_s, u"run"_s}};
    for (const auto &[name, folder] : folders) {
        QDir().mkpath(path(folder));
        m_variables.insert(name, path(folder));
    }
    ::chmod(QFile::encodeName(path(u"run"_s)).constData(), 0700);
    m_variables.insert(u"XDG_SESSION_TYPE"_s, u"wayland"_s);
    m_variables.insert(u"XDG_CURRENT_DESKTOP"_s, compositor == Compositor::sway ? u"sway"_s
                                                 : compositor == Compositor::kwin ? u"KDE"_s
                                                                                  : u"GNOME"_s);
}

WaylandSession::~WaylandSession()
{
    stop();
}

QString WaylandSession::waylandSocket() const
{
    return path(u"run/"_s) + m_variables.value(u"WAYLAND_DISPLAY"_s);
}

bool WaylandSession::failWithLog(const QString &reason)
{
    QFile log(path(u"compositor.log"_s));
    return fail(reason + u": "_s + (log.open(QIODevice::ReadOnly) ? QString::fromLocal8Bit(log.readAll().right(2000)) : QString()));
}

bool WaylandSession::start()
{
    // Every X server here (XWayland included) insists on a root-owned, world-writable, sticky
    // socket folder; KWin refuses to start XWayland otherwise.
    ::mkdir("/tmp/.X11-unix", 01777);
    ::chmod("/tmp/.X11-unix", 01777);

    // The watchdog leads the session's process group, which every later process joins, and is
    // the backstop for a test process that dies without stop(): its end of this pipe closes,
    // and the watchdog removes the folder and kills the group. That reaches what no
    // parent-death signal does: the helper that wlroots forks to start XWayland keeps sway's
    // end of XWayland's connection, so if sway dies first, the two wait for each other forever.
    m_watchdog.setChildProcessModifier([] { ::setpgid(0, 0); });
    m_watchdog.start(u"sh"_s, {u"-c"_s, u"read -r line; rm -rf -- \"$1\"; kill -KILL 0"_s, u"watchdog"_s, m_folder.path()});
    if (!m_watchdog.waitForStarted(startTimeoutMs))
        return fail(u"the watchdog did not start: "_s + m_watchdog.errorString());
    m_group = pid_t(m_watchdog.processId());
    adopt(m_bus);
    const QString busAddress = ChildProcess::startBus(m_bus, m_folder.path());
    if (busAddress.isEmpty() || !QDBusConnection::connectToBus(busAddress, m_busConnection).isConnected())
        return fail(u"the private bus did not come up"_s);
    m_variables.insert(u"DBUS_SESSION_BUS_ADDRESS"_s, busAddress);

    if (!startCompositor())
        return false;
    m_connection = std::make_unique<WaylandConnection>(QFile::encodeName(waylandSocket()));
    if (!m_connection->isConnected())
        return failWithLog(u"could not connect to the compositor"_s);
    // Windows get key focus only from a seat with a keyboard.
    return createKeyboard()
        && (QTest::qWaitFor([this] { return m_connection->seatHasKeyboard(); }, startTimeoutMs)
            || failWithLog(u"the seat has no keyboard"_s));
}

// The compositors announce their displays only to their own children: each runs one that
// writes its environment to a file. It stays only under mutter, which quits when it ends: sway
// and KWin start it in a session of its own, out of reach of the group's kill.
bool WaylandSession::startCompositor()
{
    const QString report = path(m_compositor == Compositor::sway ? u"sway/run/children.env"_s : u"children.env"_s);
    QString reporter = u"env > %1.part && mv %1.part %1"_s.arg(report);
    if (m_compositor == Compositor::mutter)
        reporter += u" && exec sleep infinity"_s;
    QProcessEnvironment variables = environment();
    QStringList command;
    const bool prepared = m_compositor == Compositor::sway ? prepareSway(reporter, command, variables)
                        : m_compositor == Compositor::kwin ? prepareKwin(reporter, command)
                                                           : prepareMutter(reporter, command);
    if (!prepared)
        return false;
    m_compositorProcess.setProcessEnvironment(variables);
    // A file, not a pipe: a compositor that logs while nobody reads must never block.
    m_compositorProcess.setProcessChannelMode(QProcess::MergedChannels);
    m_compositorProcess.setStandardOutputFile(path(u"compositor.log"_s));
    adopt(m_compositorProcess);
    m_compositorProcess.start(command.first(), command.mid(1));
    const bool reported = QTest::qWaitFor(
        [&] { return QFile::exists(report) || m_compositorProcess.state() == QProcess::NotRunning; }, startTimeoutMs);
    QFile file(report);
    if (!reported || !file.open(QIODevice::ReadOnly))
        return failWithLog(command.first() + u" did not come up ("_s + m_compositorProcess.errorString() + u')');
    for (const QByteArray &line : file.readAll().split('\n')) {
        const QString name = QString::fromLocal8Bit(line.left(line.indexOf('=')));
        if (QStringList{u"WAYLAND_DISPLAY"_s, u"DISPLAY"_s, u"XAUTHORITY"_s, u"SWAYSOCK"_s}.contains(name))
            m_variables.insert(name, QString::fromLocal8Bit(line.mid(line.indexOf('=') + 1)));
    }
    if (!m_variables.contains(u"WAYLAND_DISPLAY"_s) || !m_variables.contains(u"DISPLAY"_s))
        return failWithLog(u"the compositor named no Wayland or X display"_s);
    if (m_compositor == Compositor::kwin)
        return waitForBusName(u"org.kde.KWin"_s);
    if (m_compositor == Compositor::mutter)
        return waitForBusName(remoteDesktopService);
    // Clients here run as root and keep a runtime folder of their own, which Qt wants owned by
    // them; sway's socket is reached through a link.
    return QFile::link(path(u"sway/run/"_s) + m_variables.value(u"WAYLAND_DISPLAY"_s), waylandSocket())
        || fail(u"could not link sway's socket"_s);
}

bool WaylandSession::prepareSway(const QString &reporter, QStringList &command, QProcessEnvironment &variables)
{
    // sway refuses to run as root, and an XWayland of another user admits only that user, so
    // a wrapper that wlroots runs instead of XWayland turns its access control off.
    const passwd *nobody = ::getpwnam("nobody");
    if (!nobody)
        return fail(u"there is no user nobody to run sway as"_s);
    // Traversable by everyone, for sway's files here.
    ::chmod(QFile::encodeName(m_folder.path()).constData(), 0711);
    const QString swayFolder = path(u"sway"_s);
    for (const QString &folder : QStringList{swayFolder, swayFolder + u"/run"_s, swayFolder + u"/home"_s}) {
        if (!QDir().mkpath(folder) || ::chown(QFile::encodeName(folder).constData(), nobody->pw_uid, nobody->pw_gid) != 0
            || ::chmod(QFile::encodeName(folder).constData(), 0700) != 0)
            return fail(u"could not prepare "_s + folder);
    }
    const QString wrapper = path(u"xwayland"_s);
    if (!writeFile(wrapper,
                   u"#!/bin/sh\nexec '%1' \"$@\" -ac\n"_s.arg(QStandardPaths::findExecutable(u"Xwayland"_s)).toLocal8Bit(),
                   QFile::ExeOwner | QFile::ExeGroup | QFile::ExeOther)
        || !writeFile(path(u"sway.conf"_s),
                      u"output HEADLESS-1 resolution 1280x800\nxwayland enable\nexec %1\n"_s.arg(reporter).toLocal8Bit()))
        return fail(u"could not write sway's files"_s);

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
    command = QStringList{u"setpriv"_s, u"--reuid=%1"_s.arg(nobody->pw_uid), u"--regid=%1"_s.arg(nobody->pw_gid),
                          u"--clear-groups"_s, u"--pdeathsig"_s, u"KILL"_s, u"--"_s, u"sway"_s, u"-c"_s, path(u"sway.conf"_s)};
    return true;
}

bool WaylandSession::prepareKwin(const QString &reporter, QStringList &command)
{
    // The installed binary carries a file capability that cannot be granted here; a copy has
    // none, and KWin checks that its name still ends in kwin_wayland.
    const QString binary = path(u"bin/kwin_wayland"_s);
    if (!QDir().mkpath(path(u"bin"_s)) || !QFile::copy(QStandardPaths::findExecutable(u"kwin_wayland"_s), binary))
        return fail(u"could not copy kwin_wayland"_s);
    // KWin offers fake input only to a program whose desktop entry asks for it, and compares
    // the entry's Exec with the client's executable path. KDE's service index (KWin 6 looks
    // entries up there) lists applications only through the desktop's menu, which Plasma
    // installs and a bare KWin lacks.
    if (!writeFile(path(u"home/.local/share/applications/murmel-test-harness.desktop"_s),
                   "[Desktop Entry]\nType=Application\nName=Murmel test harness\nNoDisplay=true\nExec=\""
                       + QFile::encodeName(QCoreApplication::applicationFilePath())
                       + "\"\nX-KDE-Wayland-Interfaces=org_kde_kwin_fake_input\n")
        || !writeFile(path(u"home/.config/menus/applications.menu"_s),
                      "<Menu><Name>Applications</Name><DefaultAppDirs/><Include><All/></Include></Menu>\n"))
        return fail(u"could not write KWin's files"_s);
    // KWin runs the command line named after its options once XWayland is up.
    command = QStringList{binary, u"--virtual"_s, u"--xwayland"_s, u"--width"_s, u"1280"_s, u"--height"_s, u"800"_s,
                          u"--socket"_s, u"wayland-0"_s, u"--no-lockscreen"_s, u"sh -c '%1'"_s.arg(reporter)};
    return true;
}

bool WaylandSession::prepareMutter(const QString &reporter, QStringList &command)
{
    command = QStringList{u"mutter"_s, u"--headless"_s, u"--wayland"_s, u"--virtual-monitor"_s, u"1280x800"_s,
                          u"--wayland-display"_s, u"wayland-0"_s, u"--"_s, u"sh"_s, u"-c"_s, reporter};
    return true;
}

bool WaylandSession::waitForBusName(const QString &name)
{
    QDBusConnection bus(m_busConnection);
    return QTest::qWaitFor([&] { return bus.interface()->isServiceRegistered(name).value(); }, startTimeoutMs)
        || failWithLog(name + u" did not appear on the bus"_s);
}

QProcess *WaylandSession::startService(const QString &program, const QStringList &arguments, const QString &busName,
                                       const QProcessEnvironment &variables)
{
    QProcess &service = m_services.emplace_back();
    service.setProcessChannelMode(QProcess::MergedChannels);
    launch(service, program, arguments, variables);
    if (waitForBusName(busName))
        return &service;
    fail(program + u" did not take "_s + busName + u": "_s + QString::fromLocal8Bit(service.readAll()));
    return nullptr;
}

// The seat gets its keyboard from the session's own: sway's virtual keyboard, there because
// the seat has a keyboard only while one exists; KWin's fake input device, made before any
// window opens, since an X client of Qt 6.8 crashes when XWayland announces an input device
// that appears while it runs; on mutter the first key of a remote desktop session, which a
// client that sees the keyboard appear loses, so a lone Shift goes first.
bool WaylandSession::createKeyboard()
{
    if (m_compositor == Compositor::kwin) {
        m_keyboard = static_cast<wl_proxy *>(m_connection->bind(&org_kde_kwin_fake_input_interface, 4));
        if (!m_keyboard)
            return fail(u"KWin offers no fake input to this program"_s);
        wl_proxy_marshal(m_keyboard, fakeInputAuthenticate, "Murmel tests", "typing into test windows");
        return m_connection->roundtrip() || fail(u"KWin refused fake input"_s);
    }
    if (m_compositor == Compositor::sway) {
        auto *manager = static_cast<wl_proxy *>(m_connection->bind(&zwp_virtual_keyboard_manager_v1_interface, 1));
        if (!manager || !m_connection->seat())
            return fail(u"sway offers no virtual keyboard"_s);
        m_keyboard = wl_proxy_marshal_constructor(manager, createVirtualKeyboard, &zwp_virtual_keyboard_v1_interface,
                                                  m_connection->seat(), nullptr);
        wl_proxy_destroy(manager);
        return m_connection->roundtrip() || fail(u"sway refused the virtual keyboard"_s);
    }
    // The remote desktop session lives as long as this bus connection.
    const QDBusConnection bus(m_busConnection);
    const QDBusReply<QDBusObjectPath> session
        = QDBusInterface(remoteDesktopService, u"/org/gnome/Mutter/RemoteDesktop"_s, remoteDesktopService, bus)
              .call(u"CreateSession"_s);
    if (!session.isValid())
        return fail(u"mutter opened no remote desktop session: "_s + session.error().message());
    QDBusInterface keys(remoteDesktopService, session.value().path(), remoteDesktopService + u".Session"_s, bus);
    const QDBusReply<void> started = keys.call(u"Start"_s);
    if (!started.isValid())
        return fail(u"mutter did not start the remote desktop session: "_s + started.error().message());
    const quint32 shift = 0xffe1;
    return (QDBusReply<void>(keys.call(u"NotifyKeyboardKeysym"_s, shift, true)).isValid()
            && QDBusReply<void>(keys.call(u"NotifyKeyboardKeysym"_s, shift, false)).isValid())
        || fail(u"mutter took no key"_s);
}

bool WaylandSession::pressChord(const QList<quint32> &keys)
{
    for (const quint32 code : keys)
        wl_proxy_marshal(m_keyboard, fakeInputKeyboardKey, code, WL_KEYBOARD_KEY_STATE_PRESSED);
    for (auto code = keys.crbegin(); code != keys.crend(); ++code)
        wl_proxy_marshal(m_keyboard, fakeInputKeyboardKey, *code, WL_KEYBOARD_KEY_STATE_RELEASED);
    return m_connection->roundtrip() || fail(u"KWin went away"_s);
}

QString WaylandSession::announceLaunch()
{
    // X servers on Linux keep their time in milliseconds of the monotonic clock.
    timespec now{};
    ::clock_gettime(CLOCK_MONOTONIC, &now);
    return u"test-launcher_TIME%1"_s.arg(uint32_t(now.tv_sec * 1000 + now.tv_nsec / 1000000));
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

bool WaylandSession::setClipboard(const QString &text) const
{
    int code = -1;
    run(u"wl-copy"_s, {}, &code, text.toUtf8());
    // wl-copy leaves a process behind that serves the selection, which may not own it yet.
    return code == 0 && QTest::qWaitFor([&] { return clipboard(Side::wayland) == text; }, 5000);
}

void WaylandSession::stop()
{
    for (QProcess &service : m_services)
        ChildProcess::stop(service);
    m_services.clear();
    QDBusConnection::disconnectFromBus(m_busConnection);
    if (m_keyboard)
        wl_proxy_destroy(m_keyboard);
    m_keyboard = nullptr;
    m_connection.reset();
    ChildProcess::stop(m_compositorProcess);
    // Whatever is left of the group: XWayland, the bus, the watchdog, and the tools' selection
    // servers.
    if (m_group > 1)
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
