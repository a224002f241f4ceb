#include "desktopsession.h"

#include "childprocess.h"

#include <QTest>

QProcessEnvironment DesktopSession::environment() const
{
    QProcessEnvironment variables = QProcessEnvironment::systemEnvironment();
    variables.insert(QStringLiteral("DISPLAY"), m_display);
    variables.remove(QStringLiteral("WAYLAND_DISPLAY"));
    return variables;
}

void DesktopSession::enter() const
{
    qputenv("DISPLAY", m_display.toLocal8Bit());
    qunsetenv("WAYLAND_DISPLAY");
}

bool DesktopSession::start()
{
    ChildProcess::dieWithParent(m_server);
    // -displayfd makes the server pick a free display number and print it once it
    // accepts connections, so parallel tests never collide and nobody has to poll.
    m_server.start(QStringLiteral("Xvfb"), QStringLiteral("-displayfd 1 -screen 0 1280x800x24 -nolisten tcp -noreset")
                                               .split(u' ') + m_serverArguments);
    while (!m_server.canReadLine()) {
        if (!m_server.waitForReadyRead(15000)) {
            m_error = QStringLiteral("Xvfb gave no display number: ") + m_server.errorString()
                + QString::fromLocal8Bit(m_server.readAllStandardError());
            return false;
        }
    }
    m_display = u':' + QString::fromLatin1(m_server.readLine()).trimmed();
    if (m_windowManager == WindowManager::none)
        return true;

    m_windowManagerProcess.setProcessEnvironment(environment());
    ChildProcess::dieWithParent(m_windowManagerProcess);
    m_windowManagerProcess.start(QStringLiteral("openbox"), {QStringLiteral("--sm-disable")});
    // openbox announces itself on the root window early, but may still drop a window's
    // first map request until it has set up its desktops and loaded its theme; the client
    // list and the theme name are among the last things it publishes.
    const bool ready = QTest::qWaitFor(
        [this] {
            int code = -1;
            const QString root = run(QStringLiteral("xprop"), {QStringLiteral("-root")}, &code);
            return code == 0 && root.contains(QStringLiteral("_NET_SUPPORTING_WM_CHECK"))
                && root.contains(QStringLiteral("_NET_CLIENT_LIST_STACKING")) && root.contains(QStringLiteral("_OB_THEME"));
        },
        15000);
    if (!ready)
        m_error = QStringLiteral("openbox did not take over the display: ") + m_windowManagerProcess.errorString()
            + QString::fromLocal8Bit(m_windowManagerProcess.readAllStandardError());
    return ready;
}

QString DesktopSession::run(const QString &program, const QStringList &arguments, int *exitCode,
                            const QByteArray &input) const
{
    return QString::fromUtf8(ChildProcess::run(program, arguments, exitCode, environment(), input));
}

void DesktopSession::stop()
{
    ChildProcess::stop(m_windowManagerProcess);
    ChildProcess::stop(m_server);
}
