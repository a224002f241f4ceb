#pragma once

#include "core/speech/transcriber.h"

#include <QString>

#include <QCoroTask>

#include <functional>
#include <variant>

// Transcribes an audio or video file a window of minutes at a time: the decoder reads one
// window, the engine hears it, the next follows. Neither the decoded audio nor the
// engine's copies of it grow with the file, so an eight-hour recording costs what ten
// minutes do. A window ends at the quietest moment of its last seconds, so a word is
// seldom cut in two; segment times are the file's.
//
// Main thread only; decoding and the engine run on workers and are awaited.
namespace WindowedTranscription {

struct Transcript
{
    QList<TranscriptSegment> segments;
    double seconds = 0.0; // of audio decoded
};
// The transcript, or the text to show the user.
using Result = std::variant<Transcript, QString>;

struct Options
{
    // The whole length as far as it is known, for progress; the declared one when 0.
    double expectedSeconds = 0.0;
    // Called with the fraction of the file done, and with each window's new segments.
    std::function<void(double)> onProgress;
    std::function<void(QList<TranscriptSegment>)> onSegments;
    // Samples per window, and how far back from its end a window looks for a quiet cut.
    qsizetype window = 10 * 60 * 16000;
    qsizetype cutSearch = 5 * 16000;
    // Stops the decoder and the engine at their next step; the run then ends with the
    // message of the step it stopped in, which its caller, who cancelled, need not show.
    CancelFlag cancel;
    // Awaited while the first window is read, before the engine hears it: the transcriber's
    // load, so that reading the file and checking the model overlap. False ends the run at
    // once, with an empty message; the step says why itself.
    std::function<QCoro::Task<bool>()> beforeHearing;
};

// `transcriber` is loaded once `beforeHearing` has said true, and used by nothing else until
// the task ends.
QCoro::Task<Result> run(QString path, Transcriber &transcriber, Options options = {});

// Where to end a window of `samples`: the middle of its quietest 100 ms within the last
// `search` samples, or its end when it is shorter than that.
qsizetype quietCut(const AudioFrames &samples, qsizetype search);

} // namespace WindowedTranscription
