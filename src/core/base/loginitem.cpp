#include "core/base/loginitem.h"

#include "core/base/logging.h"
#include "core/base/paths.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>

#include <algorithm>

namespace {

const QString entryName = QStringLiteral("app.murmel.Murmel.desktop");

// An argument with any of these must be quoted: desktop entries reserve them.
bool needsQuoting(const QString &argument)
{
    static const QString reserved = QStringLiteral(" \t\n\"'\\><~|&;$*?#()`");
    if (argument.isEmpty())
        return true;
    return std::any_of(argument.begin(), argument.end(), [](QChar c) { return reserved.contains(c); });
}

QString quotedArgument(const QString &argument)
{
    if (!needsQuoting(argument))
        return argument;
    QString quoted = QStringLiteral("\"");
    for (const QChar c : argument) {
        if (c == u'"' || c == u'`' || c == u'$' || c == u'\\')
            quoted += u'\\';
        quoted += c;
    }
    return quoted + u'"';
}

// The key file's own escapes for a string value, applied on top of the Exec quoting: a
// reader undoes these first, so a backslash from the quoting step is doubled again here.
QString escapedString(const QString &value)
{
    QString escaped;
    escaped.reserve(value.size());
    for (const QChar c : value) {
        switch (c.unicode()) {
        case u'\\': escaped += QStringLiteral("\\\\"); break;
        case u'\n': escaped += QStringLiteral("\\n"); break;
        case u'\t': escaped += QStringLiteral("\\t"); break;
        case u'\r': escaped += QStringLiteral("\\r"); break;
        default: escaped += c;
        }
    }
    return escaped;
}

// True when the [Desktop Entry] group carries a key with which desktops skip the entry.
bool switchedOff(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly | QIODevice::Text))
        return false; // it exists; whether it runs is the session manager's call, so count it on
    bool inMainGroup = false;
    while (!file.atEnd()) {
        const QString line = QString::fromUtf8(file.readLine()).trimmed();
        if (line.startsWith(u'[')) {
            inMainGroup = line == QStringLiteral("[Desktop Entry]");
            continue;
        }
        if (!inMainGroup)
            continue;
        const qsizetype equals = line.indexOf(u'=');
        if (equals < 0)
            continue;
        const QString key = line.left(equals).trimmed();
        const QString value = line.mid(equals + 1).trimmed();
        if (key == QStringLiteral("Hidden") && value == QStringLiteral("true"))
            return true;
        if (key == QStringLiteral("X-GNOME-Autostart-enabled") && value == QStringLiteral("false"))
            return true;
    }
    return false;
}

} // namespace

LoginItem::LoginItem(QString executable, QObject *parent)
    : QObject(parent)
    , m_executable(executable.isEmpty() ? QCoreApplication::applicationFilePath() : std::move(executable))
{
}

QString LoginItem::entryPath()
{
    return Paths::configHome() + QStringLiteral("/autostart/") + entryName;
}

QString LoginItem::execValue(const QStringList &arguments)
{
    QStringList quoted;
    quoted.reserve(arguments.size());
    for (const QString &argument : arguments)
        quoted << quotedArgument(argument);
    // A literal '%' would start a field code.
    return escapedString(quoted.join(u' ').replace(u'%', QStringLiteral("%%")));
}

bool LoginItem::isEnabled() const
{
    const QString path = entryPath();
    return QFileInfo(path).isFile() && !switchedOff(path);
}

void LoginItem::setEnabled(bool enabled)
{
    const bool wasEnabled = isEnabled();
    if (enabled == wasEnabled)
        return;
    if (enabled ? writeEntry() : removeEntry()) {
        if (isEnabled() != wasEnabled)
            Q_EMIT enabledChanged();
    }
}

bool LoginItem::writeEntry() const
{
    const QString path = entryPath();
    const QString folder = QFileInfo(path).absolutePath();
    if (!QDir().mkpath(folder)) {
        qCWarning(lcApp) << "could not create the autostart folder" << folder;
        return false;
    }
    const QString entry = QStringLiteral("[Desktop Entry]\n"
                                         "Type=Application\n"
                                         "Name=Murmel\n"
                                         "Comment=Dictation for the Linux desktop\n"
                                         "Icon=app.murmel.Murmel\n"
                                         "Exec=")
        + execValue({m_executable})
        + QStringLiteral("\n"
                         "Terminal=false\n"
                         "X-GNOME-Autostart-enabled=true\n");
    // Written whole or not at all, so a session that starts meanwhile never reads half an
    // entry; it also replaces an entry a desktop switched off.
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(entry.toUtf8()) < 0 || !file.commit()) {
        qCWarning(lcApp) << "could not write the autostart entry" << path << "-" << file.errorString();
        return false;
    }
    qCInfo(lcApp) << "Murmel now opens at login";
    return true;
}

bool LoginItem::removeEntry() const
{
    const QString path = entryPath();
    QFile file(path);
    if (!file.remove()) {
        qCWarning(lcApp) << "could not remove the autostart entry" << path << "-" << file.errorString();
        return false;
    }
    qCInfo(lcApp) << "Murmel no longer opens at login";
    return true;
}
