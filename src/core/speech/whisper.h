#pragma once

#include "core/base/whisperlanguage.h"
#include "core/speech/transcriptsegment.h"
#include "core/speech/workerstop.h"

#include <QObject>
#include <QString>

#include <atomic>
#include <functional>
#include <memory>
#include <variant>

#include <whisper.h>

// One stretch of text as the engine reports it, times in milliseconds.
struct Segment
{
    qint64 startTime = 0;
    qint64 endTime = 0;
    QString text;

    friend bool operator==(const Segment &, const Segment &) = default;
};

// Why the engine did not run. The cases have no text of their own in the interface;
// description() is for command-line output and logs.
enum class WhisperError {
    invalidFrames, // no samples at all
    instanceBusy,  // a run is already in progress on this engine
    audioTooLong,  // more samples than the engine can count (about 37 hours)
    cancelled,     // the run was asked to stop, and did at the engine's next step
    noMemory,      // the engine could not set up the working memory of a run
    engineFailed,  // the engine stopped the run with an error of its own
};
QString describe(WhisperError error);

// Asks one piece of work (a run, a decode) to stop early. Copies share one request, so the
// caller keeps one and hands the others to the worker threads, which look at it between
// steps. A quitting Murmel asks every piece of work at once, through WorkerStop.
class CancelFlag final
{
public:
    void cancel() const { m_flag->store(true); }
    bool isCancelled() const { return m_flag->load(std::memory_order_relaxed) || WorkerStop::requested(); }

private:
    std::shared_ptr<std::atomic<bool>> m_flag = std::make_shared<std::atomic<bool>>(false);
};

// The decoding parameters: whisper.cpp's record plus the buffer its language points to.
// Copyable; each copy owns its own language buffer.
class WhisperParams final
{
public:
    // whisper.cpp's defaults for greedy decoding, language "auto".
    WhisperParams();
    WhisperParams(const WhisperParams &other);
    WhisperParams &operator=(const WhisperParams &other);

    // Every field, by name, for reading and writing. Leave `language` to setLanguage.
    whisper_full_params &raw() { return m_params; }
    const whisper_full_params &raw() const { return m_params; }

    WhisperLanguage language() const;
    void setLanguage(WhisperLanguage language);
    // The code as the engine spells it ("he" for "iw").
    QByteArray engineLanguage() const { return m_language; }

private:
    whisper_full_params m_params;
    QByteArray m_language;
};

// Where a model's weights live and its runs compute. The graphics card is asked for, not
// promised: without one, or when it fails, the processor does the work.
enum class ComputeDevice { processor, graphicsCard };

class Whisper;

// Receives a run's progress and segments on the main thread. Every operation has an
// empty default, so a receiver implements only what it needs.
class WhisperDelegate
{
public:
    virtual ~WhisperDelegate() = default;
    virtual void didUpdateProgress(Whisper &, double /*fraction*/) {}
    virtual void didProcessNewSegments(Whisper &, const QList<Segment> & /*segments*/, int /*index*/) {}
    virtual void didCompleteWithSegments(Whisper &, const QList<Segment> & /*segments*/) {}
};

// One client's engine over a loaded model. Create, configure and run it on the main thread;
// the run itself happens on a worker thread, one at a time per engine, and its progress,
// segments and completion come back on the main thread.
//
// The model's whisper.cpp context is loaded once per file and shared by every engine over
// that file; each run works in a whisper_state of its own, made and freed on its worker, so
// runs of two engines may overlap without two copies of the weights. The context is freed
// when the last engine over it and the last run in it have ended, never under a running run.
// A cancelled run stops at the engine's next step; so does every run when Murmel quits. A
// run whose engine is replaced meanwhile runs to its end, for whoever awaits it.
//
// An engine on the graphics card falls back to the processor, with the reason logged, when
// the card cannot hold the model or fails a run: that run is repeated on the processor, and
// the engine's later runs stay there.
class Whisper final : public QObject
{
    Q_OBJECT

public:
    using Result = std::variant<QList<Segment>, WhisperError>;
    using Completion = std::function<void(Result)>;

    // An engine over a model file: the context already loaded for this very file (same
    // path, size and modification time) on the same device when there is one, else a new
    // one. nullptr when whisper.cpp cannot make a context of the file. Blocking while a file
    // loads; any thread.
    static std::unique_ptr<Whisper> create(const QString &modelPath, WhisperParams params,
                                           ComputeDevice device = ComputeDevice::processor);
    ~Whisper() override;

    // How many model files are loaded now, whoever uses them.
    static int loadedModelCount();
    // The engine's version and the processor code it picked, with that code's features.
    static QString engineDescription();
    // The name of the graphics card runs would use ("AMD Radeon RX 6600 (RADV NAVI23)"),
    // empty when there is none: no Vulkan driver, no device, or a build without graphics
    // code. The first call loads the graphics code, which starts the Vulkan driver; it
    // blocks, on any thread.
    static QString graphicsCardName();

    // Starts a run on a copy of the parameters. Empty audio and a busy engine complete at
    // once, on this thread; everything else completes later on the main thread, with
    // `cancelled` once `cancel` was raised before the run ended. Audio shorter than 0.1 s
    // holds no speech and completes with no segments, without the engine (whisper.cpp would
    // read past the end of so short a buffer).
    void transcribe(AudioFrames frames, Completion completion, CancelFlag cancel = {});

    bool isInProgress() const { return m_inProgress->load(); }
    // True for models that only know English, where detecting the language is wasted work.
    bool isEnglishOnly() const;
    // The encoder's whole window in frames (the engine's audio_ctx), which holds 30 s.
    int audioContextSize() const;

    std::shared_ptr<WhisperDelegate> delegate() const { return m_delegate; }
    void setDelegate(std::shared_ptr<WhisperDelegate> delegate) { m_delegate = std::move(delegate); }
    WhisperParams &params() { return m_params; }
    const WhisperParams &params() const { return m_params; }

private:
    struct Context;
    struct Run;
    Whisper(std::shared_ptr<Context> context, WhisperParams params);

    static std::shared_ptr<Context> sharedContext(const QString &modelPath, ComputeDevice device);
    static Result runIn(const Run &run, const WhisperParams &params, const AudioFrames &frames);
    static void onNewSegments(whisper_context *, whisper_state *state, int count, void *userData);
    static void onProgress(whisper_context *, whisper_state *, int percent, void *userData);

    std::shared_ptr<Context> m_context;
    WhisperParams m_params;
    std::shared_ptr<WhisperDelegate> m_delegate;
    std::shared_ptr<std::atomic<bool>> m_inProgress = std::make_shared<std::atomic<bool>>(false);
};
