#pragma once

#include <QDBusConnection>
#include <QString>
#include <QVariantList>

// Calls a method of the running Murmel's automation interface, for the `murmel` commands
// and for a second launch handing its request to the first.
//
// Blocking: meant for short-lived command processes, never for the running application.
namespace AutomationClient {

struct Outcome
{
    enum class Kind {
        answered,   // the method returned; `values` holds what it returned
        notRunning, // nobody owns Murmel's bus name (or it quit during the call)
        failed,     // Murmel refused; `message` is its text for the user
    };
    Kind kind = Kind::failed;
    QString message;
    QVariantList values;
};

// What a command prints when there is no Murmel to ask.
QString notRunningMessage();

Outcome call(const QString &method, const QVariantList &arguments = {}, int timeoutMs = 30000,
             QDBusConnection bus = QDBusConnection::sessionBus());

// Prints the outcome's message (if any) on standard error and gives the exit code of a
// command: 0 answered, 1 otherwise.
int report(const Outcome &outcome);

} // namespace AutomationClient
