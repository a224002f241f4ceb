#include "core/speech/transcriber.h"

#include "core/base/logging.h"
#include "core/speech/cputopology.h"
#include "core/speech/modelintegrity.h"
#include "core/speech/modelstore.h"

#include <QCoroFuture>
#include <QCoroSignal>
#include <QFileInfo>
#include <QPointer>
#include <QPromise>
#include <QThread>
#include <QtConcurrent/QtConcurrentRun>

#include <algorithm>
#include <cmath>

std::atomic<bool> Transcriber::reserveCoreForUI{false};

QString TranscriberError::description() const
{
    switch (m_kind) {
    case unrecognizedModel:
        return QStringLiteral("Unrecognized model file ") + m_name + QStringLiteral("; refusing to load it.");
    case integrityCheckFailed:
        return QStringLiteral("The ") + m_name
            + QStringLiteral(" model failed its integrity check and was not loaded. Re-download it from Settings.");
    case notLoaded:
        return QStringLiteral("The speech model is not loaded yet.");
    case loadFailed:
        return QStringLiteral("The ") + m_name
            + QStringLiteral(" model could not be loaded. Re-download it from Settings.");
    case engine:
        return describe(m_whisperError);
    case modelUnavailable:
        return m_name.isEmpty() ? QStringLiteral("The speech model is not ready yet.") : m_name;
    }
    return {};
}

// Hands a run's progress and new segments to the client's callbacks.
class Transcriber::LiveDelegate final : public WhisperDelegate
{
public:
    LiveDelegate(std::function<void(double)> onProgress, std::function<void(QList<TranscriptSegment>)> onSegments)
        : m_onProgress(std::move(onProgress))
        , m_onSegments(std::move(onSegments))
    {
    }

    void didUpdateProgress(Whisper &, double fraction) override
    {
        if (m_onProgress)
            m_onProgress(fraction);
    }

    void didProcessNewSegments(Whisper &, const QList<Segment> &segments, int) override
    {
        if (m_onSegments)
            m_onSegments(Transcriber::convert(segments));
    }

private:
    std::function<void(double)> m_onProgress;
    std::function<void(QList<TranscriptSegment>)> m_onSegments;
};

Transcriber::Transcriber(QObject *parent, Verifier verify)
    : QObject(parent)
    , m_verify(verify ? std::move(verify) : Verifier(&ModelIntegrity::verify))
{
}

Transcriber::~Transcriber() = default;

int Transcriber::threadCountFor(std::optional<int> performanceCores, std::optional<int> physicalCores,
                                int activeProcessors, bool reserve)
{
    int count = 0;
    if (performanceCores && *performanceCores >= 1)
        count = *performanceCores;
    else if (physicalCores && *physicalCores >= 1)
        count = *physicalCores;
    else
        count = activeProcessors >= 8 ? activeProcessors / 2 : 4;
    return reserve ? std::max(2, count - 1) : count;
}

int Transcriber::optimalThreadCount()
{
    return threadCountFor(CpuTopology::performanceCores(), CpuTopology::physicalCores(), QThread::idealThreadCount(),
                          reserveCoreForUI.load());
}

QList<TranscriptSegment> Transcriber::convert(const QList<Segment> &segments)
{
    QList<TranscriptSegment> converted;
    converted.reserve(segments.size());
    for (const Segment &segment : segments) {
        // Spaces and tabs go; line breaks the engine produced stay.
        QStringView text = segment.text;
        while (!text.isEmpty() && (text.front() == u' ' || text.front() == u'\t'))
            text = text.sliced(1);
        while (!text.isEmpty() && (text.back() == u' ' || text.back() == u'\t'))
            text.chop(1);
        converted << TranscriptSegment{QUuid::createUuid(), static_cast<double>(segment.startTime) / 1000.0,
                                       static_cast<double>(segment.endTime) / 1000.0, text.toString()};
    }
    return converted;
}

QCoro::Task<std::optional<TranscriberError>> Transcriber::load(QString modelPath, QString language,
                                                               ComputeDevice device)
{
    QPointer<Transcriber> self(this);
    // Loads take turns: a second one waits, then usually finds the engine ready.
    while (m_loading) {
        co_await qCoro(this, &Transcriber::loadFinished);
        if (!self)
            co_return TranscriberError::notReady();
    }

    const QString key = modelPath + u'\n' + language + u'\n' + QString::number(int(device));
    if (m_whisper && m_loadedKey == key)
        co_return std::nullopt;

    const QString fileName = QFileInfo(modelPath).fileName();
    const std::optional<WhisperModel> model = WhisperModel::fromFileName(fileName);
    if (!model)
        co_return TranscriberError::unrecognized(fileName);

    m_loading = true;
    const QString expected = ModelCatalog::expectedSha256(*model);
    QFuture<bool> check = QtConcurrent::run([verify = m_verify, modelPath, expected] { return verify(modelPath, expected); });
    const bool verified = co_await check;
    if (!self)
        co_return TranscriberError::notReady();
    if (!verified) {
        m_loading = false;
        Q_EMIT loadFinished();
        co_return TranscriberError::integrity(model->fileName());
    }

    WhisperParams params;
    whisper_full_params &raw = params.raw();
    raw.n_threads = optimalThreadCount();
    qCDebug(lcSpeech) << "Loading" << fileName << "for language" << language << "with" << raw.n_threads << "threads";
    raw.no_context = true;
    raw.suppress_nst = true;
    raw.no_speech_thold = 0.6f;
    raw.entropy_thold = 2.4f;
    raw.temperature_inc = 0.2f;
    const std::optional<WhisperLanguage> wanted = WhisperLanguage::fromRawValue(language);
    if (wanted)
        params.setLanguage(*wanted);

    // Reading the model is as slow as hashing it: off the main thread too. The engine is
    // handed back to this thread before anything else touches it.
    QThread *home = thread();
    QFuture<Whisper *> creation = QtConcurrent::run([modelPath, params, device, home]() -> Whisper * {
        std::unique_ptr<Whisper> engine = Whisper::create(modelPath, params, device);
        if (engine)
            engine->moveToThread(home);
        return engine.release();
    });
    std::unique_ptr<Whisper> engine(co_await creation);
    if (!self)
        co_return TranscriberError::notReady();
    m_loading = false;
    Q_EMIT loadFinished();
    if (!engine) {
        qCWarning(lcSpeech) << "whisper.cpp could not load" << fileName;
        co_return TranscriberError::unloadable(model->fileName());
    }
    // Detecting the language of an English-only model costs an encoder pass and can only
    // ever answer English.
    if (params.language() == WhisperLanguage::automatic() && engine->isEnglishOnly())
        engine->params().setLanguage(*WhisperLanguage::fromRawValue(u"en"));

    m_whisper = std::move(engine);
    m_loadedKey = key;
    co_return std::nullopt;
}

QCoro::Task<std::optional<TranscriberError>> Transcriber::prepare(ModelStore &store, WhisperModel model,
                                                                  QString language, ComputeDevice device)
{
    QPointer<Transcriber> self(this);
    auto ensuring = store.ensure(model);
    const std::optional<QString> modelPath = co_await std::move(ensuring);
    if (!self)
        co_return TranscriberError::notReady();
    if (!modelPath)
        co_return TranscriberError::unavailable(store.lastErrorText());
    auto loading = load(*modelPath, language, device);
    co_return co_await std::move(loading);
}

int Transcriber::fittedAudioContext(qsizetype samples, int windowFrames)
{
    constexpr double windowSeconds = 30;
    const double seconds = double(samples) / engineSampleRate;
    const double wanted = std::max(10.0, seconds + 2);
    if (wanted >= windowSeconds)
        return 0;
    return int(std::ceil(wanted / windowSeconds * windowFrames));
}

QCoro::Task<Transcriber::SegmentsResult> Transcriber::segments(AudioFrames samples,
                                                               std::function<void(double)> onProgress,
                                                               std::function<void(QList<TranscriptSegment>)> onSegments,
                                                               CancelFlag cancel)
{
    return run(std::move(samples), 0, std::move(onProgress), std::move(onSegments), std::move(cancel));
}

QCoro::Task<Transcriber::SegmentsResult> Transcriber::run(AudioFrames samples, int audioContext,
                                                          std::function<void(double)> onProgress,
                                                          std::function<void(QList<TranscriptSegment>)> onSegments,
                                                          CancelFlag cancel)
{
    if (!m_whisper)
        co_return TranscriberError::notReady();
    Whisper *engine = m_whisper.get();
    // A refused second run must not take the running one's receiver away.
    if (engine->isInProgress())
        co_return TranscriberError::fromEngine(WhisperError::instanceBusy);

    if (onProgress || onSegments) {
        m_delegate = std::make_shared<LiveDelegate>(std::move(onProgress), std::move(onSegments));
        engine->setDelegate(m_delegate);
    } else {
        m_delegate.reset();
        engine->setDelegate(nullptr);
    }
    const std::shared_ptr<LiveDelegate> ours = m_delegate;

    engine->params().raw().audio_ctx = audioContext;
    auto promise = std::make_shared<QPromise<Whisper::Result>>();
    promise->start();
    QFuture<Whisper::Result> done = promise->future();
    engine->transcribe(
        std::move(samples),
        [promise](Whisper::Result result) {
            promise->addResult(std::move(result));
            promise->finish();
        },
        std::move(cancel));
    QPointer<Transcriber> self(this);
    const Whisper::Result result = co_await done;
    if (!self)
        co_return TranscriberError::notReady();

    if (m_delegate == ours) {
        m_delegate.reset();
        if (m_whisper.get() == engine)
            engine->setDelegate(nullptr);
    }
    if (const auto *error = std::get_if<WhisperError>(&result))
        co_return TranscriberError::fromEngine(*error);
    co_return convert(std::get<QList<Segment>>(result));
}

QCoro::Task<Transcriber::TextResult> Transcriber::transcribe(AudioFrames samples, EncoderWindow window)
{
    int audioContext = 0;
    if (window == EncoderWindow::fitted && m_whisper) {
        const int whole = m_whisper->audioContextSize();
        audioContext = fittedAudioContext(samples.size(), whole);
        qCDebug(lcSpeech).noquote() << QStringLiteral("Encoding %1 s of audio in %2 of %3 frames")
                                           .arg(double(samples.size()) / engineSampleRate, 0, 'f', 1)
                                           .arg(audioContext > 0 ? audioContext : whole)
                                           .arg(whole);
    }
    auto running = run(std::move(samples), audioContext, {}, {}, {});
    const SegmentsResult result = co_await std::move(running);
    if (const auto *error = std::get_if<TranscriberError>(&result))
        co_return *error;
    QStringList texts;
    for (const TranscriptSegment &segment : std::get<QList<TranscriptSegment>>(result))
        texts << segment.text;
    co_return texts.join(u' ').trimmed();
}
