#pragma once

#include "core/desktop/audiosource.h"
#include "core/speech/transcriptsegment.h"

#include <QMutex>
#include <QObject>

#include <optional>

// Records one dictation at a time from an AudioSource and hands over its frames (16 kHz
// mono float) when stopped, so that stopping costs a lock and a copy.
//
// Lives on the main thread: start() and stop() are called there and level() is emitted
// there. The source's sink runs on the capture thread and shares nothing with the main
// thread but the frames, under one mutex. The source must outlive the recorder.
class AudioRecorder final : public QObject
{
    Q_OBJECT

public:
    explicit AudioRecorder(AudioSource &source, QObject *parent = nullptr);
    ~AudioRecorder() override;

    // Discards the previous recording's frames (keeping their storage) and begins capture.
    // The error text when capture could not begin; the recorder is then stopped and a
    // later start() tries afresh. Starting while recording ends that recording first.
    std::optional<QString> start();
    // Ends capture and returns every frame since start(), in arrival order; empty when no
    // piece arrived yet or nothing is recording. The frames stay until the next start().
    AudioFrames stop();

    bool isRecording() const { return m_recording; }

    // The loudness of a captured piece: the root mean square of its samples scaled by 18
    // (so that speech fills most of the range), at most 1. Zero for an empty piece.
    static float levelOf(const float *samples, qsizetype count);

Q_SIGNALS:
    // The loudness of each captured piece, in arrival order, on the recorder's thread.
    void level(float value);
    // The recording ended by itself (the sound server went away), on the recorder's
    // thread; the frames heard until then are still handed over by stop().
    void lost(const QString &reason);

private:
    void append(const float *samples, qsizetype count);

    AudioSource &m_source;
    bool m_recording = false;
    QMutex m_framesLock;
    AudioFrames m_frames; // guarded by m_framesLock
};
