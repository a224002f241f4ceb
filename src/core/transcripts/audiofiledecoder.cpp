#include "core/transcripts/audiofiledecoder.h"

#include "core/transcripts/decodermodule.h"

#include "core/base/logging.h"
#include "core/base/paths.h"
#include "core/speech/workerstop.h"

#include <QCoroFuture>
#include <QFile>
#include <QFileInfo>
#include <QtConcurrent/QtConcurrentRun>

#include <dlfcn.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <mutex>

namespace {

QStringList moduleCandidates()
{
    QStringList candidates;
    for (const QString &folder : Paths::moduleFolders())
        candidates << folder + u'/' + QLatin1String(decoderModuleFile);
    return candidates;
}

// Loads the FFmpeg module once, from the first candidate that exists.
OpenEntryPoint entryPoint(QString *problem)
{
    static OpenEntryPoint entry = nullptr;
    static QString failure;
    static std::once_flag once;
    std::call_once(once, [] {
        const QStringList candidates = moduleCandidates();
        const auto found = std::find_if(candidates.begin(), candidates.end(),
                                        [](const QString &path) { return QFileInfo::exists(path); });
        if (found == candidates.end()) {
            failure = QStringLiteral("%1 not found in %2").arg(QLatin1String(decoderModuleFile),
                                                               candidates.join(QStringLiteral(", ")));
            return;
        }
        void *module = ::dlopen(QFile::encodeName(*found).constData(), RTLD_NOW | RTLD_LOCAL);
        if (!module) {
            failure = QString::fromLocal8Bit(::dlerror());
            return;
        }
        entry = reinterpret_cast<OpenEntryPoint>(::dlsym(module, openEntryPointName));
        if (!entry)
            failure = QString::fromLocal8Bit(::dlerror());
    });
    if (!entry && problem)
        *problem = failure;
    return entry;
}

// Opens `path` without ever blocking: a named pipe or a device would hold a worker thread
// for good. Only a regular file gets a descriptor; otherwise the reason is set.
int openRegularFile(const QString &path, QString &reason)
{
    const int descriptor = ::open(QFile::encodeName(path).constData(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (descriptor < 0) {
        // A name that is not UTF-8 reaches us with its bad bytes already replaced by
        // U+FFFD, so the file it named cannot be found under it.
        reason = errno == ENOENT && path.contains(QChar::ReplacementCharacter)
                     ? QStringLiteral("The file name is not valid UTF-8, so Murmel cannot open it; rename the "
                                      "file (convmv can).")
                     : qt_error_string(errno);
        return -1;
    }
    struct stat status = {};
    if (::fstat(descriptor, &status) != 0 || !S_ISREG(status.st_mode)) {
        ::close(descriptor);
        reason = S_ISDIR(status.st_mode) ? QStringLiteral("That is a folder, not an audio or video file.")
                                         : QStringLiteral("That is not a regular file (a pipe or a device, perhaps), "
                                                          "so Murmel does not read it.");
        return -1;
    }
    return descriptor;
}

// The container's claim stands unless the audio itself disagrees: a header can say a
// billion seconds, or nothing at all.
double trustedDuration(double declared, qsizetype decodedSamples)
{
    const double decoded = static_cast<double>(decodedSamples) / engineSampleRate;
    return std::abs(declared - decoded) <= std::max(1.0, decoded * 0.05) ? declared : decoded;
}

} // namespace

QString AudioDecodeError::description() const
{
    switch (m_kind) {
    case noAudioTrack:
        return QStringLiteral("That file has no audio to transcribe.");
    case readFailed:
        return QStringLiteral("Could not read the audio from that file.");
    case openFailed:
        break;
    }
    return m_detail;
}

namespace AudioFileDecoder {

namespace {

// Hands the whole file to `take` a megasample at a time, with the declared length, and
// sets `into.duration`.
template<typename Take>
std::optional<AudioDecodeError> readAll(const QString &path, DecodedAudio &into, const std::function<bool()> &stopped,
                                        Take take)
{
    auto opened = open(path);
    if (auto *error = std::get_if<AudioDecodeError>(&opened))
        return *error;
    AudioReader &reader = *std::get<std::shared_ptr<AudioReader>>(opened);
    constexpr qsizetype pieceSize = 1 << 20;
    qsizetype total = 0;
    AudioFrames piece;
    do {
        piece.clear();
        if (reader.read(piece, pieceSize, stopped) != DecodeStatus::ok)
            return AudioDecodeError::unreadable();
        take(piece, reader.declaredDuration());
        total += piece.size();
    } while (piece.size() == pieceSize);
    if (total == 0)
        return AudioDecodeError::unreadable();
    into.duration = trustedDuration(reader.declaredDuration(), total);
    return std::nullopt;
}

} // namespace

std::variant<std::shared_ptr<AudioReader>, AudioDecodeError> open(const QString &path)
{
    QString problem;
    const OpenEntryPoint openAudio = entryPoint(&problem);
    if (!openAudio) {
        qCWarning(lcTranscripts) << "The audio decoder module cannot be loaded:" << problem;
        return AudioDecodeError::cannotOpen(QStringLiteral("Murmel's audio decoder is missing (%1).").arg(problem));
    }
    QString reason;
    const int descriptor = openRegularFile(path, reason);
    if (descriptor < 0)
        return AudioDecodeError::cannotOpen(reason);
    // FFmpeg opens the very file that was checked, through the descriptor.
    DecodeStatus status = DecodeStatus::ok;
    QString detail;
    std::shared_ptr<AudioReader> reader(openAudio(QStringLiteral("/proc/self/fd/%1").arg(descriptor), status, detail));
    ::close(descriptor);
    switch (status) {
    case DecodeStatus::ok:
        break;
    case DecodeStatus::noAudioTrack:
        return AudioDecodeError::noAudio();
    case DecodeStatus::readFailed:
        return AudioDecodeError::unreadable();
    case DecodeStatus::openFailed:
        return AudioDecodeError::cannotOpen(detail);
    }
    return reader;
}

DecodeResult decodeNow(const QString &path, int envelopeBuckets)
{
    DecodedAudio result;
    const std::optional<AudioDecodeError> error = readAll(path, result, &WorkerStop::requested,
                                                          [&result](const AudioFrames &piece, double declared) {
        // Sized once from the declared length, so the list rarely reallocates (and briefly
        // holds the audio twice) while it fills; past two hours it grows as it must.
        constexpr double longestReserved = 2 * 3600.0;
        if (result.samples.isEmpty() && declared > 0.0)
            result.samples.reserve(qsizetype(std::ceil((std::min(declared, longestReserved) + 1) * engineSampleRate)));
        result.samples.append(piece);
    });
    if (error)
        return *error;
    result.envelope = makeEnvelope(result.samples, envelopeBuckets);
    return result;
}

DecodeResult scanNow(const QString &path, int envelopeBuckets, std::function<bool()> stopped)
{
    // The peak of every 10 ms, a hundred-and-sixtieth of the audio, is all that is kept.
    constexpr qsizetype block = engineSampleRate / 100;
    QList<float> peaks;
    DecodedAudio result;
    if (!stopped)
        stopped = &WorkerStop::requested;
    const std::optional<AudioDecodeError> error = readAll(path, result, stopped, [&peaks](const AudioFrames &piece, double) {
        for (qsizetype start = 0; start < piece.size(); start += block) {
            const auto end = piece.cbegin() + std::min(piece.size(), start + block);
            float peak = 0.0f;
            for (auto sample = piece.cbegin() + start; sample != end; ++sample)
                peak = std::max(peak, std::fabs(*sample));
            peaks << peak;
        }
    });
    if (error)
        return *error;
    result.envelope = makeEnvelope(peaks, envelopeBuckets);
    return result;
}

QCoro::Task<DecodeResult> scan(QString path, int envelopeBuckets, std::function<bool()> stopped)
{
    QFuture<DecodeResult> work
        = QtConcurrent::run([path, envelopeBuckets, stopped] { return scanNow(path, envelopeBuckets, stopped); });
    co_return co_await work;
}

QList<float> makeEnvelope(const AudioFrames &samples, int buckets)
{
    const qsizetype count = samples.size();
    if (count == 0 || buckets < 1)
        return {};
    const qsizetype width = buckets <= count ? count / buckets : 1;
    QList<float> peaks;
    peaks.reserve((count + width - 1) / width);
    float loudest = 0.0f;
    for (qsizetype start = 0; start < count; start += width) {
        const qsizetype end = std::min(count, start + width);
        float peak = 0.0f;
        for (qsizetype i = start; i < end; ++i)
            peak = std::max(peak, std::fabs(samples.at(i)));
        peaks << peak;
        loudest = std::max(loudest, peak);
    }
    if (loudest > 0.0f) {
        for (float &peak : peaks)
            peak /= loudest;
    }
    return peaks;
}

} // namespace AudioFileDecoder
