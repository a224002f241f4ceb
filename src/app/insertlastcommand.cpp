#include "insertlastcommand.h"

#include "automationservice.h"
#include "console.h"

#include <QDBusConnectionInterface>
#include <QDBusError>
#include <QDBusMessage>

namespace {

// Typing waits up to two seconds for the user to let go of the shortcut's keys, and a long
// dictation takes a while to type; this bound only catches a Murmel that hangs.
constexpr int replyTimeoutMs = 30000;

QString notRunning()
{
    return QStringLiteral("Murmel is not running.");
}

} // namespace

namespace InsertLastCommand {

QString usage()
{
    return QStringLiteral(
        "  murmel insert-last                  type the dictation held by clipboard safe insert\n"
        "                                      into the focused window (bind it to a key)");
}

int run(const QStringList &arguments, QDBusConnection bus)
{
    if (!arguments.isEmpty()) {
        Console::err(QStringLiteral("Usage:\n") + usage());
        return 2;
    }
    if (!bus.isConnected()) {
        Console::err(QStringLiteral("Murmel cannot be reached: there is no D-Bus session bus (%1).")
                         .arg(bus.lastError().message()));
        return 1;
    }
    if (!bus.interface()->isServiceRegistered(AutomationService::serviceName())) {
        Console::err(notRunning());
        return 1;
    }

    const QDBusMessage reply =
        bus.call(QDBusMessage::createMethodCall(
                     AutomationService::serviceName(), AutomationService::objectPath(),
                     AutomationService::interfaceName(), QStringLiteral("InsertLastDictation")),
                 QDBus::Block, replyTimeoutMs);
    if (reply.type() == QDBusMessage::ReplyMessage)
        return 0;

    const QString name = reply.errorName();
    if (name.startsWith(AutomationService::interfaceName() + QStringLiteral(".Error."))) {
        Console::err(reply.errorMessage());
    } else if (name == QDBusError::errorString(QDBusError::ServiceUnknown) ||
               name == QDBusError::errorString(QDBusError::UnknownObject) ||
               name == QDBusError::errorString(QDBusError::Disconnected)) {
        // Murmel quit between the check and the call.
        Console::err(notRunning());
    } else {
        Console::err(QStringLiteral("Murmel did not answer: %1").arg(reply.errorMessage()));
    }
    return 1;
}

} // namespace InsertLastCommand
