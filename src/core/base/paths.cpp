#include "core/base/paths.h"

#include "core/base/logging.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

namespace {

// QStandardPaths ignores a relative XDG variable and so must we; the fallback is the
// home folder the base-directory rules name.
QString xdgDirectory(const char *variable, const QString &fallbackUnderHome)
{
    const QString value = qEnvironmentVariable(variable);
    if (!value.isEmpty() && QDir::isAbsolutePath(value))
        return QDir::cleanPath(value);
    return QDir::homePath() + u'/' + fallbackUnderHome;
}

} // namespace

namespace Paths {

QString configHome()
{
    return xdgDirectory("XDG_CONFIG_HOME", QStringLiteral(".config"));
}

QString dataHome()
{
    return xdgDirectory("XDG_DATA_HOME", QStringLiteral(".local/share"));
}

QString configDirectory()
{
    return configHome() + QStringLiteral("/Murmel");
}

QString dataDirectory()
{
    return dataHome() + QStringLiteral("/Murmel");
}

QString modelsDirectory()
{
    return dataDirectory() + QStringLiteral("/Models");
}

QString preferencesFile()
{
    return configDirectory() + QStringLiteral("/preferences.json");
}

QString historyFile()
{
    return dataDirectory() + QStringLiteral("/History/history.json");
}

QStringList moduleFolders()
{
    const QString programDir = QFileInfo(QFileInfo(QStringLiteral("/proc/self/exe")).symLinkTarget()).absolutePath();
    return {QDir::cleanPath(programDir + QStringLiteral("/../" MURMEL_INSTALL_LIBDIR "/murmel")),
            QStringLiteral(MURMEL_BUILD_MODULE_DIR)};
}

bool makePrivateFolder(const QString &folder)
{
    const QString path = QDir::cleanPath(QDir(folder).absolutePath());
    QStringList made;
    for (QString missing = path; !QFileInfo::exists(missing); missing = QFileInfo(missing).path())
        made << missing;
    if (!QDir().mkpath(path))
        return false;
    if (made.isEmpty())
        made << path;
    for (const QString &each : std::as_const(made)) {
        if (!QFile::setPermissions(each, QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner))
            qCWarning(lcApp) << "Could not make" << each << "private to the user";
    }
    return true;
}

void makePrivateFile(const QString &file)
{
    if (QFileInfo(file).isFile() && !QFile::setPermissions(file, QFileDevice::ReadOwner | QFileDevice::WriteOwner))
        qCWarning(lcApp) << "Could not make" << file << "private to the user";
}

} // namespace Paths
