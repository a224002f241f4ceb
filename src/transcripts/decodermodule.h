#pragma once

#include "speech/transcriptsegment.h"

#include <QString>

#include <atomic>

// The contract between AudioFileDecoder and its FFmpeg module, which is loaded on the
// first decode. Both sides are built together, so C++ types may cross.
enum class DecodeStatus : int { ok, noAudioTrack, readFailed, openFailed };

// Decodes the first audio stream of `path` into 16 kHz mono float `samples`; `duration`
// is the stream's declared length in seconds; `detail` says why for openFailed. Blocking;
// any thread. Once `stop` is set the decode gives up between packets, as readFailed.
using DecodeEntryPoint = DecodeStatus (*)(const QString &path, AudioFrames &samples, double &duration,
                                          QString &detail, const std::atomic<bool> &stop);

inline constexpr char decoderModuleFile[] = "libmurmel-ffmpeg.so";
inline constexpr char decodeEntryPointName[] = "murmelDecodeAudio";
