#pragma once

#include "core/desktop/audiosource.h"

#include <QList>
#include <QMutex>
#include <QMutexLocker>

#include <atomic>
#include <thread>

// An AudioSource that delivers pieces from the test's thread or, as a sound server would,
// from a capture thread of its own; like the real one, it never calls the sink after stop().
class FakeAudioSource final : public AudioSource
{
public:
    ~FakeAudioSource() override { stop(); }

    std::optional<QString> start(Sink sink, Lost lost) override
    {
        m_lost = std::move(lost);
        ++startCalls;
        if (failWith)
            return failWith;
        QMutexLocker locker(&m_lock);
        m_sink = std::move(sink);
        return std::nullopt;
    }

    void stop() override
    {
        ++stopCalls;
        m_streaming = false;
        if (m_thread.joinable())
            m_thread.join();
        QMutexLocker locker(&m_lock);
        m_sink = nullptr;
    }

    bool isRunning() const
    {
        QMutexLocker locker(&m_lock);
        return bool(m_sink);
    }

    // Hands one piece to the sink on this thread; false when not capturing.
    bool deliver(const QList<float> &piece)
    {
        QMutexLocker locker(&m_lock);
        if (!m_sink)
            return false;
        m_sink(piece.constData(), piece.size());
        return true;
    }

    // Delivers piece n = `makePiece(n)` from a thread of its own until stop(); returns at once.
    void startStreaming(std::function<QList<float>(qsizetype)> makePiece)
    {
        m_streaming = true;
        m_thread = std::thread([this, makePiece = std::move(makePiece)] {
            for (qsizetype n = 0; m_streaming && deliver(makePiece(n)); ++n)
                std::this_thread::yield();
        });
    }

    // Plays the sound server going away mid-recording: capture ends by itself.
    void loseCapture(const QString &reason)
    {
        {
            QMutexLocker locker(&m_lock);
            m_sink = nullptr;
        }
        if (m_lost)
            m_lost(reason);
    }

    std::optional<QString> failWith;
    int startCalls = 0;
    int stopCalls = 0;

private:
    mutable QMutex m_lock; // held around every sink call, so stop() waits for the one running
    Sink m_sink;
    Lost m_lost;
    std::atomic<bool> m_streaming = false;
    std::thread m_thread;
};
