#include "cli/dictationcommand.h"

#include "core/base/console.h"
#include "shell/automationclient.h"

#include <QHash>

namespace DictationCommand {

QString usage()
{
    return QStringLiteral(
        "  murmel dictation start|stop|toggle  start or stop dictating in the running Murmel\n"
        "                                      (bind toggle to a key in the desktop's settings)");
}

int run(const QStringList &arguments, QDBusConnection bus)
{
    static const QHash<QString, QString> methods = {{QStringLiteral("start"), QStringLiteral("StartDictation")},
                                                    {QStringLiteral("stop"), QStringLiteral("StopDictation")},
                                                    {QStringLiteral("toggle"), QStringLiteral("ToggleDictation")}};
    if (arguments.size() != 1 || !methods.contains(arguments.first())) {
        Console::err(QStringLiteral("Usage:\n") + usage());
        return 2;
    }
    return AutomationClient::report(AutomationClient::call(methods.value(arguments.first()), {}, 10000, bus));
}

} // namespace DictationCommand
