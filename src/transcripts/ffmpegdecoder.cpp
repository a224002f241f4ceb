// The FFmpeg side of AudioFileDecoder, built as a module that is loaded on the first
// decode: Debian's FFmpeg drags in some two hundred libraries, which would otherwise cost
// every start of Murmel, the command line included, about 70 ms.
#include "decodermodule.h"

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
// `samples`, writing straight into the list's own storage.
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

} // namespace

extern "C" Q_DECL_EXPORT DecodeStatus murmelDecodeAudio(const QString &path, AudioFrames &samples, double &duration,
                                                      QString &detail, const std::atomic<bool> &stop)
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
    std::unique_ptr<AVFormatContext, FormatCloser> format(rawFormat);
    if (avformat_find_stream_info(format.get(), nullptr) < 0)
        return DecodeStatus::readFailed;

    AVStream *stream = nullptr;
    for (unsigned i = 0; i < format->nb_streams; ++i) {
        if (format->streams[i]->codecpar->codec_type == AVMEDIA_TYPE_AUDIO) {
            stream = format->streams[i];
            break;
        }
    }
    if (!stream)
        return DecodeStatus::noAudioTrack;

    duration = 0.0;
    if (stream->duration != AV_NOPTS_VALUE && stream->duration > 0)
        duration = static_cast<double>(stream->duration) * av_q2d(stream->time_base);
    else if (format->duration != AV_NOPTS_VALUE && format->duration > 0)
        duration = static_cast<double>(format->duration) / AV_TIME_BASE; // some formats only declare the whole

    const AVCodec *codec = avcodec_find_decoder(stream->codecpar->codec_id);
    if (!codec)
        return DecodeStatus::readFailed;
    std::unique_ptr<AVCodecContext, CodecFreer> decoder(avcodec_alloc_context3(codec));
    if (!decoder || avcodec_parameters_to_context(decoder.get(), stream->codecpar) < 0
        || avcodec_open2(decoder.get(), codec, nullptr) < 0)
        return DecodeStatus::readFailed;
    if (decoder->ch_layout.order == AV_CHANNEL_ORDER_UNSPEC)
        av_channel_layout_default(&decoder->ch_layout, decoder->ch_layout.nb_channels);

    SwrContext *rawResampler = nullptr;
    AVChannelLayout mono = AV_CHANNEL_LAYOUT_MONO;
    if (swr_alloc_set_opts2(&rawResampler, &mono, AV_SAMPLE_FMT_FLT, outputRate, &decoder->ch_layout,
                            decoder->sample_fmt, decoder->sample_rate, 0, nullptr) < 0)
        return DecodeStatus::readFailed;
    std::unique_ptr<SwrContext, ResamplerFreer> resampler(rawResampler);
    if (swr_init(resampler.get()) < 0)
        return DecodeStatus::readFailed;

    // Sized once from the declared duration, so the list never reallocates (and never
    // briefly holds the audio twice) while it fills. A container may claim any length:
    // past two hours the list grows as it must.
    constexpr double longestReserved = 2 * 3600.0;
    if (duration > 0.0)
        samples.reserve(static_cast<qsizetype>(std::ceil(std::min(duration, longestReserved) * outputRate)) + outputRate);

    std::unique_ptr<AVPacket, PacketFreer> packet(av_packet_alloc());
    std::unique_ptr<AVFrame, FrameFreer> frame(av_frame_alloc());
    bool failed = false;
    auto drainFrames = [&] {
        for (;;) {
            const int received = avcodec_receive_frame(decoder.get(), frame.get());
            if (received == AVERROR(EAGAIN) || received == AVERROR_EOF)
                return;
            if (received < 0)
                return; // a damaged packet loses its few samples, not the file
            if (!resampleInto(resampler.get(), frame.get(), samples))
                failed = true;
            av_frame_unref(frame.get());
        }
    };

    for (;;) {
        const int read = av_read_frame(format.get(), packet.get());
        if (read < 0)
            break; // end of file, or a truncated file: keep what was read
        if (packet->stream_index == stream->index && avcodec_send_packet(decoder.get(), packet.get()) >= 0)
            drainFrames();
        av_packet_unref(packet.get());
        if (failed || stop.load(std::memory_order_relaxed))
            return DecodeStatus::readFailed;
    }
    avcodec_send_packet(decoder.get(), nullptr);
    drainFrames();
    if (failed || !resampleInto(resampler.get(), nullptr, samples))
        return DecodeStatus::readFailed;
    if (samples.isEmpty())
        return DecodeStatus::readFailed;
    return DecodeStatus::ok;
}
