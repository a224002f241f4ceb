#pragma once

#include "textwindowprocess.h"

#include <QProcess>
#include <QProcessEnvironment>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>
#include <sys/types.h>

struct wl_display;
struct wl_proxy;

// A private Wayland desktop for a test: a headless sway, KWin or mutter with XWayland, on its
// own session bus and folders, so a test can put native Wayland and X windows side by side
// and type, focus and copy as a user would. Everything it starts (the bus, the compositor,
// the tools of run() and the clients of launch()) lives in one process group that stop() and
// the destructor kill; should the test process die first, a watchdog kills the group.
class WaylandSession final
{
public:
    enum class Compositor { sway, kwin, mutter };
    enum class Side { wayland, x11 };

    explicit WaylandSession(Compositor compositor)
        : m_compositor(compositor)
    {}
    ~WaylandSession() { stop(); }

    WaylandSession(const WaylandSession &) = delete;
    WaylandSession &operator=(const WaylandSession &) = delete;

    // The first program the session needs that is not installed, for a test to skip with.
    static QString missingProgram(Compositor compositor);

    // Returns once a client can connect to both displays and the seat has a keyboard; false,
    // with error() saying why, otherwise.
    bool start();
    void stop();
    QString error() const { return m_error; }

    // The system environment with the session's displays, bus and folders, and
    // XDG_CURRENT_DESKTOP as the desktop's own session sets it; without QT_QPA_PLATFORM.
    QProcessEnvironment environment() const;
    void enter() const; // into this process's own environment, for the code under test

    // Runs a tool (wl-paste, xdotool, swaymsg…) in the session: its output, and its exit code
    // (-1 when it did not finish).
    QString run(const QString &program, const QStringList &arguments, int *exitCode = nullptr,
                const QByteArray &input = {}) const;
    // Starts a client of the session with `variables` over environment().
    void launch(QProcess &process, const QString &program, const QStringList &arguments,
                const QProcessEnvironment &variables = {}) const;

    // Types into the focused X window through XTEST, as the user's keyboard would.
    bool typeText(const QString &text);
    // Presses the evdev keys in order and lets them go in reverse (Ctrl+Alt+Space), through
    // KWin's fake input, which KWin grants to this executable, code under test included.
    bool pressChord(const QList<quint32> &keys);
    // Activates the X window with this exact title (on sway any window) and returns once it
    // has the keyboard.
    bool focus(const QString &title);

    // A launcher's X startup id, stamped with the X server's time now, for DESKTOP_STARTUP_ID.
    QString announceLaunch();

    bool waitForBusName(const QString &name);

    // The managed X window of exactly this title (decimal id), empty while there is none.
    QString managedX11Window(const QString &title) const;
    // The X window the compositor names active, empty while a native one or none is.
    QString activeX11Window() const;

    // The clipboard as each side sees it, and setting it from there (returning once that side
    // sees it). On sway and KWin the sides meet only while an X window is active.
    QString clipboard(Side side) const;
    bool setClipboard(Side side, const QString &text) const;

private:
    bool startSway();
    bool startKwin();
    bool startMutter();
    bool startCompositor(const QString &program, const QStringList &arguments, const QProcessEnvironment &variables);
    bool readChildEnvironment(const QString &path);
    bool createKeyboard();
    bool openRemoteDesktop();
    bool sendKeysym(quint32 keysym, bool pressed) const;
    void adopt(QProcess &process) const;
    bool fail(const QString &reason);
    bool failWithLog(const QString &reason); // with the end of the compositor's log
    QString path(const QString &name) const { return m_folder.filePath(name); }
    QString waylandSocket() const { return path(QStringLiteral("run/")) + m_waylandDisplay; }

    Compositor m_compositor;
    QTemporaryDir m_folder;
    QProcess m_bus;
    QProcess m_watchdog;
    QProcess m_compositorProcess;
    // A client that sees the seat's keyboard appear drops the first key it is sent, so one
    // keyboard (KWin: one fake input device) lives as long as the session.
    wl_display *m_display = nullptr;
    wl_proxy *m_keyboard = nullptr;
    pid_t m_group = 0;
    QString m_busAddress;
    QString m_busConnection;
    QString m_remoteDesktopSession;
    QString m_waylandDisplay;
    QString m_x11Display;
    QString m_xauthority;
    QString m_swaySocket;
    int m_launches = 0;
    QString m_error;
};

// tests/tools/textwindow on one side of a session (the platform plugin named), its widgets on
// the accessibility bus, where Murmel looks for a text field on GNOME.
class TextWindow final : public TextWindowProcess
{
public:
    TextWindow(const WaylandSession &session, const QString &platform, const QString &title);

    bool waitUntilActive() { return QTest::qWaitFor([this] { return isActive(); }, 15000); }
    bool waitForText(const QString &expected) { return TextWindowProcess::waitForText(expected, 30000); }
    // The X window's id; meaningless for a native one.
    QString window() const { return QString::number(TextWindowProcess::window()); }
};
