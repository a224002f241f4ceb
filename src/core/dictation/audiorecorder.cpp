#include "core/dictation/audiorecorder.h"

#include <QMetaObject>
#include <QMutexLocker>

#include <algorithm>
#include <cmath>

namespace {

// Scales a speaking voice's root mean square (typically 0.02 to 0.05) to most of 0..1.
constexpr float levelScale = 18.0f;

} // namespace

AudioRecorder::AudioRecorder(AudioSource &source, QObject *parent)
    : QObject(parent)
    , m_source(source)
{
}

AudioRecorder::~AudioRecorder()
{
    // Once the source has stopped no sink call is running or can begin, so nothing on
    // the capture thread can reach this object while it is destroyed; levels already
    // posted are dropped with it by QObject.
    if (m_recording)
        m_source.stop();
}

std::optional<QString> AudioRecorder::start()
{
    if (m_recording) {
        m_source.stop();
        m_recording = false;
    }
    {
        QMutexLocker locker(&m_framesLock);
        // clear() keeps the allocation unless a caller still shares the last recording,
        // in which case it detaches into a fresh buffer of the same capacity.
        m_frames.clear();
    }
    std::optional<QString> error = m_source.start(
        [this](const float *samples, qsizetype count) { append(samples, count); },
        [this](const QString &reason) {
            QMetaObject::invokeMethod(
                this, [this, reason] { Q_EMIT lost(reason); }, Qt::QueuedConnection);
        });
    m_recording = !error.has_value();
    return error;
}

AudioFrames AudioRecorder::stop()
{
    if (m_recording) {
        m_source.stop();
        m_recording = false;
    }
    QMutexLocker locker(&m_framesLock);
    return m_frames;
}

float AudioRecorder::levelOf(const float *samples, qsizetype count)
{
    if (count <= 0)
        return 0.0f;
    double sumOfSquares = 0.0;
    for (qsizetype i = 0; i < count; ++i)
        sumOfSquares += double(samples[i]) * double(samples[i]);
    const double scaled = std::sqrt(sumOfSquares / double(count)) * double(levelScale);
    return float(std::min(scaled, 1.0));
}

void AudioRecorder::append(const float *samples, qsizetype count)
{
    if (count <= 0)
        return;
    {
        QMutexLocker locker(&m_framesLock);
        const qsizetype end = m_frames.size();
        m_frames.resize(end + count); // grows geometrically, like append
        std::copy_n(samples, count, m_frames.data() + end);
    }
    const float value = levelOf(samples, count);
    // Queued to this object, so it runs on the recorder's thread; QObject drops the call
    // if the recorder is destroyed before it runs.
    QMetaObject::invokeMethod(
        this, [this, value] { Q_EMIT level(value); }, Qt::QueuedConnection);
}
