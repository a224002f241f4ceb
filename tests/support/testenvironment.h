#pragma once

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QtGlobal>

// Points every folder Murmel uses at a fresh temporary home and clears the variables that
// would send requests elsewhere, so a test never touches the user's files or the network.
// Keep the returned object alive for as long as the test runs.
class TestEnvironment final
{
public:
    TestEnvironment()
    {
        qputenv("HOME", m_home.path().toLocal8Bit());
        qputenv("XDG_CONFIG_HOME", configHome().toLocal8Bit());
        qputenv("XDG_DATA_HOME", dataHome().toLocal8Bit());
        for (const char *name : elsewhere)
            qunsetenv(name);
    }

    // The variables that would send a program's requests somewhere else than the test chose.
    static constexpr const char *elsewhere[] = {"http_proxy", "https_proxy", "HTTP_PROXY", "HTTPS_PROXY", "all_proxy",
                                                "ALL_PROXY", "MURMEL_MODEL_BASE_URL", "MURMEL_MODEL_CATALOG", "HF_ENDPOINT"};

    QString home() const { return m_home.path(); }
    QString configHome() const { return m_home.path() + QStringLiteral("/config"); }
    QString dataHome() const { return m_home.path() + QStringLiteral("/data"); }

private:
    QTemporaryDir m_home;
};

// Files a test writes and reads back whole; a missing folder is made.
namespace TestFiles {

inline bool write(const QString &path, const QByteArray &content)
{
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile file(path);
    return file.open(QIODevice::WriteOnly | QIODevice::Truncate) && file.write(content) == content.size();
}

inline QByteArray read(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

// A media file made by FFmpeg from one of its generators (`source`, as "sine=duration=2"), with
// output options before the path; the format follows the file's extension.
inline bool synthesize(const QString &path, const QString &source, const QStringList &options = {})
{
    const QStringList generator = QStringLiteral("-y -loglevel error -f lavfi -i").split(u' ') + QStringList{source};
    return QProcess::execute(QStringLiteral("ffmpeg"), generator + options + QStringList{path}) == 0;
}

} // namespace TestFiles
