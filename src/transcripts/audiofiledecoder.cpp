#include "audiofiledecoder.h"

#include "app/logging.h"

#include <QCoroFuture>
#include <QFile>
#include <QtConcurrent/QtConcurrentRun>

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
    if (level > AV_LOG_WARNING || !lcTranscripts().isDebugEnabled())
        return;
    char line[1024];
    int prefix = 1;
    av_log_format_line(context, level, format, arguments, line, sizeof line, &prefix);
    qCDebug(lcTranscripts).noquote() << QByteArray(line).trimmed();
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
    return written >= 0;
}

} // namespace

QString AudioDecodeError::description() const
{
    switch (m_kind) {
    case noAudioTrack:
        return QStringLiteral("That file has no audio to transcribe.");
    case readFailed:
        return QStringLiteral("Could not read the audio from that file.");
    case openFailed:
        break;
    }
    return m_detail;
}

namespace AudioFileDecoder {

DecodeResult decodeNow(const QString &path, int envelopeBuckets)
{
    routeLibraryLog();
    AVFormatContext *rawFormat = nullptr;
    const int opened = avformat_open_input(&rawFormat, QFile::encodeName(path).constData(), nullptr, nullptr);
    if (opened < 0) {
        // Damaged or foreign data reads as unreadable audio; a missing or forbidden file
        // keeps the system's own reason.
        if (opened == AVERROR_INVALIDDATA || opened == AVERROR_EOF || opened == AVERROR_PATCHWELCOME)
            return AudioDecodeError::unreadable();
        return AudioDecodeError::cannotOpen(errorText(opened));
    }
    std::unique_ptr<AVFormatContext, FormatCloser> format(rawFormat);
    if (avformat_find_stream_info(format.get(), nullptr) < 0)
        return AudioDecodeError::unreadable();

    AVStream *stream = nullptr;
    for (unsigned i = 0; i < format->nb_streams; ++i) {
        if (format->streams[i]->codecpar->codec_type == AVMEDIA_TYPE_AUDIO) {
            stream = format->streams[i];
            break;
        }
    }
    if (!stream)
        return AudioDecodeError::noAudio();

    double duration = 0.0;
    if (stream->duration != AV_NOPTS_VALUE && stream->duration > 0)
        duration = static_cast<double>(stream->duration) * av_q2d(stream->time_base);
    else if (format->duration != AV_NOPTS_VALUE && format->duration > 0)
        duration = static_cast<double>(format->duration) / AV_TIME_BASE; // some formats only declare the whole

    const AVCodec *codec = avcodec_find_decoder(stream->codecpar->codec_id);
    if (!codec)
        return AudioDecodeError::unreadable();
    std::unique_ptr<AVCodecContext, CodecFreer> decoder(avcodec_alloc_context3(codec));
    if (!decoder || avcodec_parameters_to_context(decoder.get(), stream->codecpar) < 0
        || avcodec_open2(decoder.get(), codec, nullptr) < 0)
        return AudioDecodeError::unreadable();
    if (decoder->ch_layout.order == AV_CHANNEL_ORDER_UNSPEC)
        av_channel_layout_default(&decoder->ch_layout, decoder->ch_layout.nb_channels);

    SwrContext *rawResampler = nullptr;
    AVChannelLayout mono = AV_CHANNEL_LAYOUT_MONO;
    if (swr_alloc_set_opts2(&rawResampler, &mono, AV_SAMPLE_FMT_FLT, outputRate, &decoder->ch_layout,
                            decoder->sample_fmt, decoder->sample_rate, 0, nullptr) < 0)
        return AudioDecodeError::unreadable();
    std::unique_ptr<SwrContext, ResamplerFreer> resampler(rawResampler);
    if (swr_init(resampler.get()) < 0)
        return AudioDecodeError::unreadable();

    DecodedAudio result;
    result.duration = duration;
    // Sized once from the declared duration, so the list never reallocates (and never
    // briefly holds the audio twice) while it fills.
    if (duration > 0.0)
        result.samples.reserve(static_cast<qsizetype>(std::ceil(duration * outputRate)) + outputRate);

    std::unique_ptr<AVPacket, PacketFreer> packet(av_packet_alloc());
    std::unique_ptr<AVFrame, FrameFreer> frame(av_frame_alloc());
    bool failed = false;
    auto drainFrames = [&] {
        for (;;) {
            const int received = avcodec_receive_frame(decoder.get(), frame.get());
            if (received == AVERROR(EAGAIN) || received == AVERROR_EOF)
                return;
            if (received < 0) {
                // A damaged frame loses its few samples, not the file.
                continue;
            }
            if (!resampleInto(resampler.get(), frame.get(), result.samples))
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
        if (failed)
            return AudioDecodeError::unreadable();
    }
    avcodec_send_packet(decoder.get(), nullptr);
    drainFrames();
    if (failed || !resampleInto(resampler.get(), nullptr, result.samples))
        return AudioDecodeError::unreadable();
    if (result.samples.isEmpty())
        return AudioDecodeError::unreadable();
    result.envelope = makeEnvelope(result.samples, envelopeBuckets);
    return result;
}

QCoro::Task<DecodeResult> decode(QString path, int envelopeBuckets)
{
    QFuture<DecodeResult> work = QtConcurrent::run([path, envelopeBuckets] { return decodeNow(path, envelopeBuckets); });
    co_return co_await work;
}

QList<float> makeEnvelope(const AudioFrames &samples, int buckets)
{
    const qsizetype count = samples.size();
    if (count == 0 || buckets < 1)
        return {};
    const qsizetype width = buckets <= count ? count / buckets : 1;
    QList<float> peaks;
    peaks.reserve((count + width - 1) / width);
    float loudest = 0.0f;
    for (qsizetype start = 0; start < count; start += width) {
        const qsizetype end = std::min(count, start + width);
        float peak = 0.0f;
        for (qsizetype i = start; i < end; ++i)
            peak = std::max(peak, std::fabs(samples.at(i)));
        peaks << peak;
        loudest = std::max(loudest, peak);
    }
    if (loudest > 0.0f) {
        for (float &peak : peaks)
            peak /= loudest;
    }
    return peaks;
}

} // namespace AudioFileDecoder
