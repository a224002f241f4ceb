#include "core/base/appinfo.h"

#include <QSysInfo>

namespace AppInfo {

QString shortVersion()
{
    return QStringLiteral(MURMEL_VERSION);
}

QString build()
{
    return QStringLiteral(MURMEL_BUILD);
}

QUrl website()
{
    return QUrl(QStringLiteral("https://murmel.app"));
}

QString supportAddress()
{
    return QStringLiteral("support@murmel.app");
}

QString operatingSystemName()
{
    const QString name = QSysInfo::prettyProductName().trimmed();
    return name.isEmpty() ? QStringLiteral("Linux") : name;
}

QUrl supportMailUrl(const QString &operatingSystem)
{
    const QString release = QStringLiteral("Murmel ") + shortVersion() + QStringLiteral(" (") + build() + u')';
    const QString subject = release + QStringLiteral(" support");
    const QString body = QStringLiteral("\n\n(") + release + QStringLiteral(" on ") + operatingSystem + u')';

    // Every byte outside the unreserved set is percent-encoded by hand: QUrlQuery would
    // leave '+' alone, which mail clients read as a space, and '&', '=' and '#' in a value
    // must not end it. The query is then taken as already encoded.
    const QByteArray query = "subject=" + QUrl::toPercentEncoding(subject) + "&body=" + QUrl::toPercentEncoding(body);
    QUrl url;
    url.setScheme(QStringLiteral("mailto"));
    url.setPath(supportAddress());
    url.setQuery(QString::fromLatin1(query), QUrl::StrictMode);
    return url;
}

QUrl supportMailUrl()
{
    return supportMailUrl(operatingSystemName());
}

} // namespace AppInfo
