#pragma once

#include "core/speech/whisper.h"
#include "core/speech/whispermodel.h"
#include "core/transcripts/windowedtranscription.h"

#include <QObject>
#include <QString>

#include <QCoroTask>

#include <optional>
#include <variant>

class ModelStore;
class Preferences;
class Transcriber;

// One audio or video file transcribed: the model chosen (the preferences' file model unless
// the caller names one) and made present through the model store, the file decoded and
// heard a window at a time by the job's own transcriber, which keeps the model loaded for
// the next file. The file screen, the automation interface and `murmel transcribe` each
// hold one and word its outcome their own way; none of them applies a dictionary, a cleanup
// or the history here.
//
// Main thread only, one file at a time. The store and the preferences outlive the job. A
// job destroyed during a run cancels it; the run's task then ends as cancelled.
class TranscriptionJob final : public QObject
{
    Q_OBJECT

public:
    struct Options
    {
        std::optional<WhisperModel> model;   // the preferences' file model when unset
        std::optional<QString> language;     // the language preference when unset
        // When above 0, the file is first read whole for its length and an envelope of this
        // many buckets (see scanned()), before the model is made present.
        int envelopeBuckets = 0;
    };

    struct Failure
    {
        enum class Kind {
            modelNotReady, // no model is present and none could be had
            failed,        // the file could not be decoded, or the model loaded or run
        };
        Kind kind;
        QString message; // the text to show; for modelNotReady, the store's reason if it gave one
    };
    struct Cancelled
    {
    };
    using Transcript = WindowedTranscription::Transcript;
    using Result = std::variant<Transcript, Failure, Cancelled>;

    TranscriptionJob(ModelStore &models, const Preferences &preferences, QObject *parent = nullptr);
    ~TranscriptionJob() override;

    // Transcribes the local file at `path`. A file without speech gives no segments. While a
    // file runs, another fails at once as busy. Once cancel() was called the task ends as
    // cancelled, also when the run had got to its end.
    QCoro::Task<Result> run(QString path, Options options);

    // Stops the running file at the decoder's or the engine's next step; and a model
    // download this run started, though not one it joined. Nothing when no file runs.
    void cancel();
    bool isRunning() const { return m_running; }

    // What a script or the command line is told when no model can be had.
    static QString noModelMessage();

Q_SIGNALS:
    // The file's length in seconds and its envelope, when Options::envelopeBuckets asked.
    void scanned(double duration, const QList<float> &envelope);
    // The fraction of the file heard, and each batch of segments as the engine finishes
    // them, in the file's times.
    void progressed(double fraction);
    void segmentsHeard(const QList<TranscriptSegment> &segments);

private:
    QCoro::Task<Result> work(QString path, Options options, CancelFlag cancel);
    // Makes the model present and loads it: false, with `notReady` set unless the run was
    // cancelled, when the engine cannot hear the file.
    QCoro::Task<bool> prepare(WhisperModel model, QString language, std::optional<Failure> &notReady);

    ModelStore &m_models;
    const Preferences &m_preferences;
    Transcriber *m_transcriber;
    CancelFlag m_cancel;
    bool m_running = false;
    bool m_startedDownload = false;
};
