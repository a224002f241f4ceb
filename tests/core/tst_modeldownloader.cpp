#include "core/speech/modeldownloader.h"
#include "testenvironment.h"
#include "testhttpserver.h"

#include <QCoroTask>
#include <QFile>
#include <QFileInfo>
#include <QRandomGenerator>
#include <QSignalSpy>
#include <QTest>
#include <QThread>
#include <QTimer>

using namespace Qt::StringLiterals;

namespace {

QByteArray randomBytes(qsizetype size)
{
    QByteArray bytes(size, Qt::Uninitialized);
    QRandomGenerator generator(size);
    for (qsizetype i = 0; i < size; ++i)
        bytes[i] = static_cast<char>(generator.generate() & 0xff);
    return bytes;
}

QByteArray contents(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

void writeFile(const QString &path, const QByteArray &bytes)
{
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
    file.write(bytes);
}

} // namespace

class TestModelDownloader final : public QObject
{
    Q_OBJECT

private:
    std::unique_ptr<TestEnvironment> m_environment;
    std::unique_ptr<TestHttpServer> m_server;
    QByteArray m_body;
    QList<double> m_progress;

    QString destination() const { return m_environment->dataHome() + u"/Murmel/Models/ggml-base.en.bin"_s; }
    QString partial() const { return ModelDownloader::partialPath(destination()); }

    std::optional<ModelDownloadError> fetch(ModelDownloader &downloader, const QString &path,
                                            ModelDownloader::Acceptance accept = {})
    {
        return QCoro::waitFor(downloader.download(m_server->url(path), destination(),
                                                  [this](double fraction) { m_progress << fraction; },
                                                  std::move(accept)));
    }

private Q_SLOTS:
    void init()
    {
        m_environment = std::make_unique<TestEnvironment>();
        m_server = std::make_unique<TestHttpServer>();
        QVERIFY(m_server->listen());
        m_body = randomBytes(3 * 1024 * 1024 + 123);
        m_progress.clear();
    }

    void cleanup()
    {
        m_server.reset();
        m_environment.reset();
    }

    void successReportsProgressAndPlacesTheFile()
    {
        m_server->setResponse(u"/model"_s, {.body = m_body});
        ModelDownloader downloader;
        const auto error = fetch(downloader, u"/model"_s);
        QVERIFY2(!error, error ? qPrintable(error->description()) : "");
        QCOMPARE(contents(destination()), m_body);
        QVERIFY(!QFile::exists(partial()));
        QVERIFY(!m_progress.isEmpty());
        QCOMPARE(m_progress.last(), 1.0);
        QVERIFY(std::is_sorted(m_progress.begin(), m_progress.end()));
        QVERIFY(m_progress.first() >= 0.0);
        QCOMPARE(m_server->requests().size(), 1);
        QVERIFY(!m_server->requests().first().headers.contains("range"));
        QVERIFY(!downloader.isRunning());
    }

    void unknownLengthReportsNoProgress()
    {
        m_server->setResponse(u"/model"_s, {.body = m_body, .sendLength = false});
        ModelDownloader downloader;
        QVERIFY(!fetch(downloader, u"/model"_s));
        QCOMPARE(contents(destination()), m_body);
        QVERIFY(m_progress.isEmpty());
    }

    void emptyBodyGivesAnEmptyFile()
    {
        m_server->setResponse(u"/model"_s, {.body = {}});
        ModelDownloader downloader;
        QVERIFY(!fetch(downloader, u"/model"_s));
        QVERIFY(QFileInfo::exists(destination()));
        QCOMPARE(QFileInfo(destination()).size(), 0);
    }

    void badStatus_data()
    {
        QTest::addColumn<int>("status");
        QTest::addColumn<QString>("message");
        QTest::newRow("404") << 404 << u"The server returned HTTP 404."_s;
        QTest::newRow("500") << 500 << u"The server returned HTTP 500."_s;
        QTest::newRow("403") << 403 << u"The server returned HTTP 403."_s;
    }

    void badStatus()
    {
        QFETCH(int, status);
        QFETCH(QString, message);
        m_server->setResponse(u"/model"_s, {.status = status, .body = "<html>an error page</html>"});
        // Even a partial file from an earlier attempt goes: the server no longer offers it.
        QDir().mkpath(QFileInfo(partial()).absolutePath());
        writeFile(partial(), "earlier bytes");
        ModelDownloader downloader;
        const auto error = fetch(downloader, u"/model"_s);
        QVERIFY(error);
        QCOMPARE(error->kind(), ModelDownloadError::badStatus);
        QCOMPARE(error->statusCode(), status);
        QCOMPARE(error->description(), message);
        QVERIFY(!QFile::exists(destination()));
        QVERIFY(!QFile::exists(partial()));
    }

    void droppedConnectionKeepsThePartialFile()
    {
        m_server->setResponse(u"/model"_s, {.body = m_body, .dropAfter = 1024 * 1024});
        ModelDownloader downloader;
        const auto error = fetch(downloader, u"/model"_s);
        QVERIFY(error);
        QCOMPARE(error->kind(), ModelDownloadError::network);
        QVERIFY(!error->description().isEmpty());
        QVERIFY(!QFile::exists(destination()));
        QCOMPARE(contents(partial()), m_body.left(1024 * 1024));
    }

    void stalledServerTimesOut()
    {
        m_server->setResponse(u"/model"_s, {.body = m_body, .stallAfter = 512 * 1024});
        ModelDownloader downloader;
        downloader.setIdleTimeout(std::chrono::milliseconds(400));
        const auto error = fetch(downloader, u"/model"_s);
        QVERIFY(error);
        QCOMPARE(error->kind(), ModelDownloadError::network);
        QCOMPARE(error->description(), u"The request timed out."_s);
        QVERIFY(!QFile::exists(destination()));
    }

    // Found by hostile servers: one that sends without end, one that trickles a byte now
    // and then. Neither may fill the disk or hold the download for good.
    void endlessAndTricklingServersFail()
    {
        m_server->setResponse(u"/endless"_s, {.body = m_body, .sendLength = false});
        ModelDownloader downloader;
        auto error = QCoro::waitFor(downloader.download(m_server->url(u"/endless"_s), destination(), {}, {}, 1024 * 1024));
        QVERIFY(error);
        QCOMPARE(error->description(), u"The server sent more than the file's 1048576 bytes."_s);
        QVERIFY(!QFile::exists(partial()));

        m_server->setResponse(u"/trickle"_s, {.body = m_body, .chunkSize = 16, .chunkDelayMs = 100});
        downloader.setMinimumRate(1000, std::chrono::milliseconds(500));
        error = fetch(downloader, u"/trickle"_s);
        QVERIFY(error);
        QCOMPARE(error->kind(), ModelDownloadError::network);
        QCOMPARE(error->description(), u"The download became too slow (under 1000 bytes a second)."_s);
        QVERIFY(!QFile::exists(destination()));
    }

    void resumesWhenTheServerHonoursRange()
    {
        m_server->setResponse(u"/model"_s, {.body = m_body, .dropAfter = 1024 * 1024});
        ModelDownloader downloader;
        QVERIFY(fetch(downloader, u"/model"_s));
        QCOMPARE(QFileInfo(partial()).size(), 1024 * 1024);

        m_server->setResponse(u"/model"_s, {.body = m_body, .honourRange = true});
        m_progress.clear();
        const auto error = fetch(downloader, u"/model"_s);
        QVERIFY2(!error, error ? qPrintable(error->description()) : "");
        QCOMPARE(contents(destination()), m_body);
        QCOMPARE(m_server->requests().last().headers.value("range"), QByteArray("bytes=1048576-"));
        // Progress counts the whole file, so it starts where the first attempt stopped.
        QVERIFY(!m_progress.isEmpty());
        QVERIFY(m_progress.first() >= 1024.0 * 1024.0 / m_body.size());
        QCOMPARE(m_progress.last(), 1.0);
        QVERIFY(!QFile::exists(partial()));
    }

    void startsOverWhenTheServerIgnoresRange()
    {
        QDir().mkpath(QFileInfo(partial()).absolutePath());
        writeFile(partial(), QByteArray(1024 * 1024, 'j'));
        m_server->setResponse(u"/model"_s, {.body = m_body, .honourRange = false});
        ModelDownloader downloader;
        QVERIFY(!fetch(downloader, u"/model"_s));
        QCOMPARE(m_server->requests().size(), 1);
        QVERIFY(m_server->requests().first().headers.contains("range"));
        QCOMPARE(contents(destination()), m_body);
    }

    void startsOverWhenThePartialFileIsTooLong()
    {
        // A partial file as long as the whole: the server answers 416.
        QDir().mkpath(QFileInfo(partial()).absolutePath());
        writeFile(partial(), QByteArray(m_body.size() + 10, 'j'));
        m_server->setResponse(u"/model"_s, {.body = m_body, .honourRange = true});
        ModelDownloader downloader;
        const auto error = fetch(downloader, u"/model"_s);
        QVERIFY2(!error, error ? qPrintable(error->description()) : "");
        QCOMPARE(m_server->requests().size(), 2);
        QVERIFY(!m_server->requests().last().headers.contains("range"));
        QCOMPARE(contents(destination()), m_body);
    }

    void cancelStopsAndLeavesNothing()
    {
        m_server->setResponse(u"/model"_s, {.body = m_body, .chunkSize = 64 * 1024, .chunkDelayMs = 50});
        ModelDownloader downloader;
        auto task = downloader.download(m_server->url(u"/model"_s), destination(), [&](double) {
            if (downloader.isRunning())
                downloader.cancel();
        });
        const auto error = QCoro::waitFor(std::move(task));
        QVERIFY(error);
        QCOMPARE(error->kind(), ModelDownloadError::cancelled);
        QVERIFY(!QFile::exists(destination()));
        QVERIFY(!QFile::exists(partial()));
        downloader.cancel(); // idle: nothing happens
    }

    void rejectedFileIsRemovedAndNeverPlaced()
    {
        m_server->setResponse(u"/model"_s, {.body = m_body});
        QDir().mkpath(QFileInfo(destination()).absolutePath());
        writeFile(destination(), "the previous copy");
        ModelDownloader downloader;
        QThread *acceptThread = nullptr;
        QByteArray seen;
        const auto error = fetch(downloader, u"/model"_s, [&](const QString &file) {
            acceptThread = QThread::currentThread();
            seen = contents(file);
            return false;
        });
        QVERIFY(error);
        QCOMPARE(error->kind(), ModelDownloadError::verificationFailed);
        QCOMPARE(seen, m_body);
        QVERIFY(acceptThread && acceptThread != QThread::currentThread());
        QVERIFY(!QFile::exists(partial()));
        QCOMPARE(contents(destination()), QByteArray("the previous copy"));
    }

    void acceptedFileReplacesTheExistingOne()
    {
        m_server->setResponse(u"/model"_s, {.body = m_body});
        QDir().mkpath(QFileInfo(destination()).absolutePath());
        writeFile(destination(), "the previous copy");
        ModelDownloader downloader;
        QVERIFY(!fetch(downloader, u"/model"_s, [](const QString &) { return true; }));
        QCOMPARE(contents(destination()), m_body);
    }

    void unreachableServerIsANetworkError()
    {
        const QUrl url = m_server->url(u"/model"_s);
        m_server.reset(); // nothing listens on that port any more
        ModelDownloader downloader;
        const auto error = QCoro::waitFor(downloader.download(url, destination()));
        QVERIFY(error);
        QCOMPARE(error->kind(), ModelDownloadError::network);
        QVERIFY(!error->description().isEmpty());
        QVERIFY(!QFile::exists(partial()));
        QVERIFY(!QFile::exists(destination()));
        m_server = std::make_unique<TestHttpServer>();
    }

    void oneDownloadPerDestination()
    {
        m_server->setResponse(u"/model"_s, {.body = m_body, .chunkSize = 256 * 1024, .chunkDelayMs = 20});
        ModelDownloader first;
        ModelDownloader second;
        auto running = first.download(m_server->url(u"/model"_s), destination());
        QVERIFY(ModelDownloader::isInProgress(destination()));
        const auto refused = QCoro::waitFor(second.download(m_server->url(u"/model"_s), destination()));
        QVERIFY(refused);
        QCOMPARE(refused->description(), u"Another Murmel process is downloading this file."_s);
        QVERIFY(!QCoro::waitFor(std::move(running)));
        QCOMPARE(contents(destination()), m_body);
        QVERIFY(!ModelDownloader::isInProgress(destination()));
    }

    void honoursTheProxyVariable()
    {
        m_server->setResponse(u"/repo/ggml-base.en.bin"_s, {.body = m_body});
        qputenv("http_proxy", m_server->url(QString()).toString().toLocal8Bit());
        ModelDownloader downloader;
        const auto error = QCoro::waitFor(downloader.download(QUrl(u"http://models.invalid/repo/ggml-base.en.bin"_s), destination()));
        qunsetenv("http_proxy");
        QVERIFY2(!error, error ? qPrintable(error->description()) : "");
        QCOMPARE(m_server->requests().first().target, QByteArray("http://models.invalid/repo/ggml-base.en.bin"));
        QCOMPARE(contents(destination()), m_body);
    }
};

QTEST_GUILESS_MAIN(TestModelDownloader)
#include "tst_modeldownloader.moc"
