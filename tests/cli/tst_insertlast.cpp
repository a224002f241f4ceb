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
#include <QDBusPendingCallWatcher>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

namespace {

// A call to a service in this same thread, which can only answer while the event loop turns.
QDBusMessage callWithEventLoop(const QDBusConnection &connection, const QDBusMessage &message)
{
    QDBusPendingCallWatcher watcher(connection.asyncCall(message));
    QSignalSpy finished(&watcher, &QDBusPendingCallWatcher::finished);
    if (!watcher.isFinished())
        finished.wait(10000);
    return watcher.reply();
}

// The Murmel side of the call, on its own connection to the test's session bus, as the
// running application would register it: the clipboard-safe service under test, the rest
// of the application over fakes.
class RunningMurmel final
{
public:
    RunningMurmel(
        const QString &busAddress, KeyboardInjector &injector,
        ClipboardSafeInsertService::Clock clock = ClipboardSafeInsertService::systemClock())
        : m_connectionName(QStringLiteral("running-murmel"))
        , preferences(folder.filePath(QStringLiteral("preferences.json")))
        , rig(preferences, folder.filePath(QStringLiteral("history.json")), folder.filePath(QStringLiteral("Models")))
        , commands({*rig.controller, nav, router, window, urls, updates})
        , safeInsert(injector, std::move(clock))
        , automation({safeInsert, *rig.controller, commands, rig.models, preferences})
    {
        QDBusConnection connection = QDBusConnection::connectToBus(busAddress, m_connectionName);
        registered = automation.registerOn(connection);
    }
    ~RunningMurmel() { QDBusConnection::disconnectFromBus(m_connectionName); }

    RunningMurmel(const RunningMurmel &) = delete;
    RunningMurmel &operator=(const RunningMurmel &) = delete;

    QDBusConnection connection() const { return QDBusConnection(m_connectionName); }

private:
    QString m_connectionName;

    QTemporaryDir folder;
    Preferences preferences;
    DictationRig rig;
    Nav nav{nullptr};
    FileOpenRouter router;
    FakeMainWindowHost window;
    FakeUrlOpener urls;
    UpdateChecker updates{QUrl(QStringLiteral("http://127.0.0.1:9/latest.json")), QStringLiteral("0.1.0")};
    MurCommands commands;

public:
    ClipboardSafeInsertService safeInsert;
    AutomationService automation;
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

    MurmelProcess::Result insertLast(const QStringList &extra = {}) const
    {
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert(m_bus.environment());
        return MurmelProcess::murmel(QStringList{QStringLiteral("insert-last")} + extra, environment);
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
            QDBusConnection client = QDBusConnection::connectToBus(m_bus.busAddress(), QStringLiteral("script"));
            const auto disconnect = qScopeGuard([] { QDBusConnection::disconnectFromBus(QStringLiteral("script")); });
            const QDBusMessage reply = callWithEventLoop(
                client, QDBusMessage::createMethodCall(AutomationService::serviceName(), AutomationService::objectPath(),
                                                       AutomationService::interfaceName(),
                                                       QStringLiteral("InsertLastDictation")));
            QCOMPARE(reply.errorName(), errorName);
            QCOMPARE(reply.errorMessage(), message);
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
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<QString>("bus");
        QTest::addColumn<int>("exitCode");
        QTest::addColumn<QString>("message");
        QTest::newRow("not running") << QStringList() << QString() << 1 << QStringLiteral("Murmel is not running.");
        QTest::newRow("no session bus") << QStringList() << QStringLiteral("unix:path=/nonexistent/bus") << 1
                                        << QStringLiteral("Murmel cannot be reached: there is no D-Bus session bus");
        QTest::newRow("usage") << QStringList{QStringLiteral("now")} << QString() << 2 << QStringLiteral("murmel insert-last");
    }

    void withoutMurmel()
    {
        QFETCH(QStringList, arguments);
        QFETCH(QString, bus);
        QFETCH(int, exitCode);
        QFETCH(QString, message);
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert(m_bus.environment());
        if (!bus.isEmpty())
            environment.insert(QStringLiteral("DBUS_SESSION_BUS_ADDRESS"), bus);
        const MurmelProcess::Result result =
            MurmelProcess::murmel(QStringList{QStringLiteral("insert-last")} + arguments, environment);
        QVERIFY2(result.err.contains(message), qPrintable(result.err));
        QCOMPARE(result.exitCode, exitCode);
    }
};

QTEST_GUILESS_MAIN(TestInsertLast)
#include "tst_insertlast.moc"
