#include "core/transcripts/windowedtranscription.h"

#include "core/transcripts/audiofiledecoder.h"
#include "core/transcripts/decodermodule.h"

#include <QCoroFuture>
#include <QPointer>
#include <QtConcurrent/QtConcurrentRun>

#include <memory>

namespace WindowedTranscription {

qsizetype quietCut(const AudioFrames &samples, qsizetype search)
{
    constexpr qsizetype block = engineSampleRate / 10;
    const qsizetype size = samples.size();
    if (size <= search || search < block)
        return size;
    qsizetype best = size;
    double quietest = std::numeric_limits<double>::max();
    for (qsizetype start = size - search; start + block <= size; start += block) {
        double energy = 0.0;
        for (qsizetype i = start; i < start + block; ++i)
            energy += double(samples.at(i)) * double(samples.at(i));
        if (energy < quietest) {
            quietest = energy;
            best = start + block / 2;
        }
    }
    return best;
}

QCoro::Task<Result> run(QString path, Transcriber &transcriber, Options options)
{
    QFuture<std::variant<std::shared_ptr<AudioReader>, AudioDecodeError>> opening
        = QtConcurrent::run([path] { return AudioFileDecoder::open(path); });
    auto opened = co_await opening;
    if (const auto *error = std::get_if<AudioDecodeError>(&opened))
        co_return error->description();
    // Shared with the worker that reads, so a reader in use outlives an abandoned run.
    const std::shared_ptr<AudioReader> reader = std::get<std::shared_ptr<AudioReader>>(opened);
    const double expected = options.expectedSeconds > 0.0 ? options.expectedSeconds : reader->declaredDuration();

    QPointer<Transcriber> engine(&transcriber);
    Transcript transcript;
    qsizetype done = 0;   // samples of the file transcribed
    AudioFrames carried;  // read, past the last cut, not yet heard
    for (;;) {
        const qsizetype wanted = options.window - carried.size();
        const CancelFlag cancel = options.cancel;
        QFuture<std::optional<AudioFrames>> reading = QtConcurrent::run([reader, wanted, carried, cancel]() mutable {
            if (reader->read(carried, wanted, [cancel] { return cancel.isCancelled(); }) != DecodeStatus::ok)
                return std::optional<AudioFrames>();
            return std::optional<AudioFrames>(std::move(carried));
        });
        std::optional<AudioFrames> window = co_await reading;
        reading = {}; // its copy of the window would make the cut below copy the whole window
        if (!window)
            co_return AudioDecodeError::unreadable().description();
        const bool last = window->size() < options.window;
        const qsizetype cut = last ? window->size() : quietCut(*window, options.cutSearch);
        carried = window->mid(cut);
        window->resize(cut);
        if (window->isEmpty()) {
            if (done == 0)
                co_return AudioDecodeError::unreadable().description();
            break;
        }

        const double offset = double(done) / engineSampleRate;
        const double windowSeconds = double(cut) / engineSampleRate;
        const auto shifted = [offset](QList<TranscriptSegment> segments) {
            for (TranscriptSegment &segment : segments) {
                segment.start += offset;
                segment.end += offset;
            }
            return segments;
        };
        auto onProgress = [&options, offset, windowSeconds, expected](double fraction) {
            if (options.onProgress && expected > 0.0)
                options.onProgress(std::clamp((offset + fraction * windowSeconds) / expected, 0.0, 1.0));
        };
        auto onSegments = [&options, shifted](QList<TranscriptSegment> segments) {
            if (options.onSegments)
                options.onSegments(shifted(std::move(segments)));
        };
        auto hearing = transcriber.segments(std::move(*window), onProgress, onSegments, options.cancel);
        Transcriber::SegmentsResult heard = co_await std::move(hearing);
        if (!engine)
            co_return TranscriberError::notReady().description();
        if (const auto *error = std::get_if<TranscriberError>(&heard))
            co_return error->description();
        transcript.segments << shifted(std::move(std::get<QList<TranscriptSegment>>(heard)));
        done += cut;
        if (last && carried.isEmpty())
            break;
    }
    transcript.seconds = double(done) / engineSampleRate;
    co_return transcript;
}

} // namespace WindowedTranscription
