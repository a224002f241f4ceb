#include "app/application.h"
#include "cli/commandline.h"
#include "core/base/console.h"
#include "core/base/datafoldermigration.h"
#include "core/base/paths.h"
#include "core/base/utf8locale.h"
#include "core/speech/transcriber.h"
#include "shell/launchrequest.h"

#include <QApplication>
#include <QCoreApplication>
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDir>
#include <QQmlApplicationEngine>
#include <QQuickStyle>
#include <QQuickWindow>
#include <QtQml/qqmlextensionplugin.h>

Q_IMPORT_QML_PLUGIN(MurmelPlugin)
Q_IMPORT_QML_PLUGIN(Murmel_ShellPlugin)

namespace {

QStringList argumentsOf(int argc, char **argv)
{
    QStringList arguments;
    for (int i = 1; i < argc; ++i)
        arguments << QString::fromLocal8Bit(argv[i]);
    return arguments;
}

bool hasDisplay()
{
    return !qEnvironmentVariableIsEmpty("DISPLAY") || !qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY");
}

bool anotherMurmelRuns()
{
    const QDBusConnection bus = QDBusConnection::sessionBus();
    return bus.isConnected() && bus.interface()->isServiceRegistered(AutomationService::serviceName());
}

} // namespace

int main(int argc, char **argv)
{
    ensureUtf8CharacterType();
    QCoreApplication::setApplicationName(QStringLiteral("Murmel"));
    QCoreApplication::setOrganizationDomain(QStringLiteral("murmel.app"));
    QCoreApplication::setApplicationVersion(QStringLiteral(MURMEL_VERSION));
    QGuiApplication::setDesktopFileName(QStringLiteral("app.murmel.Murmel"));

    const QStringList arguments = argumentsOf(argc, argv);
    if (CommandLine::isCommand(arguments)) {
        QCoreApplication app(argc, argv);
        return CommandLine::run(arguments);
    }
    if (!hasDisplay() && qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) {
        Console::err(QStringLiteral("Murmel needs a graphical session, and none was found (DISPLAY and "
                                    "WAYLAND_DISPLAY are unset). The command line works without one.\n"));
        Console::err(CommandLine::usage());
        return 1;
    }

    // In a Wayland session Murmel's windows live on XWayland, where the dictation display can
    // stay out of the focus and sit where it belongs; a platform the user chose is kept. The
    // choice is Murmel's alone: programs it starts get the session as it was.
    // Qt takes the launcher's activation token out of the environment for its first window;
    // a second launch has none and hands the token to the running Murmel instead.
    const QString activationToken = LaunchRequest::activationTokenOf(QProcessEnvironment::systemEnvironment());
    const bool onXWayland = qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM") &&
                            !qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY") && !qEnvironmentVariableIsEmpty("DISPLAY");
    if (onXWayland)
        qputenv("QT_QPA_PLATFORM", "xcb");
    QApplication app(argc, argv);
    if (onXWayland)
        qunsetenv("QT_QPA_PLATFORM");
    // Closing the window leaves Murmel running: the hotkey and the tray keep working.
    QApplication::setQuitOnLastWindowClosed(false);

    // Qt has taken its own options (-platform, -style, …) out of the arguments by now.
    const auto parsed = LaunchRequest::parse(QCoreApplication::arguments().mid(1), QDir::currentPath());
    if (const auto *problem = std::get_if<QString>(&parsed)) {
        Console::err(*problem);
        Console::err(CommandLine::usage());
        return 2;
    }
    LaunchRequest request = std::get<LaunchRequest>(parsed);
    request.activationToken = activationToken;
    if (anotherMurmelRuns())
        return request.handOver();

    Transcriber::reserveCoreForUI = true;
    DataFolderMigration::run(Paths::dataHome());

    QQuickStyle::setStyle(QStringLiteral("Basic"));
    Application murmel;
    // Two launches at the same moment both found no Murmel; only one gets the name.
    if (!murmel.claimInstance())
        return request.handOver();

    QQmlApplicationEngine engine;
    // The modules sit at qrc:/Murmel/ on every Qt (Qt 6.5 would put them under /qt/qml), so
    // Murmel.Shell's windows find the screens of Murmel there.
    engine.addImportPath(QStringLiteral("qrc:/"));
    QObject::connect(&engine, &QQmlApplicationEngine::objectCreationFailed, &app,
                     [] { QCoreApplication::exit(1); }, Qt::QueuedConnection);
    engine.load(QUrl(QStringLiteral("qrc:/Murmel/Shell/Main.qml")));
    if (!engine.rootObjects().isEmpty())
        murmel.setMainWindow(qobject_cast<QQuickWindow *>(engine.rootObjects().first()));
    murmel.start();
    request.perform(murmel.commands());
    return app.exec();
}
