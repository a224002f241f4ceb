// The FFmpeg side of AudioFileDecoder, built as a module that is loaded on the first
// decode: Debian's FFmpeg drags in some two hundred libraries, which would otherwise cost
// every start of Murmel, the command line included, about 70 ms.
#include "core/transcripts/decodermodule.h"

#include <QFile>
#include <QLoggingCategory>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/channel_layout.h>
#include <libavutil/opt.h>
#include <libswresample/swresample.h>
}

#include <cmath>
#include <memory>
#include <mutex>

Q_LOGGING_CATEGORY(lcDecoder, "murmel.transcripts", QtInfoMsg)

namespace {

constexpr int outputRate = 16000;

struct FormatCloser
{
    void operator()(AVFormatContext *context) const { avformat_close_input(&context); }
};
struct CodecFreer
{
    void operator()(AVCodecContext *context) const { avcodec_free_context(&context); }
};
struct PacketFreer
{
    void operator()(AVPacket *packet) const { av_packet_free(&packet); }
};
struct FrameFreer
{
    void operator()(AVFrame *frame) const { av_frame_free(&frame); }
};
struct ResamplerFreer
{
    void operator()(SwrContext *context) const { swr_free(&context); }
};

// FFmpeg's own messages (damaged frames and the like) go to our category at debug level
// instead of the terminal.
void forwardLog(void *context, int level, const char *format, va_list arguments)
{
    if (level > AV_LOG_WARNING || !lcDecoder().isDebugEnabled())
        return;
    char line[1024];
    int prefix = 1;
    av_log_format_line(context, level, format, arguments, line, sizeof line, &prefix);
    qCDebug(lcDecoder).noquote() << QByteArray(line).trimmed();
}

void routeLibraryLog()
{
    static std::once_flag once;
    std::call_once(once, [] { av_log_set_callback(forwardLog); });
}

QString errorText(int code)
{
    char buffer[AV_ERROR_MAX_STRING_SIZE] = {};
    av_strerror(code, buffer, sizeof buffer);
    return QString::fromUtf8(buffer);
}

// Appends what the resampler yields for `input` (nullptr flushes) to the end of
// `samples`, writing straight into the list's own storage, cleaned for the engine.
bool resampleInto(SwrContext *resampler, const AVFrame *input, AudioFrames &samples)
{
    const int inputCount = input ? input->nb_samples : 0;
    const int room = swr_get_out_samples(resampler, inputCount);
    if (room < 0)
        return false;
    if (room == 0)
        return true;
    const qsizetype before = samples.size();
    samples.resize(before + room);
    auto *out = reinterpret_cast<uint8_t *>(samples.data() + before);
    const int written = swr_convert(resampler, &out, room, input ? const_cast<const uint8_t **>(input->extended_data) : nullptr,
                                    inputCount);
    samples.resize(before + std::max(written, 0));
    std::transform(samples.begin() + before, samples.end(), samples.begin() + before, saneSample);
    return written >= 0;
}

// The first audio stream of one file, decoded a piece at a time: packets are read only
// as far as the samples asked for need, so memory does not grow with the file.
class FfmpegAudioReader final : public AudioReader
{
public:
    DecodeStatus open(const QString &path, QString &detail);
    DecodeStatus read(AudioFrames &samples, qsizetype count, const std::function<bool()> &stopped) override;
    double declaredDuration() const override { return m_duration; }

private:
    // Decodes packets into m_pending until it holds `count` samples or the stream ends.
    bool fill(qsizetype count, const std::function<bool()> &stopped);
    bool drainFrames();

    std::unique_ptr<AVFormatContext, FormatCloser> m_format;
    std::unique_ptr<AVCodecContext, CodecFreer> m_decoder;
    std::unique_ptr<SwrContext, ResamplerFreer> m_resampler;
    std::unique_ptr<AVPacket, PacketFreer> m_packet{av_packet_alloc()};
    std::unique_ptr<AVFrame, FrameFreer> m_frame{av_frame_alloc()};
    int m_streamIndex = -1;
    double m_duration = 0.0;
    AudioFrames m_pending; // decoded, not yet handed out
    bool m_ended = false;
};

DecodeStatus FfmpegAudioReader::open(const QString &path, QString &detail)
{
    routeLibraryLog();
    AVFormatContext *rawFormat = nullptr;
    const int opened = avformat_open_input(&rawFormat, QFile::encodeName(path).constData(), nullptr, nullptr);
    if (opened < 0) {
        // Damaged or foreign data reads as unreadable audio; a missing or forbidden file
        // keeps the system's own reason.
        if (opened == AVERROR_INVALIDDATA || opened == AVERROR_EOF || opened == AVERROR_PATCHWELCOME)
            return DecodeStatus::readFailed;
        detail = errorText(opened);
        return DecodeStatus::openFailed;
    }
    m_format.reset(rawFormat);
    if (avformat_find_stream_info(m_format.get(), nullptr) < 0)
        return DecodeStatus::readFailed;

    AVStream *stream = nullptr;
    for (unsigned i = 0; i < m_format->nb_streams; ++i) {
        if (m_format->streams[i]->codecpar->codec_type == AVMEDIA_TYPE_AUDIO) {
            stream = m_format->streams[i];
            break;
        }
    }
    if (!stream)
        return DecodeStatus::noAudioTrack;
    m_streamIndex = stream->index;

    if (stream->duration != AV_NOPTS_VALUE && stream->duration > 0)
        m_duration = static_cast<double>(stream->duration) * av_q2d(stream->time_base);
    else if (m_format->duration != AV_NOPTS_VALUE && m_format->duration > 0)
        m_duration = static_cast<double>(m_format->duration) / AV_TIME_BASE; // some formats only declare the whole

    const AVCodec *codec = avcodec_find_decoder(stream->codecpar->codec_id);
    if (!codec)
        return DecodeStatus::readFailed;
    m_decoder.reset(avcodec_alloc_context3(codec));
    if (!m_decoder || avcodec_parameters_to_context(m_decoder.get(), stream->codecpar) < 0
        || avcodec_open2(m_decoder.get(), codec, nullptr) < 0)
        return DecodeStatus::readFailed;
    if (m_decoder->ch_layout.order == AV_CHANNEL_ORDER_UNSPEC)
        av_channel_layout_default(&m_decoder->ch_layout, m_decoder->ch_layout.nb_channels);

    SwrContext *rawResampler = nullptr;
    AVChannelLayout mono = AV_CHANNEL_LAYOUT_MONO;
    if (swr_alloc_set_opts2(&rawResampler, &mono, AV_SAMPLE_FMT_FLT, outputRate, &m_decoder->ch_layout,
                            m_decoder->sample_fmt, m_decoder->sample_rate, 0, nullptr) < 0)
        return DecodeStatus::readFailed;
    m_resampler.reset(rawResampler);
    if (swr_init(m_resampler.get()) < 0 || !m_packet || !m_frame)
        return DecodeStatus::readFailed;
    return DecodeStatus::ok;
}

bool FfmpegAudioReader::drainFrames()
{
    for (;;) {
        const int received = avcodec_receive_frame(m_decoder.get(), m_frame.get());
        if (received == AVERROR(EAGAIN) || received == AVERROR_EOF)
            return true;
        if (received < 0)
            return true; // a damaged packet loses its few samples, not the file
        const bool resampled = resampleInto(m_resampler.get(), m_frame.get(), m_pending);
        av_frame_unref(m_frame.get());
        if (!resampled)
            return false;
    }
}

bool FfmpegAudioReader::fill(qsizetype count, const std::function<bool()> &stopped)
{
    while (m_pending.size() < count && !m_ended) {
        if (stopped())
            return false;
        const int read = av_read_frame(m_format.get(), m_packet.get());
        if (read < 0) {
            // End of file, or a truncated file: keep what was read, and flush.
            m_ended = true;
            avcodec_send_packet(m_decoder.get(), nullptr);
            if (!drainFrames() || !resampleInto(m_resampler.get(), nullptr, m_pending))
                return false;
            break;
        }
        bool resampled = true;
        if (m_packet->stream_index == m_streamIndex && avcodec_send_packet(m_decoder.get(), m_packet.get()) >= 0)
            resampled = drainFrames();
        av_packet_unref(m_packet.get());
        if (!resampled)
            return false;
    }
    return true;
}

DecodeStatus FfmpegAudioReader::read(AudioFrames &samples, qsizetype count, const std::function<bool()> &stopped)
{
    if (!fill(count, stopped))
        return DecodeStatus::readFailed;
    const qsizetype taken = std::min(count, m_pending.size());
    const qsizetype before = samples.size();
    samples.resize(before + taken);
    std::copy_n(m_pending.constData(), taken, samples.data() + before);
    m_pending.remove(0, taken);
    return DecodeStatus::ok;
}

} // namespace

extern "C" Q_DECL_EXPORT AudioReader *murmelOpenAudio(const QString &path, DecodeStatus &status, QString &detail)
{
    auto reader = std::make_unique<FfmpegAudioReader>();
    status = reader->open(path, detail);
    return status == DecodeStatus::ok ? reader.release() : nullptr;
}
