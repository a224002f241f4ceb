#pragma once

#include "core/desktop/audiosource.h"

#include <QList>
#include <QMutex>
#include <QMutexLocker>

// An AudioSource that delivers the pieces the test hands it, from any thread; like the real
// one, it never calls the sink after stop().
class FakeAudioSource final : public AudioSource
{
public:
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
        QMutexLocker locker(&m_lock);
        m_sink = nullptr;
    }

    bool isRunning() const
    {
        QMutexLocker locker(&m_lock);
        return bool(m_sink);
    }

    // Hands one piece to the sink on the calling thread; false when not capturing.
    bool deliver(const QList<float> &piece)
    {
        QMutexLocker locker(&m_lock);
        if (!m_sink)
            return false;
        m_sink(piece.constData(), piece.size());
        return true;
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
};
