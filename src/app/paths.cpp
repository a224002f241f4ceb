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

QString configDirectory()
{
    return xdgDirectory("XDG_CONFIG_HOME", QStringLiteral(".config")) + QStringLiteral("/Murmel");
}

QString dataDirectory()
{
    return xdgDirectory("XDG_DATA_HOME", QStringLiteral(".local/share")) + QStringLiteral("/Murmel");
}

QString modelsDirectory()
{
    return dataDirectory() + QStringLiteral("/Models");
}

} // namespace Paths
