#include "core/speech/modelstore.h"

#include "core/base/logging.h"
#include "core/base/paths.h"
#include "core/speech/modeldownloader.h"
#include "core/speech/modelintegrity.h"

#include <QCoroSignal>
#include <QDir>
#include <QFileInfo>
#include <QPointer>

ModelStore::ModelStore(QString directory, QObject *parent)
    : QObject(parent)
    , m_directory(std::move(directory))
    , m_downloader(new ModelDownloader(this))
{
}

ModelStore::~ModelStore() = default;

QString ModelStore::directory() const
{
    // Created on first use; a failure shows later, when a download or a load fails.
    if (!m_directoryCreated)
        m_directoryCreated = Paths::makePrivateFolder(m_directory);
    return m_directory;
}

QString ModelStore::path(WhisperModel model) const
{
    return directory() + u'/' + model.fileName();
}

bool ModelStore::isDownloaded(WhisperModel model) const
{
    return QFileInfo::exists(path(model));
}

ModelStore::State ModelStore::state(WhisperModel model) const
{
    if (isDownloaded(model))
        return State::ready;
    if (m_downloading == model || ModelDownloader::isInProgress(path(model)))
        return State::downloading;
    return State::missing;
}

QString ModelStore::downloadingRawValue() const
{
    return m_downloading ? m_downloading->rawValue() : QString();
}

QString ModelStore::downloadingName() const
{
    return m_downloading ? m_downloading->displayName() : QString();
}

void ModelStore::setIdleTimeout(std::chrono::milliseconds timeout)
{
    m_downloader->setIdleTimeout(timeout);
}

QCoro::Task<std::optional<QString>> ModelStore::ensure(WhisperModel model)
{
    if (!isDownloaded(model))
        co_await download(model);
    if (!isDownloaded(model))
        co_return std::nullopt;
    co_return path(model);
}

QCoro::Task<> ModelStore::download(WhisperModel model, bool replace)
{
    if (m_downloading) {
        // A second caller for the same model shares the running download.
        if (*m_downloading == model) {
            QPointer<ModelStore> self(this);
            while (self && m_downloading == model)
                co_await qCoro(this, &ModelStore::downloadFinished);
        }
        co_return;
    }
    if (isDownloaded(model) && !replace)
        co_return;

    setDownloading(model);
    setProgress(0.0);
    setLastError(std::nullopt);

    QPointer<ModelStore> self(this);
    const QString expected = ModelCatalog::expectedSha256(model);
    // The task is named first: GCC 12 destroys temporaries inside a co_await expression twice.
    auto transfer = m_downloader->download(
        model.downloadUrl(), path(model),
        [self](double fraction) {
            if (self)
                self->setProgress(fraction);
        },
        [expected](const QString &file) { return ModelIntegrity::verify(file, expected); }, model.byteSize());
    const std::optional<ModelDownloadError> error = co_await std::move(transfer);
    if (!self)
        co_return;

    if (error) {
        switch (error->kind()) {
        case ModelDownloadError::cancelled:
            qCInfo(lcSpeech) << "Download of" << model.rawValue() << "cancelled";
            break;
        case ModelDownloadError::verificationFailed:
            setLastError(model.displayName() + QStringLiteral(" failed verification after download. Please try again."));
            break;
        default:
            setLastError(QStringLiteral("Could not download ") + model.displayName() + QStringLiteral(". ")
                         + error->description());
            break;
        }
    }
    setDownloading(std::nullopt);
    Q_EMIT downloadFinished(model);
}

void ModelStore::cancel()
{
    m_downloader->cancel();
}

void ModelStore::setDownloading(std::optional<WhisperModel> model)
{
    if (m_downloading == model)
        return;
    m_downloading = model;
    Q_EMIT downloadingChanged();
}

void ModelStore::setProgress(double progress)
{
    if (m_progress == progress)
        return;
    m_progress = progress;
    Q_EMIT progressChanged();
}

void ModelStore::setLastError(std::optional<QString> error)
{
    if (m_lastError == error)
        return;
    m_lastError = std::move(error);
    Q_EMIT lastErrorChanged();
}
