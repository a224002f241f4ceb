#pragma once

#include "core/speech/transcriptsegment.h"

#include <QString>

#include <functional>

// The contract between AudioFileDecoder and its FFmpeg module, which is loaded on the
// first decode. Both sides are built together, so C++ types may cross.
enum class DecodeStatus : int { ok, noAudioTrack, readFailed, openFailed };

// The first audio stream of one file as 16 kHz mono float samples, read a piece at a
// time. Blocking; one thread at a time.
class AudioReader
{
public:
    virtual ~AudioReader() = default;
    // Appends up to `count` samples to `samples`: fewer only at the end of the stream, none
    // after it. Once `stopped` answers true it gives up, as readFailed. (A question rather
    // than a flag: the module has its own copy of Murmel's inline statics, so the caller's
    // code must do the looking.)
    virtual DecodeStatus read(AudioFrames &samples, qsizetype count, const std::function<bool()> &stopped) = 0;
    // The stream's declared length in seconds; 0 when it declares none. It may be wrong.
    virtual double declaredDuration() const = 0;
};

// Opens `path`: a reader with `status` ok, or nothing with `status` saying why (and
// `detail` the system's reason for openFailed). The caller owns the reader.
using OpenEntryPoint = AudioReader *(*)(const QString &path, DecodeStatus &status, QString &detail);

inline constexpr char decoderModuleFile[] = "libmurmel-ffmpeg.so";
inline constexpr char openEntryPointName[] = "murmelOpenAudio";
