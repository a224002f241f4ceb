#pragma once

#include <QList>
#include <QString>
#include <QUuid>

#include <algorithm>

// One recognised stretch of speech, times in seconds from the start of the audio.
// A value type; every conversion from the engine makes a fresh id.
struct TranscriptSegment
{
    QUuid id;
    double start = 0.0;
    double end = 0.0;
    QString text; // spaces and tabs trimmed at both ends; line breaks kept

    friend bool operator==(const TranscriptSegment &, const TranscriptSegment &) = default;
};

// 16 kHz mono 32-bit float samples, the one audio format the engine takes. Implicitly
// shared: handing it to another thread or object copies nothing.
using AudioFrames = QList<float>;
inline constexpr int engineSampleRate = 16000;

// A sample fit for the engine: NaN becomes silence and anything louder than full scale
// is clipped. Broken float audio otherwise sends the decoder into minutes of work per
// second and times that run backwards.
inline float saneSample(float value)
{
    return value == value ? std::clamp(value, -1.0f, 1.0f) : 0.0f;
}
