#pragma once

#include <QProcess>
#include <QProcessEnvironment>
#include <QString>
#include <QStringList>

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

    DesktopSession(const DesktopSession &) = delete;
    DesktopSession &operator=(const DesktopSession &) = delete;

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

private:
    WindowManager m_windowManager;
    QStringList m_serverArguments;
    QProcess m_server;
    QProcess m_windowManagerProcess;
    QString m_display;
    QString m_error;
};
