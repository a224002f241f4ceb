#pragma once

#include <QGuiApplication>
#include <QProcess>
#include <QProcessEnvironment>
#include <QString>
#include <QStringList>
#include <QTest>

// A private X display for a test: Xvfb on a display number it picks itself, with openbox
// as the window manager, so focus, stacking and window classes behave as on a desktop.
// The processes are stopped by stop() and the destructor, and die with the test process
// however it ends.
class DesktopSession final
{
public:
    enum class WindowManager { none, openbox };

    // `serverArguments` go to Xvfb as well, for a display that lacks something
    // (`-extension XTEST`).
    explicit DesktopSession(WindowManager windowManager = WindowManager::openbox, QStringList serverArguments = {})
        : m_windowManager(windowManager)
        , m_serverArguments(std::move(serverArguments))
    {}
    ~DesktopSession() { stop(); }

    // Starts the display and the window manager; false, with error() saying why, when
    // something did not come up.
    bool start();
    void stop();
    QString error() const { return m_error; }

    // ":N"
    QString display() const { return m_display; }
    // The system environment with DISPLAY pointing here (and WAYLAND_DISPLAY removed).
    QProcessEnvironment environment() const;
    // Points this process's own DISPLAY here, for the code under test.
    void enter() const;

    // Runs a tool of the harness (xdotool, xclip, xprop, …) on this display and returns
    // its standard output; exitCode receives its exit code (-1 when it did not finish).
    QString run(const QString &program, const QStringList &arguments, int *exitCode = nullptr,
                const QByteArray &input = {}) const;
    // xdotool on this display; true when it succeeded.
    bool xdotool(const QStringList &arguments) const
    {
        int code = -1;
        run(QStringLiteral("xdotool"), arguments, &code);
        return code == 0;
    }

    // The main() of a test whose own windows and clipboard live on a private display: the
    // display comes up before the application, and `Test` is made with it.
    template<typename Test>
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
        QGuiApplication app(argc, argv);
        Test test(session);
        return QTest::qExec(&test, argc, argv);
    }

private:
    WindowManager m_windowManager;
    QStringList m_serverArguments;
    QProcess m_server;
    QProcess m_windowManagerProcess;
    QString m_display;
    QString m_error;
};
