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

namespace {

using Opened = std::variant<std::shared_ptr<AudioReader>, AudioDecodeError>;

// `carried` and up to `wanted` samples more; nothing when the file fails.
std::optional<AudioFrames> readMore(AudioReader &reader, AudioFrames carried, qsizetype wanted,
                                    const std::function<bool()> &stopped)
{
    if (reader.read(carried, wanted, stopped) != DecodeStatus::ok)
        return std::nullopt;
    return carried;
}

} // namespace

QCoro::Task<Result> run(QString path, Transcriber &transcriber, Options options)
{
    QPointer<Transcriber> engine(&transcriber);
    // Set when the run ends before it hears what is being read, so the worker stops.
    const CancelFlag abandoned;
    const std::function<bool()> stopped = [cancel = options.cancel, abandoned] {
        return cancel.isCancelled() || abandoned.isCancelled();
    };
    // The file opens and its first window is read while the step before hearing (the
    // model's check and load) runs.
    QFuture<std::pair<Opened, std::optional<AudioFrames>>> first
        = QtConcurrent::run([path, wanted = options.window, stopped] {
              Opened opened = AudioFileDecoder::open(path);
              std::optional<AudioFrames> window;
              if (const auto *reader = std::get_if<std::shared_ptr<AudioReader>>(&opened))
                  window = readMore(**reader, {}, wanted, stopped);
              return std::pair{std::move(opened), std::move(window)};
          });
    if (options.beforeHearing) {
        auto preparing = options.beforeHearing();
        const bool ready = co_await std::move(preparing);
        if (!ready) {
            abandoned.cancel();
            co_return QString();
        }
    }
    std::pair<Opened, std::optional<AudioFrames>> started = co_await first;
    first = {}; // its copy of the window would make the cut below copy the whole window
    if (const auto *error = std::get_if<AudioDecodeError>(&started.first))
        co_return error->description();
    // Shared with the worker that reads, so a reader in use outlives an abandoned run.
    const std::shared_ptr<AudioReader> reader = std::get<std::shared_ptr<AudioReader>>(started.first);
    std::optional<AudioFrames> window = std::move(started.second);
    const double expected = options.expectedSeconds > 0.0 ? options.expectedSeconds : reader->declaredDuration();

    Transcript transcript;
    qsizetype done = 0;   // samples of the file transcribed
    for (;;) {
        if (!engine)
            co_return TranscriberError::notReady().description();
        if (!window)
            co_return AudioDecodeError::unreadable().description();
        const bool last = window->size() < options.window;
        const qsizetype cut = last ? window->size() : quietCut(*window, options.cutSearch);
        AudioFrames carried = window->mid(cut); // read, past the cut, not yet heard
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
        const qsizetype wanted = options.window - carried.size();
        QFuture<std::optional<AudioFrames>> reading
            = QtConcurrent::run([reader, carried = std::move(carried), wanted, stopped]() mutable {
                  return readMore(*reader, std::move(carried), wanted, stopped);
              });
        window = co_await reading;
        reading = {}; // as above
    }
    transcript.seconds = double(done) / engineSampleRate;
    co_return transcript;
}

} // namespace WindowedTranscription
