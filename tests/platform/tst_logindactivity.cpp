// The logind inhibitor against python-dbusmock's logind, which hands out a real pipe per
// inhibitor and forgets the inhibitor when its end is closed, as logind does.
#include "childprocess.h"
#include "platform/session/logindactivity.h"
#include "secretservicesession.h"

#include <QDBusArgument>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QTest>

using namespace Qt::StringLiterals;

class TestLogindActivity : public QObject
{
    Q_OBJECT

private:
    SecretServiceSession m_session{SecretServiceSession::Keyring::none};
    QProcess m_logind;

    QDBusConnection bus() { return QDBusConnection(u"logind-test"_s); }

    // Each held inhibitor as "what who why mode".
    QStringList inhibitors()
    {
        const QDBusMessage reply = bus().call(QDBusMessage::createMethodCall(
            u"org.freedesktop.login1"_s, u"/org/freedesktop/login1"_s, u"org.freedesktop.login1.Manager"_s,
            u"ListInhibitors"_s));
        QStringList list;
        const QDBusArgument argument = reply.arguments().value(0).value<QDBusArgument>();
        argument.beginArray();
        while (!argument.atEnd()) {
            QString what, who, why, mode;
            uint uid = 0, pid = 0;
            argument.beginStructure();
            argument >> what >> who >> why >> mode >> uid >> pid;
            argument.endStructure();
            list << QStringList{what, who, why, mode}.join(u'|');
        }
        argument.endArray();
        return list;
    }

private Q_SLOTS:
    void initTestCase()
    {
        QVERIFY2(m_session.start(), qPrintable(m_session.error()));
        QVERIFY(m_session.startMock(m_logind, {u"--session"_s, u"--template"_s, u"logind"_s}, u"org.freedesktop.login1"_s));
        QVERIFY(QDBusConnection::connectToBus(m_session.busAddress(), u"logind-test"_s).isConnected());
    }

    void cleanupTestCase()
    {
        QDBusConnection::disconnectFromBus(u"logind-test"_s);
        ChildProcess::stop(m_logind);
    }

    void holdsUntilTheTokenGoes()
    {
        LogindActivity activity(bus());
        auto token = activity.begin(u"Transcribing dictation"_s);
        QTRY_COMPARE(inhibitors(), QStringList{u"idle:sleep|Murmel|Transcribing dictation|block"_s});
        // A second activity at the same time is its own inhibitor.
        auto second = activity.begin(u"Transcribing a file"_s);
        QTRY_COMPARE(inhibitors().size(), 2);
        token.reset();
        QTRY_COMPARE(inhibitors(), QStringList{u"idle:sleep|Murmel|Transcribing a file|block"_s});
        second.reset();
        QTRY_COMPARE(inhibitors().size(), 0);
    }

    void aTokenGoneBeforeTheAnswerLeavesNothingHeld()
    {
        LogindActivity activity(bus());
        for (int i = 0; i < 5; ++i)
            activity.begin(u"Transcribing dictation"_s).reset();
        // The answers arrive after their tokens are gone; each inhibitor must be let go.
        QTest::qWait(300);
        QTRY_COMPARE(inhibitors().size(), 0);
    }

    // Refused, or no bus at all: the work goes on with a token that holds nothing.
    void withoutLogindNothingIsHeld()
    {
        SecretServiceSession empty(SecretServiceSession::Keyring::none);
        QVERIFY2(empty.start(), qPrintable(empty.error()));
        {
            LogindActivity activity(QDBusConnection::connectToBus(empty.busAddress(), u"no-logind"_s));
            QVERIFY(activity.begin(u"Transcribing dictation"_s));
            // The refusal must arrive before the connection goes, or its call is left pending.
            QTest::qWait(300);
        }
        QDBusConnection::disconnectFromBus(u"no-logind"_s);
        QVERIFY(LogindActivity(QDBusConnection(u"never-connected"_s)).begin(u"Transcribing a file"_s));
    }
};

QTEST_GUILESS_MAIN(TestLogindActivity)
#include "tst_logindactivity.moc"
