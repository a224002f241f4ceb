#include "core/insert/clipboardsafeinsertservice.h"
#include "dictationrig.h"
#include "fakes/fakekeyboardinjector.h"
#include "fakes/fakemainwindowhost.h"
#include "fakes/fakeurlopener.h"
#include "gui/viewmodels/nav.h"
#include "murmelprocess.h"
#include "secretservicesession.h"
#include "shell/automationservice.h"
#include "shell/fileopenrouter.h"
#include "shell/murcommands.h"
#include "shell/updatechecker.h"

#include <memory>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusPendingCall>
#include <QTemporaryDir>
#include <QTest>

namespace {

// The Murmel side of the call, on its own connection to the test's session bus, as the
// running application would register it: the clipboard-safe service under test, the rest
// of the application over fakes.
struct RunningMurmel final
{
    RunningMurmel(const QString &busAddress, KeyboardInjector &injector)
        : safeInsert(injector)
    {
        registered = automation.registerOn(QDBusConnection::connectToBus(busAddress, QStringLiteral("running-murmel")));
    }
    ~RunningMurmel() { QDBusConnection::disconnectFromBus(QStringLiteral("running-murmel")); }

    QTemporaryDir folder;
    Preferences preferences{folder.filePath(QStringLiteral("preferences.json"))};
    DictationRig rig{preferences, folder.filePath(QStringLiteral("history.json")), folder.filePath(QStringLiteral("Models"))};
    Nav nav{nullptr};
    FileOpenRouter router;
    FakeMainWindowHost window;
    FakeUrlOpener urls;
    UpdateChecker updates{QUrl(QStringLiteral("http://127.0.0.1:9/latest.json")), QStringLiteral("0.1.0")};
    MurCommands commands{{*rig.controller, nav, router, window, urls, updates}};
    ClipboardSafeInsertService safeInsert;
    AutomationService automation{{safeInsert, *rig.controller, commands, rig.models, preferences}};
    bool registered = false;
};

} // namespace

// `murmel insert-last` against a Murmel on a private session bus: the clipboard-safe service
// under test, the rest of the application over fakes. Typing into a real window, with the
// user's clipboard left alone, is the dictation test's.
class TestInsertLast final : public QObject
{
    Q_OBJECT

    SecretServiceSession m_bus{SecretServiceSession::Keyring::none};

    MurmelProcess::Result insertLast(const QString &bus = {}) const
    {
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert(m_bus.environment());
        if (!bus.isEmpty())
            environment.insert(QStringLiteral("DBUS_SESSION_BUS_ADDRESS"), bus);
        return MurmelProcess::murmel({QStringLiteral("insert-last")}, environment);
    }

private Q_SLOTS:
    void initTestCase() { QVERIFY2(m_bus.start(), qPrintable(m_bus.error())); }

    // What a script learns, on the bus and from the command, and what stays held.
    void answers_data()
    {
        QTest::addColumn<QString>("held");
        QTest::addColumn<bool>("typingWorks");
        QTest::addColumn<QString>("errorName");
        QTest::addColumn<QString>("message");
        QTest::newRow("typed") << QStringLiteral("Grüße aus Köln ✓\nMarta") << true << QString() << QString();
        QTest::newRow("nothing held") << QString() << true << QStringLiteral("app.murmel.Murmel.Error.NotReady")
                                      << QStringLiteral("No Murmel dictation is ready yet.");
        QTest::newRow("typing fails") << QStringLiteral("kept for later") << false << QString()
                                      << QStringLiteral("Murmel could not return the latest dictation.");
    }

    void answers()
    {
        QFETCH(QString, held);
        QFETCH(bool, typingWorks);
        QFETCH(QString, errorName);
        QFETCH(QString, message);
        FakeKeyboardInjector injector;
        injector.typing = [typingWorks](const QString &) { return typingWorks; };
        RunningMurmel murmel(m_bus.busAddress(), injector);
        QVERIFY(murmel.registered);
        if (!held.isEmpty())
            murmel.safeInsert.hold(held);

        if (!errorName.isEmpty()) {
            // The service answers in this thread, so the reply is awaited with the event loop turning.
            QDBusConnection client = QDBusConnection::connectToBus(m_bus.busAddress(), QStringLiteral("script"));
            const auto disconnect = qScopeGuard([] { QDBusConnection::disconnectFromBus(QStringLiteral("script")); });
            QDBusPendingCall call = client.asyncCall(QDBusMessage::createMethodCall(
                AutomationService::serviceName(), AutomationService::objectPath(), AutomationService::interfaceName(),
                QStringLiteral("InsertLastDictation")));
            QTRY_VERIFY_WITH_TIMEOUT(call.isFinished(), 10000);
            QCOMPARE(call.error().name(), errorName);
            QCOMPARE(call.error().message(), message);
        }
        const MurmelProcess::Result result = insertLast();
        QCOMPARE(result.lastErrLine(), message);
        QCOMPARE(result.exitCode, message.isEmpty() ? 0 : 1);
        QCOMPARE(injector.typed, typingWorks && !held.isEmpty() ? QStringList{held} : QStringList());
        // A failed return keeps the dictation for another try; a typed one is gone.
        QCOMPARE(murmel.safeInsert.pending().has_value(), !typingWorks);
        if (typingWorks && !held.isEmpty())
            QCOMPARE(insertLast().exitCode, 1);
    }

    void withoutMurmel_data()
    {
        QTest::addColumn<QString>("bus");
        QTest::addColumn<QString>("message");
        QTest::newRow("not running") << QString() << QStringLiteral("Murmel is not running.");
        QTest::newRow("no session bus") << QStringLiteral("unix:path=/nonexistent/bus")
                                        << QStringLiteral("Murmel cannot be reached: there is no D-Bus session bus");
    }

    void withoutMurmel()
    {
        QFETCH(QString, bus);
        QFETCH(QString, message);
        const MurmelProcess::Result result = insertLast(bus);
        QVERIFY2(result.lastErrLine().startsWith(message), qPrintable(result.err));
        QCOMPARE(result.exitCode, 1);
    }
};

QTEST_GUILESS_MAIN(TestInsertLast)
#include "tst_insertlast.moc"
