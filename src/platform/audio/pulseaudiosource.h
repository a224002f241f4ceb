#pragma once

#include "core/desktop/audiosource.h"

#include <vector>

struct pa_context;
struct pa_stream;
struct pa_threaded_mainloop;

// The sound server's default input (PulseAudio, or PipeWire's pulse server) through
// libpulse's threaded main loop, asked for 16 kHz mono float, which the server converts to.
//
// Every start connects afresh, so a server that restarted, or that came up after Murmel,
// is simply there at the next start. Capture runs on the loop's own thread, so a busy main
// thread never makes the microphone drop pieces; the sink and `lost` are called there.
// start() and stop() belong to one thread; stop() never waits for audio, so a microphone
// that stalls (suspended, unplugged mid-stream) cannot hold the dictation.
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
    // Connects the context and the record stream; PA_OK or the server's error code. Called
    // with the loop locked.
    int connect();
    void reportLost(int error);
    static void onContextState(pa_context *context, void *data);
    static void onStreamState(pa_stream *stream, void *data);
    static void onRead(pa_stream *stream, size_t bytes, void *data);

    Sink m_sink;
    Lost m_lost;
    pa_threaded_mainloop *m_loop = nullptr;
    pa_context *m_context = nullptr;
    pa_stream *m_stream = nullptr;
    // The rest belongs to the loop's thread while capture runs, and to start() and stop()
    // under the loop's lock.
    std::vector<float> m_piece;
    bool m_stopping = false;
    bool m_running = false;
    bool m_lostReported = false;
};
