#include "shell/updatechecker.h"
#include "testenvironment.h"
#include "testhttpserver.h"

#include <QElapsedTimer>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSignalSpy>
#include <QTest>

using namespace Qt::StringLiterals;

namespace {

using State = UpdateChecker::State;

const QString manifestPath = u"/releases/latest.json"_s;
const QString current = u"0.1.0"_s;
const QString upToDate = u"You're up to date. Murmel 0.1.0 is the newest version."_s;
const QString unreachable = u"Murmel could not check for updates. The update server could not be reached."_s;
const QString unreadable = u"Murmel could not check for updates. The update information could not be read."_s;

TestHttpServer::Response json(const QByteArray &body, int status = 200)
{
    return {.status = status, .body = body, .contentType = "application/json"};
}

// A well-formed manifest with these string fields.
QByteArray manifestText(std::initializer_list<std::pair<const char *, const char *>> fields)
{
    QJsonObject object;
    for (const auto &[key, value] : fields)
        object.insert(QString::fromUtf8(key), QString::fromUtf8(value));
    return QJsonDocument(object).toJson(QJsonDocument::Compact);
}

TestHttpServer::Response manifest(std::initializer_list<std::pair<const char *, const char *>> fields,
                                  int status = 200)
{
    return json(manifestText(fields), status);
}

} // namespace

class TestUpdateChecker final : public QObject
{
    Q_OBJECT

private:
    std::unique_ptr<TestEnvironment> m_environment;
    std::unique_ptr<TestHttpServer> m_server;

    // Runs one check to its end, within the bound a user would wait.
    static bool finish(UpdateChecker &checker)
    {
        QSignalSpy finished(&checker, &UpdateChecker::finished);
        checker.check();
        return finished.wait(20000) && finished.size() == 1;
    }

private Q_SLOTS:
    void init()
    {
        m_environment = std::make_unique<TestEnvironment>();
        m_server = std::make_unique<TestHttpServer>();
        QVERIFY(m_server->listen());
    }
    void cleanup()
    {
        m_server.reset();
        m_environment.reset();
        qunsetenv("MURMEL_UPDATE_URL");
    }

    void manifestAnswers_data()
    {
        QTest::addColumn<TestHttpServer::Response>("response");
        QTest::addColumn<State>("state");
        QTest::addColumn<QString>("message");
        QTest::addColumn<QString>("latest");
        QTest::addColumn<QString>("notes");
        QTest::addColumn<QUrl>("download");

        const QString none;
        const QUrl page(u"https://murmel.app/download"_s);
        const QString newer = u"Murmel 0.2.0 is available. You have 0.1.0."_s;

        QTest::newRow("newer")
            << manifest({{"version", "0.2.0"}, {"notes", "Faster dictation."}, {"url", "https://murmel.app/download"}})
            << State::available << newer << u"0.2.0"_s << u"Faster dictation."_s << page;
        QTest::newRow("newer with v, numerically")
            << manifest({{"version", "v0.10"}}) << State::available
            << u"Murmel 0.10 is available. You have 0.1.0."_s << u"0.10"_s << none << QUrl();
        QTest::newRow("newer by a fourth number")
            << manifest({{"version", "0.1.0.1"}}) << State::available
            << u"Murmel 0.1.0.1 is available. You have 0.1.0."_s << u"0.1.0.1"_s << none << QUrl();
        QTest::newRow("plain http download")
            << manifest({{"version", "1.0"}, {"url", "http://murmel.app/get"}}) << State::available
            << u"Murmel 1.0 is available. You have 0.1.0."_s << u"1.0"_s << none << QUrl(u"http://murmel.app/get"_s);
        QTest::newRow("same") << manifest({{"version", "0.1.0"}, {"url", "https://murmel.app/download"}})
                              << State::upToDate << upToDate << u"0.1.0"_s << none << page;
        QTest::newRow("same, shorter") << manifest({{"version", "0.1"}}) << State::upToDate << upToDate
                                       << u"0.1"_s << none << QUrl();
        QTest::newRow("same, longer") << manifest({{"version", "V0.1.0.0"}}) << State::upToDate << upToDate
                                      << u"0.1.0.0"_s << none << QUrl();
        QTest::newRow("older") << manifest({{"version", "0.0.9"}, {"notes", "old"}}) << State::upToDate << upToDate
                               << u"0.0.9"_s << u"old"_s << QUrl();

        QTest::newRow("not found") << json("{}", 404) << State::failed << unreachable << none << none << QUrl();
        QTest::newRow("server error") << manifest({{"version", "9.0"}}, 500) << State::failed << unreachable << none
                                      << none << QUrl();
        QTest::newRow("hung up") << TestHttpServer::Response{.hangUp = true} << State::failed << unreachable << none
                                 << none << QUrl();
        QTest::newRow("body cut short")
            << TestHttpServer::Response{.body = manifestText({{"version", "9.0"}, {"notes", "long"}}), .dropAfter = 10}
            << State::failed << unreachable << none << none << QUrl();

        QTest::newRow("no content") << json("", 204) << State::failed << unreadable << none << none << QUrl();
        QTest::newRow("malformed JSON") << json(R"({"version": "9.0",)") << State::failed << unreadable << none
                                        << none << QUrl();
        QTest::newRow("HTML page") << TestHttpServer::Response{.body = "<html>Moved</html>", .contentType = "text/html"}
                                   << State::failed << unreadable << none << none << QUrl();
        QTest::newRow("array") << json(R"(["0.2.0"])") << State::failed << unreadable << none << none << QUrl();
        QTest::newRow("missing version") << manifest({{"notes", "x"}, {"url", "https://murmel.app"}})
                                         << State::failed << unreadable << none << none << QUrl();
        QTest::newRow("version as number") << json(R"({"version": 2})") << State::failed << unreadable << none
                                           << none << QUrl();
        QTest::newRow("pre-release suffix") << manifest({{"version", "9.0-beta"}}) << State::failed << unreadable
                                            << none << none << QUrl();
        QTest::newRow("version word") << manifest({{"version", "latest"}}) << State::failed << unreadable << none
                                      << none << QUrl();
        const QByteArray hugeNotes(200 * 1024, 'x');
        QTest::newRow("far too large") << manifest({{"version", "9.0"}, {"notes", hugeNotes.constData()}})
                                       << State::failed << unreadable << none << none << QUrl();

        // Only a web address may reach the user's browser.
        QTest::newRow("javascript url") << manifest({{"version", "0.2.0"}, {"url", "javascript:alert(1)"}})
                                        << State::available << newer << u"0.2.0"_s << none << QUrl();
        QTest::newRow("file url") << manifest({{"version", "0.2.0"}, {"url", "file:///etc/passwd"}})
                                  << State::available << newer << u"0.2.0"_s << none << QUrl();
        QTest::newRow("data url") << manifest({{"version", "0.2.0"}, {"url", "data:text/html,<script>x</script>"}})
                                  << State::available << newer << u"0.2.0"_s << none << QUrl();
        QTest::newRow("url not a string") << json(R"({"version": "0.2.0", "url": 42})") << State::available << newer
                                          << u"0.2.0"_s << none << QUrl();
    }

    void manifestAnswers()
    {
        QFETCH(TestHttpServer::Response, response);
        QFETCH(State, state);
        QFETCH(QString, message);
        QFETCH(QString, latest);
        QFETCH(QString, notes);
        QFETCH(QUrl, download);
        m_server->setResponse(manifestPath, response);

        UpdateChecker checker(m_server->url(manifestPath), current);
        QCOMPARE(checker.state(), State::idle);
        QVERIFY(finish(checker));

        QCOMPARE(checker.state(), state);
        QCOMPARE(checker.message(), message);
        QCOMPARE(checker.latestVersion(), latest);
        QCOMPARE(checker.notes(), notes);
        QCOMPARE(checker.downloadUrl(), download);
        // Qt sends a GET again, once, when the connection closes before any answer.
        const qsizetype requests = m_server->requests().size();
        QVERIFY2(requests == 1 || (requests == 2 && response.hangUp), qPrintable(QString::number(requests)));
        QCOMPARE(m_server->requests().first().method, QByteArray("GET"));
    }

    void unreachableServer()
    {
        const QUrl url = m_server->url(manifestPath);
        m_server->close(); // the port now refuses connections
        UpdateChecker checker(url, current);
        QVERIFY(finish(checker));
        QCOMPARE(checker.state(), State::failed);
        QCOMPARE(checker.message(), unreachable);
    }

    void silentServerTimesOut()
    {
        m_server->setResponse(manifestPath, {.neverAnswer = true});
        UpdateChecker checker(m_server->url(manifestPath), current);
        checker.setTimeout(std::chrono::milliseconds(300));
        QElapsedTimer clock;
        clock.start();
        QVERIFY(finish(checker));
        QVERIFY2(clock.elapsed() < 10000, qPrintable(QString::number(clock.elapsed())));
        QCOMPARE(checker.state(), State::failed);
        QCOMPARE(checker.message(), unreachable);
    }

    void checkWhileCheckingIsIgnored()
    {
        // Four bytes every 50 ms: the answer takes a quarter of a second.
        m_server->setResponse(manifestPath,
                              {.body = manifestText({{"version", "0.2.0"}}), .chunkSize = 4, .chunkDelayMs = 50});
        UpdateChecker checker(m_server->url(manifestPath), current);
        QSignalSpy finished(&checker, &UpdateChecker::finished);
        QSignalSpy stateChanged(&checker, &UpdateChecker::stateChanged);
        checker.check();
        QCOMPARE(checker.state(), State::checking);
        QVERIFY(QSignalSpy(m_server.get(), &TestHttpServer::requestReceived).wait(10000));
        checker.check();
        checker.check();
        QVERIFY(finished.wait(20000));
        QTest::qWait(200); // a second request would have arrived by now
        QCOMPARE(finished.size(), 1);
        QCOMPARE(m_server->requests().size(), 1);
        QCOMPARE(checker.state(), State::available);
        QCOMPARE(stateChanged.size(), 2); // idle → checking → available

        // Once finished, the user may ask again.
        QVERIFY(finish(checker));
        QCOMPARE(m_server->requests().size(), 2);
    }

    void notificationsOnlyOnChange()
    {
        m_server->setResponse(manifestPath,
                              manifest({{"version", "0.2.0"}, {"notes", "n"}, {"url", "https://murmel.app/d"}}));
        UpdateChecker checker(m_server->url(manifestPath), current);
        QSignalSpy state(&checker, &UpdateChecker::stateChanged);
        QSignalSpy latest(&checker, &UpdateChecker::latestVersionChanged);
        QSignalSpy notes(&checker, &UpdateChecker::notesChanged);
        QSignalSpy download(&checker, &UpdateChecker::downloadUrlChanged);
        QSignalSpy message(&checker, &UpdateChecker::messageChanged);
        QVERIFY(finish(checker));
        QCOMPARE(state.size(), 2);
        QCOMPARE(latest.size(), 1);
        QCOMPARE(notes.size(), 1);
        QCOMPARE(download.size(), 1);
        QCOMPARE(message.size(), 2); // "Checking…", then the answer
        QCOMPARE(checker.property("state").value<State>(), State::available);
        QCOMPARE(checker.property("downloadUrl").toUrl(), QUrl(u"https://murmel.app/d"_s));

        // A failure after a success clears what that success found.
        m_server->setResponse(manifestPath, json("{}", 500));
        QVERIFY(finish(checker));
        QCOMPARE(checker.state(), State::failed);
        QVERIFY(checker.latestVersion().isEmpty() && checker.notes().isEmpty() && checker.downloadUrl().isEmpty());
    }

    void manifestAddress()
    {
        qunsetenv("MURMEL_UPDATE_URL");
        QCOMPARE(UpdateChecker::manifestUrl(), QUrl(u"" MURMEL_UPDATE_MANIFEST_URL ""_s));
        if (QStringLiteral(MURMEL_UPDATE_MANIFEST_URL).isEmpty()) {
            UpdateChecker none;
            QVERIFY(!none.canCheck());
            none.check(); // asks nobody
            QCOMPARE(none.state(), State::idle);
        }
        qputenv("MURMEL_UPDATE_URL", m_server->url(manifestPath).toEncoded());
        m_server->setResponse(manifestPath, manifest({{"version", MURMEL_VERSION}}));
        UpdateChecker checker; // the address from the environment, this build's version
        QCOMPARE(checker.manifest(), m_server->url(manifestPath));
        QVERIFY(finish(checker));
        QCOMPARE(checker.state(), State::upToDate);
        QCOMPARE(checker.message(), u"You're up to date. Murmel " MURMEL_VERSION " is the newest version."_s);
    }

    void destroyedWhileChecking()
    {
        m_server->setResponse(manifestPath, {.neverAnswer = true});
        {
            UpdateChecker checker(m_server->url(manifestPath), current);
            checker.check();
            QVERIFY(QSignalSpy(m_server.get(), &TestHttpServer::requestReceived).wait(10000));
        }
        QTest::qWait(100); // nothing may call into the destroyed checker
    }
};

QTEST_GUILESS_MAIN(TestUpdateChecker)
#include "tst_updatechecker.moc"
