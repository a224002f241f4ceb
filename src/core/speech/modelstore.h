#pragma once

#include "core/speech/whispermodel.h"

#include <QObject>
#include <QString>

#include <QCoroTask>

#include <optional>

class ModelDownloader;

// The speech model files in the models folder, and fetching a missing one on demand.
// The folder's contents are the whole state: a model is present when its file exists.
// Files are only ever placed after they matched their checksum.
//
// Main thread only. One download runs at a time: a request for another model while one
// runs is ignored, a request for the running model waits for it.
class ModelStore final : public QObject
{
    Q_OBJECT
    // The raw value of the model being downloaded, empty when none.
    Q_PROPERTY(QString downloading READ downloadingRawValue NOTIFY downloadingChanged)
    // The display name of the model downloading, empty when none.
    Q_PROPERTY(QString downloadingName READ downloadingName NOTIFY downloadingChanged)
    Q_PROPERTY(double progress READ progress NOTIFY progressChanged)
    // The message of the last failed download, empty when none.
    Q_PROPERTY(QString lastError READ lastErrorText NOTIFY lastErrorChanged)

public:
    // `directory` is the models folder; it is created on first use.
    explicit ModelStore(QString directory, QObject *parent = nullptr);
    ~ModelStore() override;

    QString directory() const;
    QString path(WhisperModel model) const;
    bool isDownloaded(WhisperModel model) const;

    enum class State { missing, downloading, ready };
    Q_ENUM(State)
    // What the model lists show: a download by another Murmel process counts too.
    State state(WhisperModel model) const;

    std::optional<WhisperModel> downloading() const { return m_downloading; }
    QString downloadingRawValue() const;
    QString downloadingName() const;
    double progress() const { return m_progress; }
    std::optional<QString> lastError() const { return m_lastError; }
    QString lastErrorText() const { return m_lastError.value_or(QString()); }

    // The model's path once it is present, downloading it first when missing; nothing
    // when it could not be had (the reason is in lastError) or another model is
    // downloading.
    QCoro::Task<std::optional<QString>> ensure(WhisperModel model);

    // Fetches, verifies and places a model. Failures land in lastError; never throws. A
    // present model is fetched again only when `replace` is set (a damaged file), and is
    // replaced only once the new one is verified.
    QCoro::Task<> download(WhisperModel model, bool replace = false);

    // Stops the running download. No error is reported and no file is left behind.
    Q_INVOKABLE void cancel();

    // Without a byte for this long a download fails as timed out. Default 60 s.
    void setIdleTimeout(std::chrono::milliseconds timeout);

Q_SIGNALS:
    void downloadingChanged();
    void progressChanged();
    void lastErrorChanged();
    // Emitted when a download ends, whatever the outcome.
    void downloadFinished(WhisperModel model);

private:
    void setDownloading(std::optional<WhisperModel> model);
    void setProgress(double progress);
    void setLastError(std::optional<QString> error);

    QString m_directory;
    mutable bool m_directoryCreated = false;
    ModelDownloader *m_downloader;
    std::optional<WhisperModel> m_downloading;
    double m_progress = 0.0;
    std::optional<QString> m_lastError;
};
