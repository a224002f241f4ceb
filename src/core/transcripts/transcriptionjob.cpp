#include "core/transcripts/transcriptionjob.h"

#include "core/base/preferencekeys.h"
#include "core/base/preferences.h"
#include "core/speech/modelselection.h"
#include "core/speech/modelstore.h"
#include "core/speech/transcriber.h"
#include "core/transcripts/audiofiledecoder.h"

#include <QPointer>

TranscriptionJob::TranscriptionJob(ModelStore &models, const Preferences &preferences, QObject *parent)
    : QObject(parent)
    , m_models(models)
    , m_preferences(preferences)
    , m_transcriber(new Transcriber(this))
{
}

TranscriptionJob::~TranscriptionJob()
{
    // Only the flag: stopping a download here would resume the awaiting callers inside
    // this destructor. The run's task ends once its worker has stopped.
    m_cancel.cancel();
}

QString TranscriptionJob::noModelMessage()
{
    return QStringLiteral("No speech model is downloaded yet. Open Murmel and download a model first.");
}

void TranscriptionJob::cancel()
{
    if (!m_running)
        return;
    m_cancel.cancel();
    if (m_startedDownload)
        m_models.cancel();
}

QCoro::Task<TranscriptionJob::Result> TranscriptionJob::run(QString path, Options options)
{
    if (m_running)
        co_return Failure{Failure::Kind::failed, describe(WhisperError::instanceBusy)};
    m_running = true;
    m_cancel = CancelFlag();
    const CancelFlag cancel = m_cancel;
    const QPointer<TranscriptionJob> self(this);
    auto working = work(std::move(path), std::move(options), cancel);
    Result result = co_await std::move(working);
    if (!self)
        co_return Cancelled{};
    m_running = false;
    m_startedDownload = false;
    if (cancel.isCancelled())
        co_return Cancelled{};
    co_return result;
}

QCoro::Task<TranscriptionJob::Result> TranscriptionJob::work(QString path, Options options, CancelFlag cancel)
{
    const QPointer<TranscriptionJob> self(this);
    double expectedSeconds = 0.0;
    if (options.envelopeBuckets > 0) {
        const auto stopped = [cancel] { return cancel.isCancelled(); };
        auto scanning = AudioFileDecoder::scan(path, options.envelopeBuckets, stopped);
        const DecodeResult decoded = co_await std::move(scanning);
        if (!self || cancel.isCancelled())
            co_return Cancelled{};
        if (const auto *error = std::get_if<AudioDecodeError>(&decoded))
            co_return Failure{Failure::Kind::failed, error->description()};
        const DecodedAudio &audio = std::get<DecodedAudio>(decoded);
        expectedSeconds = audio.duration;
        Q_EMIT scanned(audio.duration, audio.envelope);
    }

    const WhisperModel model = options.model.value_or(ModelSelection::fileTranscriptionModel(m_preferences));
    const QString language = options.language.value_or(m_preferences.stringOrDefault(PreferenceKeys::language));
    std::optional<Failure> notReady;

    // The engine's reports may outlive the job by a step; they then go nowhere.
    WindowedTranscription::Options windows;
    windows.expectedSeconds = expectedSeconds;
    windows.cancel = cancel;
    windows.onProgress = [self](double fraction) {
        if (self)
            Q_EMIT self->progressed(fraction);
    };
    windows.onSegments = [self](const QList<TranscriptSegment> &segments) {
        if (self)
            Q_EMIT self->segmentsHeard(segments);
    };
    windows.beforeHearing = [this, model, language, &notReady] { return prepare(model, language, notReady); };
    auto hearing = WindowedTranscription::run(path, *m_transcriber, windows);
    WindowedTranscription::Result heard = co_await std::move(hearing);
    if (!self || cancel.isCancelled())
        co_return Cancelled{};
    if (notReady)
        co_return *notReady;
    if (const auto *message = std::get_if<QString>(&heard))
        co_return Failure{Failure::Kind::failed, *message};
    co_return std::get<Transcript>(std::move(heard));
}

QCoro::Task<bool> TranscriptionJob::prepare(WhisperModel model, QString language, std::optional<Failure> &notReady)
{
    const QPointer<TranscriptionJob> self(this);
    // A download joined belongs to whoever started it, and may be awaited by others too.
    m_startedDownload = !m_models.downloading() && !m_models.isDownloaded(model);
    auto preparing
        = m_transcriber->prepare(m_models, model, language, ModelSelection::computeDevice(m_preferences));
    const std::optional<TranscriberError> problem = co_await std::move(preparing);
    if (!self)
        co_return false;
    m_startedDownload = false;
    if (problem) {
        const bool missing = problem->kind() == TranscriberError::modelUnavailable;
        notReady = Failure{missing ? Failure::Kind::modelNotReady : Failure::Kind::failed, problem->description()};
    }
    co_return !problem && !m_cancel.isCancelled();
}
