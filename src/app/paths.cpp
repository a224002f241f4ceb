#include "paths.h"

#include <QDir>

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

} // namespace Paths
