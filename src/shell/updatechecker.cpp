#include "shell/updatechecker.h"

#include "core/base/logging.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QNetworkAccessManager>
#include <QNetworkProxyFactory>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QRegularExpression>
#include <QVersionNumber>

#include <optional>

namespace {

// A manifest is a few hundred bytes; anything far larger is not one, and is not kept.
constexpr qint64 maximumManifestSize = 64 * 1024;


struct Manifest
{
    QString version;
    QVersionNumber number;
    QString notes;
    QUrl url;
};

// "1", "0.2.0", "v1.10.3": dotted numbers and nothing else, so "1.2-beta" or "latest" is
// not mistaken for a release.
std::optional<std::pair<QString, QVersionNumber>> parsedVersion(QString text)
{
    text = text.trimmed();
    if (text.startsWith(u'v') || text.startsWith(u'V'))
        text.remove(0, 1);
    static const QRegularExpression dotted(QStringLiteral("^[0-9]+(\\.[0-9]+)*$"));
    if (!dotted.match(text).hasMatch())
        return std::nullopt;
    QVersionNumber number = QVersionNumber::fromString(text);
    if (number.isNull())
        return std::nullopt;
    return std::pair{text, std::move(number)};
}

std::optional<Manifest> parsedManifest(const QByteArray &body)
{
    QJsonParseError error;
    const QJsonDocument document = QJsonDocument::fromJson(body, &error);
    if (error.error != QJsonParseError::NoError || !document.isObject()) {
        qCWarning(lcApp) << "the update manifest is not a JSON object:" << error.errorString();
        return std::nullopt;
    }
    const QJsonObject object = document.object();
    const QJsonValue version = object.value(QStringLiteral("version"));
    const auto parsed = version.isString() ? parsedVersion(version.toString()) : std::nullopt;
    if (!parsed) {
        qCWarning(lcApp) << "the update manifest has no usable version:" << version;
        return std::nullopt;
    }
    Manifest manifest{parsed->first, parsed->second, {}, {}};
    manifest.notes = object.value(QStringLiteral("notes")).toString();
    // Only a web address goes to the user; javascript:, file: and the like are dropped.
    const QUrl url(object.value(QStringLiteral("url")).toString(), QUrl::StrictMode);
    const QString scheme = url.scheme().toLower();
    if (url.isValid() && (scheme == QStringLiteral("https") || scheme == QStringLiteral("http"))
        && !url.host().isEmpty())
        manifest.url = url;
    else if (!url.isEmpty())
        qCWarning(lcApp) << "ignoring the update manifest's download address with scheme" << url.scheme();
    return manifest;
}

} // namespace

UpdateChecker::UpdateChecker(QUrl manifest, QString currentVersion, QObject *parent)
    : QObject(parent)
    , m_manifest(std::move(manifest))
    , m_currentVersion(currentVersion.isEmpty() ? QStringLiteral(MURMEL_VERSION) : std::move(currentVersion))
    , m_network(new QNetworkAccessManager(this))
{
    // http_proxy, https_proxy and no_proxy, as for model downloads.
    QNetworkProxyFactory::setUseSystemConfiguration(true);
}

QUrl UpdateChecker::manifestUrl()
{
    const QString fromEnvironment = qEnvironmentVariable("MURMEL_UPDATE_URL");
    if (!fromEnvironment.isEmpty())
        return QUrl(fromEnvironment);
    // Set by whoever publishes the build's releases: this project's source names no
    // address of its own.
    return QUrl(QStringLiteral(MURMEL_UPDATE_MANIFEST_URL));
}

void UpdateChecker::check()
{
    if (m_state == State::checking || !canCheck())
        return;
    setState(State::checking);
    setLatestVersion({});
    setNotes({});
    setDownloadUrl({});
    setMessage(tr("Checking for updates…"));

    QNetworkRequest request(m_manifest);
    request.setHeader(QNetworkRequest::UserAgentHeader, QByteArrayLiteral("Murmel/" MURMEL_VERSION));
    request.setRawHeader("Accept", "application/json");
    request.setTransferTimeout(static_cast<int>(m_timeout.count()));
    // A stale copy from a cache would hide a release that just went out.
    request.setAttribute(QNetworkRequest::CacheLoadControlAttribute, QNetworkRequest::AlwaysNetwork);
    qCDebug(lcApp) << "checking for updates at" << m_manifest.toString(QUrl::RemoveUserInfo);

    m_tooLarge = false;
    m_reply = m_network->get(request);
    connect(m_reply, &QNetworkReply::downloadProgress, this, [this](qint64 received, qint64) {
        if (received > maximumManifestSize && m_reply) {
            m_tooLarge = true;
            m_reply->abort();
        }
    });
    connect(m_reply, &QNetworkReply::finished, this, &UpdateChecker::onFinished);
}

void UpdateChecker::onFinished()
{
    QNetworkReply *reply = m_reply;
    m_reply = nullptr;
    if (!reply)
        return;
    reply->deleteLater();

    if (m_tooLarge) {
        qCWarning(lcApp) << "the update manifest is larger than" << maximumManifestSize << "bytes";
        fail(tr("The update information could not be read."));
        return;
    }
    const QVariant status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute);
    if (reply->error() != QNetworkReply::NoError) {
        qCWarning(lcApp) << "the update check failed:" << reply->errorString();
        fail(tr("The update server could not be reached."));
        return;
    }
    // file: and other schemes carry no status; only an HTTP success holds a manifest.
    if (status.isValid() && (status.toInt() < 200 || status.toInt() > 299)) {
        qCWarning(lcApp) << "the update check failed: HTTP" << status.toInt();
        fail(tr("The update server could not be reached."));
        return;
    }
    const std::optional<Manifest> manifest = parsedManifest(reply->readAll());
    if (!manifest) {
        fail(tr("The update information could not be read."));
        return;
    }

    setLatestVersion(manifest->version);
    setNotes(manifest->notes);
    setDownloadUrl(manifest->url);
    // Trailing zeros say nothing: 0.2 and 0.2.0 are the same release.
    const QVersionNumber current = QVersionNumber::fromString(m_currentVersion).normalized();
    if (QVersionNumber::compare(manifest->number.normalized(), current) > 0) {
        qCInfo(lcApp) << "Murmel" << manifest->version << "is available";
        setMessage(tr("Murmel %1 is available. You have %2.").arg(manifest->version, m_currentVersion));
        setState(State::available);
    } else {
        qCInfo(lcApp) << "Murmel is up to date";
        setMessage(tr("You're up to date. Murmel %1 is the newest version.").arg(m_currentVersion));
        setState(State::upToDate);
    }
    Q_EMIT finished();
}

void UpdateChecker::fail(const QString &reason)
{
    setMessage(tr("Murmel could not check for updates. %1").arg(reason));
    setState(State::failed);
    Q_EMIT finished();
}

void UpdateChecker::setState(State state)
{
    if (m_state == state)
        return;
    m_state = state;
    Q_EMIT stateChanged();
}

void UpdateChecker::setLatestVersion(const QString &version)
{
    if (m_latestVersion == version)
        return;
    m_latestVersion = version;
    Q_EMIT latestVersionChanged();
}

void UpdateChecker::setNotes(const QString &notes)
{
    if (m_notes == notes)
        return;
    m_notes = notes;
    Q_EMIT notesChanged();
}

void UpdateChecker::setDownloadUrl(const QUrl &url)
{
    if (m_downloadUrl == url)
        return;
    m_downloadUrl = url;
    Q_EMIT downloadUrlChanged();
}

void UpdateChecker::setMessage(const QString &message)
{
    if (m_message == message)
        return;
    m_message = message;
    Q_EMIT messageChanged();
}
