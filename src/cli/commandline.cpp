#include "cli/commandline.h"

#include "cli/configcommand.h"
#include "cli/dictationcommand.h"
#include "cli/historycommand.h"
#include "cli/insertlastcommand.h"
#include "cli/modelscommand.h"
#include "cli/transcribecommand.h"
#include "core/base/console.h"
#include "core/base/paths.h"
#include "core/base/preferences.h"
#include "core/speech/modelselection.h"
#include "core/speech/modelstore.h"
#include "core/speech/whisper.h"
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

// What runs the speech model besides the processor. Turned off, the card's driver is not
// started even to name it: a user may have turned it off because that driver misbehaves.
QString graphicsCardLine()
{
    if (ModelSelection::computeDevice(Preferences(Paths::preferencesFile())) == ComputeDevice::processor)
        return QStringLiteral("turned off, the processor runs the speech model");
    const QString card = Whisper::graphicsCardName();
    return card.isEmpty() ? QStringLiteral("none found, the processor runs the speech model") : card;
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

// The command line's own wiring: a command opens the user's files it needs, and nothing else.
int runCommand(const QStringList &arguments)
{
    const QString command = arguments.first();
    const QStringList rest = arguments.mid(1);
    if (command == u"config") {
        Preferences preferences(Paths::preferencesFile());
        return ConfigCommand::run(rest, preferences);
    }
    if (command == u"models") {
        ModelStore models(Paths::modelsDirectory());
        return afterBackgroundWork(QCoro::waitFor(ModelsCommand::run(rest, models)));
    }
    if (command == u"transcribe") {
        Preferences preferences(Paths::preferencesFile());
        ModelStore models(Paths::modelsDirectory());
        return afterBackgroundWork(QCoro::waitFor(TranscribeCommand::run(rest, models, preferences)));
    }
    if (command == u"history") {
        Preferences preferences(Paths::preferencesFile());
        HistoryStore history(Paths::historyFile(), preferences);
        return HistoryCommand::run(rest, history);
    }
    if (command == u"insert-last")
        return InsertLastCommand::run(rest);
    if (command == u"dictation")
        return DictationCommand::run(rest);
    if (command == u"--version") {
        Console::out(QStringLiteral("murmel " MURMEL_VERSION));
        Console::out(QStringLiteral("speech engine: ") + Whisper::engineDescription());
        Console::out(QStringLiteral("graphics card: ") + graphicsCardLine());
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
