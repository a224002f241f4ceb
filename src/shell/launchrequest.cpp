#include "shell/launchrequest.h"

#include "shell/automationclient.h"
#include "shell/murcommands.h"

#include <QCoreApplication>
#include <QDir>
#include <QUrl>

namespace {

QString tr(const char *text)
{
    return QCoreApplication::translate("LaunchRequest", text);
}

} // namespace

std::variant<LaunchRequest, QString> LaunchRequest::parse(const QStringList &arguments, const QString &workingDirectory)
{
    LaunchRequest request;
    bool optionsEnded = false;
    for (const QString &argument : arguments) {
        if (!optionsEnded && argument == u"--") {
            optionsEnded = true;
        } else if (!optionsEnded && argument == u"--start-dictation") {
            request.startDictation = true;
        } else if (!optionsEnded && argument == u"--transcribe-file") {
            request.fileScreen = true;
        } else if (!optionsEnded && argument.startsWith(u'-')) {
            return tr("Unknown option %1.").arg(argument);
        } else if (argument.contains(QStringLiteral("://")) && !argument.startsWith(QStringLiteral("file:"))) {
            return tr("Murmel opens files on this computer only, not %1.").arg(argument);
        } else if (argument.startsWith(QStringLiteral("file:"))) {
            const std::optional<QUrl> url = MurCommands::localFileUrl(argument);
            if (!url)
                return tr("%1 does not name a file.").arg(argument);
            request.files << url->toLocalFile();
        } else {
            request.files << QDir::cleanPath(QDir(workingDirectory).absoluteFilePath(argument));
        }
    }
    return request;
}

QString LaunchRequest::usage()
{
    return tr("  murmel [FILE]                       open Murmel; a file goes to the file screen\n"
              "  murmel --start-dictation            open Murmel and start dictating\n"
              "  murmel --transcribe-file            open Murmel on the file screen");
}

QString LaunchRequest::activationTokenOf(const QProcessEnvironment &environment)
{
    const QString wayland = environment.value(QStringLiteral("XDG_ACTIVATION_TOKEN"));
    return wayland.isEmpty() ? environment.value(QStringLiteral("DESKTOP_STARTUP_ID")) : wayland;
}

void LaunchRequest::perform(MurCommands &commands) const
{
    if (!files.isEmpty())
        commands.openFiles(files);
    else if (fileScreen)
        commands.transcribeFile()->trigger();
    if (startDictation)
        commands.startDictation();
}

int LaunchRequest::handOver(QDBusConnection bus) const
{
    QList<std::pair<QString, QVariantList>> calls;
    if (!files.isEmpty())
        calls.append({QStringLiteral("Open"), {files}});
    else if (fileScreen)
        calls.append({QStringLiteral("ShowFileScreen"), {}});
    if (startDictation)
        calls.append({QStringLiteral("StartDictation"), {}});
    if (calls.isEmpty())
        calls.append({QStringLiteral("Activate"), {}});
    // The window that comes forward is the running Murmel's, so the launcher's leave to take
    // the focus goes there first. A Murmel too old to take it still does the rest.
    if (!activationToken.isEmpty() && (calls.constFirst().first != u"StartDictation"))
        AutomationClient::call(QStringLiteral("SetActivationToken"), {activationToken}, 10000, bus);
    for (const auto &[method, arguments] : std::as_const(calls)) {
        const AutomationClient::Outcome outcome = AutomationClient::call(method, arguments, 10000, bus);
        if (outcome.kind != AutomationClient::Outcome::Kind::answered)
            return AutomationClient::report(outcome);
    }
    return 0;
}
