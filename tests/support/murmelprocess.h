#pragma once

#include <QProcess>
#include <QSignalSpy>
#include <QString>
#include <QUrl>

// Runs the built `murmel` (named by MURMEL_BINARY) the way a user or a script would.
namespace MurmelProcess {

struct Result
{
    int exitCode = -1; // -1 when it crashed or had to be killed
    QString out;
    QString err;

    // Standard error's lines. The libraries under Murmel may add lines of their own where the
    // environment asks for it (a locale warning, a platform plugin's note), so a test looks
    // for the line that matters rather than at the whole stream.
    QStringList errLines() const { return err.split(u'\n', Qt::SkipEmptyParts); }
    // The last thing Murmel said: a failing command ends with its reason.
    QString lastErrLine() const { return errLines().value(errLines().size() - 1); }
};

// Murmel on a test's private desktop: a home of its own in `folder` (config/, data/ and the
// model catalog folder/catalog.json), the test's server for models, updates and cleanup,
// X11 windows, and no proxy, so nothing leaves the machine.
inline QProcessEnvironment isolated(QProcessEnvironment variables, const QString &folder, const QUrl &server)
{
    const auto at = [&](const char *path) { return server.resolved(QUrl(QString::fromLatin1(path))).toString(); };
    variables.insert(QStringLiteral("XDG_CONFIG_HOME"), folder + QStringLiteral("/config"));
    variables.insert(QStringLiteral("XDG_DATA_HOME"), folder + QStringLiteral("/data"));
    variables.insert(QStringLiteral("MURMEL_MODEL_CATALOG"), folder + QStringLiteral("/catalog.json"));
    variables.insert(QStringLiteral("MURMEL_MODEL_BASE_URL"), at("/models/"));
    variables.insert(QStringLiteral("MURMEL_UPDATE_URL"), at("/latest.json"));
    variables.insert(QStringLiteral("ANTHROPIC_BASE_URL"), at("/anthropic"));
    variables.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("xcb"));
    variables.remove(QStringLiteral("QT_QTESTLIB_RUNNING"));
    for (const char *name : {"http_proxy", "https_proxy", "HTTP_PROXY", "HTTPS_PROXY", "all_proxy", "ALL_PROXY", "HF_ENDPOINT"})
        variables.remove(QString::fromLatin1(name));
    return variables;
}

inline QString binary()
{
    return qEnvironmentVariable("MURMEL_BINARY");
}

// Waits with the event loop turning, so an in-process server can answer; a process that
// outlives the timeout is killed.
inline Result finish(QProcess &process, int timeoutMs = 60000)
{
    if (process.state() != QProcess::NotRunning) {
        QSignalSpy finished(&process, &QProcess::finished);
        if (!finished.wait(timeoutMs)) {
            process.kill();
            process.waitForFinished();
        }
    }
    return {process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1,
            QString::fromUtf8(process.readAllStandardOutput()), QString::fromUtf8(process.readAllStandardError())};
}

inline Result murmel(const QStringList &arguments,
                     const QProcessEnvironment &environment = QProcessEnvironment::systemEnvironment())
{
    QProcess process;
    process.setProcessEnvironment(environment);
    process.start(binary(), arguments);
    return finish(process);
}

// As murmel(), with standard output going to `file` (/dev/full plays a full disk).
inline Result murmelInto(const QString &file, const QStringList &arguments,
                         const QProcessEnvironment &environment = QProcessEnvironment::systemEnvironment())
{
    QProcess process;
    process.setProcessEnvironment(environment);
    process.setStandardOutputFile(file);
    process.start(binary(), arguments);
    return finish(process);
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
    QProcess process;
    process.setProcessEnvironment(environment);
    process.start(QStringLiteral("unshare"), QStringList{QStringLiteral("-rm"), QStringLiteral("sh"), QStringLiteral("-ec"),
                                                         mounts + QStringLiteral("\nexec \"$0\" \"$@\""), binary()}
                                                 + arguments);
    return finish(process);
}

} // namespace MurmelProcess
