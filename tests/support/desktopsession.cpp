#include "desktopsession.h"

#include "childprocess.h"

#include <QTest>

#include <csignal>
#include <sys/prctl.h>

namespace {

constexpr int startTimeoutMs = 15000;

} // namespace

DesktopSession::DesktopSession(WindowManager windowManager, QStringList serverArguments)
    : m_windowManager(windowManager)
    , m_serverArguments(std::move(serverArguments))
{
}

DesktopSession::~DesktopSession()
{
    stop();
}

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
    return startServer() && (m_windowManager == WindowManager::none || startWindowManager());
}

bool DesktopSession::startServer()
{
    ChildProcess::dieWithParent(m_server);
    // -displayfd makes the server pick a free display number and print it once it
    // accepts connections, so parallel tests never collide and nobody has to poll.
    m_server.start(QStringLiteral("Xvfb"), QStringList{QStringLiteral("-displayfd"), QStringLiteral("1"),
                                                       QStringLiteral("-screen"), QStringLiteral("0"),
                                                       QStringLiteral("1280x800x24"), QStringLiteral("-nolisten"),
                                                       QStringLiteral("tcp"), QStringLiteral("-noreset")}
                                               + m_serverArguments);
    if (!m_server.waitForStarted(startTimeoutMs)) {
        m_error = QStringLiteral("Xvfb did not start: ") + m_server.errorString();
        return false;
    }
    while (!m_server.canReadLine()) {
        if (!m_server.waitForReadyRead(startTimeoutMs)) {
            m_error = QStringLiteral("Xvfb gave no display number: ")
                + QString::fromLocal8Bit(m_server.readAllStandardError());
            return false;
        }
    }
    m_display = u':' + QString::fromLatin1(m_server.readLine()).trimmed();
    return true;
}

bool DesktopSession::startWindowManager()
{
    m_windowManagerProcess.setProcessEnvironment(environment());
    ChildProcess::dieWithParent(m_windowManagerProcess);
    m_windowManagerProcess.start(QStringLiteral("openbox"), {QStringLiteral("--sm-disable")});
    if (!m_windowManagerProcess.waitForStarted(startTimeoutMs)) {
        m_error = QStringLiteral("openbox did not start: ") + m_windowManagerProcess.errorString();
        return false;
    }
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
        startTimeoutMs);
    if (!ready) {
        m_error = QStringLiteral("openbox did not take over the display: ")
            + QString::fromLocal8Bit(m_windowManagerProcess.readAllStandardError());
        return false;
    }
    return true;
}

QString DesktopSession::run(const QString &program, const QStringList &arguments, int *exitCode,
                            const QByteArray &input) const
{
    QProcess tool;
    tool.setProcessEnvironment(environment());
    ChildProcess::dieWithParent(tool);
    tool.start(program, arguments);
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

void DesktopSession::stop()
{
    ChildProcess::stop(m_windowManagerProcess);
    ChildProcess::stop(m_server);
}
