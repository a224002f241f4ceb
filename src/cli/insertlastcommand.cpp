#include "cli/insertlastcommand.h"

#include "core/base/console.h"
#include "shell/automationclient.h"

namespace {

// Typing waits up to two seconds for the user to let go of the shortcut's keys, and a long
// dictation takes a while to type; this bound only catches a Murmel that hangs.
constexpr int replyTimeoutMs = 30000;

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
    return AutomationClient::report(
        AutomationClient::call(QStringLiteral("InsertLastDictation"), {}, replyTimeoutMs, bus));
}

} // namespace InsertLastCommand
