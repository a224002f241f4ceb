#include "core/speech/modelstore.h"
#include "testenvironment.h"
#include "testhttpserver.h"

#include <QCoroTask>
#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSignalSpy>
#include <QTest>

using namespace Qt::StringLiterals;

namespace {

QByteArray modelBytes(char seed)
{
    QByteArray bytes(2 * 1024 * 1024 + 7, seed);
    for (qsizetype i = 0; i < bytes.size(); i += 4099)
        bytes[i] = static_cast<char>(i & 0xff);
    return bytes;
}

QString digest(const QByteArray &bytes)
{
    return QString::fromLatin1(QCryptographicHash::hash(bytes, QCryptographicHash::Sha256).toHex());
}

} // namespace

class TestModelStore final : public QObject
{
    Q_OBJECT

private:
    std::unique_ptr<TestEnvironment> m_environment;
    std::unique_ptr<TestHttpServer> m_server;
    std::unique_ptr<ModelStore> m_store;
    const QByteArray m_baseEn = modelBytes('b');
    const QByteArray m_small = modelBytes('s');

    QString modelsFolder() const { return m_environment->dataHome() + u"/Murmel/Models"_s; }

    void serve(const QString &fileName, const TestHttpServer::Response &response)
    {
        m_server->setResponse(u"/repo/"_s + fileName, response);
    }

    void useTestCatalog(const QJsonObject &digests)
    {
        const QString path = m_environment->home() + u"/catalog.json"_s;
        QFile file(path);
        QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
        file.write(QJsonDocument(digests).toJson());
        qputenv("MURMEL_MODEL_CATALOG", path.toLocal8Bit());
    }

    int requestsFor(const QString &fileName) const
    {
        int count = 0;
        for (const TestHttpServer::Request &request : m_server->requests())
            count += request.target.endsWith(fileName.toLatin1());
        return count;
    }

private Q_SLOTS:
    void init()
    {
        m_environment = std::make_unique<TestEnvironment>();
        m_server = std::make_unique<TestHttpServer>();
        QVERIFY(m_server->listen());
        qputenv("MURMEL_MODEL_BASE_URL", m_server->url(u"/repo/"_s).toString().toLocal8Bit());
        useTestCatalog({{u"base.en"_s, digest(m_baseEn)}, {u"small"_s, digest(m_small)}});
        m_store = std::make_unique<ModelStore>(modelsFolder());
    }

    void cleanup()
    {
        m_store.reset();
        m_server.reset();
        m_environment.reset();
    }

    void sharedStoreUsesTheDataHome()
    {
        QCOMPARE(ModelStore::shared().directory(), modelsFolder());
        QVERIFY(QDir(modelsFolder()).exists());
        QCOMPARE(m_store->path(WhisperModel::small), modelsFolder() + u"/ggml-small.bin"_s);
    }

    void presentModelNeedsNoNetwork()
    {
        QDir().mkpath(modelsFolder());
        QFile file(m_store->path(WhisperModel::largeV3));
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write("not even a model: presence is all that counts");
        file.close();
        QVERIFY(m_store->isDownloaded(WhisperModel::largeV3));
        QCOMPARE(m_store->state(WhisperModel::largeV3), ModelStore::State::ready);
        QCOMPARE(QCoro::waitFor(m_store->ensure(WhisperModel::largeV3)), std::optional(m_store->path(WhisperModel::largeV3)));
        QCOMPARE(m_server->requests().size(), 0);
    }

    void downloadVerifiesAndPlaces()
    {
        serve(u"ggml-base.en.bin"_s, {.body = m_baseEn});
        QSignalSpy downloading(m_store.get(), &ModelStore::downloadingChanged);
        QSignalSpy progress(m_store.get(), &ModelStore::progressChanged);
        QCOMPARE(m_store->state(WhisperModel::baseEn), ModelStore::State::missing);

        const auto path = QCoro::waitFor(m_store->ensure(WhisperModel::baseEn));
        QCOMPARE(path, std::optional(modelsFolder() + u"/ggml-base.en.bin"_s));
        QFile file(*path);
        QVERIFY(file.open(QIODevice::ReadOnly));
        QCOMPARE(file.readAll(), m_baseEn);
        QCOMPARE(m_store->lastError(), std::nullopt);
        QCOMPARE(m_store->progress(), 1.0);
        QCOMPARE(m_store->downloading(), std::nullopt);
        QCOMPARE(downloading.size(), 2); // set, then cleared
        QVERIFY(progress.size() >= 1);
        QCOMPARE(m_store->state(WhisperModel::baseEn), ModelStore::State::ready);
        QCOMPARE(QDir(modelsFolder()).entryList(QDir::Files), QStringList{u"ggml-base.en.bin"_s});
    }

    void failedVerificationLeavesNoFile()
    {
        serve(u"ggml-base.en.bin"_s, {.body = m_small});
        QCOMPARE(QCoro::waitFor(m_store->ensure(WhisperModel::baseEn)), std::nullopt);
        QCOMPARE(m_store->lastError(),
                 std::optional(u"Base (fast, English) failed verification after download. Please try again."_s));
        QCOMPARE(m_store->lastErrorText(), *m_store->lastError());
        QVERIFY(!m_store->isDownloaded(WhisperModel::baseEn));
        QCOMPARE(QDir(modelsFolder()).entryList(QDir::Files), QStringList());
    }

    void publishedChecksumsHoldWithoutATestCatalog()
    {
        qunsetenv("MURMEL_MODEL_CATALOG");
        serve(u"ggml-small.bin"_s, {.body = m_small});
        QCoro::waitFor(m_store->download(WhisperModel::small));
        QCOMPARE(m_store->lastError(), std::optional(u"Small (balanced) failed verification after download. Please try again."_s));
        QVERIFY(!m_store->isDownloaded(WhisperModel::small));
    }

    void serverErrorsAreReportedWithTheModelName_data()
    {
        QTest::addColumn<int>("status");
        QTest::addColumn<QString>("message");
        QTest::newRow("404") << 404 << u"Could not download Small (balanced). The server returned HTTP 404."_s;
        QTest::newRow("500") << 500 << u"Could not download Small (balanced). The server returned HTTP 500."_s;
    }

    void serverErrorsAreReportedWithTheModelName()
    {
        QFETCH(int, status);
        QFETCH(QString, message);
        serve(u"ggml-small.bin"_s, {.status = status, .body = "nope"});
        QCOMPARE(QCoro::waitFor(m_store->ensure(WhisperModel::small)), std::nullopt);
        QCOMPARE(m_store->lastError(), std::optional(message));
        QVERIFY(!m_store->isDownloaded(WhisperModel::small));

        // The next download starts with a clean slate.
        serve(u"ggml-small.bin"_s, {.body = m_small});
        QSignalSpy errorChanged(m_store.get(), &ModelStore::lastErrorChanged);
        QVERIFY(QCoro::waitFor(m_store->ensure(WhisperModel::small)));
        QCOMPARE(m_store->lastError(), std::nullopt);
        QCOMPARE(errorChanged.size(), 1);
    }

    void droppedConnectionIsReported()
    {
        serve(u"ggml-small.bin"_s, {.body = m_small, .dropAfter = 4096});
        QCoro::waitFor(m_store->download(WhisperModel::small));
        QVERIFY(m_store->lastError());
        QVERIFY2(m_store->lastError()->startsWith(u"Could not download Small (balanced). "_s), qPrintable(*m_store->lastError()));
        QVERIFY(!m_store->isDownloaded(WhisperModel::small));
        // What arrived is kept for the next attempt, which continues it.
        serve(u"ggml-small.bin"_s, {.body = m_small, .honourRange = true});
        QVERIFY(QCoro::waitFor(m_store->ensure(WhisperModel::small)));
        QCOMPARE(m_server->requests().last().headers.value("range"), QByteArray("bytes=4096-"));
    }

    void otherModelDuringADownloadIsIgnored()
    {
        serve(u"ggml-base.en.bin"_s, {.body = m_baseEn, .chunkSize = 128 * 1024, .chunkDelayMs = 20});
        serve(u"ggml-small.bin"_s, {.body = m_small});
        auto first = m_store->ensure(WhisperModel::baseEn);
        QCOMPARE(m_store->downloading(), std::optional<WhisperModel>(WhisperModel::baseEn));
        QCOMPARE(m_store->downloadingRawValue(), u"base.en"_s);
        QCOMPARE(m_store->state(WhisperModel::baseEn), ModelStore::State::downloading);

        QSignalSpy errorChanged(m_store.get(), &ModelStore::lastErrorChanged);
        QCOMPARE(QCoro::waitFor(m_store->ensure(WhisperModel::small)), std::nullopt);
        QCOMPARE(m_store->downloading(), std::optional<WhisperModel>(WhisperModel::baseEn));
        QCOMPARE(errorChanged.size(), 0);
        QCOMPARE(requestsFor(u"ggml-small.bin"_s), 0);

        QVERIFY(QCoro::waitFor(std::move(first)));
        QVERIFY(!m_store->isDownloaded(WhisperModel::small));
    }

    void twoCallersShareOneDownload()
    {
        serve(u"ggml-base.en.bin"_s, {.body = m_baseEn, .chunkSize = 128 * 1024, .chunkDelayMs = 10});
        auto first = m_store->ensure(WhisperModel::baseEn);
        auto second = m_store->ensure(WhisperModel::baseEn);
        const auto secondPath = QCoro::waitFor(std::move(second));
        const auto firstPath = QCoro::waitFor(std::move(first));
        QCOMPARE(firstPath, std::optional(m_store->path(WhisperModel::baseEn)));
        QCOMPARE(secondPath, firstPath);
        QCOMPARE(requestsFor(u"ggml-base.en.bin"_s), 1);
    }

    void cancelReportsNothingAndLeavesNothing()
    {
        serve(u"ggml-base.en.bin"_s, {.body = m_baseEn, .chunkSize = 64 * 1024, .chunkDelayMs = 30});
        connect(m_store.get(), &ModelStore::progressChanged, m_store.get(), [this] {
            if (m_store->progress() > 0.0)
                m_store->cancel();
        });
        QCOMPARE(QCoro::waitFor(m_store->ensure(WhisperModel::baseEn)), std::nullopt);
        QCOMPARE(m_store->lastError(), std::nullopt);
        QCOMPARE(m_store->downloading(), std::nullopt);
        QVERIFY(!m_store->isDownloaded(WhisperModel::baseEn));
        QCOMPARE(QDir(modelsFolder()).entryList(QDir::Files), QStringList());
    }

    void stalledDownloadTimesOut()
    {
        serve(u"ggml-small.bin"_s, {.body = m_small, .stallAfter = 1000});
        m_store->setIdleTimeout(std::chrono::milliseconds(300));
        QCoro::waitFor(m_store->download(WhisperModel::small));
        QCOMPARE(m_store->lastError(), std::optional(u"Could not download Small (balanced). The request timed out."_s));
        QCOMPARE(m_store->downloading(), std::nullopt);
    }
};

QTEST_GUILESS_MAIN(TestModelStore)
#include "tst_modelstore.moc"
