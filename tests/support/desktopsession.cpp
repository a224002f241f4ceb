#include "desktopsession.h"

#include "childprocess.h"

#include <QTest>
#include <csignal>
#include <sys/prctl.h>
#include <unistd.h>

QProcessEnvironment PrivateSession::environment() const
{
    QProcessEnvironment variables = QProcessEnvironment::systemEnvironment();
    for (const QString &name : m_foreign)
        variables.remove(name);
    variables.insert(m_variables);
    return variables;
}

void PrivateSession::enter() const
{
    for (const QString &name : m_foreign)
        qunsetenv(name.toLocal8Bit().constData());
    ChildProcess::enter(m_variables);
}

void PrivateSession::adopt(QProcess &process) const
{
    const pid_t group = m_group;
    process.setChildProcessModifier([group] {
        ::prctl(PR_SET_PDEATHSIG, SIGKILL);
        if (group != 0)
            ::setpgid(0, group);
    });
}

void PrivateSession::launch(QProcess &process, const QString &program, const QStringList &arguments,
                            const QProcessEnvironment &variables) const
{
    QProcessEnvironment merged = environment();
    merged.insert(variables);
    process.setProcessEnvironment(merged);
    adopt(process);
    process.start(program, arguments);
}

QString PrivateSession::run(const QString &program, const QStringList &arguments, int *exitCode,
                            const QByteArray &input) const
{
    QProcess tool;
    tool.setProcessEnvironment(environment());
    adopt(tool);
    return QString::fromUtf8(ChildProcess::run(tool, program, arguments, exitCode, input, 20000));
}

bool DesktopSession::start()
{
    // -displayfd makes the server pick a free display number and print it once it
    // accepts connections, so parallel tests never collide and nobody has to poll.
    launch(m_server, QStringLiteral("Xvfb"),
           QStringLiteral("-displayfd 1 -screen 0 1280x800x24 -nolisten tcp -noreset").split(u' ') + m_serverArguments);
    const QString display = ChildProcess::firstLine(m_server);
    if (display.isEmpty())
        return fail(QStringLiteral("Xvfb gave no display number: ") + m_server.errorString()
                    + QString::fromLocal8Bit(m_server.readAllStandardError()));
    m_variables.insert(QStringLiteral("DISPLAY"), u':' + display);
    if (m_windowManager == WindowManager::none)
        return true;

    launch(m_windowManagerProcess, QStringLiteral("openbox"), {QStringLiteral("--sm-disable")});
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
    return ready
        || fail(QStringLiteral("openbox did not take over the display: ") + m_windowManagerProcess.errorString()
                + QString::fromLocal8Bit(m_windowManagerProcess.readAllStandardError()));
}

void DesktopSession::stop()
{
    ChildProcess::stop(m_windowManagerProcess);
    ChildProcess::stop(m_server);
}
