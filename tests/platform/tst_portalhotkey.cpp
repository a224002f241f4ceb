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
#include <QDBusReply>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

#include <memory>

using namespace Qt::StringLiterals;

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
    PortalHotkeyBackend *m_backend = nullptr;
    FakeHotkeyBackend *m_spare = nullptr; // next in line, as on a desktop with X11 windows
    std::unique_ptr<HotkeyMonitor> m_monitor;
    QString m_keys; // what the monitor heard: ↓ a press, ↑ a release

    // The stand-in portal, with the template's parameters as JSON.
    bool startPortal(const QString &parameters = u"{}"_s)
    {
        return m_session->startMock(
            m_portal, {u"--template"_s, qEnvironmentVariable("MURMEL_PORTAL_MOCK"), u"--parameters"_s, parameters},
            portalName);
    }

    HotkeyMonitor &startMonitor()
    {
        m_backend = new PortalHotkeyBackend(m_session->connection());
        m_spare = new FakeHotkeyBackend(u"Spare"_s);
        m_monitor = std::make_unique<HotkeyMonitor>(m_preferences, QList<HotkeyBackend *>{m_backend, m_spare});
        m_backend->setParent(m_monitor.get());
        m_spare->setParent(m_monitor.get());
        m_monitor->onKeyDown = [this] { m_keys += u'↓'; };
        m_monitor->onKeyUp = [this] { m_keys += u'↑'; };
        m_monitor->start();
        return *m_monitor;
    }

    QDBusMessage callMock(const QString &method, const QVariantList &arguments = {})
    {
        QDBusMessage call = QDBusMessage::createMethodCall(portalName, portalPath, u"org.freedesktop.DBus.Mock"_s, method);
        call.setArguments(arguments);
        return m_session->connection().call(call, QDBus::Block, 10000);
    }

    QStringList sessions() { return QDBusReply<QStringList>(callMock(u"GetSessions"_s)).value(); }
    QStringList bound(const QString &session) { return QDBusReply<QStringList>(callMock(u"GetBound"_s, {session})).value(); }
    uint calls(const QString &path, const QString &method) { return QDBusReply<uint>(callMock(u"CallCount"_s, {path, method})).value(); }

    // The desktop's signals for shortcut `id` of `session`, written as m_keys is: ↓ Activated,
    // ↑ Deactivated. The mock answers after each signal, which has then reached this process;
    // a moment of the event loop delivers them before counting.
    void emitShortcut(const QString &session, const QString &keys, const QString &id = u"dictate"_s)
    {
        for (const QChar key : keys) {
            const QString signal = key == u'↓' ? u"Activated"_s : u"Deactivated"_s;
            const QDBusMessage reply = callMock(u"EmitShortcut"_s, {signal, session, id});
            QVERIFY2(reply.type() == QDBusMessage::ReplyMessage, qPrintable(reply.errorMessage()));
        }
        QTest::qWait(50);
    }

private Q_SLOTS:
    void init()
    {
        m_session = std::make_unique<SecretServiceSession>(SecretServiceSession::Keyring::none);
        QVERIFY2(m_session->start(), qPrintable(m_session->error()));
        m_keys.clear();
    }

    void cleanup()
    {
        m_monitor.reset();
        ChildProcess::stop(m_portal);
        m_session.reset();
    }

    // A bound hotkey through its life: pressed, closed by the desktop and bound again,
    // changed, and cleared.
    void boundHotkeyFollowsTheSession()
    {
        QVERIFY(startPortal());
        HotkeyMonitor &monitor = startMonitor();
        QTRY_VERIFY(monitor.isActive());
        QVERIFY(monitor.conflict().isEmpty());
        const QString first = sessions().value(0);
        QCOMPARE(bound(first), QStringList{u"dictate: Start or stop dictation [CTRL+ALT+space]"_s});

        // A second activation before the release is the key repeating; someone else's
        // shortcut, or one of another session, is none of ours.
        emitShortcut(first, u"↓↓↑"_s);
        emitShortcut(first, u"↓"_s, u"other"_s);
        emitShortcut(portalPath + u"/session/1_99/elsewhere"_s, u"↓"_s);
        QCOMPARE(m_keys, u"↓↑"_s);
        // A later press is a new one.
        emitShortcut(first, u"↓↑"_s);
        QTRY_COMPARE(m_keys, u"↓↑↓↑"_s);
        // Starting again asks the desktop for nothing new.
        monitor.ensureTap();
        QTest::qWait(100);
        QCOMPARE(sessions().size(), 1);

        // The desktop closes the session; the application coming forward binds anew.
        QSignalSpy active(&monitor, &HotkeyMonitor::activeChanged);
        QCOMPARE(callMock(u"CloseSession"_s, {first}).type(), QDBusMessage::ReplyMessage);
        QTRY_VERIFY(!monitor.isActive());
        QCOMPARE(active.count(), 1);
        monitor.ensureTap();
        QTRY_VERIFY(monitor.isActive());
        QCOMPARE(sessions().size(), 2);
        const QString second = sessions().value(1);
        emitShortcut(second, u"↓↑"_s);
        QTRY_COMPARE(m_keys, u"↓↑↓↑↓↑"_s);

        // A new hotkey is a new session, and the old one is closed.
        monitor.setShortcut(f1);
        QTRY_COMPARE(sessions().size(), 3);
        QTRY_VERIFY(monitor.isActive());
        const QString third = sessions().value(2);
        QCOMPARE(bound(third), QStringList{u"dictate: Start or stop dictation [F1]"_s});
        QTRY_COMPARE(calls(second, u"Close"_s), 1u);
        emitShortcut(second, u"↓"_s);
        QCOMPARE(m_keys, u"↓↑↓↑↓↑"_s);
        emitShortcut(third, u"↓"_s);
        QTRY_COMPARE(m_keys, u"↓↑↓↑↓↑↓"_s);

        // Cleared, it closes its session and hears nothing more.
        monitor.setShortcut(std::nullopt);
        QVERIFY(!monitor.isActive());
        QTRY_COMPARE(calls(third, u"Close"_s), 1u);
        emitShortcut(third, u"↑↓"_s);
        QCOMPARE(m_keys, u"↓↑↓↑↓↑↓"_s);
    }

    // Declined, the hotkey says so, and the application becoming active does not put the dialog
    // up again.
    void declinedIsReportedAndNotAskedAgain()
    {
        QVERIFY(startPortal(u"{\"bind_response\": 1}"_s));
        HotkeyMonitor &monitor = startMonitor();
        QTRY_COMPARE(monitor.conflict(), u"Ctrl+Alt+Space was not allowed as the global hotkey. Allow it when the desktop "
                                     "asks, or choose a different hotkey."_s);
        monitor.ensureTap();
        QTest::qWait(100);
        QCOMPARE(calls(portalPath, u"BindShortcuts"_s), 1u);
    }

    // Only a binding with a key counts: KDE binds only what came with CreateSession, and a
    // desktop may answer success without assigning any key. A portal that binds nothing, or
    // none at all, hands the hotkey on to the next backend, saying why; nothing waits for it.
    void desktopAnswers_data()
    {
        QTest::addColumn<QString>("portal"); // the template's parameters; empty: no portal
        QTest::addColumn<uint>("binds");
        QTest::addColumn<QString>("failure");
        QTest::newRow("KDE, shortcuts with the session") << u"{\"kde\": true}"_s << 1u << QString();
        QTest::newRow("no key assigned") << u"{\"assign_triggers\": false}"_s << 1u
                                         << u"The desktop assigned no key to the global hotkey, so Ctrl+Alt+Space"_s;
        QTest::newRow("session refused") << u"{\"create_response\": 2}"_s << 0u
                                         << u"The desktop did not open a shortcut session, so Ctrl+Alt+Space"_s;
        QTest::newRow("no portal") << QString() << 0u << u"The desktop's shortcut service did not accept the hotkey: "_s;
    }

    void desktopAnswers()
    {
        QFETCH(QString, portal);
        QFETCH(uint, binds);
        QFETCH(QString, failure);
        if (!portal.isEmpty())
            QVERIFY(startPortal(portal));
        HotkeyMonitor &monitor = startMonitor();
        QCOMPARE(monitor.backendName(), u"GlobalShortcuts portal"_s);
        QSignalSpy unusable(m_backend, &HotkeyBackend::unusable);
        QTRY_VERIFY(monitor.isActive());
        QCOMPARE(monitor.backendName(), failure.isEmpty() ? u"GlobalShortcuts portal"_s : u"Spare"_s);
        QCOMPARE(m_spare->watched(), failure.isEmpty() ? std::nullopt : std::optional(HotkeyMonitor::defaultShortcut()));
        QCOMPARE(unusable.count(), failure.isEmpty() ? 0 : 1);
        const QString reason = unusable.value(0).value(0).toString();
        QVERIFY2(reason.startsWith(failure), qPrintable(reason));
        if (!portal.isEmpty())
            QCOMPARE(calls(portalPath, u"BindShortcuts"_s), binds);
    }
};

QTEST_GUILESS_MAIN(TestPortalHotkey)
#include "tst_portalhotkey.moc"
