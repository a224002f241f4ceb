#include "pulseaudiosource.h"

#include "app/logging.h"
#include "speech/transcriptsegment.h"

#include <pulse/error.h>
#include <pulse/simple.h>

#include <vector>

namespace {

constexpr uint32_t rate = 16000;
// One piece: 20 ms. Small enough that stopping never waits long for the last one.
constexpr size_t pieceFrames = rate / 50;

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
    const pa_sample_spec sampleFormat{PA_SAMPLE_FLOAT32NE, rate, 1};
    pa_buffer_attr attributes{};
    attributes.maxlength = static_cast<uint32_t>(-1);
    attributes.fragsize = static_cast<uint32_t>(pieceFrames * sizeof(float));
    int error = 0;
    m_stream = pa_simple_new(nullptr, "Murmel", PA_STREAM_RECORD, nullptr, "Dictation", &sampleFormat, nullptr, &attributes,
                             &error);
    if (!m_stream) {
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
    m_stopping = false;
    m_thread = std::thread(&PulseAudioSource::capture, this, std::move(sink), std::move(lost));
    return std::nullopt;
}

void PulseAudioSource::capture(Sink sink, Lost lost)
{
    std::vector<float> piece(pieceFrames);
    while (!m_stopping.load()) {
        int error = 0;
        if (pa_simple_read(m_stream, piece.data(), piece.size() * sizeof(float), &error) < 0) {
            if (!m_stopping.load() && lost)
                lost(QStringLiteral("The microphone stopped: the sound server went away (%1).").arg(reasonOf(error)));
            return;
        }
        for (float &sample : piece)
            sample = saneSample(sample);
        sink(piece.data(), qsizetype(piece.size()));
    }
}

void PulseAudioSource::stop()
{
    if (!m_stream)
        return;
    m_stopping = true;
    if (m_thread.joinable())
        m_thread.join();
    pa_simple_free(m_stream);
    m_stream = nullptr;
}
