#pragma once

#include "desktopsession.h"
#include "textwindowprocess.h"

#include <QProcess>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>

#include <list>
#include <memory>

class WaylandConnection;
struct wl_proxy;

// A private Wayland desktop for a test: a headless sway, KWin or mutter with XWayland, on its
// own session bus and folders (environment() holds them from the start), so a test can put
// native Wayland and X windows side by side and type, focus and copy as a user would.
// Everything it starts lives in one process group that stop() and the destructor kill; should
// the test process die first, a watchdog kills the group.
class WaylandSession final : public PrivateSession
{
public:
    enum class Compositor { sway, kwin, mutter };
    enum class Side { wayland, x11 };

    explicit WaylandSession(Compositor compositor);
    ~WaylandSession();

    // Returns once a client can connect to both displays and the seat has a keyboard; false,
    // with error() saying why, otherwise.
    bool start();
    void stop();

    // Starts a client that lives as long as the session (a portal, the application) and
    // returns it once it owns `busName`; null, with error() saying why, when it never did.
    // Its output, merged, waits in the process for whoever reads it.
    QProcess *startService(const QString &program, const QStringList &arguments, const QString &busName,
                           const QProcessEnvironment &variables = {});
    bool waitForBusName(const QString &name);

    // Presses the evdev keys in order and lets them go in reverse (Ctrl+Alt+Space), through
    // KWin's fake input, which KWin grants to this executable, code under test included; on
    // KWin only.
    bool pressChord(const QList<quint32> &keys);
    // Activates the X window with this exact title (on sway any window) and returns once it
    // has the keyboard.
    bool focus(const QString &title);

    // A launcher's X startup id, stamped with the X server's time now, for DESKTOP_STARTUP_ID.
    static QString announceLaunch();

    // The managed X window of exactly this title (decimal id), empty while there is none.
    QString managedX11Window(const QString &title) const;
    // The X window the compositor names active, empty while a native one or none is.
    QString activeX11Window() const;

    // The clipboard as each side sees it (on sway and KWin the sides meet only while an X window
    // is active), and setting the Wayland one, returning once it holds `text`.
    QString clipboard(Side side) const;
    bool setClipboard(const QString &text) const;

private:
    // Starts the compositor and learns its displays.
    bool startCompositor();
    // Each compositor's command line, and what it needs in place first.
    bool prepareSway(const QString &reporter, QStringList &command, QProcessEnvironment &variables);
    bool prepareKwin(const QString &reporter, QStringList &command);
    bool prepareMutter(const QString &reporter, QStringList &command);
    bool createKeyboard();
    bool failWithLog(const QString &reason); // with the end of the compositor's log
    QString path(const QString &name) const { return m_folder.filePath(name); }
    QString waylandSocket() const;

    Compositor m_compositor;
    QTemporaryDir m_folder;
    QProcess m_bus;
    QProcess m_watchdog;
    QProcess m_compositorProcess;
    std::list<QProcess> m_services;
    std::unique_ptr<WaylandConnection> m_connection;
    // A client that sees the seat's keyboard appear drops the first key it is sent, so one
    // keyboard (KWin: one fake input device) lives as long as the session.
    wl_proxy *m_keyboard = nullptr;
    QString m_busConnection;
};

// tests/tools/textwindow on one side of a session (the platform plugin named), its widgets on
// the accessibility bus, where Murmel looks for a text field on GNOME.
class TextWindow final : public TextWindowProcess
{
public:
    TextWindow(const WaylandSession &session, const QString &platform, const QString &title);

    bool waitUntilActive() { return QTest::qWaitFor([this] { return isActive(); }, 15000); }
    bool waitForText(const QString &expected) { return TextWindowProcess::waitForText(expected, 30000); }
    void stop() { ChildProcess::stop(m_process); }
    // The X window's id; meaningless for a native one.
    QString window() const { return QString::number(TextWindowProcess::window()); }
};
