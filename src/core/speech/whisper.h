#pragma once

#include "core/base/whisperlanguage.h"
#include "core/speech/transcriptsegment.h"

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
};
QString describe(WhisperError error);

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

// One whisper.cpp context. Create, configure and run it on the main thread; the run itself
// happens on a worker thread, one at a time, and its progress, segments and completion
// come back on the main thread. The context is freed when the object goes away, or, if
// a run is still going, when that run ends: one context is never used by two threads.
// A run still going when Murmel quits is abandoned at the engine's next step; a run whose
// object is replaced meanwhile runs to its end, for whoever awaits it.
class Whisper final : public QObject
{
    Q_OBJECT

public:
    using Result = std::variant<QList<Segment>, WhisperError>;
    using Completion = std::function<void(Result)>;

    // Loads a model file; nullptr when whisper.cpp cannot make a context of it.
    static std::unique_ptr<Whisper> create(const QString &modelPath, WhisperParams params);
    ~Whisper() override;

    // Starts a run on a copy of the parameters. Empty audio and a busy engine complete at
    // once, on this thread; everything else completes later on the main thread. Audio
    // shorter than 0.1 s holds no speech and completes with no segments, without the
    // engine (whisper.cpp would read past the end of so short a buffer).
    void transcribe(AudioFrames frames, Completion completion);

    bool isInProgress() const { return m_inProgress->load(); }
    // True for models that only know English, where detecting the language is wasted work.
    bool isEnglishOnly() const;

    std::shared_ptr<WhisperDelegate> delegate() const { return m_delegate; }
    void setDelegate(std::shared_ptr<WhisperDelegate> delegate) { m_delegate = std::move(delegate); }
    WhisperParams &params() { return m_params; }
    const WhisperParams &params() const { return m_params; }

private:
    struct Context;
    struct Run;
    Whisper(std::shared_ptr<Context> context, WhisperParams params);

    static void onNewSegments(whisper_context *, whisper_state *state, int count, void *userData);
    static void onProgress(whisper_context *, whisper_state *, int percent, void *userData);

    std::shared_ptr<Context> m_context;
    WhisperParams m_params;
    std::shared_ptr<WhisperDelegate> m_delegate;
    std::shared_ptr<std::atomic<bool>> m_inProgress = std::make_shared<std::atomic<bool>>(false);
};
