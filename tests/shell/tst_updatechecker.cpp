// "Check for Updates…" against a local HTTP server: what each answer says to the user, failing
// servers, and one check at a time.
#include "shell/updatechecker.h"
#include "testenvironment.h"
#include "testhttpserver.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QSignalSpy>
#include <QTest>

using namespace Qt::StringLiterals;

namespace {

using State = UpdateChecker::State;

const QString manifestPath = u"/releases/latest.json"_s;
const QString upToDate = u"You're up to date. Murmel 0.1.0 is the newest version."_s;
const QString unreachable = u"Murmel could not check for updates. The update server could not be reached."_s;
const QString unreadable = u"Murmel could not check for updates. The update information could not be read."_s;

TestHttpServer::Response manifest(std::initializer_list<std::pair<const char *, const char *>> fields)
{
    QJsonObject object;
    for (const auto &[key, value] : fields)
        object.insert(QString::fromUtf8(key), QString::fromUtf8(value));
    return {.body = QJsonDocument(object).toJson(QJsonDocument::Compact), .contentType = "application/json"};
}

bool finish(UpdateChecker &checker)
{
    QSignalSpy finished(&checker, &UpdateChecker::finished);
    checker.check();
    return finished.wait(20000) && finished.size() == 1;
}

} // namespace

class TestUpdateChecker final : public QObject
{
    Q_OBJECT

    TestEnvironment m_environment;
    std::unique_ptr<TestHttpServer> m_server;

private Q_SLOTS:
    void init()
    {
        m_server = std::make_unique<TestHttpServer>();
        QVERIFY(m_server->listen());
    }

    void manifestAnswers_data()
    {
        QTest::addColumn<TestHttpServer::Response>("response");
        QTest::addColumn<State>("state");
        QTest::addColumn<QString>("message");
        QTest::addColumn<QUrl>("download");
        const QString newer = u"Murmel 0.2.0 is available. You have 0.1.0."_s;
        QTest::newRow("newer") << manifest({{"version", "0.2.0"}, {"notes", "Faster."}, {"url", "https://murmel.app/dl"}})
                               << State::available << newer << QUrl(u"https://murmel.app/dl"_s);
        QTest::newRow("newer with v, numerically") << manifest({{"version", "v0.10"}}) << State::available
                                                   << u"Murmel 0.10 is available. You have 0.1.0."_s << QUrl();
        QTest::newRow("older") << manifest({{"version", "0.0.9"}}) << State::upToDate << upToDate << QUrl();
        QTest::newRow("same, trailing zeros") << manifest({{"version", "0.1.0.0"}}) << State::upToDate << upToDate
                                              << QUrl();
        QTest::newRow("not found") << TestHttpServer::Response{.status = 404} << State::failed << unreachable << QUrl();
        QTest::newRow("silent") << TestHttpServer::Response{.neverAnswer = true} << State::failed << unreachable << QUrl();
        QTest::newRow("pre-release suffix") << manifest({{"version", "9.0-beta"}}) << State::failed << unreadable
                                            << QUrl();
        const QByteArray hugeNotes(200 * 1024, 'x');
        QTest::newRow("far too large") << manifest({{"version", "9.0"}, {"notes", hugeNotes.constData()}})
                                       << State::failed << unreadable << QUrl();
        // Only a web address may reach the user's browser.
        QTest::newRow("javascript url") << manifest({{"version", "0.2.0"}, {"url", "javascript:alert(1)"}})
                                        << State::available << newer << QUrl();
    }

    void manifestAnswers()
    {
        QFETCH(TestHttpServer::Response, response);
        QFETCH(State, state);
        QFETCH(QString, message);
        QFETCH(QUrl, download);
        m_server->setResponse(manifestPath, response);
        UpdateChecker checker(m_server->url(manifestPath), u"0.1.0"_s);
        checker.setTimeout(std::chrono::seconds(3));
        QVERIFY(finish(checker));
        QCOMPARE(checker.state(), state);
        QCOMPARE(checker.message(), message);
        QCOMPARE(checker.downloadUrl(), download);
    }

    // One check at a time; what the last one found goes when the next one fails.
    void oneCheckAtATime()
    {
        // Four bytes every 50 ms: the answer takes a quarter of a second.
        m_server->setResponse(manifestPath, {.body = R"({"version": "0.2.0", "notes": "n"})", .chunkSize = 4,
                                             .chunkDelayMs = 50});
        UpdateChecker checker(m_server->url(manifestPath), u"0.1.0"_s);
        QSignalSpy finished(&checker, &UpdateChecker::finished);
        checker.check();
        QCOMPARE(checker.state(), State::checking);
        QVERIFY(QSignalSpy(m_server.get(), &TestHttpServer::requestReceived).wait(10000));
        checker.check();
        QVERIFY(finished.wait(20000));
        QTest::qWait(200); // a second request would have arrived by now
        QCOMPARE(m_server->requests().size(), 1);
        QCOMPARE(checker.notes(), u"n"_s);
        m_server->setResponse(manifestPath, {.status = 500});
        QVERIFY(finish(checker));
        QVERIFY(checker.latestVersion().isEmpty() && checker.notes().isEmpty());
    }
};

QTEST_GUILESS_MAIN(TestUpdateChecker)
#include "tst_updatechecker.moc"
