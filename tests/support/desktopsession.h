#pragma once

#include <QGuiApplication>
#include <QProcess>
#include <QProcessEnvironment>
#include <QString>
#include <QStringList>
#include <QTest>

#include <sys/types.h>

// What every private desktop of a test has: the variables its clients get (and those of the
// desktop the test itself runs in, which must not leak in), the tools run there, and the
// processes it starts, which die with the test however it ends.
class PrivateSession
{
public:
    // Why start() returned false.
    QString error() const { return m_error; }

    // The system environment with the session's variables, and without the foreign ones.
    QProcessEnvironment environment() const;
    // Points this process's own environment here, for the code under test.
    void enter() const;

    // Runs a tool of the harness (xdotool, xprop, wl-paste, …) in the session and returns its
    // standard output; exitCode receives its exit code (-1 when it did not finish).
    QString run(const QString &program, const QStringList &arguments, int *exitCode = nullptr,
                const QByteArray &input = {}) const;
    // xdotool on the session's X display; true when it succeeded.
    bool xdotool(const QStringList &arguments) const
    {
        int code = -1;
        run(QStringLiteral("xdotool"), arguments, &code);
        return code == 0;
    }
    // Starts a client of the session with `variables` over environment().
    void launch(QProcess &process, const QString &program, const QStringList &arguments,
                const QProcessEnvironment &variables = {}) const;

protected:
    // `foreign`: the variables of the test's own desktop that this one replaces or lacks.
    explicit PrivateSession(QStringList foreign)
        : m_foreign(std::move(foreign))
    {}
    ~PrivateSession() = default;

    bool fail(const QString &reason)
    {
        m_error = reason;
        return false;
    }
    // Makes `process` die with the test, and join m_group once there is one.
    void adopt(QProcess &process) const;

    QProcessEnvironment m_variables;
    // A session that starts one (the Wayland one) keeps every process in this group, so that
    // stopping it reaches what the tools leave behind: wl-copy and xclip fork to serve the
    // selection, and XWayland outlives its compositor.
    pid_t m_group = 0;

private:
    QStringList m_foreign;
    QString m_error;
};

// A private X display for a test: Xvfb on a display number it picks itself, with openbox
// as the window manager, so focus, stacking and window classes behave as on a desktop.
// The processes are stopped by stop() and the destructor.
class DesktopSession final : public PrivateSession
{
public:
    enum class WindowManager { none, openbox };

    // `serverArguments` go to Xvfb as well, for a display that lacks something
    // (`-extension XTEST`).
    explicit DesktopSession(WindowManager windowManager = WindowManager::openbox, QStringList serverArguments = {})
        : PrivateSession({QStringLiteral("WAYLAND_DISPLAY")})
        , m_windowManager(windowManager)
        , m_serverArguments(std::move(serverArguments))
    {}
    ~DesktopSession() { stop(); }

    // Starts the display and the window manager; false, with error() saying why, when
    // something did not come up.
    bool start();
    void stop();

    // ":N"
    QString display() const { return m_variables.value(QStringLiteral("DISPLAY")); }

    // The main() of a test whose own windows and clipboard live on a private display: the
    // display comes up before the application, and `Test` is made with it. A test built
    // with Qt Widgets needs a QApplication, since Qt Test's key functions then expect one.
    template<typename Test, typename Application = QGuiApplication>
    static int exec(int argc, char **argv)
    {
        DesktopSession session;
        if (!session.start()) {
            qCritical("%s", qPrintable(session.error()));
            return 1;
        }
        session.enter();
        qputenv("QT_QPA_PLATFORM", "xcb");
        // A test that needs a bus brings its own; nothing may reach the user's.
        qunsetenv("DBUS_SESSION_BUS_ADDRESS");
        Application app(argc, argv);
        Test test(session);
        return QTest::qExec(&test, argc, argv);
    }

private:
    WindowManager m_windowManager;
    QStringList m_serverArguments;
    QProcess m_server;
    QProcess m_windowManagerProcess;
};
