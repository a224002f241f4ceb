// The desktop's contrast and motion wishes from a stand-in Settings portal on a private
// session bus: what is read at start, on portals with and without ReadAll; live changes;
// a slow portal that must not hold up the caller; and no portal at all.
#include "childprocess.h"
#include "platform/portal/desktopappearance.h"
#include "secretservicesession.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusVariant>
#include <QElapsedTimer>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QSignalSpy>
#include <QTest>

#include <memory>

using namespace Qt::StringLiterals;

namespace {

const QString portalName = u"org.freedesktop.portal.Desktop"_s;
const QString portalPath = u"/org/freedesktop/portal/desktop"_s;
const QString connectionName = u"appearance-test"_s;

const QString appearanceSettings = u"org.freedesktop.appearance"_s;
const QString gnomeA11y = u"org.gnome.desktop.a11y.interface"_s;
const QString gnomeInterface = u"org.gnome.desktop.interface"_s;
const QString kde = u"org.kde.kdeglobals.KDE"_s;

// {namespace: {key: value}} for the stand-in's "settings" parameter.
using Settings = QJsonObject;

Settings setting(const QString &nameSpace, const QString &key, const QJsonValue &value)
{
    return {{nameSpace, QJsonObject{{key, value}}}};
}

Settings merged(const QList<Settings> &parts)
{
    Settings all;
    for (const Settings &part : parts) {
        for (auto it = part.begin(); it != part.end(); ++it) {
            QJsonObject keys = all.value(it.key()).toObject();
            const QJsonObject more = it.value().toObject();
            for (auto key = more.begin(); key != more.end(); ++key)
                keys.insert(key.key(), key.value());
            all.insert(it.key(), keys);
        }
    }
    return all;
}

} // namespace

class TestDesktopAppearance final : public QObject
{
    Q_OBJECT

private:
    std::unique_ptr<SecretServiceSession> m_session;
    QProcess m_portal;
    std::unique_ptr<QDBusConnection> m_bus;

    bool startPortal(const Settings &settings, const QJsonObject &options = {})
    {
        QJsonObject parameters = options;
        parameters.insert(u"settings"_s, settings);
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert(m_session->environment());
        m_portal.setProcessEnvironment(environment);
        m_portal.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        ChildProcess::dieWithParent(m_portal);
        m_portal.start(u"/usr/bin/python3"_s,
                       {u"-m"_s, u"dbusmock"_s, u"--template"_s,
                        QString::fromLocal8Bit(qgetenv("MURMEL_SETTINGS_PORTAL_MOCK")), u"--parameters"_s,
                        QString::fromUtf8(QJsonDocument(parameters).toJson(QJsonDocument::Compact))});
        if (!m_portal.waitForStarted(10000))
            return false;
        return QTest::qWaitFor([this] { return m_session->hasName(portalName); }, 15000);
    }

    // Changes a value in the stand-in, which announces it with SettingChanged.
    void change(const QString &nameSpace, const QString &key, const QVariant &value)
    {
        QDBusMessage call =
            QDBusMessage::createMethodCall(portalName, portalPath, u"org.freedesktop.DBus.Mock"_s, u"Change"_s);
        call << nameSpace << key << QVariant::fromValue(QDBusVariant(value));
        const QDBusMessage reply = m_bus->call(call, QDBus::Block, 10000);
        QVERIFY2(reply.type() == QDBusMessage::ReplyMessage, qPrintable(reply.errorMessage()));
    }

    // Waits for the first answer; true when it came from the portal.
    static bool settled(DesktopAppearance &appearance)
    {
        return QTest::qWaitFor([&] { return appearance.status() != DesktopAppearance::Status::reading; }, 10000);
    }

private Q_SLOTS:
    void initTestCase() { QVERIFY(!qEnvironmentVariableIsEmpty("MURMEL_SETTINGS_PORTAL_MOCK")); }

    void init()
    {
        m_session = std::make_unique<SecretServiceSession>(SecretServiceSession::Keyring::none);
        QVERIFY2(m_session->start(), qPrintable(m_session->error()));
        m_bus = std::make_unique<QDBusConnection>(QDBusConnection::connectToBus(m_session->busAddress(), connectionName));
        QVERIFY(m_bus->isConnected());
    }

    void cleanup()
    {
        m_bus.reset();
        QDBusConnection::disconnectFromBus(connectionName);
        ChildProcess::stop(m_portal);
        m_session.reset();
    }

    void readsTheDesktopAtStart_data()
    {
        QTest::addColumn<Settings>("settings");
        QTest::addColumn<bool>("highContrast");
        QTest::addColumn<bool>("reduceMotion");
        QTest::newRow("nothing set") << Settings() << false << false;
        QTest::newRow("contrast asked for") << setting(appearanceSettings, u"contrast"_s, 1) << true << false;
        QTest::newRow("no contrast preference") << setting(appearanceSettings, u"contrast"_s, 0) << false << false;
        QTest::newRow("GNOME high contrast") << setting(gnomeA11y, u"high-contrast"_s, true) << true << false;
        QTest::newRow("GNOME normal contrast") << setting(gnomeA11y, u"high-contrast"_s, false) << false << false;
        QTest::newRow("GNOME animations off") << setting(gnomeInterface, u"enable-animations"_s, false) << false
                                              << true;
        QTest::newRow("GNOME animations on") << setting(gnomeInterface, u"enable-animations"_s, true) << false
                                             << false;
        QTest::newRow("KDE instant animations") << setting(kde, u"AnimationDurationFactor"_s, 0.0) << false << true;
        QTest::newRow("KDE slow animations") << setting(kde, u"AnimationDurationFactor"_s, 2.5) << false << false;
        // Either desktop's wish is enough, whatever the other says.
        QTest::newRow("contrast 0 but GNOME high")
            << merged({setting(appearanceSettings, u"contrast"_s, 0), setting(gnomeA11y, u"high-contrast"_s, true)})
            << true << false;
        QTest::newRow("animations on but KDE instant")
            << merged({setting(gnomeInterface, u"enable-animations"_s, true),
                       setting(kde, u"AnimationDurationFactor"_s, 0.0)})
            << false << true;
        QTest::newRow("both") << merged({setting(appearanceSettings, u"contrast"_s, 1),
                                         setting(gnomeInterface, u"enable-animations"_s, false)})
                              << true << true;
        // Keys of the same namespaces that mean something else change nothing.
        QTest::newRow("other keys") << merged({setting(appearanceSettings, u"color-scheme"_s, 1),
                                               setting(gnomeInterface, u"gtk-theme"_s, u"HighContrast"_s)})
                                    << false << false;
    }

    void readsTheDesktopAtStart()
    {
        QFETCH(Settings, settings);
        QFETCH(bool, highContrast);
        QFETCH(bool, reduceMotion);
        // Both the current portal and one that predates ReadAll, where each key is read
        // alone and comes back wrapped twice.
        for (const bool readAll : {true, false}) {
            QVERIFY(startPortal(settings, {{u"read_all"_s, readAll}}));
            DesktopAppearance appearance(*m_bus);
            QSignalSpy contrastChanges(&appearance, &DesktopAppearance::highContrastChanged);
            QSignalSpy motionChanges(&appearance, &DesktopAppearance::reduceMotionChanged);
            appearance.start();
            QVERIFY(settled(appearance));
            const QByteArray context = readAll ? "with ReadAll" : "with Read";
            QVERIFY2(appearance.status() == DesktopAppearance::Status::following, context);
            QVERIFY2(appearance.highContrast() == highContrast, context);
            QVERIFY2(appearance.reduceMotion() == reduceMotion, context);
            // A change signal exactly when the value left its default.
            QVERIFY2(contrastChanges.size() == (highContrast ? 1 : 0), context);
            QVERIFY2(motionChanges.size() == (reduceMotion ? 1 : 0), context);
            ChildProcess::stop(m_portal);
            // Gone from the bus before the next stand-in claims the name.
            QTRY_VERIFY(!m_session->hasName(portalName));
        }
    }

    void followsChangesLive()
    {
        QVERIFY(startPortal(setting(appearanceSettings, u"contrast"_s, 0)));
        DesktopAppearance appearance(*m_bus);
        appearance.start();
        QVERIFY(settled(appearance));
        QCOMPARE(appearance.status(), DesktopAppearance::Status::following);
        QSignalSpy contrastChanges(&appearance, &DesktopAppearance::highContrastChanged);
        QSignalSpy motionChanges(&appearance, &DesktopAppearance::reduceMotionChanged);

        change(appearanceSettings, u"contrast"_s, QVariant::fromValue(quint32(1)));
        QVERIFY(contrastChanges.wait(5000));
        QVERIFY(appearance.highContrast());

        change(gnomeInterface, u"enable-animations"_s, false);
        QVERIFY(motionChanges.wait(5000));
        QVERIFY(appearance.reduceMotion());

        // KDE's factor also counts once it appears; taking GNOME's wish back leaves it on.
        change(kde, u"AnimationDurationFactor"_s, 0.0);
        change(gnomeInterface, u"enable-animations"_s, true);
        // An unrelated setting, sent last, so that once it is seen everything before it is too.
        QSignalSpy statusChanges(&appearance, &DesktopAppearance::statusChanged);
        change(appearanceSettings, u"color-scheme"_s, QVariant::fromValue(quint32(1)));
        QTest::qWait(300);
        QVERIFY(appearance.reduceMotion());
        QCOMPARE(motionChanges.size(), 1);
        QCOMPARE(contrastChanges.size(), 1);

        change(kde, u"AnimationDurationFactor"_s, 1.0);
        QVERIFY(motionChanges.wait(5000));
        QVERIFY(!appearance.reduceMotion());

        change(appearanceSettings, u"contrast"_s, QVariant::fromValue(quint32(0)));
        QVERIFY(contrastChanges.wait(5000));
        QVERIFY(!appearance.highContrast());
        QCOMPARE(contrastChanges.size(), 2);
        QCOMPARE(motionChanges.size(), 2);
        QCOMPARE(statusChanges.size(), 0);
    }

    void aSlowPortalDoesNotHoldUpTheCaller()
    {
        QVERIFY(startPortal(setting(gnomeA11y, u"high-contrast"_s, true), {{u"delay"_s, 1.5}}));
        DesktopAppearance appearance(*m_bus);
        QElapsedTimer clock;
        clock.start();
        appearance.start();
        QVERIFY2(clock.elapsed() < 500, qPrintable(QString::number(clock.elapsed())));
        QCOMPARE(appearance.status(), DesktopAppearance::Status::reading);
        QVERIFY(!appearance.highContrast());
        QVERIFY(settled(appearance));
        QVERIFY(appearance.highContrast());
    }

    void withoutAPortalBothStayOff()
    {
        DesktopAppearance appearance(*m_bus);
        QSignalSpy contrastChanges(&appearance, &DesktopAppearance::highContrastChanged);
        QSignalSpy motionChanges(&appearance, &DesktopAppearance::reduceMotionChanged);
        QTest::ignoreMessage(QtInfoMsg, QRegularExpression(u"No desktop settings portal.*"_s));
        appearance.start();
        QVERIFY(settled(appearance));
        QCOMPARE(appearance.status(), DesktopAppearance::Status::unavailable);
        QVERIFY(!appearance.highContrast());
        QVERIFY(!appearance.reduceMotion());
        QCOMPARE(contrastChanges.size(), 0);
        QCOMPARE(motionChanges.size(), 0);

        // A portal that comes up later is read as soon as it says anything.
        QVERIFY(startPortal(setting(appearanceSettings, u"contrast"_s, 1)));
        change(gnomeInterface, u"enable-animations"_s, false);
        QVERIFY(contrastChanges.wait(5000));
        QTRY_COMPARE(appearance.status(), DesktopAppearance::Status::following);
        QVERIFY(appearance.highContrast());
        QVERIFY(appearance.reduceMotion());
    }

    void withoutABusBothStayOff()
    {
        DesktopAppearance appearance(QDBusConnection(u"not connected"_s));
        QTest::ignoreMessage(QtInfoMsg, QRegularExpression(u"No desktop settings portal.*"_s));
        appearance.start();
        QCOMPARE(appearance.status(), DesktopAppearance::Status::unavailable);
        QVERIFY(!appearance.highContrast());
        QVERIFY(!appearance.reduceMotion());
    }
};

QTEST_GUILESS_MAIN(TestDesktopAppearance)
#include "tst_desktopappearance.moc"
