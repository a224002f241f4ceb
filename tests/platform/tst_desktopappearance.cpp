// The desktop's contrast and motion wishes from a stand-in Settings portal on a private
// session bus: what is read at start, on portals with and without ReadAll, without holding up
// the caller; live changes; and no portal at all.
#include "childprocess.h"
#include "platform/portal/desktopappearance.h"
#include "secretservicesession.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusVariant>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSignalSpy>
#include <QTest>

#include <memory>

using namespace Qt::StringLiterals;

namespace {

const QString appearance = u"org.freedesktop.appearance"_s;
const QString gnomeA11y = u"org.gnome.desktop.a11y.interface"_s;
const QString gnomeInterface = u"org.gnome.desktop.interface"_s;
const QString kde = u"org.kde.kdeglobals.KDE"_s;

// {namespace: {key: value}} for the stand-in's "settings" parameter, from (namespace, key,
// value) triples.
using Settings = QJsonObject;
Settings settings(const QList<std::tuple<QString, QString, QJsonValue>> &values)
{
    Settings all;
    for (const auto &[nameSpace, key, value] : values) {
        QJsonObject keys = all.value(nameSpace).toObject();
        keys.insert(key, value);
        all.insert(nameSpace, keys);
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

    bool startPortal(const Settings &values, QJsonObject parameters = {})
    {
        parameters.insert(u"settings"_s, values);
        return m_session->startMock(m_portal,
                                    {u"--template"_s, qEnvironmentVariable("MURMEL_PORTAL_MOCK"), u"--parameters"_s,
                                     QString::fromUtf8(QJsonDocument(parameters).toJson(QJsonDocument::Compact))},
                                    u"org.freedesktop.portal.Desktop"_s);
    }

    // Changes a value in the stand-in, which announces it with SettingChanged.
    void change(const QString &nameSpace, const QString &key, const QVariant &value)
    {
        QDBusMessage call = QDBusMessage::createMethodCall(u"org.freedesktop.portal.Desktop"_s,
                                                           u"/org/freedesktop/portal/desktop"_s,
                                                           u"org.freedesktop.DBus.Mock"_s, u"Change"_s);
        call << nameSpace << key << QVariant::fromValue(QDBusVariant(value));
        const QDBusMessage reply = m_bus->call(call, QDBus::Block, 10000);
        QVERIFY2(reply.type() == QDBusMessage::ReplyMessage, qPrintable(reply.errorMessage()));
    }

    static bool settled(DesktopAppearance &desktop)
    {
        return QTest::qWaitFor([&] { return desktop.status() != DesktopAppearance::Status::reading; }, 10000);
    }

private Q_SLOTS:
    void init()
    {
        m_session = std::make_unique<SecretServiceSession>(SecretServiceSession::Keyring::none);
        QVERIFY2(m_session->start(), qPrintable(m_session->error()));
        m_bus = std::make_unique<QDBusConnection>(QDBusConnection::connectToBus(m_session->busAddress(), u"appearance"_s));
    }

    void cleanup()
    {
        m_bus.reset();
        QDBusConnection::disconnectFromBus(u"appearance"_s);
        ChildProcess::stop(m_portal);
        m_session.reset();
    }

    void readsTheDesktopAtStart_data()
    {
        QTest::addColumn<Settings>("values");
        QTest::addColumn<bool>("highContrast");
        QTest::addColumn<bool>("reduceMotion");
        QTest::newRow("nothing set") << Settings() << false << false;
        // Either desktop's wish is enough, whatever the other says.
        QTest::newRow("one wish against another")
            << settings({{appearance, u"contrast"_s, 0}, {gnomeA11y, u"high-contrast"_s, true},
                         {gnomeInterface, u"enable-animations"_s, true}, {kde, u"AnimationDurationFactor"_s, 0.0}})
            << true << true;
        // Values that wish for nothing, and keys of the same namespaces that mean something else.
        QTest::newRow("no wishes") << settings({{appearance, u"color-scheme"_s, 1},
                                                {gnomeA11y, u"high-contrast"_s, false},
                                                {gnomeInterface, u"gtk-theme"_s, u"HighContrast"_s},
                                                {gnomeInterface, u"enable-animations"_s, true},
                                                {kde, u"AnimationDurationFactor"_s, 2.5}})
                                   << false << false;
    }

    void readsTheDesktopAtStart()
    {
        QFETCH(Settings, values);
        QFETCH(bool, highContrast);
        QFETCH(bool, reduceMotion);
        // Both the current portal and one that predates ReadAll, where each key is read
        // alone and comes back wrapped twice.
        for (const bool readAll : {true, false}) {
            QVERIFY(startPortal(values, {{u"read_all"_s, readAll}}));
            DesktopAppearance desktop(*m_bus);
            QSignalSpy contrastChanges(&desktop, &DesktopAppearance::highContrastChanged);
            QSignalSpy motionChanges(&desktop, &DesktopAppearance::reduceMotionChanged);
            desktop.start();
            // start() returns at once; the answer comes when the portal gives it.
            QCOMPARE(desktop.status(), DesktopAppearance::Status::reading);
            QVERIFY(settled(desktop));
            const QByteArray context = readAll ? "with ReadAll" : "with Read";
            QVERIFY2(desktop.status() == DesktopAppearance::Status::following, context);
            QVERIFY2(desktop.highContrast() == highContrast && desktop.reduceMotion() == reduceMotion, context);
            // A change signal exactly when the value left its default.
            QVERIFY2(contrastChanges.size() == (highContrast ? 1 : 0) && motionChanges.size() == (reduceMotion ? 1 : 0), context);
            ChildProcess::stop(m_portal);
            // Gone from the bus before the next stand-in claims the name.
            QTRY_VERIFY(!m_session->hasName(u"org.freedesktop.portal.Desktop"_s));
        }
    }

    void followsChangesLive()
    {
        QVERIFY(startPortal(settings({{appearance, u"contrast"_s, 0}})));
        DesktopAppearance desktop(*m_bus);
        desktop.start();
        QVERIFY(settled(desktop));
        QSignalSpy contrastChanges(&desktop, &DesktopAppearance::highContrastChanged);
        QSignalSpy motionChanges(&desktop, &DesktopAppearance::reduceMotionChanged);
        QSignalSpy statusChanges(&desktop, &DesktopAppearance::statusChanged);
        change(appearance, u"contrast"_s, QVariant::fromValue(quint32(1)));
        QVERIFY(contrastChanges.wait(5000) && desktop.highContrast());
        change(gnomeInterface, u"enable-animations"_s, false);
        QVERIFY(motionChanges.wait(5000) && desktop.reduceMotion());
        // KDE's factor also counts once it appears; taking GNOME's wish back leaves it on.
        change(kde, u"AnimationDurationFactor"_s, 0.0);
        change(gnomeInterface, u"enable-animations"_s, true);
        // Each signal left the stand-in before its Change returned.
        QTest::qWait(300);
        QVERIFY(desktop.reduceMotion());
        QCOMPARE(motionChanges.size(), 1);
        change(kde, u"AnimationDurationFactor"_s, 1.0);
        QVERIFY(motionChanges.wait(5000) && !desktop.reduceMotion());
        change(appearance, u"contrast"_s, QVariant::fromValue(quint32(0)));
        QVERIFY(contrastChanges.wait(5000) && !desktop.highContrast());
        QCOMPARE(statusChanges.size(), 0);
    }

    void withoutAPortalBothStayOff()
    {
        DesktopAppearance desktop(*m_bus);
        QSignalSpy contrastChanges(&desktop, &DesktopAppearance::highContrastChanged);
        QTest::ignoreMessage(QtInfoMsg, QRegularExpression(u"No desktop settings portal.*"_s));
        desktop.start();
        QVERIFY(settled(desktop));
        QCOMPARE(desktop.status(), DesktopAppearance::Status::unavailable);
        QVERIFY(!desktop.highContrast() && !desktop.reduceMotion());
        QCOMPARE(contrastChanges.size(), 0);
        // A portal that comes up later is read as soon as it says anything.
        QVERIFY(startPortal(settings({{appearance, u"contrast"_s, 1}})));
        change(gnomeInterface, u"enable-animations"_s, false);
        QVERIFY(contrastChanges.wait(5000));
        QTRY_COMPARE(desktop.status(), DesktopAppearance::Status::following);
        QVERIFY(desktop.highContrast() && desktop.reduceMotion());
    }
};

QTEST_GUILESS_MAIN(TestDesktopAppearance)
#include "tst_desktopappearance.moc"
