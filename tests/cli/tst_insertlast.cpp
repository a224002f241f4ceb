#include "childprocess.h"
#include "core/insert/clipboardsafeinsertservice.h"
#include "desktopsession.h"
#include "dictationrig.h"
#include "fakes/fakekeyboardinjector.h"
#include "fakes/fakemainwindowhost.h"
#include "fakes/fakeurlopener.h"
#include "gui/viewmodels/nav.h"
#include "murmelprocess.h"
#include "platform/session/qtclipboard.h"
#include "platform/x11/x11keyboardinjector.h"
#include "secretservicesession.h"
#include "shell/automationservice.h"
#include "shell/fileopenrouter.h"
#include "shell/murcommands.h"
#include "shell/updatechecker.h"
#include "textwindowprocess.h"

#include <memory>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QFile>
#include <QGuiApplication>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

namespace {

const QString notReady = QStringLiteral("No Murmel dictation is ready yet.");

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
    Nav nav;
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

class TestInsertLast final : public QObject
{
    Q_OBJECT

public:
    explicit TestInsertLast(const DesktopSession &desktop)
        : m_desktop(desktop)
    {}

private:
    const DesktopSession &m_desktop;
    SecretServiceSession m_bus{SecretServiceSession::Keyring::none};
    std::unique_ptr<X11KeyboardInjector> m_injector;
    QtClipboard m_clipboard;

    MurmelProcess::Result insertLast(const QStringList &extra = {}) const
    {
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert(m_bus.environment());
        return MurmelProcess::murmel(QStringList{QStringLiteral("insert-last")} + extra,
                                     environment);
    }

    // Reads the clipboard as another application would; this process owns it, so the
    // event loop turns while xclip waits for the answer.
    QString clipboardAsOthersSeeIt() const
    {
        QProcess xclip;
        xclip.setProcessEnvironment(m_desktop.environment());
        ChildProcess::dieWithParent(xclip);
        xclip.start(QStringLiteral("xclip"), {QStringLiteral("-o"), QStringLiteral("-selection"),
                                              QStringLiteral("clipboard")});
        const MurmelProcess::Result result = MurmelProcess::finish(xclip, 10000);
        return result.exitCode == 0 ? result.out : QStringLiteral("<xclip failed>");
    }

private Q_SLOTS:
    void initTestCase()
    {
        QVERIFY2(QFile::exists(MurmelProcess::binary()), "MURMEL_BINARY names no program");
        QVERIFY2(m_bus.start(), qPrintable(m_bus.error()));
        m_injector = std::make_unique<X11KeyboardInjector>();
        QVERIFY(m_injector->isTrusted());
    }

    void cleanupTestCase() { m_injector.reset(); }

    void heldDictationIsTypedOnce()
    {
        TextWindowProcess window(m_desktop.environment());
        QVERIFY(window.start({QStringLiteral("--title"), QStringLiteral("Mail")}));
        m_clipboard.setText(QStringLiteral("the user's own clipboard"));
        QCOMPARE(clipboardAsOthersSeeIt(), QStringLiteral("the user's own clipboard"));

        RunningMurmel murmel(m_bus.busAddress(), *m_injector);
        QVERIFY(murmel.registered);
        const QString dictation = QStringLiteral("Grüße aus Köln — see you at 10:30 ✓\nMarta");
        murmel.safeInsert.hold(dictation);

        const MurmelProcess::Result first = insertLast();
        QCOMPARE(first.err, QString());
        QCOMPARE(first.out, QString());
        QCOMPARE(first.exitCode, 0);
        QVERIFY2(window.waitForText(dictation), qPrintable(window.text()));
        QCOMPARE(clipboardAsOthersSeeIt(), QStringLiteral("the user's own clipboard"));

        const MurmelProcess::Result second = insertLast();
        QCOMPARE(second.lastErrLine(), notReady);
        QCOMPARE(second.exitCode, 1);
        QCOMPARE(window.text(), dictation);
    }

    void expiredDictationIsNotTyped()
    {
        QDateTime now = QDateTime::currentDateTimeUtc();
        FakeKeyboardInjector injector;
        RunningMurmel murmel(m_bus.busAddress(), injector, [&now] { return now; });
        QVERIFY(murmel.registered);
        murmel.safeInsert.hold(QStringLiteral("too late"));
        now = now.addSecs(121);

        const MurmelProcess::Result result = insertLast();
        QCOMPARE(result.lastErrLine(), notReady);
        QCOMPARE(result.exitCode, 1);
        QVERIFY(injector.typeCalls.isEmpty());
    }

    void typingFailureIsReportedAndKept()
    {
        FakeKeyboardInjector injector;
        injector.typing = [](const QString &) { return false; };
        RunningMurmel murmel(m_bus.busAddress(), injector);
        QVERIFY(murmel.registered);
        murmel.safeInsert.hold(QStringLiteral("kept for later"));

        const MurmelProcess::Result result = insertLast();
        QCOMPARE(result.lastErrLine(), QStringLiteral("Murmel could not return the latest dictation."));
        QCOMPARE(result.exitCode, 1);
        QVERIFY(murmel.safeInsert.pending());
        QCOMPARE(murmel.safeInsert.pending()->text, QStringLiteral("kept for later"));
    }

    void errorsAreNamedOnTheBus()
    {
        FakeKeyboardInjector injector;
        RunningMurmel murmel(m_bus.busAddress(), injector);
        QVERIFY(murmel.registered);
        QDBusConnection client =
            QDBusConnection::connectToBus(m_bus.busAddress(), QStringLiteral("script"));
        const auto disconnect =
            qScopeGuard([] { QDBusConnection::disconnectFromBus(QStringLiteral("script")); });

        // Asynchronous calls with the event loop turning: the service answers from this thread.
        const QDBusMessage introspection = callWithEventLoop(
            client, QDBusMessage::createMethodCall(
                        AutomationService::serviceName(), AutomationService::objectPath(),
                        QStringLiteral("org.freedesktop.DBus.Introspectable"),
                        QStringLiteral("Introspect")));
        const QString xml = introspection.arguments().value(0).toString();
        QVERIFY2(xml.contains(QStringLiteral("<interface name=\"app.murmel.Murmel\">")),
                 qPrintable(xml));
        QVERIFY2(xml.contains(QStringLiteral("<method name=\"InsertLastDictation\"")),
                 qPrintable(xml));

        auto call = [&] {
            return callWithEventLoop(
                client, QDBusMessage::createMethodCall(AutomationService::serviceName(),
                                                       AutomationService::objectPath(),
                                                       AutomationService::interfaceName(),
                                                       QStringLiteral("InsertLastDictation")));
        };
        const QDBusMessage empty = call();
        QCOMPARE(empty.type(), QDBusMessage::ErrorMessage);
        QCOMPARE(empty.errorName(), QStringLiteral("app.murmel.Murmel.Error.NotReady"));
        QCOMPARE(empty.errorMessage(), QStringLiteral("No Murmel dictation is ready yet."));

        murmel.safeInsert.hold(QStringLiteral("by script"));
        QCOMPARE(call().type(), QDBusMessage::ReplyMessage);
        QCOMPARE(injector.typed, QStringList{QStringLiteral("by script")});
    }

    void notRunning()
    {
        QVERIFY(!m_bus.hasName(AutomationService::serviceName()));
        const MurmelProcess::Result result = insertLast();
        QCOMPARE(result.lastErrLine(), QStringLiteral("Murmel is not running."));
        QCOMPARE(result.exitCode, 1);
    }

    void noSessionBus()
    {
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert(QStringLiteral("DBUS_SESSION_BUS_ADDRESS"),
                           QStringLiteral("unix:path=/nonexistent/bus"));
        const MurmelProcess::Result result =
            MurmelProcess::murmel({QStringLiteral("insert-last")}, environment);
        QVERIFY2(result.lastErrLine().startsWith(
                     QStringLiteral("Murmel cannot be reached: there is no D-Bus session bus")),
                 qPrintable(result.err));
        QCOMPARE(result.exitCode, 1);
    }

    void usage()
    {
        const MurmelProcess::Result result = insertLast({QStringLiteral("now")});
        QVERIFY2(result.err.contains(QStringLiteral("murmel insert-last")), qPrintable(result.err));
        QCOMPARE(result.exitCode, 2);

        const MurmelProcess::Result help = MurmelProcess::murmel({QStringLiteral("--help")});
        QVERIFY2(help.out.contains(QStringLiteral("murmel insert-last")), qPrintable(help.out));
    }
};

int main(int argc, char **argv)
{
    DesktopSession desktop;
    if (!desktop.start()) {
        qCritical("%s", qPrintable(desktop.error()));
        return 1;
    }
    desktop.enter();
    // This process stands in for the running Murmel: it owns the clipboard on the display.
    qputenv("QT_QPA_PLATFORM", "xcb");
    qunsetenv("DBUS_SESSION_BUS_ADDRESS");
    QGuiApplication app(argc, argv);
    TestInsertLast test(desktop);
    return QTest::qExec(&test, argc, argv);
}

#include "tst_insertlast.moc"
