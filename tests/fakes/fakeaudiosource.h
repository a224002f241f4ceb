#pragma once

#include "core/desktop/audiosource.h"

#include <QList>
#include <QMutex>
#include <QMutexLocker>

#include <atomic>
#include <optional>
#include <thread>
#include <vector>

// An AudioSource for unit tests. It records the calls, fails start() with a given text
// when told to, and delivers pieces either from the calling thread (deliver()) or from a
// capture thread of its own (startStreaming()), as a sound server would. It honours the
// contract of the real source: after stop() returns, the sink is never called again.
class FakeAudioSource final : public AudioSource
{
public:
    ~FakeAudioSource() override
    {
        stopLeavesStreaming = false;
        stop();
    }

    std::optional<QString> start(Sink sink, Lost lost) override
    {
        m_lost = std::move(lost);
        ++startCalls;
        if (failWith)
            return failWith;
        QMutexLocker locker(&m_lock);
        m_sink = std::move(sink);
        m_running = true;
        return std::nullopt;
    }

    void stop() override
    {
        ++stopCalls;
        if (stopLeavesStreaming)
            return;
        stopStreaming();
        QMutexLocker locker(&m_lock);
        m_running = false;
        m_sink = nullptr;
    }

    bool isRunning() const
    {
        QMutexLocker locker(&m_lock);
        return m_running;
    }

    // Hands one piece to the sink on this thread; false when not capturing.
    bool deliver(const QList<float> &piece)
    {
        QMutexLocker locker(&m_lock);
        if (!m_running || !m_sink)
            return false;
        m_sink(piece.constData(), piece.size());
        return true;
    }

    // Delivers pieces from a thread of its own until stop(): piece n is `makePiece(n)`.
    // Returns at once; `delivered()` counts the pieces handed over since.
    void startStreaming(std::function<QList<float>(qsizetype)> makePiece)
    {
        stopStreaming();
        m_delivered = 0;
        m_streaming = true;
        m_thread = std::thread([this, makePiece = std::move(makePiece)] {
            for (qsizetype n = 0; m_streaming.load(); ++n) {
                if (!deliver(makePiece(n)))
                    break;
                ++m_delivered;
                std::this_thread::yield();
            }
        });
    }

    qsizetype delivered() const { return m_delivered.load(); }

    // Ends the capture thread; stop() does so itself unless stopLeavesStreaming is set.
    void stopStreaming()
    {
        m_streaming = false;
        if (m_thread.joinable())
            m_thread.join();
    }

    std::optional<QString> failWith;
    // Breaks the contract on purpose: stop() returns while the capture thread still
    // delivers, as if a piece were in flight, to show that nothing else protects the frames.
    bool stopLeavesStreaming = false;
    int startCalls = 0;
    int stopCalls = 0;

    // Plays the sound server going away mid-recording: capture ends by itself.
    void loseCapture(const QString &reason)
    {
        {
            QMutexLocker locker(&m_lock);
            m_running = false;
        }
        if (m_lost)
            m_lost(reason);
    }

private:
    mutable QMutex m_lock; // held around every sink call, so stop() waits for the one running
    Sink m_sink;
    Lost m_lost;
    bool m_running = false;
    std::atomic<bool> m_streaming = false;
    std::atomic<qsizetype> m_delivered = 0;
    std::thread m_thread;
};
