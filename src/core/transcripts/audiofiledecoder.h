#pragma once

#include "core/speech/transcriptsegment.h"

#include <QString>

#include <QCoroTask>

#include <functional>
#include <memory>
#include <variant>

// A decoded audio or video file: its first audio stream as 16 kHz mono float samples.
struct DecodedAudio
{
    double duration = 0.0;   // seconds, as the stream declares it; the decoded length where they disagree
    AudioFrames samples;
    QList<float> envelope;   // peak per bucket, the loudest bucket 1.0
};

// Why a file could not be decoded, with the text the user sees.
class AudioDecodeError final
{
public:
    enum Kind {
        noAudioTrack, // "That file has no audio to transcribe."
        readFailed,   // "Could not read the audio from that file."
        openFailed,   // the file itself could not be opened; the system's reason
    };

    static AudioDecodeError noAudio() { return {noAudioTrack, {}}; }
    static AudioDecodeError unreadable() { return {readFailed, {}}; }
    static AudioDecodeError cannotOpen(QString reason) { return {openFailed, std::move(reason)}; }

    Kind kind() const { return m_kind; }
    QString description() const;

private:
    AudioDecodeError(Kind kind, QString detail) : m_kind(kind), m_detail(std::move(detail)) {}

    Kind m_kind;
    QString m_detail;
};

using DecodeResult = std::variant<DecodedAudio, AudioDecodeError>;

class AudioReader;

// Decodes audio and video files with FFmpeg: the first audio stream, resampled and mixed
// down by libswresample to 16 kHz mono float. Stateless; any thread.
namespace AudioFileDecoder {

// Opens a regular file for reading a piece at a time (a pipe or a device is refused: it
// could block a worker for good). Blocking; the reader is used by one thread at a time.
std::variant<std::shared_ptr<AudioReader>, AudioDecodeError> open(const QString &path);

// The whole file in memory, for audio known to be short (the benchmarks). Blocking.
DecodeResult decodeNow(const QString &path, int envelopeBuckets);
// The file's length and envelope without keeping its samples (`samples` stays empty):
// memory grows with a hundred-and-sixtieth of the audio. Blocking; call it from a worker.
// Once `stopped` answers true it gives up, as unreadable; without one, once Murmel quits.
DecodeResult scanNow(const QString &path, int envelopeBuckets, std::function<bool()> stopped = {});

// scanNow on Qt's thread pool; it resumes on the caller's thread.
QCoro::Task<DecodeResult> scan(QString path, int envelopeBuckets, std::function<bool()> stopped = {});

// Peak of each window of max(1, N / buckets) samples, scaled so the largest is 1.0.
// There may be a few more values than buckets; digital silence stays all zero.
QList<float> makeEnvelope(const AudioFrames &samples, int buckets);

} // namespace AudioFileDecoder
