#include "platform/audio/pulseaudiosource.h"

#include "core/base/logging.h"
#include "core/speech/transcriptsegment.h"

#include <pulse/context.h>
#include <pulse/error.h>
#include <pulse/stream.h>
#include <pulse/thread-mainloop.h>

namespace {

constexpr uint32_t rate = 16000;
// Pieces of 20 ms keep the loudness display lively.
constexpr uint32_t pieceBytes = rate / 50 * sizeof(float);

QString reasonOf(int error)
{
    return QString::fromLocal8Bit(pa_strerror(error));
}

} // namespace

PulseAudioSource::~PulseAudioSource()
{
    stop();
}

std::optional<QString> PulseAudioSource::start(Sink sink, Lost lost)
{
    stop();
    m_sink = std::move(sink);
    m_lost = std::move(lost);
    m_stopping = false;
    m_loop = pa_threaded_mainloop_new();
    if (!m_loop || pa_threaded_mainloop_start(m_loop) < 0) {
        stop();
        return QStringLiteral("The microphone could not be opened (%1).").arg(reasonOf(PA_ERR_INTERNAL));
    }
    pa_threaded_mainloop_lock(m_loop);
    const int error = connect();
    pa_threaded_mainloop_unlock(m_loop);
    if (error == PA_OK)
        return std::nullopt;

    stop();
    qCWarning(lcPlatform) << "The microphone could not be opened:" << reasonOf(error);
    switch (error) {
    case PA_ERR_CONNECTIONREFUSED:
    case PA_ERR_INVALIDSERVER:
        return QStringLiteral("No microphone is available: the sound server is not running.");
    case PA_ERR_NOENTITY:
        return QStringLiteral("No microphone is available.");
    default:
        return QStringLiteral("The microphone could not be opened (%1).").arg(reasonOf(error));
    }
}

int PulseAudioSource::connect()
{
    m_context = pa_context_new(pa_threaded_mainloop_get_api(m_loop), "Murmel");
    if (!m_context)
        return PA_ERR_INTERNAL;
    pa_context_set_state_callback(m_context, &PulseAudioSource::onContextState, this);
    if (pa_context_connect(m_context, nullptr, PA_CONTEXT_NOFLAGS, nullptr) < 0)
        return pa_context_errno(m_context);
    for (pa_context_state_t state; (state = pa_context_get_state(m_context)) != PA_CONTEXT_READY;) {
        if (!PA_CONTEXT_IS_GOOD(state))
            return pa_context_errno(m_context);
        pa_threaded_mainloop_wait(m_loop);
    }

    // 16 kHz mono float, which the server converts to from whatever the microphone gives.
    const pa_sample_spec format{PA_SAMPLE_FLOAT32NE, rate, 1};
    m_stream = pa_stream_new(m_context, "Dictation", &format, nullptr);
    if (!m_stream)
        return pa_context_errno(m_context);
    pa_stream_set_state_callback(m_stream, &PulseAudioSource::onStreamState, this);
    pa_stream_set_read_callback(m_stream, &PulseAudioSource::onRead, this);
    pa_buffer_attr attributes{};
    attributes.maxlength = static_cast<uint32_t>(-1);
    attributes.fragsize = pieceBytes;
    if (pa_stream_connect_record(m_stream, nullptr, &attributes, PA_STREAM_ADJUST_LATENCY) < 0)
        return pa_context_errno(m_context);
    for (pa_stream_state_t state; (state = pa_stream_get_state(m_stream)) != PA_STREAM_READY;) {
        if (!PA_STREAM_IS_GOOD(state))
            return pa_context_errno(m_context);
        pa_threaded_mainloop_wait(m_loop);
    }
    m_running = true;
    return PA_OK;
}

void PulseAudioSource::onContextState(pa_context *context, void *data)
{
    auto *self = static_cast<PulseAudioSource *>(data);
    const pa_context_state_t state = pa_context_get_state(context);
    if (state == PA_CONTEXT_FAILED || state == PA_CONTEXT_TERMINATED)
        self->reportLost(pa_context_errno(context));
    pa_threaded_mainloop_signal(self->m_loop, 0);
}

void PulseAudioSource::onStreamState(pa_stream *stream, void *data)
{
    auto *self = static_cast<PulseAudioSource *>(data);
    const pa_stream_state_t state = pa_stream_get_state(stream);
    if (state == PA_STREAM_FAILED || state == PA_STREAM_TERMINATED)
        self->reportLost(pa_context_errno(self->m_context));
    pa_threaded_mainloop_signal(self->m_loop, 0);
}

void PulseAudioSource::reportLost(int error)
{
    // Only a running stream can be lost; a failure while opening is start()'s answer.
    if (m_stopping || m_lostReported || !m_running)
        return;
    m_lostReported = true;
    if (m_lost)
        m_lost(QStringLiteral("The microphone stopped: the sound server went away (%1).").arg(reasonOf(error)));
}

void PulseAudioSource::onRead(pa_stream *stream, size_t, void *data)
{
    auto *self = static_cast<PulseAudioSource *>(data);
    const void *audio = nullptr;
    size_t size = 0;
    while (pa_stream_peek(stream, &audio, &size) == 0 && size > 0) {
        // No data with a size is a hole in the recording: nothing to keep.
        if (audio) {
            const auto *samples = static_cast<const float *>(audio);
            self->m_piece.assign(samples, samples + size / sizeof(float));
            for (float &sample : self->m_piece)
                sample = saneSample(sample);
            self->m_sink(self->m_piece.data(), qsizetype(self->m_piece.size()));
        }
        pa_stream_drop(stream);
    }
}

void PulseAudioSource::stop()
{
    if (!m_loop)
        return;
    // Disconnecting under the loop's lock: a callback is either over or never comes, and
    // nothing waits on audio that a stalled microphone may never deliver.
    pa_threaded_mainloop_lock(m_loop);
    m_stopping = true;
    if (m_stream) {
        pa_stream_set_read_callback(m_stream, nullptr, nullptr);
        pa_stream_set_state_callback(m_stream, nullptr, nullptr);
        pa_stream_disconnect(m_stream);
        pa_stream_unref(m_stream);
        m_stream = nullptr;
    }
    if (m_context) {
        pa_context_set_state_callback(m_context, nullptr, nullptr);
        pa_context_disconnect(m_context);
        pa_context_unref(m_context);
        m_context = nullptr;
    }
    pa_threaded_mainloop_unlock(m_loop);
    pa_threaded_mainloop_stop(m_loop);
    pa_threaded_mainloop_free(m_loop);
    m_loop = nullptr;
    m_running = false;
    m_lostReported = false;
}
