// The logind inhibitor against python-dbusmock's logind, which hands out a real pipe per
// inhibitor and forgets the inhibitor when its end is closed, as logind does.
#include "childprocess.h"
#include "platform/session/logindactivity.h"
#include "secretservicesession.h"

#include <QDBusArgument>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusReply>
#include <QProcess>
#include <QTest>

namespace {

struct Inhibitor
{
    QString what, who, why, mode;
};

} // namespace

class TestLogindActivity : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void cleanupTestCase();
    void holdsUntilTheTokenGoes();
    void aTokenGoneBeforeTheAnswerLeavesNothingHeld();
    void withoutLogindNothingIsHeld();

private:
    QList<Inhibitor> inhibitors();
    QDBusConnection bus() { return QDBusConnection(QStringLiteral("logind-test")); }

    SecretServiceSession m_session{SecretServiceSession::Keyring::none};
    QProcess m_logind;
};

void TestLogindActivity::initTestCase()
{
    QVERIFY2(m_session.start(), qPrintable(m_session.error()));
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(m_session.environment());
    m_logind.setProcessEnvironment(environment);
    ChildProcess::dieWithParent(m_logind);
    m_logind.start(QStringLiteral("/usr/bin/python3"), {QStringLiteral("-m"), QStringLiteral("dbusmock"),
                                                        QStringLiteral("--session"), QStringLiteral("--template"),
                                                        QStringLiteral("logind")});
    QVERIFY(m_logind.waitForStarted());
    QVERIFY(QDBusConnection::connectToBus(m_session.busAddress(), QStringLiteral("logind-test")).isConnected());
    QTRY_VERIFY_WITH_TIMEOUT(m_session.hasName(QStringLiteral("org.freedesktop.login1")), 15000);
}

void TestLogindActivity::cleanupTestCase()
{
    QDBusConnection::disconnectFromBus(QStringLiteral("logind-test"));
    m_logind.terminate();
    if (!m_logind.waitForFinished(5000))
        m_logind.kill();
    m_logind.waitForFinished();
}

QList<Inhibitor> TestLogindActivity::inhibitors()
{
    const QDBusMessage reply = bus().call(QDBusMessage::createMethodCall(
        QStringLiteral("org.freedesktop.login1"), QStringLiteral("/org/freedesktop/login1"),
        QStringLiteral("org.freedesktop.login1.Manager"), QStringLiteral("ListInhibitors")));
    QList<Inhibitor> list;
    if (reply.type() != QDBusMessage::ReplyMessage)
        return list;
    const QDBusArgument argument = reply.arguments().value(0).value<QDBusArgument>();
    argument.beginArray();
    while (!argument.atEnd()) {
        Inhibitor inhibitor;
        uint uid = 0, pid = 0;
        argument.beginStructure();
        argument >> inhibitor.what >> inhibitor.who >> inhibitor.why >> inhibitor.mode >> uid >> pid;
        argument.endStructure();
        list << inhibitor;
    }
    argument.endArray();
    return list;
}

void TestLogindActivity::holdsUntilTheTokenGoes()
{
    LogindActivity activity(bus());
    auto token = activity.begin(QStringLiteral("Transcribing dictation"));
    QTRY_COMPARE(inhibitors().size(), 1);
    const Inhibitor held = inhibitors().first();
    QCOMPARE(held.what, QStringLiteral("idle:sleep"));
    QCOMPARE(held.who, QStringLiteral("Murmel"));
    QCOMPARE(held.why, QStringLiteral("Transcribing dictation"));
    QCOMPARE(held.mode, QStringLiteral("block"));

    // A second activity at the same time is its own inhibitor.
    auto second = activity.begin(QStringLiteral("Transcribing a file"));
    QTRY_COMPARE(inhibitors().size(), 2);
    token.reset();
    QTRY_COMPARE(inhibitors().size(), 1);
    QCOMPARE(inhibitors().first().why, QStringLiteral("Transcribing a file"));
    second.reset();
    QTRY_COMPARE(inhibitors().size(), 0);
}

void TestLogindActivity::aTokenGoneBeforeTheAnswerLeavesNothingHeld()
{
    LogindActivity activity(bus());
    for (int i = 0; i < 5; ++i)
        activity.begin(QStringLiteral("Transcribing dictation")).reset();
    // The answers arrive after their tokens are gone; each inhibitor must be let go.
    QTest::qWait(300);
    QTRY_COMPARE(inhibitors().size(), 0);
}

void TestLogindActivity::withoutLogindNothingIsHeld()
{
    SecretServiceSession empty(SecretServiceSession::Keyring::none);
    QVERIFY2(empty.start(), qPrintable(empty.error()));
    const QString name = QStringLiteral("no-logind");
    {
        LogindActivity activity(QDBusConnection::connectToBus(empty.busAddress(), name));
        auto token = activity.begin(QStringLiteral("Transcribing dictation"));
        QVERIFY(token);
        QTest::qWait(200);
        auto again = activity.begin(QStringLiteral("Transcribing dictation"));
        QVERIFY(again);
        // The refusals must arrive before the connection goes, or their calls are left pending.
        QTest::qWait(300);
    }
    {
        LogindActivity disconnected(QDBusConnection(QStringLiteral("never-connected")));
        QVERIFY(disconnected.begin(QStringLiteral("Transcribing a file")));
    }
    QDBusConnection::disconnectFromBus(name);
    QCOMPARE(inhibitors().size(), 0);
}

QTEST_GUILESS_MAIN(TestLogindActivity)
#include "tst_logindactivity.moc"
