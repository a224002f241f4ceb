#include "core/speech/modeldownloader.h"

#include "core/base/logging.h"

#include <QCoroFuture>
#include <QCoroNetworkReply>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLockFile>
#include <QNetworkAccessManager>
#include <QNetworkProxyFactory>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QRegularExpression>
#include <QTimer>
#include <QtConcurrent/QtConcurrentRun>

#include <cerrno>
#include <cstdio>
#include <cstring>

namespace {

// Bounds what Qt holds between the socket and our disk writes.
constexpr qint64 readBufferSize = 1 << 20;

bool isSuccess(int status)
{
    return status >= 200 && status <= 299;
}

// "bytes 100-199/200" continues a partial file of 100 bytes; anything else does not.
bool continuesAt(const QNetworkReply *reply, qint64 offset)
{
    static const QRegularExpression pattern(QStringLiteral("^bytes\\s+(\\d+)-\\d+/(\\d+|\\*)$"));
    const auto match = pattern.match(QString::fromLatin1(reply->rawHeader("Content-Range")).trimmed());
    return match.hasMatch() && match.captured(1).toLongLong() == offset;
}

// A short write (the disk filling up) is tried again for the rest, so that the failure
// that follows carries the system's reason rather than "Unknown error".
bool writeAll(QFile &file, QByteArrayView bytes)
{
    while (!bytes.isEmpty()) {
        const qint64 written = file.write(bytes.data(), bytes.size());
        if (written <= 0)
            return false;
        bytes = bytes.sliced(written);
    }
    return true;
}

} // namespace

ModelDownloader::ModelDownloader(QObject *parent)
    : QObject(parent)
    , m_network(new QNetworkAccessManager(this))
{
    // http_proxy, https_proxy and no_proxy, as every other download tool honours them.
    QNetworkProxyFactory::setUseSystemConfiguration(true);
}

ModelDownloader::~ModelDownloader()
{
    if (m_reply)
        m_reply->abort();
}

QString ModelDownloader::partialPath(const QString &destination)
{
    return destination + QStringLiteral(".part");
}

QString ModelDownloader::lockPath(const QString &destination)
{
    return destination + QStringLiteral(".lock");
}

bool ModelDownloader::isInProgress(const QString &destination)
{
    QLockFile lock(lockPath(destination));
    lock.setStaleLockTime(0);
    if (lock.tryLock(0)) {
        lock.unlock();
        return false;
    }
    return lock.error() == QLockFile::LockFailedError;
}

void ModelDownloader::cancel()
{
    if (!m_running)
        return;
    m_cancelled = true;
    if (m_reply)
        m_reply->abort();
}

QCoro::Task<std::optional<ModelDownloadError>> ModelDownloader::download(QUrl source, QString destination,
                                                                         Progress onProgress, Acceptance accept,
                                                                         qint64 largestBytes)
{
    Q_ASSERT(!m_running);
    m_running = true;
    m_cancelled = false;
    const QString partial = partialPath(destination);
    auto finish = [this, &partial](std::optional<ModelDownloadError> result) {
        if (result && result->kind() != ModelDownloadError::network)
            QFile::remove(partial);
        m_running = false;
        return result;
    };

    const QString folder = QFileInfo(destination).absolutePath();
    if (!QDir().mkpath(folder))
        co_return finish(ModelDownloadError::fileFailure(QStringLiteral("Could not create the folder %1.").arg(folder)));

    // The application and the command line share the models folder: two writers on one
    // partial file would corrupt it.
    QLockFile lock(lockPath(destination));
    lock.setStaleLockTime(0);
    if (!lock.tryLock(0)) {
        m_running = false;
        co_return ModelDownloadError::fileFailure(
            lock.error() == QLockFile::LockFailedError
                ? QStringLiteral("Another Murmel process is downloading this file.")
                : QStringLiteral("The models folder %1 cannot be written to.").arg(folder));
    }

    bool retryFromStart = false;
    std::optional<ModelDownloadError> error = co_await transfer(source, partial, onProgress, largestBytes, &retryFromStart);
    if (!error && retryFromStart) {
        qCInfo(lcSpeech) << "The server cannot continue the partial download; starting over";
        error = co_await transfer(source, partial, onProgress, largestBytes, &retryFromStart);
    }
    if (error)
        co_return finish(error);

    if (accept) {
        // Named first: GCC 12 destroys temporaries inside a co_await expression twice.
        QFuture<bool> verification = QtConcurrent::run([accept, partial] { return accept(partial); });
        const bool accepted = co_await verification;
        if (m_cancelled)
            co_return finish(ModelDownloadError::cancellation());
        if (!accepted)
            co_return finish(ModelDownloadError::mismatch());
    }

    // rename(2) replaces an existing file in one step: the destination is never missing
    // or half written.
    if (std::rename(QFile::encodeName(partial).constData(), QFile::encodeName(destination).constData()) != 0) {
        const QString reason = QString::fromLocal8Bit(std::strerror(errno));
        co_return finish(ModelDownloadError::fileFailure(QStringLiteral("Could not move the file into place: %1").arg(reason)));
    }
    co_return finish(std::nullopt);
}

QCoro::Task<std::optional<ModelDownloadError>> ModelDownloader::transfer(const QUrl &source, const QString &partial,
                                                                         const Progress &onProgress, qint64 largestBytes,
                                                                         bool *retryFromStart)
{
    *retryFromStart = false;
    QFile file(partial);
    const qint64 offset = QFileInfo(partial).size();

    QNetworkRequest request(source);
    request.setHeader(QNetworkRequest::UserAgentHeader, QByteArrayLiteral("Murmel/" MURMEL_VERSION));
    // Byte ranges refer to the file itself, not to a compressed stream of it.
    request.setRawHeader("Accept-Encoding", "identity");
    if (offset > 0)
        request.setRawHeader("Range", "bytes=" + QByteArray::number(offset) + '-');

    QNetworkReply *reply = m_network->get(request);
    m_reply = reply;
    reply->setReadBufferSize(readBufferSize);

    enum class Body { undecided, writing, ignored };
    Body body = Body::undecided;
    qint64 base = 0;           // bytes of the file that precede this response's body
    qint64 received = 0;       // bytes of this response's body written
    bool rangeMismatch = false;
    bool partOfWhole = false; // a part of the file when all of it was asked for
    bool timedOut = false;
    bool tooLarge = false;
    bool tooSlow = false;
    QString writeError;

    QTimer idle;
    idle.setSingleShot(true);
    idle.setInterval(m_idleTimeout);
    connect(&idle, &QTimer::timeout, reply, [&] {
        timedOut = true;
        reply->abort();
    });
    idle.start();
    qint64 receivedAtWindowStart = 0;
    QTimer rate;
    rate.setInterval(m_rateWindow);
    connect(&rate, &QTimer::timeout, reply, [&] {
        const double seconds = std::chrono::duration<double>(m_rateWindow).count();
        if (static_cast<double>(received - receivedAtWindowStart) < static_cast<double>(m_minimumRate) * seconds) {
            tooSlow = true;
            reply->abort();
        }
        receivedAtWindowStart = received;
    });
    rate.start();

    auto status = [reply] { return reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt(); };

    // Decides, on the first bytes of the body, whether they continue the partial file,
    // replace it, or are an error page to be dropped.
    auto decide = [&] {
        const int code = status();
        if (!isSuccess(code)) {
            body = Body::ignored;
            return;
        }
        bool append = false;
        if (code == 206) {
            if (offset == 0 || !continuesAt(reply, offset)) {
                partOfWhole = offset == 0;
                rangeMismatch = !partOfWhole;
                body = Body::ignored;
                reply->abort();
                return;
            }
            append = true;
            base = offset;
        }
        if (!file.open(append ? QIODevice::Append : QIODevice::WriteOnly | QIODevice::Truncate)) {
            writeError = file.errorString();
            body = Body::ignored;
            reply->abort();
            return;
        }
        body = Body::writing;
    };

    auto drain = [&] {
        if (!reply->isOpen()) // aborted
            return;
        if (body == Body::undecided)
            decide();
        const QByteArray chunk = reply->readAll();
        if (body != Body::writing || chunk.isEmpty())
            return;
        if (largestBytes > 0 && base + received + chunk.size() > largestBytes) {
            tooLarge = true;
            body = Body::ignored;
            reply->abort();
            return;
        }
        if (!writeAll(file, chunk)) {
            writeError = file.errorString();
            body = Body::ignored;
            reply->abort();
            return;
        }
        received += chunk.size();
    };

    connect(reply, &QNetworkReply::readyRead, reply, [&] {
        idle.start();
        drain();
    });
    connect(reply, &QNetworkReply::downloadProgress, reply, [&](qint64 soFar, qint64) {
        idle.start();
        // Qt reports a total at the end even without a length; only a declared one counts.
        const QVariant length = reply->header(QNetworkRequest::ContentLengthHeader);
        const qint64 total = length.isValid() ? length.toLongLong() : 0;
        if (total > 0 && onProgress && body == Body::writing)
            onProgress(static_cast<double>(base + soFar) / static_cast<double>(base + total));
    });

    auto finished = qCoro(reply).waitForFinished();
    co_await std::move(finished);
    idle.stop();
    rate.stop();
    drain();
    const int code = status();
    const QVariant declaredLength = reply->header(QNetworkRequest::ContentLengthHeader);
    QNetworkReply::NetworkError networkError = reply->error();
    QString networkErrorText = reply->errorString();
    // Qt can end a reply whose connection closed early without an error; a body shorter
    // than its declared length is never a finished file.
    if (networkError == QNetworkReply::NoError && body == Body::writing && declaredLength.isValid()
        && received != declaredLength.toLongLong()) {
        networkError = QNetworkReply::RemoteHostClosedError;
        networkErrorText = QStringLiteral("The connection closed before the whole file arrived.");
    }
    reply->disconnect(this);
    QObject::disconnect(reply, nullptr, nullptr, nullptr);
    reply->deleteLater();
    m_reply = nullptr;
    if (file.isOpen() && !file.flush() && writeError.isEmpty())
        writeError = file.errorString();
    file.close();

    if (m_cancelled)
        co_return ModelDownloadError::cancellation();
    if (!writeError.isEmpty())
        co_return ModelDownloadError::fileFailure(QStringLiteral("Could not write %1: %2").arg(partial, writeError));
    if (tooLarge) {
        QFile::remove(partial);
        co_return ModelDownloadError::fileFailure(
            QStringLiteral("The server sent more than the file's %1 bytes.").arg(largestBytes));
    }
    if (tooSlow)
        co_return ModelDownloadError::networkFailure(
            QStringLiteral("The download became too slow (under %1 bytes a second).").arg(m_minimumRate));
    if (partOfWhole)
        co_return ModelDownloadError::httpStatusWith(code, QStringLiteral("The server sent only a part of the file when asked for all of it."));
    if (networkError == QNetworkReply::TooManyRedirectsError)
        co_return ModelDownloadError::httpStatusWith(code, QStringLiteral("The server redirected the download in a loop."));
    if (networkError == QNetworkReply::InsecureRedirectError)
        co_return ModelDownloadError::httpStatusWith(code, QStringLiteral("The server redirected the download from https to plain http; Murmel did not follow."));
    if (rangeMismatch || (code == 416 && offset > 0)) {
        QFile::remove(partial);
        *retryFromStart = true;
        co_return std::nullopt;
    }
    if (code != 0 && !isSuccess(code))
        co_return ModelDownloadError::httpStatus(code);
    if (timedOut)
        co_return ModelDownloadError::networkFailure(QStringLiteral("The request timed out."));
    if (networkError != QNetworkReply::NoError) {
        // Keep what arrived for the next attempt, but no empty leftovers.
        if (QFileInfo(partial).size() == 0)
            QFile::remove(partial);
        co_return ModelDownloadError::networkFailure(networkErrorText);
    }
    if (body == Body::undecided) {
        // A successful response with an empty body is an empty file.
        if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate))
            co_return ModelDownloadError::fileFailure(QStringLiteral("Could not write %1: %2").arg(partial, file.errorString()));
        file.close();
    }
    co_return std::nullopt;
}
