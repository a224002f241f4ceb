// The desktop's contrast and motion wishes from a stand-in Settings portal on a private
// session bus: what is read at start, on portals with and without ReadAll, without holding up
// the caller; no portal at first, and live changes.
#include "childprocess.h"
#include "platform/portal/desktopappearance.h"
#include "secretservicesession.h"

#include <QDBusMessage>
#include <QDBusVariant>
#include <QSignalSpy>
#include <QTest>

using namespace Qt::StringLiterals;

namespace {

const QString appearance = u"org.freedesktop.appearance"_s;
const QString gnomeInterface = u"org.gnome.desktop.interface"_s;

} // namespace

class TestDesktopAppearance final : public QObject
{
    Q_OBJECT

private:
    SecretServiceSession m_session{SecretServiceSession::Keyring::none};
    QProcess m_portal;

    // `settings` is the stand-in's {namespace: {key: value}} as JSON.
    bool startPortal(const QByteArray &settings, bool readAll = true)
    {
        const QString parameters = u"{\"read_all\": %1, \"settings\": %2}"_s.arg(
            readAll ? u"true"_s : u"false"_s, QString::fromUtf8(settings));
        return m_session.startMock(m_portal,
                                    {u"--template"_s, qEnvironmentVariable("MURMEL_PORTAL_MOCK"), u"--parameters"_s, parameters},
                                    u"org.freedesktop.portal.Desktop"_s);
    }

    // Changes a value in the stand-in, which announces it with SettingChanged.
    void change(const QString &nameSpace, const QString &key, const QVariant &value)
    {
        QDBusMessage call = QDBusMessage::createMethodCall(u"org.freedesktop.portal.Desktop"_s,
                                                           u"/org/freedesktop/portal/desktop"_s,
                                                           u"org.freedesktop.DBus.Mock"_s, u"Change"_s);
        call << nameSpace << key << QVariant::fromValue(QDBusVariant(value));
        const QDBusMessage reply = m_session.connection().call(call, QDBus::Block, 10000);
        QVERIFY2(reply.type() == QDBusMessage::ReplyMessage, qPrintable(reply.errorMessage()));
    }

private Q_SLOTS:
    void initTestCase() { QVERIFY2(m_session.start(), qPrintable(m_session.error())); }

    void cleanup() { ChildProcess::stop(m_portal); }

    void readsTheDesktopAtStart_data()
    {
        QTest::addColumn<QByteArray>("settings");
        QTest::addColumn<bool>("readAll");
        QTest::addColumn<bool>("highContrast");
        QTest::addColumn<bool>("reduceMotion");
        const std::tuple<const char *, QByteArray, bool, bool> rows[] = {
            {"nothing set", "{}", false, false},
            // Either desktop's wish is enough, whatever the other says.
            {"one wish against another",
             R"({"org.freedesktop.appearance": {"contrast": 0}, "org.gnome.desktop.a11y.interface": {"high-contrast": true},
                 "org.gnome.desktop.interface": {"enable-animations": true},
                 "org.kde.kdeglobals.KDE": {"AnimationDurationFactor": 0.0}})",
             true, true},
            // Values that wish for nothing, and keys of the same namespaces that mean something else.
            {"no wishes",
             R"({"org.freedesktop.appearance": {"color-scheme": 1}, "org.gnome.desktop.a11y.interface": {"high-contrast": false},
                 "org.gnome.desktop.interface": {"gtk-theme": "HighContrast", "enable-animations": true},
                 "org.kde.kdeglobals.KDE": {"AnimationDurationFactor": 2.5}})",
             false, false},
        };
        // Both the current portal and one that predates ReadAll, where each key is read alone
        // and comes back wrapped twice.
        for (const bool readAll : {true, false}) {
            for (const auto &[name, settings, highContrast, reduceMotion] : rows)
                QTest::addRow("%s, %s", name, readAll ? "ReadAll" : "Read") << settings << readAll << highContrast << reduceMotion;
        }
    }

    void readsTheDesktopAtStart()
    {
        QFETCH(QByteArray, settings);
        QFETCH(bool, readAll);
        QFETCH(bool, highContrast);
        QFETCH(bool, reduceMotion);
        QVERIFY(startPortal(settings, readAll));
        DesktopAppearance desktop(m_session.connection());
        QSignalSpy contrastChanges(&desktop, &DesktopAppearance::highContrastChanged);
        QSignalSpy motionChanges(&desktop, &DesktopAppearance::reduceMotionChanged);
        desktop.start();
        // start() returns at once; the answer comes when the portal gives it.
        QCOMPARE(desktop.status(), DesktopAppearance::Status::reading);
        QTRY_COMPARE(desktop.status(), DesktopAppearance::Status::following);
        QCOMPARE(desktop.highContrast(), highContrast);
        QCOMPARE(desktop.reduceMotion(), reduceMotion);
        // A change signal exactly when the value left its default.
        QCOMPARE(contrastChanges.size(), highContrast ? 1 : 0);
        QCOMPARE(motionChanges.size(), reduceMotion ? 1 : 0);
    }

    // No portal at first: both stay off. One that comes up later is read as soon as it says
    // anything, and from then on followed change by change.
    void followsThePortalLive()
    {
        DesktopAppearance desktop(m_session.connection());
        QSignalSpy contrastChanges(&desktop, &DesktopAppearance::highContrastChanged);
        QSignalSpy motionChanges(&desktop, &DesktopAppearance::reduceMotionChanged);
        QTest::ignoreMessage(QtInfoMsg, QRegularExpression(u"No desktop settings portal.*"_s));
        desktop.start();
        QTRY_COMPARE(desktop.status(), DesktopAppearance::Status::unavailable);
        QVERIFY(!desktop.highContrast() && !desktop.reduceMotion());

        QVERIFY(startPortal(R"({"org.freedesktop.appearance": {"contrast": 1}})"));
        change(gnomeInterface, u"enable-animations"_s, false);
        QVERIFY(contrastChanges.wait(5000));
        QCOMPARE(desktop.status(), DesktopAppearance::Status::following);
        QVERIFY(desktop.highContrast() && desktop.reduceMotion());

        QSignalSpy statusChanges(&desktop, &DesktopAppearance::statusChanged);
        change(gnomeInterface, u"enable-animations"_s, true);
        QVERIFY(motionChanges.wait(5000) && !desktop.reduceMotion());
        change(appearance, u"contrast"_s, QVariant::fromValue(quint32(0)));
        QVERIFY(contrastChanges.wait(5000) && !desktop.highContrast());
        QCOMPARE(statusChanges.size(), 0);
    }
};

QTEST_GUILESS_MAIN(TestDesktopAppearance)
#include "tst_desktopappearance.moc"
