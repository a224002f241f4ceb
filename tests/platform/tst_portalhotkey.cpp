// The GlobalShortcuts portal hotkey against a stand-in portal on a private bus: what is bound,
// press and release, rebinding and clearing, and every way the desktop can say no.
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
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

#include <memory>

using namespace Qt::StringLiterals;

Q_DECLARE_METATYPE(Shortcut)

namespace {

const QString portalName = u"org.freedesktop.portal.Desktop"_s;
const QString portalPath = u"/org/freedesktop/portal/desktop"_s;
const Shortcut f1{59, 0, u"F1"_s};

} // namespace

class TestPortalHotkey final : public QObject
{
    Q_OBJECT

private:
    std::unique_ptr<SecretServiceSession> m_session;
    QProcess m_portal;
    QTemporaryDir m_dir;
    Preferences m_preferences{m_dir.filePath(u"preferences.json"_s)};
    std::unique_ptr<QDBusConnection> m_bus;
    PortalHotkeyBackend *m_backend = nullptr;
    std::unique_ptr<HotkeyMonitor> m_monitor;
    int m_downs = 0;
    int m_ups = 0;

    // The stand-in portal, with the template's parameters as JSON.
    bool startPortal(const QString &parameters = u"{}"_s)
    {
        return m_session->startMock(
            m_portal, {u"--template"_s, qEnvironmentVariable("MURMEL_PORTAL_MOCK"), u"--parameters"_s, parameters},
            portalName);
    }

    HotkeyMonitor &startMonitor(bool start = true)
    {
        m_backend = new PortalHotkeyBackend(*m_bus);
        m_monitor = std::make_unique<HotkeyMonitor>(m_preferences, QList<HotkeyBackend *>{m_backend});
        m_backend->setParent(m_monitor.get());
        m_monitor->onKeyDown = [this] { ++m_downs; };
        m_monitor->onKeyUp = [this] { ++m_ups; };
        if (start)
            m_monitor->start();
        return *m_monitor;
    }

    QDBusMessage callMock(const QString &method, const QVariantList &arguments = {})
    {
        QDBusMessage call = QDBusMessage::createMethodCall(portalName, portalPath, u"org.freedesktop.DBus.Mock"_s, method);
        call.setArguments(arguments);
        return m_bus->call(call, QDBus::Block, 10000);
    }

    QStringList sessions() { return QDBusReply<QStringList>(callMock(u"GetSessions"_s)).value(); }
    QStringList bound(const QString &session) { return QDBusReply<QStringList>(callMock(u"GetBound"_s, {session})).value(); }
    uint calls(const QString &path, const QString &method)
    {
        return QDBusReply<uint>(callMock(u"CallCount"_s, {path, method})).value();
    }

    // Signals travel through the bus: a round trip to the mock makes sure an earlier signal of
    // it has been delivered before counting.
    void emitShortcut(const QString &name, const QString &session, const QString &id = u"dictate"_s)
    {
        const QDBusMessage reply = callMock(
            u"EmitSignal"_s, {u"org.freedesktop.portal.GlobalShortcuts"_s, name, u"osta{sv}"_s,
                              QVariant(QVariantList{QVariant::fromValue(QDBusObjectPath(session)), id,
                                                    QVariant::fromValue(qulonglong(1234)), QVariantMap()})});
        QVERIFY2(reply.type() == QDBusMessage::ReplyMessage, qPrintable(reply.errorMessage()));
        callMock(u"GetSessions"_s);
        QTest::qWait(50);
    }

private Q_SLOTS:
    void init()
    {
        m_session = std::make_unique<SecretServiceSession>(SecretServiceSession::Keyring::none);
        QVERIFY2(m_session->start(), qPrintable(m_session->error()));
        m_bus = std::make_unique<QDBusConnection>(QDBusConnection::connectToBus(m_session->busAddress(), u"portal"_s));
        m_downs = 0;
        m_ups = 0;
    }

    void cleanup()
    {
        m_monitor.reset();
        m_bus.reset();
        QDBusConnection::disconnectFromBus(u"portal"_s);
        ChildProcess::stop(m_portal);
        m_session.reset();
    }

    // The desktop matches triggers by keysym: of the US keymap, whatever the user's layout.
    void preferredTrigger_data()
    {
        QTest::addColumn<Shortcut>("shortcut");
        QTest::addColumn<QString>("trigger");
        QTest::newRow("default") << HotkeyMonitor::defaultShortcut() << u"CTRL+ALT+space"_s;
        QTest::newRow("every modifier") << Shortcut{37, Shortcut::modifierMask, u"Ctrl+Alt+Shift+Super+K"_s}
                                        << u"CTRL+ALT+SHIFT+LOGO+k"_s;
        // The usual keymaps give the F13 key the symbol XF86Tools.
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
        HotkeyMonitor monitor(m_preferences, {&portal, &spare});
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
        QTRY_VERIFY(monitor.isActive());
        QVERIFY(monitor.conflict().isEmpty());
        const QString session = sessions().value(0);
        QCOMPARE(bound(session), QStringList{u"dictate: Start or stop dictation [CTRL+ALT+space]"_s});

        emitShortcut(u"Activated"_s, session);
        QTRY_COMPARE(m_downs, 1);
        // A second activation before the release is the key repeating.
        emitShortcut(u"Activated"_s, session);
        QCOMPARE(m_downs, 1);
        QCOMPARE(m_ups, 0);
        emitShortcut(u"Deactivated"_s, session);
        QTRY_COMPARE(m_ups, 1);
        // Someone else's shortcut, or one of another session, is none of ours.
        emitShortcut(u"Activated"_s, session, u"other"_s);
        emitShortcut(u"Activated"_s, portalPath + u"/session/1_99/elsewhere"_s);
        QCOMPARE(m_downs, 1);
        // A later press is a new key down.
        emitShortcut(u"Activated"_s, session);
        emitShortcut(u"Deactivated"_s, session);
        QTRY_COMPARE(m_ups, 2);
        QCOMPARE(m_downs, 2);
        // Starting again asks the desktop for nothing new.
        monitor.ensureTap();
        QTest::qWait(100);
        QCOMPARE(sessions().size(), 1);
    }

    void newHotkeyRebindsAndClearingCloses()
    {
        QVERIFY(startPortal());
        HotkeyMonitor &monitor = startMonitor();
        QTRY_VERIFY(monitor.isActive());
        const QString first = sessions().value(0);
        monitor.setShortcut(f1);
        QTRY_COMPARE(sessions().size(), 2);
        QTRY_VERIFY(monitor.isActive());
        const QString second = sessions().value(1);
        QCOMPARE(bound(second), QStringList{u"dictate: Start or stop dictation [F1]"_s});
        QTRY_COMPARE(calls(first, u"Close"_s), 1u);
        emitShortcut(u"Activated"_s, first);
        QCOMPARE(m_downs, 0);
        emitShortcut(u"Activated"_s, second);
        QTRY_COMPARE(m_downs, 1);

        monitor.setShortcut(std::nullopt);
        QVERIFY(!monitor.isActive());
        QTRY_COMPARE(calls(second, u"Close"_s), 1u);
        emitShortcut(u"Deactivated"_s, second);
        emitShortcut(u"Activated"_s, second);
        QCOMPARE(m_downs, 1);
    }

    void declinedIsReportedAndNotAskedAgain()
    {
        QVERIFY(startPortal(u"{\"bind_response\": 1}"_s));
        HotkeyMonitor &monitor = startMonitor();
        QTRY_VERIFY(!monitor.conflict().isEmpty());
        QCOMPARE(monitor.conflict(), u"Ctrl+Alt+Space was not allowed as the global hotkey. Allow it when the desktop "
                                     "asks, or choose a different hotkey."_s);
        QVERIFY(!monitor.isActive());
        QTRY_COMPARE(calls(sessions().value(0), u"Close"_s), 1u);
        // The application becoming active must not put the dialog up again.
        monitor.ensureTap();
        QTest::qWait(100);
        QCOMPARE(calls(portalPath, u"BindShortcuts"_s), 1u);
        // Another hotkey is another question.
        callMock(u"SetBindResponse"_s, {QVariant::fromValue(uint(0))});
        monitor.setShortcut(f1);
        QTRY_VERIFY(monitor.isActive());
        QVERIFY(monitor.conflict().isEmpty());
        QCOMPARE(calls(portalPath, u"BindShortcuts"_s), 2u);
    }

    // Only a binding with a key counts: KDE binds only what came with CreateSession, and a
    // desktop may answer success without assigning any key. A portal that binds nothing
    // hands over to the next backend.
    void desktopAnswers_data()
    {
        QTest::addColumn<QString>("portal");
        QTest::addColumn<bool>("active");
        QTest::addColumn<uint>("binds");
        QTest::newRow("KDE, shortcuts with the session") << u"{\"kde\": true}"_s << true << 1u;
        QTest::newRow("no key assigned") << u"{\"assign_triggers\": false}"_s << false << 1u;
        QTest::newRow("session refused") << u"{\"create_response\": 2}"_s << false << 0u;
    }

    void desktopAnswers()
    {
        QFETCH(QString, portal);
        QFETCH(bool, active);
        QFETCH(uint, binds);
        QVERIFY(startPortal(portal));
        HotkeyMonitor &monitor = startMonitor(false);
        QSignalSpy unusable(m_backend, &HotkeyBackend::unusable);
        monitor.start();
        QTRY_VERIFY(monitor.isActive() || !monitor.conflict().isEmpty());
        QCOMPARE(monitor.isActive(), active);
        QCOMPARE(unusable.count(), active ? 0 : 1);
        QVERIFY2(active || monitor.conflict().contains(u"Ctrl+Alt+Space"_s), qPrintable(monitor.conflict()));
        QCOMPARE(calls(portalPath, u"BindShortcuts"_s), binds);
    }

    void sessionClosedByTheDesktop()
    {
        QVERIFY(startPortal());
        HotkeyMonitor &monitor = startMonitor();
        QTRY_VERIFY(monitor.isActive());
        QSignalSpy active(&monitor, &HotkeyMonitor::activeChanged);
        const QDBusMessage reply = callMock(u"EmitSignalDetailed"_s,
                                            {u"org.freedesktop.portal.Session"_s, u"Closed"_s, u"a{sv}"_s,
                                             QVariant(QVariantList{QVariantMap()}),
                                             QVariant::fromValue(QVariantMap{{u"path"_s, sessions().value(0)}})});
        QVERIFY2(reply.type() == QDBusMessage::ReplyMessage, qPrintable(reply.errorMessage()));
        QTRY_VERIFY(!monitor.isActive());
        QCOMPARE(active.count(), 1);
        monitor.ensureTap();
        QTRY_VERIFY(monitor.isActive());
        QCOMPARE(sessions().size(), 2);
        emitShortcut(u"Activated"_s, sessions().value(1));
        QTRY_COMPARE(m_downs, 1);
    }

    void portalGoneBeforeBinding()
    {
        QVERIFY(startPortal());
        HotkeyMonitor &monitor = startMonitor(false);
        ChildProcess::stop(m_portal);
        monitor.start();
        QTRY_VERIFY(!monitor.conflict().isEmpty());
        QVERIFY2(monitor.conflict().startsWith(u"The desktop's shortcut service did not accept the hotkey: "_s),
                 qPrintable(monitor.conflict()));
        QVERIFY(!monitor.isActive());
    }
};

QTEST_GUILESS_MAIN(TestPortalHotkey)
#include "tst_portalhotkey.moc"
