#include "core/insert/clipboardsafeinsertservice.h"
#include "fakes/fakekeyboardinjector.h"

#include <memory>
#include <QCoroTask>
#include <QTest>
#include <QTimeZone>

using Error = ClipboardSafeInsertService::Error;
using MaybeError = std::optional<Error>;

namespace {

const QDateTime start = QDateTime(QDate(2026, 3, 1), QTime(9, 30), QTimeZone::utc());

MaybeError request(ClipboardSafeInsertService &service)
{
    return QCoro::waitFor(service.insertLastDictation());
}

} // namespace

char *toString(const MaybeError &error)
{
    return qstrdup(error ? qPrintable(ClipboardSafeInsertService::description(*error))
                         : "no error");
}

class TestClipboardSafeInsert final : public QObject
{
    Q_OBJECT

private:
    std::unique_ptr<FakeKeyboardInjector> m_fake;
    QDateTime m_now;
    ClipboardSafeInsertService::Clock clock()
    {
        return [this] { return m_now; };
    }

private Q_SLOTS:
    void init()
    {
        m_fake = std::make_unique<FakeKeyboardInjector>();
        m_now = start;
    }

    void messages()
    {
        QCOMPARE(ClipboardSafeInsertService::description(Error::notReady),
                 QStringLiteral("No Murmel dictation is ready yet."));
        QCOMPARE(ClipboardSafeInsertService::description(Error::notReturned),
                 QStringLiteral("Murmel could not return the latest dictation."));
    }

    void lifetime_data()
    {
        QTest::addColumn<qint64>("elapsedMs");
        QTest::addColumn<bool>("returned");

        QTest::newRow("at once") << qint64(0) << true;
        QTest::newRow("after 119 s") << qint64(119000) << true;
        QTest::newRow("a millisecond before expiry") << qint64(119999) << true;
        QTest::newRow("exactly 120 s") << qint64(120000) << false;
        QTest::newRow("after 121 s") << qint64(121000) << false;
        QTest::newRow("an hour later") << qint64(3600000) << false;
    }

    void lifetime()
    {
        QFETCH(qint64, elapsedMs);
        QFETCH(bool, returned);

        ClipboardSafeInsertService service(*m_fake, clock());
        service.hold(QStringLiteral("Ship it on Friday."));
        QCOMPARE(service.pending()->expiresAt, start.addSecs(120));
        m_now = start.addMSecs(elapsedMs);

        QCOMPARE(request(service), returned ? MaybeError() : MaybeError(Error::notReady));
        QCOMPARE(m_fake->typed,
                 returned ? QStringList{QStringLiteral("Ship it on Friday.")} : QStringList());
        // Returned or expired, the hold is gone either way.
        QVERIFY(!service.pending());
    }

    void eachDictationIsReturnedOnce()
    {
        ClipboardSafeInsertService service(*m_fake, clock());
        service.hold(QStringLiteral("once"));
        QCOMPARE(request(service), MaybeError());
        QCOMPARE(request(service), MaybeError(Error::notReady));
        QCOMPARE(m_fake->typed, QStringList{QStringLiteral("once")});
    }

    void nothingToReturn_data()
    {
        QTest::addColumn<bool>("hold");
        QTest::addColumn<QString>("text");
        QTest::addColumn<bool>("clear");

        QTest::newRow("nothing held") << false << QString() << false;
        QTest::newRow("empty text") << true << QString() << false;
        QTest::newRow("cleared") << true << QStringLiteral("discarded") << true;
    }

    void nothingToReturn()
    {
        QFETCH(bool, hold);
        QFETCH(QString, text);
        QFETCH(bool, clear);

        ClipboardSafeInsertService service(*m_fake, clock());
        if (hold)
            service.hold(text);
        if (clear)
            service.clear();
        QCOMPARE(request(service), MaybeError(Error::notReady));
        QVERIFY(!service.pending());
        QVERIFY(m_fake->typeCalls.isEmpty());
    }

    void newerHoldReplacesAndRestartsTheClock()
    {
        ClipboardSafeInsertService service(*m_fake, clock());
        service.hold(QStringLiteral("old"));
        m_now = start.addSecs(100);
        const QString text = QStringLiteral("  new\nline — 東京 ✓\t");
        service.hold(text);
        m_now = start.addSecs(200);
        QCOMPARE(request(service), MaybeError());
        QCOMPARE(m_fake->typed, QStringList{text});
    }

    void typingFailureKeepsTheHold()
    {
        ClipboardSafeInsertService service(*m_fake, clock());
        bool typingWorks = false;
        m_fake->typing = [&typingWorks](const QString &) { return typingWorks; };
        service.hold(QStringLiteral("try again"));

        QCOMPARE(request(service), MaybeError(Error::notReturned));
        QVERIFY(service.pending());
        QCOMPARE(service.pending()->text, QStringLiteral("try again"));
        QCOMPARE(service.pending()->expiresAt, start.addSecs(120));

        typingWorks = true;
        QCOMPARE(request(service), MaybeError());
        QCOMPARE(m_fake->typed, QStringList{QStringLiteral("try again")});
        QVERIFY(!service.pending());
    }

    // A kept hold still expires on its original schedule.
    void keptHoldStillExpires()
    {
        ClipboardSafeInsertService service(*m_fake, clock());
        m_fake->typing = [](const QString &) { return false; };
        service.hold(QStringLiteral("too late"));
        QCOMPARE(request(service), MaybeError(Error::notReturned));
        m_now = start.addSecs(121);
        m_fake->typing = {};
        QCOMPARE(request(service), MaybeError(Error::notReady));
        QVERIFY(m_fake->typed.isEmpty());
    }

    void secondRequestWhileTypingDoesNotTypeTwice()
    {
        ClipboardSafeInsertService service(*m_fake, clock());
        m_fake->delay = std::chrono::milliseconds(100);
        service.hold(QStringLiteral("only once"));

        auto first = service.insertLastDictation();
        QCOMPARE(request(service), MaybeError(Error::notReady));
        QCOMPARE(QCoro::waitFor(std::move(first)), MaybeError());
        QCOMPARE(m_fake->typed, QStringList{QStringLiteral("only once")});
    }

    void failedTypingDoesNotBringBackAnOlderHold_data()
    {
        QTest::addColumn<bool>("newHold");
        QTest::newRow("a new dictation was held meanwhile") << true;
        QTest::newRow("the hold was cleared meanwhile") << false;
    }

    void failedTypingDoesNotBringBackAnOlderHold()
    {
        QFETCH(bool, newHold);

        ClipboardSafeInsertService service(*m_fake, clock());
        m_fake->delay = std::chrono::milliseconds(100);
        m_fake->typing = [](const QString &) { return false; };
        service.hold(QStringLiteral("old"));

        auto typing = service.insertLastDictation();
        if (newHold)
            service.hold(QStringLiteral("new"));
        else
            service.clear();
        QCOMPARE(QCoro::waitFor(std::move(typing)), MaybeError(Error::notReturned));
        if (newHold) {
            QVERIFY(service.pending());
            QCOMPARE(service.pending()->text, QStringLiteral("new"));
        } else {
            QVERIFY(!service.pending());
        }
    }
};

QTEST_GUILESS_MAIN(TestClipboardSafeInsert)
#include "tst_clipboardsafeinsert.moc"
