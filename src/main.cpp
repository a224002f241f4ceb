#include "app/commandline.h"
#include "app/application.h"
#include "app/console.h"
#include "speech/modellistmodel.h"
#include "speech/modelstore.h"

#include <QApplication>
#include <QCoreApplication>
#include <QQmlApplicationEngine>
#include <QQmlContext>
#include <QQuickStyle>
#include <QtQml/qqmlextensionplugin.h>

Q_IMPORT_QML_PLUGIN(MurmelPlugin)

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

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication::setApplicationName(QStringLiteral("Murmel"));
    QCoreApplication::setOrganizationDomain(QStringLiteral("murmel.app"));
    QCoreApplication::setApplicationVersion(QStringLiteral(MURMEL_VERSION));

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

    QApplication app(argc, argv);
    QQuickStyle::setStyle(QStringLiteral("Basic"));
    ModelListModel modelList(ModelStore::shared());
    qmlRegisterSingletonInstance("Murmel", 1, 0, "ModelStore", &ModelStore::shared());
    qmlRegisterSingletonInstance("Murmel", 1, 0, "ModelList", &modelList);

    Application murmel;
    qmlRegisterSingletonInstance("Murmel", 1, 0, "Dictation", &murmel.dictation());

    QQmlApplicationEngine engine;
    QObject::connect(&engine, &QQmlApplicationEngine::objectCreationFailed, &app,
                     [] { QCoreApplication::exit(1); }, Qt::QueuedConnection);
    engine.load(QUrl(QStringLiteral("qrc:/Murmel/Main.qml")));
    murmel.start();
    return app.exec();
}
