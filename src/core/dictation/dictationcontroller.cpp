#include "core/dictation/dictationcontroller.h"

#include "core/base/logging.h"
#include "core/base/preferencekeys.h"
#include "core/base/preferences.h"
#include "core/base/settings.h"
#include "core/dictation/audiorecorder.h"
#include "core/dictation/hotkeymonitor.h"
#include "core/hud/hudcontroller.h"
#include "core/hud/sounds.h"
#include "core/insert/clickinserter.h"
#include "core/insert/clipboardsafeinsertservice.h"
#include "core/insert/textinserter.h"
#include "core/speech/modelselection.h"
#include "core/speech/modelstore.h"
#include "core/speech/transcriber.h"
#include "core/text/cleaner.h"
#include "core/text/customization.h"
#include "core/text/keychainhelper.h"
#include "core/transcripts/historystore.h"

#include <QElapsedTimer>
#include <QPointer>

namespace {

QString confirmation(TextInsertionResult result)
{
    switch (result) {
    case TextInsertionResult::inserted:
        return QStringLiteral("Inserted");
    case TextInsertionResult::copied:
        return QStringLiteral("Copied");
    case TextInsertionResult::heldForSafeInsert:
        return QStringLiteral("Ready for clipboard safe insert");
    case TextInsertionResult::notDelivered:
        return notDeliveredText();
    }
    return QStringLiteral("Inserted");
}

} // namespace

DictationController::DictationController(const Collaborators &collaborators, QObject *parent)
    : QObject(parent)
    , m_with(collaborators)
    , m_recorder(new AudioRecorder(collaborators.microphone, this))
    , m_transcriber(new Transcriber(this))
{
    // The HUD controller keeps a level only while its panel is on screen.
    connect(m_recorder, &AudioRecorder::level, &m_with.hud, &HUDController::setLevel);
    // A microphone that goes away ends the dictation as a stop would, with what was heard,
    // and says why: the display never stays on "Listening" for a recording that is over.
    connect(m_recorder, &AudioRecorder::lost, this, [this](const QString &reason) {
        if (m_status != Status::recording)
            return;
        stopAndProcess();
        setLastError(reason);
    });
    // The display's stop button ends the dictation like a second hotkey press.
    connect(&m_with.hud, &HUDController::stopRequested, this, &DictationController::stopAndProcess);
    registerHotkey();
}

DictationController::~DictationController() = default;

void DictationController::registerHotkey()
{
    // The preference is read at every key event, so switching modes needs no new callbacks.
    // The monitor may outlive the controller: a released controller makes them do nothing.
    const QPointer<DictationController> self(this);
    m_with.hotkeys.onKeyDown = [self] {
        if (!self)
            return;
        if (Settings::holdToTalk(self->m_with.preferences))
            self->startRecording();
        else
            self->toggle();
    };
    m_with.hotkeys.onKeyUp = [self] {
        if (self && Settings::holdToTalk(self->m_with.preferences))
            self->stopAndProcess();
    };
}

QString DictationController::statusLabel() const
{
    switch (m_status) {
    case Status::idle:
        return QStringLiteral("Ready");
    case Status::recording:
        return QStringLiteral("Listening");
    case Status::working:
        return QStringLiteral("Working");
    }
    return {};
}

void DictationController::toggle()
{
    switch (m_status) {
    case Status::idle:
        startRecording();
        break;
    case Status::recording:
        stopAndProcess();
        break;
    case Status::working:
        break;
    }
}

void DictationController::startRecording()
{
    if (m_status != Status::idle)
        return;
    // The download would compete with the dictation for the one model slot; the user sees
    // its progress in the model list, so no message is needed.
    if (m_with.models.downloading())
        return;
    // A new dictation makes the held one unavailable, even before its lifetime is up.
    m_with.safeInsert.clear();
    setLastError({});
    // Leaves the display alone: it is about to show this dictation.
    m_with.clickInserter.cancel(false);
    if (const std::optional<QString> error = m_recorder->start()) {
        setLastError(*error);
        setStatus(Status::idle);
        return;
    }
    setStatus(Status::recording);
    m_with.hud.show();
    m_with.sounds.play(QStringLiteral("Pop"));
}

void DictationController::stopAndProcess()
{
    if (m_status != Status::recording)
        return;
    AudioFrames samples = m_recorder->stop();
    setStatus(Status::working);
    m_with.hud.showWorking();
    m_with.sounds.play(QStringLiteral("Bottle"));
    // Runs on this thread up to its first suspension; the task frees itself when done.
    process(std::move(samples));
}

void DictationController::warmUp()
{
    prepareModel();
}

QCoro::Task<> DictationController::process(AudioFrames samples)
{
    const QPointer<DictationController> self(this);

    if (samples.isEmpty()) {
        m_with.hud.hide(0);
        finish(nullptr);
        co_return;
    }

    std::unique_ptr<ProcessActivity::Token> activity
        = m_with.activity.begin(QStringLiteral("Transcribing dictation"));

    const WhisperModel model = ModelSelection::dictationModel(m_with.preferences);
    auto preparing = m_transcriber->prepare(m_with.models, model, language(),
                                            ModelSelection::computeDevice(m_with.preferences));
    const std::optional<TranscriberError> notReady = co_await std::move(preparing);
    if (!self)
        co_return;
    if (notReady) {
        abandon(std::move(activity), notReady->description());
        co_return;
    }

    // Only the engine's own time counts: loading and waiting for the model are excluded.
    const qsizetype sampleCount = samples.size();
    QElapsedTimer clock;
    clock.start();
    const auto window = m_with.preferences.booleanOrDefault(PreferenceKeys::fasterShortDictations)
                            ? Transcriber::EncoderWindow::fitted
                            : Transcriber::EncoderWindow::full;
    auto transcribing = m_transcriber->transcribe(std::move(samples), window);
    const Transcriber::TextResult recognised = co_await std::move(transcribing);
    if (!self)
        co_return;
    if (const auto *error = std::get_if<TranscriberError>(&recognised)) {
        abandon(std::move(activity), error->description());
        co_return;
    }
    const double elapsed = double(clock.nsecsElapsed()) / 1e9;
    qCInfo(lcDictation).noquote() << QStringLiteral("transcribe %1 %2s for %3s audio")
                                         .arg(model.rawValue(), QString::asprintf("%.2f", elapsed),
                                              QString::asprintf("%.1f", double(sampleCount) / engineSampleRate));
    Q_EMIT speechRecognised(elapsed);

    // The rules are read once, so the text and its cleaned form see the same dictionary.
    const QList<VocabularyRule> rules = Settings::vocabularyRules(m_with.preferences);
    const QString corrected = Vocabulary::apply(std::get<QString>(recognised).trimmed(), rules);
    if (corrected.trimmed().isEmpty()) {
        abandon(std::move(activity), std::nullopt);
        co_return;
    }

    auto cleaning = cleanedUp(corrected, rules);
    const QString text = co_await std::move(cleaning);
    if (!self)
        co_return;

    auto inserting = m_with.inserter.insert(text, TextInsertionMethod::automatic);
    const TextInsertionResult result = co_await std::move(inserting);
    if (!self)
        co_return;

    m_with.sounds.play(QStringLiteral("Morse"));
    // Stored whatever became of the insertion: a text left on the clipboard or held for
    // the clipboard-safe insert is still the user's dictation.
    m_with.history.add(TranscriptRecord::Kind::dictation, text, text);
    qCInfo(lcDictation).noquote() << "result:" << confirmation(result);
    m_with.hud.confirm(confirmation(result));
    finish(std::move(activity));
}

QCoro::Task<QString> DictationController::cleanedUp(QString text, QList<VocabularyRule> rules)
{
    const CleanupResolution cleanup = Settings::resolvedCleanup(m_with.preferences);
    if (!cleanup.active)
        co_return text;
    // Everything the request needs is read before the first suspension, so nothing of the
    // controller is touched after it.
    const QString model = m_with.preferences.stringOrDefault(PreferenceKeys::cleanupModel);
    const QString terms = Vocabulary::preferredTerms(rules);

    auto reading = m_with.keychain.read(KeychainHelper::apiKeyAccount());
    const std::optional<QString> key = co_await std::move(reading);
    if (!key || key->isEmpty())
        co_return text;

    const Cleaner cleaner(*key, model);
    auto cleaning = cleaner.clean(text, cleanup.systemPrompt, terms);
    const Cleaner::Result result = co_await std::move(cleaning);
    // A failed cleanup never costs the user the dictation: the uncleaned text goes in, and
    // nothing is shown. The reason is for whoever turns debug output on.
    if (const auto *error = std::get_if<CleanerError>(&result)) {
        qCDebug(lcDictation) << "cleanup failed; inserting the uncleaned text:" << error->description();
        co_return text;
    }
    const QString &cleaned = std::get<QString>(result);
    if (cleaned.trimmed().isEmpty())
        co_return text;
    // The model may have respelled a word the dictionary corrects.
    co_return Vocabulary::apply(cleaned, rules);
}

QCoro::Task<> DictationController::prepareModel()
{
    const QPointer<DictationController> self(this);
    const WhisperModel model = ModelSelection::dictationModel(m_with.preferences);
    auto preparing = m_transcriber->prepare(m_with.models, model, language(),
                                            ModelSelection::computeDevice(m_with.preferences));
    const std::optional<TranscriberError> error = co_await std::move(preparing);
    if (!self)
        co_return;
    if (error)
        qCDebug(lcDictation) << "warm-up could not load the dictation model:" << error->description();
    Q_EMIT warmUpFinished(!error);
}

void DictationController::abandon(std::unique_ptr<ProcessActivity::Token> activity,
                                  const std::optional<QString> &error)
{
    if (error)
        setLastError(*error);
    m_with.hud.hide(0);
    finish(std::move(activity));
}

void DictationController::finish(std::unique_ptr<ProcessActivity::Token> activity)
{
    activity.reset();
    setStatus(Status::idle);
    Q_EMIT dictationFinished();
}

QString DictationController::language() const
{
    return m_with.preferences.stringOrDefault(PreferenceKeys::language);
}

void DictationController::setStatus(Status status)
{
    if (m_status == status)
        return;
    m_status = status;
    Q_EMIT statusChanged();
}

void DictationController::setLastError(const QString &error)
{
    if (m_lastError == error)
        return;
    m_lastError = error;
    Q_EMIT lastErrorChanged();
}
