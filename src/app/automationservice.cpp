#include "automationservice.h"

#include "insert/clipboardsafeinsertservice.h"
#include "logging.h"

#include <QDBusConnectionInterface>
#include <QDBusMessage>

AutomationService::AutomationService(ClipboardSafeInsertService &safeInsert, QObject *parent)
    : QObject(parent)
    , m_safeInsert(safeInsert)
{}

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
        qCWarning(lcApp) << "could not take the bus name" << serviceName() << "-" << reason;
        connection.unregisterObject(objectPath());
        return false;
    }
    return true;
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
