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
// own session bus, with its own runtime, home and XDG folders, so a test can put native
// Wayland and X windows side by side and type, focus and copy as a user would.
//
// Everything the session starts (the bus, the compositor and its XWayland, the tools run
// through run() and the clients started through launch()) lives in one process group that
// stop() and the destructor kill. When the test process dies without them (a crash, a CTest
// timeout), the processes it started get a parent-death signal and a watchdog kills the
// rest of the group.
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

    // The first program that the session or its helpers need and that is not installed, for
    // a test to skip with; empty when everything is there.
    static QString missingProgram(Compositor compositor);

    // Starts the bus, the compositor and XWayland, and returns once a client can connect to
    // both displays and the seat has a keyboard. False, with error() saying why, otherwise.
    bool start();
    void stop();
    QString error() const { return m_error; }

    // The variables a client needs to live in this session, over the system environment: the
    // displays, the bus, the folders, and XDG_CURRENT_DESKTOP as the desktop's own session
    // sets it. QT_QPA_PLATFORM is removed, as on a desktop.
    QProcessEnvironment environment() const;
    // Puts environment() into this process's own environment, for the code under test.
    void enter() const;

    // Runs a tool (wl-paste, xclip, xdotool, swaymsg…) in the session and returns its standard
    // output; exitCode receives its exit code (-1 when it did not finish).
    QString run(const QString &program, const QStringList &arguments, int *exitCode = nullptr,
                const QByteArray &input = {}) const;
    // Starts a client of the session, with `variables` over environment(); the session stops
    // it with itself.
    void launch(QProcess &process, const QString &program, const QStringList &arguments,
                const QProcessEnvironment &variables = {}) const;

    // Types text into the focused window as key presses: a virtual keyboard on sway, KWin's fake
    // input, mutter's remote desktop keysyms. On sway and KWin only the characters of the US
    // layout can be typed. KWin grants fake input to this test executable for the whole
    // session, so code under test in this process has it too.
    bool typeText(const QString &text);
    // Presses the evdev keys in order and lets them go in reverse, as a hand plays a chord
    // such as Ctrl+Alt+Space. KWin only (its fake input keeps no modifier state apart).
    bool pressChord(const QList<quint32> &keys);
    // Activates the window with this exact title and returns once it has the keyboard. mutter
    // can only activate X windows: a native one gets the focus when it opens, or when the
    // window above it closes.
    bool focus(const QString &title);

    // Announces a launch on the X side as a launcher does (X startup notification, stamped
    // with the X server's time now) and returns its id, for DESKTOP_STARTUP_ID; empty, with
    // error() saying why, when the X display cannot be reached.
    QString announceLaunch();

    // Waits until a client owns the name on the session's bus; false, with error() saying
    // why, when none did in time.
    bool waitForBusName(const QString &name);

    // The X window of exactly this title that the window manager manages (decimal id), empty
    // while there is none.
    QString managedX11Window(const QString &title) const;

    // The X window the compositor names active (decimal id), empty while a native window or
    // nothing has the focus.
    QString activeX11Window() const;

    // The clipboard as a client of each side sees it, and setting it from there (which returns
    // once that side sees the text). On sway and KWin the two sides only meet while an X
    // window is active; mutter always joins them.
    QString clipboard(Side side) const;
    bool setClipboard(Side side, const QString &text) const;

private:
    bool prepareFolders();
    bool startBus();
    bool startSway();
    bool startKwin();
    bool startMutter();
    bool startCompositor(const QString &program, const QStringList &arguments, const QProcessEnvironment &variables);
    bool readChildEnvironment(const QString &path);
    bool waitForKeyboard();
    bool openRemoteDesktop();
    bool sendKeysym(quint32 keysym, bool pressed) const;
    bool createKeyboard();
    bool focusWithKwinScript(const QString &title);
    void adopt(QProcess &process) const;
    bool fail(const QString &reason);
    QString log() const;
    QString path(const QString &name) const { return m_folder.filePath(name); }
    QString waylandSocket() const { return path(QStringLiteral("run/")) + m_waylandDisplay; }

    Compositor m_compositor;
    QTemporaryDir m_folder;
    QProcess m_bus;
    QProcess m_watchdog;
    QProcess m_compositorProcess;
    // sway's seat has a keyboard only while a virtual one exists, and a client that sees the
    // keyboard appear drops the first key it is sent; so one keyboard (KWin: one fake input
    // device) lives as long as the session, on a connection of the harness's own.
    wl_display *m_display = nullptr;
    wl_proxy *m_virtualKeyboard = nullptr;
    wl_proxy *m_fakeInput = nullptr;
    quint32 m_shiftMask = 0;
    quint32 m_keyTime = 0;
    pid_t m_group = 0;
    QString m_busAddress;
    QString m_busConnection;
    QString m_remoteDesktopSession;
    QString m_waylandDisplay;
    QString m_x11Display;
    QString m_xauthority;
    QString m_swaySocket;
    int m_count = 0; // for unique names of launches and scripts
    QString m_error;
};

// tests/tools/textwindow on one side of a session, with the platform plugin named. Its
// widgets are on the accessibility bus, where GNOME's case looks for them.
class TextWindow final : public TextWindowProcess
{
public:
    TextWindow(const WaylandSession &session, const QString &platform, const QString &title);

    // Waits until the window has the keyboard focus.
    bool waitUntilActive() { return QTest::qWaitFor([this] { return isActive(); }, 15000); }
    bool waitForText(const QString &expected, int timeoutMs = 30000)
    {
        return TextWindowProcess::waitForText(expected, timeoutMs);
    }
    // The X window's id; meaningless for a native one.
    QString window() const { return QString::number(TextWindowProcess::window()); }
    void close() { stop(); }
};
