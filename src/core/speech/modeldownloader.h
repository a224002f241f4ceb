#pragma once

#include "core/speech/modeldownloaderror.h"

#include <QObject>
#include <QPointer>
#include <QString>
#include <QUrl>

#include <QCoroTask>

#include <chrono>
#include <functional>
#include <optional>

class QNetworkAccessManager;
class QNetworkReply;

// Fetches one file over HTTP(S) into a destination path, for the model store.
//
// The body streams into destination + ".part" beside the destination (never into
// memory); an interrupted download leaves that partial file, and the next download to
// the same destination continues it with a Range request when the server honours one
// and starts over when it does not. The finished file is handed to `accept` on a worker
// thread and moved into place atomically only when accepted, so a file at the
// destination is always complete and verified. A bad status, a rejected file or a cancel
// removes the partial file.
//
// Main thread only; one download at a time per instance.
class ModelDownloader final : public QObject
{
    Q_OBJECT

public:
    using Progress = std::function<void(double fraction)>;
    using Acceptance = std::function<bool(const QString &finishedFile)>;

    explicit ModelDownloader(QObject *parent = nullptr);
    ~ModelDownloader() override;

    // Without a byte for this long the download fails as timed out. Default 60 s.
    void setIdleTimeout(std::chrono::milliseconds timeout) { m_idleTimeout = timeout; }
    // A download that brings fewer than `bytesPerSecond` over a whole `window` fails: a
    // server that trickles a byte now and then never trips the idle timeout. Default
    // 1 KB/s over 60 s.
    void setMinimumRate(qint64 bytesPerSecond, std::chrono::milliseconds window)
    {
        m_minimumRate = bytesPerSecond;
        m_rateWindow = window;
    }

    // Nothing on success. `onProgress` receives the fraction of the whole file on the
    // main thread, and nothing when the server does not say how long the file is. A file
    // that grows past `largestBytes` (when above 0) fails at once: the model's size is known,
    // and an endless body would otherwise fill the disk.
    QCoro::Task<std::optional<ModelDownloadError>> download(QUrl source, QString destination,
                                                            Progress onProgress = {},
                                                            Acceptance accept = {}, qint64 largestBytes = 0);

    // Stops the running download; it then ends with `cancelled`. Safe to call when idle.
    void cancel();
    bool isRunning() const { return m_running; }

    static QString partialPath(const QString &destination);
    // True while some process, this one included, downloads to `destination`.
    static bool isInProgress(const QString &destination);

private:
    static QString lockPath(const QString &destination);

    QCoro::Task<std::optional<ModelDownloadError>> transfer(const QUrl &source, const QString &partial,
                                                            const Progress &onProgress, qint64 largestBytes,
                                                            bool *retryFromStart);

    QNetworkAccessManager *m_network;
    QPointer<QNetworkReply> m_reply;
    std::chrono::milliseconds m_idleTimeout{60000};
    qint64 m_minimumRate = 1024;
    std::chrono::milliseconds m_rateWindow{60000};
    bool m_running = false;
    bool m_cancelled = false;
};
