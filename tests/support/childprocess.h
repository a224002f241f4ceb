#pragma once

#include <QFile>
#include <QProcess>

#include <csignal>
#include <sys/prctl.h>

// The processes a test starts: each dies with the test however it ends (a crash, a CTest
// timeout), and is stopped politely first when the test ends normally.
namespace ChildProcess {

// Puts `variables` into this process's own environment, for the code under test.
inline void enter(const QProcessEnvironment &variables)
{
    for (const QString &name : variables.keys())
        qputenv(name.toLocal8Bit().constData(), variables.value(name).toLocal8Bit());
}

// `signal` lets a process that cleans up after itself (a bus launcher) do so.
inline void dieWithParent(QProcess &process, int signal = SIGKILL)
{
    process.setChildProcessModifier([signal] { ::prctl(PR_SET_PDEATHSIG, signal); });
}

inline void stop(QProcess &process)
{
    if (process.state() == QProcess::NotRunning)
        return;
    process.terminate();
    if (!process.waitForFinished(5000)) {
        process.kill();
        process.waitForFinished(5000);
    }
}

// Runs `tool`, set up by the caller, to its end and returns its standard output; exitCode
// receives its exit code, -1 when it crashed or had to be killed.
inline QByteArray run(QProcess &tool, const QString &program, const QStringList &arguments, int *exitCode = nullptr,
                   const QByteArray &input = {}, int timeoutMs = 15000)
{
    tool.start(program, arguments);
    if (!input.isNull())
        tool.write(input);
    tool.closeWriteChannel();
    const bool finished = tool.waitForFinished(timeoutMs) && tool.exitStatus() == QProcess::NormalExit;
    if (!finished) {
        tool.kill();
        tool.waitForFinished();
    }
    if (exitCode)
        *exitCode = finished ? tool.exitCode() : -1;
    return tool.readAllStandardOutput();
}

// The usual case: a tool in this environment, which dies with the test.
inline QByteArray run(const QString &program, const QStringList &arguments, int *exitCode = nullptr,
                   const QProcessEnvironment &environment = QProcessEnvironment::systemEnvironment(),
                   const QByteArray &input = {})
{
    QProcess tool;
    tool.setProcessEnvironment(environment);
    dieWithParent(tool);
    return run(tool, program, arguments, exitCode, input);
}

// The first line `process` prints, once it is there; empty when none came.
inline QString firstLine(QProcess &process)
{
    while (!process.canReadLine()) {
        if (!process.waitForReadyRead(15000))
            return {};
    }
    return QString::fromUtf8(process.readLine()).trimmed();
}

// Starts a session bus of the test's own, its socket and configuration in `folder`, and
// returns its address once it listens (empty when it did not come up). It knows no service
// files, so nothing can be activated behind the test's back: a client finds exactly what the
// test started. The caller sets up how `bus` dies.
inline QString startBus(QProcess &bus, const QString &folder)
{
    QFile config(folder + QStringLiteral("/bus.conf"));
    if (!config.open(QIODevice::WriteOnly)
        || config.write("<busconfig><type>session</type><listen>unix:path=" + QFile::encodeName(folder)
                        + "/bus</listen><auth>EXTERNAL</auth><policy context=\"default\"><allow send_destination=\"*\" "
                          "eavesdrop=\"true\"/><allow eavesdrop=\"true\"/><allow own=\"*\"/></policy></busconfig>")
            < 0)
        return {};
    config.close();
    bus.start(QStringLiteral("dbus-daemon"),
              {QStringLiteral("--config-file=") + config.fileName(), QStringLiteral("--nofork"),
               QStringLiteral("--print-address")});
    return firstLine(bus);
}

} // namespace ChildProcess
