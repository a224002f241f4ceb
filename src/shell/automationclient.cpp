#include "shell/automationclient.h"

#include "core/base/console.h"
#include "shell/automationservice.h"

#include <QCoreApplication>
#include <QDBusConnectionInterface>
#include <QDBusError>
#include <QDBusMessage>

namespace AutomationClient {

namespace {

QString tr(const char *text)
{
    return QCoreApplication::translate("AutomationClient", text);
}

} // namespace

QString notRunningMessage()
{
    return tr("Murmel is not running.");
}

Outcome call(const QString &method, const QVariantList &arguments, int timeoutMs, QDBusConnection bus)
{
    if (!bus.isConnected())
        return {Outcome::Kind::notRunning,
                tr("Murmel cannot be reached: there is no D-Bus session bus (%1).")
                    .arg(bus.lastError().message()),
                {}};
    if (!bus.interface()->isServiceRegistered(AutomationService::serviceName()))
        return {Outcome::Kind::notRunning, notRunningMessage(), {}};

    QDBusMessage request = QDBusMessage::createMethodCall(AutomationService::serviceName(), AutomationService::objectPath(),
                                                          AutomationService::interfaceName(), method);
    request.setArguments(arguments);
    const QDBusMessage reply = bus.call(request, QDBus::Block, timeoutMs);
    if (reply.type() == QDBusMessage::ReplyMessage)
        return {Outcome::Kind::answered, {}, reply.arguments()};

    const QString name = reply.errorName();
    if (name.startsWith(AutomationService::interfaceName() + QStringLiteral(".Error.")))
        return {Outcome::Kind::failed, reply.errorMessage(), {}};
    if (name == QDBusError::errorString(QDBusError::ServiceUnknown)
        || name == QDBusError::errorString(QDBusError::UnknownObject)
        || name == QDBusError::errorString(QDBusError::Disconnected))
        // Murmel quit between the check and the call.
        return {Outcome::Kind::notRunning, notRunningMessage(), {}};
    return {Outcome::Kind::failed, tr("Murmel did not answer: %1").arg(reply.errorMessage()), {}};
}

int report(const Outcome &outcome)
{
    if (!outcome.message.isEmpty())
        Console::err(outcome.message);
    return outcome.kind == Outcome::Kind::answered ? 0 : 1;
}

} // namespace AutomationClient
