#include "childprocess.h"
#include "core/base/preferences.h"
#include "core/dictation/hotkeymonitor.h"
#include "fakes/fakehotkeybackend.h"
#include "platform/portal/portalhotkeybackend.h"
#include "secretservicesession.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusObjectPath>
#include <QDBusReply>
#include <QProcess>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

#include <memory>

using namespace Qt::StringLiterals;

Q_DECLARE_METATYPE(Shortcut)

namespace {

const QString portalName = u"org.freedesktop.portal.Desktop"_s;
const QString portalPath = u"/org/freedesktop/portal/desktop"_s;
const QString shortcutsInterface = u"org.freedesktop.portal.GlobalShortcuts"_s;
const QString mockInterface = u"org.freedesktop.DBus.Mock"_s;
const QString connectionName = u"portal-test"_s;

const Shortcut f1{59, 0, u"F1"_s};

struct Binding
{
    QString id;
    QString description;
    QString trigger;
};

} // namespace

class TestPortalHotkey final : public QObject
{
    Q_OBJECT

private:
    std::unique_ptr<SecretServiceSession> m_session;
    QProcess m_portal;
    QTemporaryDir m_dir;
    std::unique_ptr<Preferences> m_preferences;
    std::unique_ptr<QDBusConnection> m_bus;
    PortalHotkeyBackend *m_backend = nullptr;
    std::unique_ptr<HotkeyMonitor> m_monitor;
    int m_downs = 0;
    int m_ups = 0;

    // The stand-in portal, with the template's parameters as JSON.
    bool startPortal(const QString &parameters = u"{}"_s)
    {
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert(m_session->environment());
        m_portal.setProcessEnvironment(environment);
        m_portal.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        ChildProcess::dieWithParent(m_portal);
        m_portal.start(u"/usr/bin/python3"_s,
                       {u"-m"_s, u"dbusmock"_s, u"--template"_s, QString::fromLocal8Bit(qgetenv("MURMEL_PORTAL_MOCK")),
                        u"--parameters"_s, parameters});
        if (!m_portal.waitForStarted(10000))
            return false;
        return QTest::qWaitFor([this] { return m_session->hasName(portalName); }, 15000);
    }

    void stopPortal()
    {
        if (m_portal.state() == QProcess::NotRunning)
            return;
        m_portal.terminate();
        if (!m_portal.waitForFinished(5000)) {
            m_portal.kill();
            m_portal.waitForFinished(5000);
        }
    }

    HotkeyMonitor &startMonitor()
    {
        m_backend = new PortalHotkeyBackend(*m_bus);
        m_monitor = std::make_unique<HotkeyMonitor>(*m_preferences, QList<HotkeyBackend *>{m_backend});
        m_backend->setParent(m_monitor.get());
        m_monitor->onKeyDown = [this] { ++m_downs; };
        m_monitor->onKeyUp = [this] { ++m_ups; };
        m_monitor->start();
        return *m_monitor;
    }

    QDBusMessage callMock(const QString &method, const QVariantList &arguments = {})
    {
        QDBusMessage call = QDBusMessage::createMethodCall(portalName, portalPath, mockInterface, method);
        call.setArguments(arguments);
        return m_bus->call(call, QDBus::Block, 10000);
    }

    QStringList sessions()
    {
        const QDBusReply<QStringList> reply = callMock(u"GetSessions"_s);
        return reply.isValid() ? reply.value() : QStringList();
    }

    QList<Binding> bound(const QString &session)
    {
        const QDBusMessage reply = callMock(u"GetBound"_s, {session});
        QList<Binding> bindings;
        const QDBusArgument argument = reply.arguments().value(0).value<QDBusArgument>();
        argument.beginArray();
        while (!argument.atEnd()) {
            Binding binding;
            argument.beginStructure();
            argument >> binding.id >> binding.description >> binding.trigger;
            argument.endStructure();
            bindings.append(binding);
        }
        argument.endArray();
        return bindings;
    }

    int callCount(const QString &objectPath, const QString &method)
    {
        QDBusMessage call = QDBusMessage::createMethodCall(portalName, objectPath, mockInterface,
                                                           u"GetMethodCalls"_s);
        call << method;
        const QDBusMessage reply = m_bus->call(call, QDBus::Block, 10000);
        if (reply.type() != QDBusMessage::ReplyMessage)
            return -1;
        const QDBusArgument argument = reply.arguments().value(0).value<QDBusArgument>();
        int count = 0;
        argument.beginArray();
        while (!argument.atEnd()) {
            argument.beginStructure();
            qulonglong time = 0;
            argument >> time;
            QVariantList arguments;
            argument >> arguments;
            argument.endStructure();
            ++count;
        }
        argument.endArray();
        return count;
    }

    void emitShortcutSignal(const QString &name, const QString &session, const QString &id)
    {
        const QDBusMessage reply = callMock(
            u"EmitSignal"_s, {shortcutsInterface, name, u"osta{sv}"_s,
                               QVariant(QVariantList{QVariant::fromValue(QDBusObjectPath(session)), id,
                                                     QVariant::fromValue(qulonglong(1234)), QVariantMap()})});
        QVERIFY2(reply.type() == QDBusMessage::ReplyMessage, qPrintable(reply.errorMessage()));
    }

    // Signals travel through the bus: a round trip to the mock makes sure an earlier
    // signal of it has been delivered before counting.
    void settle()
    {
        callMock(u"GetSessions"_s);
        QTest::qWait(50);
    }

private Q_SLOTS:
    void initTestCase()
    {
        QVERIFY(!qEnvironmentVariableIsEmpty("MURMEL_PORTAL_MOCK"));
        m_preferences = std::make_unique<Preferences>(m_dir.filePath(u"preferences.json"_s));
    }

    void init()
    {
        m_session = std::make_unique<SecretServiceSession>(SecretServiceSession::Keyring::none);
        QVERIFY2(m_session->start(), qPrintable(m_session->error()));
        m_bus = std::make_unique<QDBusConnection>(QDBusConnection::connectToBus(m_session->busAddress(), connectionName));
        QVERIFY(m_bus->isConnected());
        m_downs = 0;
        m_ups = 0;
    }

    void cleanup()
    {
        m_monitor.reset();
        m_bus.reset();
        QDBusConnection::disconnectFromBus(connectionName);
        stopPortal();
        m_session.reset();
    }

    void preferredTrigger_data()
    {
        QTest::addColumn<Shortcut>("shortcut");
        QTest::addColumn<QString>("trigger");
        QTest::newRow("default") << HotkeyMonitor::defaultShortcut() << u"CTRL+ALT+space"_s;
        QTest::newRow("single key") << f1 << u"F1"_s;
        QTest::newRow("super esc") << Shortcut{1, Shortcut::super, u"Super+Esc"_s} << u"LOGO+Escape"_s;
        QTest::newRow("letter") << Shortcut{37, Shortcut::control | Shortcut::shift, u"Ctrl+Shift+K"_s}
                                << u"CTRL+SHIFT+k"_s;
        QTest::newRow("keypad enter") << Shortcut{96, 0, u"Enter"_s} << u"KP_Enter"_s;
        QTest::newRow("backspace") << Shortcut{14, Shortcut::alt, u"Alt+Delete"_s} << u"ALT+BackSpace"_s;
        // The usual keymaps give the F13 key the symbol XF86Tools, and the desktop
        // matches triggers by symbol.
        QTest::newRow("f13") << Shortcut{183, 0, u"F13"_s} << u"XF86Tools"_s;
        QTest::newRow("no such key") << Shortcut{0, Shortcut::control, u"Ctrl+Key 0"_s} << QString();
    }

    void preferredTrigger()
    {
        QFETCH(Shortcut, shortcut);
        QFETCH(QString, trigger);
        QCOMPARE(PortalHotkeyBackend::preferredTrigger(shortcut), trigger);
    }

    // Nothing waits for the portal at start; a desktop without it hands the hotkey on.
    void withoutPortalTheNextBackendTakesOver()
    {
        PortalHotkeyBackend portal(*m_bus);
        FakeHotkeyBackend spare(u"Spare"_s);
        HotkeyMonitor monitor(*m_preferences, {&portal, &spare});
        QCOMPARE(monitor.backendName(), u"GlobalShortcuts portal"_s);
        monitor.start();
        QTRY_COMPARE(monitor.backendName(), u"Spare"_s);
        QCOMPARE(spare.watched(), HotkeyMonitor::defaultShortcut());
        QVERIFY(monitor.isActive());
    }

    void activationIsKeyDownAndDeactivationKeyUp()
    {
        QVERIFY(startPortal());
        HotkeyMonitor &monitor = startMonitor();
        QCOMPARE(monitor.backendName(), u"GlobalShortcuts portal"_s);
        QTRY_VERIFY(monitor.isActive());
        QVERIFY(monitor.conflict().isEmpty());

        const QStringList created = sessions();
        QCOMPARE(created.size(), 1);
        const QList<Binding> bindings = bound(created.constFirst());
        QCOMPARE(bindings.size(), 1);
        QCOMPARE(bindings.constFirst().id, u"dictate"_s);
        QCOMPARE(bindings.constFirst().description, u"Start or stop dictation"_s);
        QCOMPARE(bindings.constFirst().trigger, u"CTRL+ALT+space"_s);

        emitShortcutSignal(u"Activated"_s, created.constFirst(), u"dictate"_s);
        QTRY_COMPARE(m_downs, 1);
        QCOMPARE(m_ups, 0);
        // A second activation before the release is the key repeating.
        emitShortcutSignal(u"Activated"_s, created.constFirst(), u"dictate"_s);
        settle();
        QCOMPARE(m_downs, 1);
        emitShortcutSignal(u"Deactivated"_s, created.constFirst(), u"dictate"_s);
        QTRY_COMPARE(m_ups, 1);

        // Someone else's shortcut, or one of another session, is none of ours.
        emitShortcutSignal(u"Activated"_s, created.constFirst(), u"other"_s);
        emitShortcutSignal(u"Activated"_s, portalPath + u"/session/1_99/elsewhere"_s, u"dictate"_s);
        settle();
        QCOMPARE(m_downs, 1);

        // A later press is a new key down.
        emitShortcutSignal(u"Activated"_s, created.constFirst(), u"dictate"_s);
        emitShortcutSignal(u"Deactivated"_s, created.constFirst(), u"dictate"_s);
        QTRY_COMPARE(m_ups, 2);
        QCOMPARE(m_downs, 2);
        // Starting again asks the desktop for nothing new.
        monitor.ensureTap();
        settle();
        QCOMPARE(sessions().size(), 1);
    }

    void newHotkeyRebindsInANewSession()
    {
        QVERIFY(startPortal());
        HotkeyMonitor &monitor = startMonitor();
        QTRY_VERIFY(monitor.isActive());
        const QString first = sessions().value(0);

        monitor.setShortcut(f1);
        QTRY_COMPARE(sessions().size(), 2);
        QTRY_VERIFY(monitor.isActive());
        const QString second = sessions().value(1);
        QCOMPARE(bound(second).value(0).trigger, u"F1"_s);
        QTRY_COMPARE(callCount(first, u"Close"_s), 1);

        emitShortcutSignal(u"Activated"_s, first, u"dictate"_s);
        settle();
        QCOMPARE(m_downs, 0);
        emitShortcutSignal(u"Activated"_s, second, u"dictate"_s);
        QTRY_COMPARE(m_downs, 1);
    }

    void clearingClosesTheSession()
    {
        QVERIFY(startPortal());
        HotkeyMonitor &monitor = startMonitor();
        QTRY_VERIFY(monitor.isActive());
        const QString session = sessions().value(0);
        monitor.setShortcut(std::nullopt);
        QVERIFY(!monitor.isActive());
        QTRY_COMPARE(callCount(session, u"Close"_s), 1);
        emitShortcutSignal(u"Activated"_s, session, u"dictate"_s);
        settle();
        QCOMPARE(m_downs, 0);
    }

    void declinedIsReportedAndNotAskedAgain()
    {
        QVERIFY(startPortal(u"{\"bind_response\": 1}"_s));
        HotkeyMonitor &monitor = startMonitor();
        QTRY_VERIFY(!monitor.conflict().isEmpty());
        QCOMPARE(monitor.conflict(), u"Ctrl+Alt+Space was not allowed as the global hotkey. Allow it when the desktop "
                                     "asks, or choose a different hotkey."_s);
        QVERIFY(!monitor.isActive());
        QTRY_COMPARE(callCount(sessions().value(0), u"Close"_s), 1);

        // The application becoming active must not put the dialog up again.
        monitor.ensureTap();
        settle();
        QCOMPARE(callCount(portalPath, u"BindShortcuts"_s), 1);
        QVERIFY(!monitor.conflict().isEmpty());

        // Another hotkey is another question.
        callMock(u"SetBindResponse"_s, {QVariant::fromValue(uint(0))});
        monitor.setShortcut(f1);
        QTRY_VERIFY(monitor.isActive());
        QVERIFY(monitor.conflict().isEmpty());
        QCOMPARE(callCount(portalPath, u"BindShortcuts"_s), 2);
    }

    // Only a binding with a key counts: KDE binds only what came with CreateSession, and a
    // desktop may answer success without assigning any key.
    void bindingCountsOnlyWithAKey_data()
    {
        QTest::addColumn<QString>("portal");
        QTest::addColumn<bool>("active");
        QTest::newRow("KDE, shortcuts with the session") << u"{\"kde\": true}"_s << true;
        QTest::newRow("no key assigned") << u"{\"assign_triggers\": false}"_s << false;
    }

    void bindingCountsOnlyWithAKey()
    {
        QFETCH(QString, portal);
        QFETCH(bool, active);
        QVERIFY(startPortal(portal));
        HotkeyMonitor &monitor = startMonitor();
        // A portal that binds nothing hands over to the next backend.
        QSignalSpy unusable(m_backend, &HotkeyBackend::unusable);
        QTRY_COMPARE(callCount(portalPath, u"BindShortcuts"_s), 1);
        QTRY_COMPARE(monitor.isActive() || !monitor.conflict().isEmpty(), true);
        QCOMPARE(monitor.isActive(), active);
        QCOMPARE(monitor.conflict().isEmpty(), active);
        QCOMPARE(unusable.count(), active ? 0 : 1);
    }

    void failedSessionIsReported()
    {
        QVERIFY(startPortal(u"{\"create_response\": 2}"_s));
        HotkeyMonitor &monitor = startMonitor();
        QSignalSpy unusable(m_backend, &HotkeyBackend::unusable);
        QTRY_VERIFY(!monitor.conflict().isEmpty());
        QCOMPARE(unusable.count(), 1);
        QVERIFY2(monitor.conflict().contains(u"Ctrl+Alt+Space"_s), qPrintable(monitor.conflict()));
        QVERIFY(!monitor.isActive());
        QCOMPARE(callCount(portalPath, u"BindShortcuts"_s), 0);
    }

    void sessionClosedByTheDesktop()
    {
        QVERIFY(startPortal());
        HotkeyMonitor &monitor = startMonitor();
        QTRY_VERIFY(monitor.isActive());
        const QString session = sessions().value(0);
        QSignalSpy active(&monitor, &HotkeyMonitor::activeChanged);
        const QDBusMessage reply = callMock(u"EmitSignalDetailed"_s,
                                            {u"org.freedesktop.portal.Session"_s, u"Closed"_s, u"a{sv}"_s,
                                             QVariant(QVariantList{QVariantMap()}),
                                             QVariant::fromValue(QVariantMap{{u"path"_s, session}})});
        QVERIFY2(reply.type() == QDBusMessage::ReplyMessage, qPrintable(reply.errorMessage()));
        QTRY_VERIFY(!monitor.isActive());
        QCOMPARE(active.count(), 1);

        monitor.ensureTap();
        QTRY_VERIFY(monitor.isActive());
        QCOMPARE(sessions().size(), 2);
        emitShortcutSignal(u"Activated"_s, sessions().value(1), u"dictate"_s);
        QTRY_COMPARE(m_downs, 1);
    }

    void portalGoneBeforeBinding()
    {
        QVERIFY(startPortal());
        m_backend = new PortalHotkeyBackend(*m_bus);
        m_monitor = std::make_unique<HotkeyMonitor>(*m_preferences, QList<HotkeyBackend *>{m_backend});
        m_backend->setParent(m_monitor.get());
        QCOMPARE(m_monitor->backendName(), u"GlobalShortcuts portal"_s);
        stopPortal();
        m_monitor->start();
        QTRY_VERIFY(!m_monitor->conflict().isEmpty());
        QVERIFY2(m_monitor->conflict().startsWith(u"The desktop's shortcut service did not accept the hotkey: "_s),
                 qPrintable(m_monitor->conflict()));
        QVERIFY(!m_monitor->isActive());
    }
};

QTEST_GUILESS_MAIN(TestPortalHotkey)
#include "tst_portalhotkey.moc"
