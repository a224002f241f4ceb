#include "shell/automationservice.h"

#include "core/base/logging.h"
#include "core/dictation/dictationcontroller.h"
#include "core/insert/clipboardsafeinsertservice.h"
#include "core/transcripts/transcriptformats.h"
#include "core/transcripts/transcriptionjob.h"
#include "shell/murcommands.h"

#include <QCoroSignal>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QPointer>
#include <QVariantMap>

namespace {

QString notAFileMessage(const QString &path)
{
    return AutomationService::tr("Give the file as an absolute path or a file URL: %1").arg(path);
}

} // namespace

AutomationService::AutomationService(const Collaborators &collaborators, QObject *parent)
    : QObject(parent)
    , m_safeInsert(collaborators.safeInsert)
    , m_dictation(collaborators.dictation)
    , m_commands(collaborators.commands)
    , m_models(collaborators.models)
    , m_preferences(collaborators.preferences)
    , m_announcedStatus(status())
{
    connect(&m_dictation, &DictationController::statusChanged, this, &AutomationService::announceStatus);
}

AutomationService::~AutomationService() = default;

bool AutomationService::registerOn(QDBusConnection connection)
{
    if (!connection.isConnected()) {
        qCWarning(lcApp) << "no session bus: Murmel cannot be reached by automation";
        return false;
    }
    if (!connection.registerObject(objectPath(), this,
                                   QDBusConnection::ExportScriptableSlots |
                                       QDBusConnection::ExportScriptableSignals |
                                       QDBusConnection::ExportScriptableProperties)) {
        qCWarning(lcApp) << "could not export" << objectPath()
                         << "on the session bus:" << connection.lastError().message();
        return false;
    }
    if (!connection.registerService(serviceName())) {
        const QString reason = connection.lastError().isValid()
                                   ? connection.lastError().message()
                                   : QStringLiteral("another program owns it");
        qCInfo(lcApp) << "could not take the bus name" << serviceName() << "-" << reason;
        connection.unregisterObject(objectPath());
        return false;
    }
    m_connection = connection;
    return true;
}

void AutomationService::release()
{
    if (!m_connection.isConnected())
        return;
    if (!m_connection.unregisterService(serviceName()))
        qCWarning(lcApp) << "could not give the bus name back:" << m_connection.lastError().message();
    m_connection.unregisterObject(objectPath());
    m_connection = QDBusConnection(QString());
}

QString AutomationService::status() const
{
    switch (m_dictation.status()) {
    case DictationController::Status::idle:
        return QStringLiteral("idle");
    case DictationController::Status::recording:
        return QStringLiteral("recording");
    case DictationController::Status::working:
        return QStringLiteral("working");
    }
    return {};
}

void AutomationService::announceStatus()
{
    const QString current = status();
    if (current == m_announcedStatus)
        return;
    m_announcedStatus = current;
    Q_EMIT StatusChanged(current);
    // QtDBus does not send the standard change signal by itself; property watchers
    // (busctl, gdbus monitor, desktop widgets) listen for this one.
    if (m_connection.isConnected()) {
        QDBusMessage changed = QDBusMessage::createSignal(objectPath(), QStringLiteral("org.freedesktop.DBus.Properties"),
                                                          QStringLiteral("PropertiesChanged"));
        changed << interfaceName() << QVariantMap{{QStringLiteral("Status"), current}} << QStringList{};
        m_connection.send(changed);
    }
}

void AutomationService::StartDictation()
{
    m_dictation.startRecording();
}

void AutomationService::StopDictation()
{
    m_dictation.stopAndProcess();
}

void AutomationService::ToggleDictation()
{
    m_commands.toggleDictation()->trigger();
}

QString AutomationService::TranscribeFile(const QString &path)
{
    const std::optional<QUrl> url = MurCommands::localFileUrl(path);
    if (!url) {
        sendErrorReply(notAFileError(), notAFileMessage(path));
        return {};
    }
    setDelayedReply(true);
    answerTranscribeFile(connection(), message(), url->toLocalFile());
    return {};
}

QCoro::Task<void> AutomationService::answerTranscribeFile(QDBusConnection connection, QDBusMessage request,
                                                          QString path)
{
    QPointer<AutomationService> self(this);
    ++m_scriptCalls;
    while (m_scriptTurnTaken) {
        co_await qCoro(this, &AutomationService::scriptTurnFreed);
        if (!self)
            co_return;
    }
    m_scriptTurnTaken = true;
    if (!m_scriptJob)
        m_scriptJob = std::make_unique<TranscriptionJob>(m_models, m_preferences);
    auto performing = m_scriptJob->run(path, {});
    const TranscriptionJob::Result result = co_await std::move(performing);
    if (!self)
        co_return;
    m_scriptTurnTaken = false;
    if (--m_scriptCalls == 0)
        m_scriptJob.reset();
    Q_EMIT scriptTurnFreed();
    if (const auto *transcript = std::get_if<TranscriptionJob::Transcript>(&result)) {
        connection.send(request.createReply(TranscriptFormats::fullText(transcript->segments)));
        co_return;
    }
    const auto *failure = std::get_if<TranscriptionJob::Failure>(&result);
    if (failure && failure->kind == TranscriptionJob::Failure::Kind::modelNotReady) {
        connection.send(request.createErrorReply(modelNotReadyError(), TranscriptionJob::noModelMessage()));
        co_return;
    }
    // Only a quitting Murmel cancels a script's file.
    const QString message = failure ? failure->message : describe(WhisperError::cancelled);
    connection.send(request.createErrorReply(transcriptionFailedError(), message));
}

void AutomationService::InsertLastDictation()
{
    setDelayedReply(true);
    answerInsertLastDictation(connection(), message());
}

QCoro::Task<void> AutomationService::answerInsertLastDictation(QDBusConnection connection,
                                                               QDBusMessage request)
{
    auto inserting = m_safeInsert.insertLastDictation();
    const std::optional<ClipboardSafeInsertService::Error> error = co_await std::move(inserting);
    if (!error) {
        connection.send(request.createReply());
        co_return;
    }
    const QString name = *error == ClipboardSafeInsertService::Error::notReady ? notReadyError()
                                                                               : notReturnedError();
    connection.send(
        request.createErrorReply(name, ClipboardSafeInsertService::description(*error)));
}

void AutomationService::Open(const QStringList &paths)
{
    if (!paths.isEmpty() && !m_commands.openFiles(paths))
        sendErrorReply(notAFileError(), notAFileMessage(paths.first()));
}

void AutomationService::Activate()
{
    m_commands.showMainWindow();
}

void AutomationService::SetActivationToken(const QString &token)
{
    m_commands.setActivationToken(token);
}

void AutomationService::ShowFileScreen()
{
    m_commands.transcribeFile()->trigger();
}
