#pragma once

#include <QProcess>

#include <csignal>
#include <sys/prctl.h>

// The processes a test starts: each dies with the test however it ends (a crash, a CTest
// timeout), and is stopped politely first when the test ends normally.
namespace ChildProcess {

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

} // namespace ChildProcess
