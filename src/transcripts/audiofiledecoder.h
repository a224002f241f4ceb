#pragma once

#include "speech/transcriptsegment.h"

#include <QString>

#include <QCoroTask>

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

// Decodes audio and video files with FFmpeg: the first audio stream, resampled and mixed
// down by libswresample straight into one preallocated sample list (no second copy of
// the audio is ever held). Stateless; any thread.
namespace AudioFileDecoder {

// Blocking; call it from a worker thread.
DecodeResult decodeNow(const QString &path, int envelopeBuckets);

// Runs decodeNow on Qt's thread pool; resumes on the caller's thread.
QCoro::Task<DecodeResult> decode(QString path, int envelopeBuckets);

// Peak of each window of max(1, N / buckets) samples, scaled so the largest is 1.0.
// There may be a few more values than buckets; digital silence stays all zero.
QList<float> makeEnvelope(const AudioFrames &samples, int buckets);

} // namespace AudioFileDecoder
