#pragma once

#include "childprocess.h"

#include <QProcess>
#include <QString>
#include <QTest>

// Runs the built `murmel` (named by MURMEL_BINARY) the way a user or a script would.
namespace MurmelProcess {

struct Result
{
    int exitCode = -1; // -1 when it could not start, crashed or had to be killed
    QString out;
    QString err; // with the reason when it could not start

    // Standard error's lines. The libraries under Murmel may add lines of their own where the
    // environment asks for it (a locale warning, a platform plugin's note), so a test looks
    // for the line that matters rather than at the whole stream.
    QStringList errLines() const { return err.split(u'\n', Qt::SkipEmptyParts); }
    // The last thing Murmel said: a failing command ends with its reason.
    QString lastErrLine() const { return errLines().value(errLines().size() - 1); }
};

inline QString binary() { return qEnvironmentVariable("MURMEL_BINARY"); }

// Waits with the event loop turning, so an in-process server can answer; a process that
// outlives the timeout is killed. Not on finished(): a program that cannot start (a binary
// being relinked) never sends it, and the wait would last the whole timeout.
inline Result finish(QProcess &process, int timeoutMs = 60000)
{
    if (!QTest::qWaitFor([&] { return process.state() == QProcess::NotRunning; }, timeoutMs)) {
        process.kill();
        process.waitForFinished();
    }
    if (process.error() == QProcess::FailedToStart)
        return {-1, {}, process.errorString()};
    return {process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1,
            QString::fromUtf8(process.readAllStandardOutput()), QString::fromUtf8(process.readAllStandardError())};
}

// Runs `program` (Murmel, a wrapper that ends by running it, or a tool) to its end; standard
// output goes to `outputFile` when one is named (/dev/full plays a full disk).
inline Result run(const QString &program, const QStringList &arguments,
                  const QProcessEnvironment &environment = QProcessEnvironment::systemEnvironment(),
                  const QString &outputFile = {}, int timeoutMs = 60000)
{
    QProcess process;
    process.setProcessEnvironment(environment);
    ChildProcess::dieWithParent(process);
    if (!outputFile.isEmpty())
        process.setStandardOutputFile(outputFile);
    process.start(program, arguments);
    return finish(process, timeoutMs);
}

inline Result murmel(const QStringList &arguments,
                     const QProcessEnvironment &environment = QProcessEnvironment::systemEnvironment(),
                     int timeoutMs = 60000)
{
    return run(binary(), arguments, environment, {}, timeoutMs);
}

inline Result murmelInto(const QString &file, const QStringList &arguments,
                         const QProcessEnvironment &environment = QProcessEnvironment::systemEnvironment())
{
    return run(binary(), arguments, environment, file);
}

// Whether this machine lets a process make the mounts murmelConfined() needs: containers
// often refuse user namespaces, or mounts within them.
inline bool canConfine()
{
    return QProcess::execute(QStringLiteral("unshare"),
                             {QStringLiteral("-rm"), QStringLiteral("sh"), QStringLiteral("-ec"),
                              QStringLiteral("d=$(mktemp -d); mount -t tmpfs none \"$d\"; "
                                             "mount --bind -o ro \"$d\" \"$d\"; umount \"$d\"; umount \"$d\"; rmdir \"$d\"")})
        == 0;
}

// As murmel(), in a mount namespace of its own where the shell `mounts` ran first (a
// read-only bind mount, a tiny tmpfs): file system faults that bind even root, undone when
// the process ends.
inline Result murmelConfined(const QString &mounts, const QStringList &arguments,
                             const QProcessEnvironment &environment = QProcessEnvironment::systemEnvironment())
{
    return run(QStringLiteral("unshare"),
               QStringList{QStringLiteral("-rm"), QStringLiteral("sh"), QStringLiteral("-ec"),
                           mounts + QStringLiteral("\nexec \"$0\" \"$@\""), binary()} + arguments,
               environment);
}

} // namespace MurmelProcess
