#pragma once

#include "core/speech/transcriptsegment.h"
#include "core/speech/whisper.h"
#include "core/speech/whispermodel.h"

#include <QObject>
#include <QString>

#include <QCoroTask>

#include <atomic>
#include <functional>
#include <memory>
#include <optional>
#include <variant>

// Why a transcriber could not load or run, with the text the user sees.
class TranscriberError final
{
public:
    enum Kind {
        unrecognizedModel,    // the file name names no catalog model
        integrityCheckFailed, // the file does not match its checksum
        notLoaded,            // no model loaded yet
        loadFailed,           // the file passed its checksum but the engine cannot use it
        engine,               // the engine refused or stopped the run; see whisperError()
        modelUnavailable,     // the model store could not make the file present
    };

    static TranscriberError unrecognized(QString fileName) { return {unrecognizedModel, std::move(fileName), {}}; }
    static TranscriberError integrity(QString fileName) { return {integrityCheckFailed, std::move(fileName), {}}; }
    static TranscriberError notReady() { return {notLoaded, {}, {}}; }
    static TranscriberError unloadable(QString fileName) { return {loadFailed, std::move(fileName), {}}; }
    static TranscriberError fromEngine(WhisperError error) { return {engine, {}, error}; }
    // `reason` is the model store's, or empty when it gave none.
    static TranscriberError unavailable(QString reason) { return {modelUnavailable, std::move(reason), {}}; }

    Kind kind() const { return m_kind; }
    WhisperError whisperError() const { return m_whisperError; }
    QString description() const;

private:
    TranscriberError(Kind kind, QString name, WhisperError error)
        : m_kind(kind), m_name(std::move(name)), m_whisperError(error)
    {
    }

    Kind m_kind;
    QString m_name;
    WhisperError m_whisperError = WhisperError::invalidFrames;
};

class ModelStore;

// Turns audio into text with a speech model file. Each client owns one; clients over the
// same file share its loaded weights, while each run has working memory of its own.
//
// Main thread only. Loads are cached by (model file, language): a repeated load neither
// re-hashes nor re-reads the model. An uncached load checks the file's SHA-256 on a worker
// thread first. Runs happen on a worker thread; progress and new segments arrive on the
// main thread while they go on. A second run while one is going fails with the engine's
// instanceBusy and leaves the running one's callbacks alone.
class Transcriber final : public QObject
{
    Q_OBJECT

public:
    using Verifier = std::function<bool(const QString &path, const QString &expectedSha256)>;
    using SegmentsResult = std::variant<QList<TranscriptSegment>, TranscriberError>;
    using TextResult = std::variant<QString, TranscriberError>;

    // `verify` checks a model file before it is loaded; ModelIntegrity::verify by default.
    explicit Transcriber(QObject *parent = nullptr, Verifier verify = {});
    ~Transcriber() override;

    // Makes the engine ready for this model file and language code (a setting value, or
    // "auto") on the device asked for. A failure leaves the previously loaded engine in
    // place. The model's weights are shared with every other transcriber over the same file
    // on the same device.
    QCoro::Task<std::optional<TranscriberError>> load(QString modelPath, QString language,
                                                      ComputeDevice device = ComputeDevice::processor);
    // Has `store` make the model present (downloading it when missing), then loads it.
    QCoro::Task<std::optional<TranscriberError>> prepare(ModelStore &store, WhisperModel model, QString language,
                                                         ComputeDevice device = ComputeDevice::processor);

    // The segments of the audio. `onProgress` (0.0 to 1.0) and `onSegments` (only the
    // segments new since the last call) run on the main thread during the run. Once
    // `cancel` is raised the engine stops at its next step and the run fails as cancelled.
    QCoro::Task<SegmentsResult> segments(AudioFrames samples,
                                         std::function<void(double)> onProgress = {},
                                         std::function<void(QList<TranscriptSegment>)> onSegments = {},
                                         CancelFlag cancel = {});

    // How much of the engine's 30-second window the audio is encoded in. whisper.cpp's
    // encoder costs the same for 3 s as for 30 s of speech unless the window is shrunk, and
    // a window much shorter than the speech makes the decoder repeat itself or drop words.
    enum class EncoderWindow {
        full,   // the whole window, whatever the audio's length
        fitted, // audio under 30 s: max(10 s, its length + 2 s)
    };

    // The whole text: segment texts joined by single spaces, trimmed.
    QCoro::Task<TextResult> transcribe(AudioFrames samples, EncoderWindow window = EncoderWindow::full);

    bool isLoaded() const { return m_whisper != nullptr; }

    // The threads every run uses: the performance cores (else the physical cores, else
    // half of eight or more processors, else 4), one fewer once reserveCoreForUI is set,
    // but never below 2.
    static int optimalThreadCount();
    static int threadCountFor(std::optional<int> performanceCores, std::optional<int> physicalCores,
                              int activeProcessors, bool reserveCoreForUI);
    // Set once at application start-up, so transcription leaves a core to the interface.
    static std::atomic<bool> reserveCoreForUI;

    // The engine's audio_ctx for a fitted window over `samples` of 16 kHz audio, in a model
    // whose whole window is `windowFrames`; 0, the whole window, for audio that fills it.
    static int fittedAudioContext(qsizetype samples, int windowFrames);

    // Converts the engine's segments: fresh ids, seconds, text trimmed of spaces and tabs.
    static QList<TranscriptSegment> convert(const QList<Segment> &segments);

Q_SIGNALS:
    void loadFinished();

private:
    class LiveDelegate;

    QCoro::Task<SegmentsResult> run(AudioFrames samples, int audioContext, std::function<void(double)> onProgress,
                                    std::function<void(QList<TranscriptSegment>)> onSegments, CancelFlag cancel);

    Verifier m_verify;
    std::unique_ptr<Whisper> m_whisper;
    QString m_loadedKey;
    std::shared_ptr<LiveDelegate> m_delegate;
    bool m_loading = false;
};
