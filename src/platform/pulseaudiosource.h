#pragma once

#include "dictation/audiosource.h"

#include <atomic>
#include <thread>

struct pa_simple;

// The sound server's default input (PulseAudio, or PipeWire's pulse server) through
// libpulse's simple API, asked for 16 kHz mono float, which the server converts to.
//
// Every start connects afresh, so a server that restarted, or that came up after Murmel,
// is simply there at the next start. Capture runs on a thread of its own that waits on
// the server, so a busy main thread never makes the microphone drop pieces; the sink and
// `lost` are called there. start() and stop() belong to one thread; stop() waits for at
// most one 20 ms piece.
class PulseAudioSource final : public AudioSource
{
public:
    PulseAudioSource() = default;
    ~PulseAudioSource() override;

    PulseAudioSource(const PulseAudioSource &) = delete;
    PulseAudioSource &operator=(const PulseAudioSource &) = delete;

    std::optional<QString> start(Sink sink, Lost lost) override;
    void stop() override;

private:
    void capture(Sink sink, Lost lost);

    pa_simple *m_stream = nullptr;
    std::thread m_thread;
    std::atomic<bool> m_stopping{false};
};
