// The logind inhibitor against python-dbusmock's logind, which hands out a real pipe per
// inhibitor and forgets the inhibitor when its end is closed, as logind does.
#include "childprocess.h"
#include "platform/session/logindactivity.h"
#include "secretservicesession.h"

#include <QRegularExpression>
#include <QTest>

using namespace Qt::StringLiterals;

class TestLogindActivity : public QObject
{
    Q_OBJECT

private:
    SecretServiceSession m_session{SecretServiceSession::Keyring::none};
    QProcess m_logind;

    // Why each inhibitor is held that Murmel holds as it should: idle and sleep, blocking.
    QStringList held() const
    {
        const QString listing = QString::fromUtf8(ChildProcess::run(
            u"gdbus"_s, {u"call"_s, u"--address"_s, m_session.busAddress(), u"--dest"_s, u"org.freedesktop.login1"_s,
                         u"--object-path"_s, u"/org/freedesktop/login1"_s, u"--method"_s,
                         u"org.freedesktop.login1.Manager.ListInhibitors"_s}));
        static const QRegularExpression inhibitor(u"\\('idle:sleep', 'Murmel', '([^']*)', 'block'"_s);
        QStringList reasons;
        for (const QRegularExpressionMatch &match : inhibitor.globalMatch(listing))
            reasons << match.captured(1);
        return reasons;
    }

private Q_SLOTS:
    void initTestCase()
    {
        QVERIFY2(m_session.start(), qPrintable(m_session.error()));
        QVERIFY(m_session.startMock(m_logind, {u"--session"_s, u"--template"_s, u"logind"_s}, u"org.freedesktop.login1"_s));
    }

    void cleanupTestCase() { ChildProcess::stop(m_logind); }

    void holdsUntilTheTokenGoes()
    {
        LogindActivity activity(m_session.connection());
        auto token = activity.begin(u"Transcribing dictation"_s);
        QTRY_COMPARE(held(), QStringList{u"Transcribing dictation"_s});
        // A second activity at the same time is its own inhibitor.
        auto second = activity.begin(u"Transcribing a file"_s);
        QTRY_COMPARE(held().size(), 2);
        token.reset();
        QTRY_COMPARE(held(), QStringList{u"Transcribing a file"_s});
        second.reset();
        QTRY_COMPARE(held(), QStringList());
    }

    void aTokenGoneBeforeTheAnswerLeavesNothingHeld()
    {
        LogindActivity activity(m_session.connection());
        for (int i = 0; i < 5; ++i)
            activity.begin(u"Transcribing dictation"_s).reset();
        // The answers arrive after their tokens are gone; each inhibitor must be let go.
        QTest::qWait(300);
        QTRY_COMPARE(held(), QStringList());
    }

};

QTEST_GUILESS_MAIN(TestLogindActivity)
#include "tst_logindactivity.moc"
