#include "cli/commandline.h"

#include "cli/configcommand.h"
#include "cli/dictationcommand.h"
#include "cli/historycommand.h"
#include "cli/insertlastcommand.h"
#include "cli/modelscommand.h"
#include "cli/transcribecommand.h"
#include "core/base/console.h"
#include "core/base/preferences.h"
#include "core/speech/modelstore.h"
#include "core/transcripts/historystore.h"
#include "shell/launchrequest.h"

#include <QCoroTask>
#include <QThreadPool>

namespace {

const QStringList commands = {QStringLiteral("config"), QStringLiteral("models"), QStringLiteral("transcribe"),
                              QStringLiteral("history"), QStringLiteral("insert-last"), QStringLiteral("dictation"), QStringLiteral("help"),
                              QStringLiteral("--help"), QStringLiteral("-h"), QStringLiteral("--version")};

// Lets the thread pool's last jobs (the tail of an engine run, a hash, a decode) finish
// releasing what they hold before the application object and the statics go away.
int afterBackgroundWork(int code)
{
    QThreadPool::globalInstance()->waitForDone();
    return code;
}

} // namespace

namespace CommandLine {

bool isCommand(const QStringList &arguments)
{
    return !arguments.isEmpty() && commands.contains(arguments.first());
}

QString usage()
{
    return QStringLiteral("Usage:\n") + LaunchRequest::usage() + u'\n' + DictationCommand::usage() + u'\n'
        + TranscribeCommand::usage() + u'\n' + HistoryCommand::usage() + u'\n' + ConfigCommand::usage() + u'\n' + ModelsCommand::usage() + u'\n'
        + InsertLastCommand::usage() + u'\n'
        + QStringLiteral("  murmel --version                    the version");
}

namespace {

int runCommand(const QStringList &arguments)
{
    const QString command = arguments.first();
    const QStringList rest = arguments.mid(1);
    if (command == u"config")
        return ConfigCommand::run(rest, Preferences::shared());
    if (command == u"models")
        return afterBackgroundWork(QCoro::waitFor(ModelsCommand::run(rest, ModelStore::shared())));
    if (command == u"transcribe")
        return afterBackgroundWork(
            QCoro::waitFor(TranscribeCommand::run(rest, ModelStore::shared(), Preferences::shared())));
    if (command == u"history")
        return HistoryCommand::run(rest, HistoryStore::shared());
    if (command == u"insert-last")
        return InsertLastCommand::run(rest);
    if (command == u"dictation")
        return DictationCommand::run(rest);
    if (command == u"--version") {
        Console::out(QStringLiteral("murmel " MURMEL_VERSION));
        return 0;
    }
    Console::out(usage());
    return 0;
}

} // namespace

int run(const QStringList &arguments)
{
    return Console::finish(runCommand(arguments));
}

} // namespace CommandLine
