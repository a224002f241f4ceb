// The speech models: which one a dictation uses, and how it downloads from a local server that
// misbehaves on purpose and is verified; and the genuine engine on generated models: base.en,
// and as base one whose segments end at 2 s.
#include "core/base/preferencekeys.h"
#include "core/base/preferences.h"
#include "core/speech/modeldownloader.h"
#include "core/speech/modelintegrity.h"
#include "core/speech/modellistmodel.h"
#include "core/speech/modelselection.h"
#include "core/speech/modelstore.h"
#include "core/speech/transcriber.h"
#include "fixturemodels.h"
#include "testenvironment.h"
#include "testhttpserver.h"

#include <QCoroTask>
#include <QSignalSpy>
#include <QTest>
#include <QThread>

using namespace Qt::StringLiterals;
using TestFiles::read;
using TestFiles::write;

namespace {

const QString phrase = FixtureModels::phrase.trimmed();

// The parrot hears any sound alike: a second of it is a second of speech.
AudioFrames audio(double seconds)
{
    return AudioFrames(qsizetype(seconds * 16000), 0.1f);
}

QString loadError(Transcriber &transcriber, const QString &path, const QString &language = u"en"_s)
{
    const std::optional<TranscriberError> error = QCoro::waitFor(transcriber.load(path, language));
    return error ? error->description() : QString();
}

QString text(Transcriber &transcriber, const AudioFrames &samples)
{
    const Transcriber::TextResult result = QCoro::waitFor(transcriber.transcribe(samples));
    const auto *error = std::get_if<TranscriberError>(&result);
    return error ? u"error: "_s + error->description() : std::get<QString>(result);
}

} // namespace

class TestSpeech final : public QObject
{
    Q_OBJECT

    TestEnvironment m_environment;
    QJsonObject m_engineDigests;
    std::unique_ptr<TestHttpServer> m_server;
    QByteArray m_body = QCryptographicHash::hash("model", QCryptographicHash::Sha512).repeated(49153); // 3 MiB and a bit
    QList<double> m_progress;

    QString models() const { return m_environment.dataHome() + u"/Murmel/Models"_s; }
    QString engineModel(const QString &rawName) const { return m_environment.home() + u"/engine/ggml-"_s + rawName + u".bin"_s; }
    QString destination() const { return models() + u"/ggml-base.en.bin"_s; }
    QString partial() const { return ModelDownloader::partialPath(destination()); }
    void serve(const TestHttpServer::Response &response) { m_server->setResponse(u"/repo/ggml-base.en.bin"_s, response); }

    // The error's text, or "done".
    QString fetch(ModelDownloader &downloader, ModelDownloader::Acceptance accept = {}, qint64 largest = 0)
    {
        const auto error = QCoro::waitFor(downloader.download(m_server->url(u"/repo/ggml-base.en.bin"_s), destination(),
                                                              [this](double fraction) { m_progress << fraction; }, std::move(accept), largest));
        return error ? error->description() : u"done"_s;
    }

private Q_SLOTS:
    void initTestCase()
    {
        QVERIFY(FixtureModels::make(engineModel(u"base.en"_s)));
        QVERIFY(FixtureModels::make(engineModel(u"base"_s), u"parrot"_s, {u"--end"_s, u"2.0"_s}));
        QVERIFY(QFile::copy(engineModel(u"base.en"_s), engineModel(u"large-v3"_s))); // not what was published
        QVERIFY(QFile::copy(QCoreApplication::applicationFilePath(), engineModel(u"small"_s))); // no model at all
        for (const QString &name : {u"base.en"_s, u"base"_s, u"small"_s})
            m_engineDigests.insert(name, FixtureModels::sha256Of(engineModel(name)));
    }

    void init()
    {
        QVERIFY(QDir(models()).removeRecursively());
        QVERIFY(FixtureModels::useCatalog(m_environment.home() + u"/catalog.json"_s, m_engineDigests));
        m_server = std::make_unique<TestHttpServer>();
        QVERIFY(m_server->listen());
        qputenv("MURMEL_MODEL_BASE_URL", m_server->url(u"/repo/"_s).toString().toLocal8Bit());
        m_progress.clear();
    }

    void modelRules()
    {
        Preferences preferences(m_environment.home() + u"/preferences.json"_s);
        QCOMPARE(ModelSelection::dictationModel(preferences).rawValue(), u"small"_s);
        QVERIFY(preferences.setString(PreferenceKeys::language, u"en"_s) && preferences.setString(PreferenceKeys::whisperModel, u"base"_s));
        QCOMPARE(ModelSelection::dictationModel(preferences).rawValue(), u"base.en"_s);
        QVERIFY(preferences.setString(PreferenceKeys::dictationSpeed, u"accurate"_s)); // reuses the file model
        QCOMPARE(ModelSelection::dictationModel(preferences).rawValue(), u"base"_s);
        QVERIFY(preferences.setString(PreferenceKeys::whisperModel, u"medium"_s)); // not one of ours
        QCOMPARE(ModelSelection::fileTranscriptionModel(preferences).rawValue(), PreferenceKeys::defaultWhisperModel());
        // Performance cores, else physical ones, else half the processors (at least 4); one
        // fewer for the interface, but never fewer than two.
        QCOMPARE(Transcriber::threadCountFor(6, 10, 16, true), 5);
        QCOMPARE(Transcriber::threadCountFor(std::nullopt, 0, 10, false), 5);
        QCOMPARE(Transcriber::threadCountFor(std::nullopt, 1, 1, true), 2);
    }

    void downloadPlacesTheFile()
    {
        QVERIFY(write(partial(), "earlier bytes")); // a server that ignores the range: replaced
        serve({.body = m_body});
        ModelDownloader downloader;
        QThread *verifiedOn = nullptr;
        const QString digest = QString::fromLatin1(QCryptographicHash::hash(m_body, QCryptographicHash::Sha256).toHex());
        QCOMPARE(fetch(downloader, [&](const QString &file) {
                     verifiedOn = QThread::currentThread();
                     return ModelIntegrity::verify(file, digest.toUpper()) && !ModelIntegrity::verify(file, digest.left(32));
                 }), u"done"_s);
        QCOMPARE(read(destination()), m_body);
        QVERIFY(!QFile::exists(partial()) && verifiedOn && verifiedOn != QThread::currentThread());
        QVERIFY(m_progress.first() >= 0.0 && std::is_sorted(m_progress.begin(), m_progress.end()) && m_progress.last() == 1.0);
        // Failures keep the copy in place, and the partial file too is gone: it does not continue this answer.
        const QList<std::pair<TestHttpServer::Response, QString>> failures{
            {{.status = 404}, u"The server returned HTTP 404."_s},
            {{.body = "not the model"}, u"The downloaded file did not match its checksum."_s},
            {{.body = m_body.repeated(2), .sendLength = false}, u"The server sent more than the file's 4194304 bytes."_s}};
        for (const auto &[response, error] : failures) {
            serve(response);
            QVERIFY(write(partial(), "earlier bytes"));
            QCOMPARE(fetch(downloader, [&](const QString &file) { return read(file) == m_body; }, 4 << 20), error);
            QVERIFY(!QFile::exists(partial()));
            QCOMPARE(read(destination()), m_body);
        }
    }

    void resumeAfterADroppedConnection()
    {
        serve({.body = m_body, .dropAfter = 1024 * 1024});
        ModelDownloader downloader;
        QVERIFY(fetch(downloader) != u"done");
        QCOMPARE(read(partial()), m_body.left(1024 * 1024));
        serve({.body = m_body, .honourRange = true});
        m_progress.clear();
        QCOMPARE(fetch(downloader), u"done"_s);
        QCOMPARE(read(destination()), m_body);
        QCOMPARE(m_server->requests().last().headers.value("range"), QByteArray("bytes=1048576-"));
        // Progress counts the whole file, so it starts where the first attempt stopped.
        QVERIFY(m_progress.first() >= 1024.0 * 1024.0 / double(m_body.size()) && m_progress.last() == 1.0);
        // A partial file as long as the whole: the server answers 416, and it starts over.
        QVERIFY(write(partial(), m_body + "more"));
        const qsizetype before = m_server->requests().size();
        QCOMPARE(fetch(downloader), u"done"_s);
        // Counted from here: under load the network stack may already have asked again for
        // the connection the server dropped above.
        QCOMPARE(m_server->requests().size(), before + 2);
        QVERIFY(!m_server->requests().last().headers.contains("range"));
    }

    // Servers that stall, trickle or are not there never hold the download for good.
    void stalledTricklingAndUnreachable()
    {
        serve({.body = m_body, .stallAfter = 512 * 1024});
        ModelDownloader downloader;
        downloader.setIdleTimeout(std::chrono::milliseconds(400));
        QCOMPARE(fetch(downloader), u"The request timed out."_s);
        QVERIFY(QFile::exists(partial())); // kept for the next attempt
        serve({.body = m_body, .chunkSize = 16, .chunkDelayMs = 100});
        downloader.setMinimumRate(1000, std::chrono::milliseconds(500));
        QCOMPARE(fetch(downloader), u"The download became too slow (under 1000 bytes a second)."_s);
        QVERIFY(QFile::remove(partial()));
        m_server->close();
        QVERIFY(fetch(downloader) != u"done");
        QVERIFY(!QFile::exists(partial()) && !QFile::exists(destination()));
    }

    void cancelAndOneDownloadPerDestination()
    {
        serve({.body = m_body, .chunkSize = 64 * 1024, .chunkDelayMs = 20});
        ModelDownloader first;
        ModelDownloader second;
        auto running = first.download(m_server->url(u"/repo/ggml-base.en.bin"_s), destination(), [&](double) { first.cancel(); });
        QCOMPARE(fetch(second), u"Another Murmel process is downloading this file."_s);
        const auto cancelled = QCoro::waitFor(std::move(running));
        QVERIFY(cancelled && cancelled->kind() == ModelDownloadError::cancelled);
        QVERIFY(!QFile::exists(destination()) && !QFile::exists(partial()) && !ModelDownloader::isInProgress(destination()));
        qputenv("http_proxy", m_server->url(QString()).toString().toLocal8Bit()); // as every download tool honours it
        serve({.body = m_body});
        QVERIFY(!QCoro::waitFor(first.download(QUrl(u"http://models.invalid/repo/ggml-base.en.bin"_s), destination())));
        qunsetenv("http_proxy");
        QCOMPARE(m_server->requests().last().target, QByteArray("http://models.invalid/repo/ggml-base.en.bin"));
    }

    void storeVerifiesAndShares()
    {
        const QString digest = QString::fromLatin1(QCryptographicHash::hash(m_body, QCryptographicHash::Sha256).toHex());
        QVERIFY(FixtureModels::useCatalog(m_environment.home() + u"/catalog.json"_s, {{u"base.en"_s, digest}}));
        serve({.body = m_body, .chunkSize = 256 * 1024, .chunkDelayMs = 10});
        m_server->setResponse(u"/repo/ggml-small.bin"_s, {.body = m_body});
        ModelStore store(models());
        ModelListModel list(store);
        QSignalSpy rows(&list, &QAbstractItemModel::dataChanged);
        auto first = store.ensure(WhisperModel::baseEn);
        auto second = store.ensure(WhisperModel::baseEn);
        QCOMPARE(list.data(list.index(0), ModelListModel::StateRole).toInt(), int(ModelStore::State::downloading));
        // The one slot is taken: another model is neither fetched nor reported as failed.
        QCOMPARE(QCoro::waitFor(store.ensure(WhisperModel::small)), std::nullopt);
        QCOMPARE(store.lastError(), std::nullopt);
        QCOMPARE(QCoro::waitFor(std::move(second)), std::optional(destination()));
        QCOMPARE(QCoro::waitFor(std::move(first)), std::optional(destination()));
        QCOMPARE(m_server->requests().size(), 1);
        QCOMPARE(list.data(list.index(0), ModelListModel::StateRole).toInt(), int(ModelStore::State::ready));
        QCOMPARE(rows.size(), 2);
        // Without a test digest the published one holds, and a failed file is not kept.
        QCOMPARE(QCoro::waitFor(store.ensure(WhisperModel::small)), std::nullopt);
        QCOMPARE(store.lastErrorText(), u"Small (balanced) failed verification after download. Please try again."_s);
        QVERIFY(!QFile::exists(store.path(WhisperModel::small)));
        // A cancelled download reports nothing and leaves nothing.
        m_server->setResponse(u"/repo/ggml-base.bin"_s, {.body = m_body, .chunkSize = 64 * 1024, .chunkDelayMs = 30});
        connect(&store, &ModelStore::progressChanged, &store, [&store] { store.cancel(); });
        QCOMPARE(QCoro::waitFor(store.ensure(WhisperModel::base)), std::nullopt);
        QCOMPARE(store.lastError(), std::nullopt);
        QCOMPARE(QDir(models()).entryList({u"ggml-base.bin*"_s}, QDir::Files), QStringList());
    }

    // One hash per (file, language), also for two loads at once; a refused load keeps the last.
    void loadsAndRefusals()
    {
        std::atomic<int> hashes = 0;
        Transcriber transcriber(nullptr, [&hashes](const QString &path, const QString &expected) {
            ++hashes;
            return ModelIntegrity::verify(path, expected);
        });
        auto first = transcriber.load(engineModel(u"base.en"_s), u"en"_s);
        QCOMPARE(loadError(transcriber, engineModel(u"base.en"_s)), QString());
        QCOMPARE(QCoro::waitFor(std::move(first)), std::nullopt);
        QCOMPARE(hashes.load(), 1);
        QCOMPARE(loadError(transcriber, engineModel(u"base.en"_s), u"auto"_s), QString());
        QCOMPARE(hashes.load(), 2);
        QCOMPARE(loadError(transcriber, engineModel(u"tiny"_s)), u"Unrecognized model file ggml-tiny.bin; refusing to load it."_s);
        QCOMPARE(loadError(transcriber, engineModel(u"large-v3"_s)),
                 u"The ggml-large-v3.bin model failed its integrity check and was not loaded. Re-download it from Settings."_s);
        QCOMPARE(loadError(transcriber, engineModel(u"small"_s)),
                 u"The ggml-small.bin model could not be loaded. Re-download it from Settings."_s);
        QCOMPARE(text(transcriber, audio(1.0)), phrase);
    }

    // Live reports on the main thread, each segment once; times clamped into the audio.
    void segments()
    {
        Transcriber transcriber;
        QCOMPARE(loadError(transcriber, engineModel(u"base"_s)), QString());
        QList<TranscriptSegment> live;
        bool offMainThread = false;
        const auto result = QCoro::waitFor(transcriber.segments(
            audio(0.5), [&](double) { offMainThread |= QThread::currentThread() != thread(); },
            [&](const QList<TranscriptSegment> &segments) {
                offMainThread |= QThread::currentThread() != thread();
                live += segments;
            }));
        const QList<TranscriptSegment> segments = std::get<QList<TranscriptSegment>>(result);
        QCOMPARE(segments.first().end, 0.5);
        QCOMPARE(live.size(), 1);
        QCOMPARE(live.first().end, 0.5);
        QVERIFY(live.first().id != segments.first().id);
        QVERIFY(!offMainThread);
        QCOMPARE(std::get<QList<TranscriptSegment>>(QCoro::waitFor(transcriber.segments(audio(3.0)))).first().end, 2.0);
        // whisper.cpp would read past the end of so short a buffer (a sanitizer build sees it).
        QCOMPARE(text(transcriber, AudioFrames(200, 0.1f)), QString());
        QCOMPARE(text(transcriber, audio(0.2)), phrase);
        QCOMPARE(Transcriber::convert({Segment{1500, 4200, u" \tworld.\n "_s}}).first().text, u"world.\n"_s);
    }

    // A dictation under 30 s is encoded in max(10 s, its length + 2 s) of the window, rounded
    // up to whole frames; what would fill the window takes all of it (0).
    void fittedEncoderWindow_data()
    {
        QTest::addColumn<double>("seconds");
        QTest::addColumn<int>("windowFrames");
        QTest::addColumn<int>("frames");
        QTest::newRow("silence") << 0.0 << 1500 << 500;
        QTest::newRow("3 s: the 10 s floor") << 3.0 << 1500 << 500;
        QTest::newRow("9.5 s: 2 s beyond") << 9.5 << 1500 << 575;
        QTest::newRow("rounded up") << 3.0 << 64 << 22;
        QTest::newRow("27.9 s") << 27.9 << 1500 << 1495;
        QTest::newRow("28 s fills it") << 28.0 << 1500 << 0;
        QTest::newRow("a minute") << 60.0 << 1500 << 0;
    }

    void fittedEncoderWindow()
    {
        QFETCH(double, seconds);
        QFETCH(int, windowFrames);
        QFETCH(int, frames);
        QCOMPARE(Transcriber::fittedAudioContext(qsizetype(seconds * engineSampleRate), windowFrames), frames);
    }

    // Two transcribers over one file share one copy and run side by side. Ten minutes are twenty
    // segments; cancelled at the first, the engine stops far sooner, and the next run works.
    void oneModelPerFileAndCancel()
    {
        QTRY_COMPARE(Whisper::loadedModelCount(), 0); // once the last runs' workers let theirs go
        {
            Transcriber dictation;
            Transcriber files;
            QCOMPARE(loadError(dictation, engineModel(u"base.en"_s)), QString());
            QCOMPARE(loadError(files, engineModel(u"base.en"_s), u"auto"_s), QString());
            QCOMPARE(Whisper::loadedModelCount(), 1);
            CancelFlag cancel;
            int heard = 0;
            auto running = files.segments(audio(600.0), {}, [&](const QList<TranscriptSegment> &segments) {
                heard += int(segments.size());
                cancel.cancel();
            }, cancel);
            QCOMPARE(text(dictation, audio(1.0)), phrase);
            const auto second = QCoro::waitFor(files.segments(audio(1.0), {}, [&](const QList<TranscriptSegment> &) { heard += 100; }));
            QCOMPARE(std::get<TranscriberError>(second).description(), u"A transcription is already running."_s);
            QCOMPARE(std::get<TranscriberError>(QCoro::waitFor(std::move(running))).whisperError(), WhisperError::cancelled);
            QVERIFY2(heard >= 1 && heard < 20, qPrintable(QString::number(heard)));
            QCOMPARE(text(files, audio(1.0)), phrase);
            QCOMPARE(loadError(files, engineModel(u"base"_s)), QString());
            QCOMPARE(Whisper::loadedModelCount(), 2);
        }
        QTRY_COMPARE(Whisper::loadedModelCount(), 0);
    }
};

QTEST_GUILESS_MAIN(TestSpeech)
#include "tst_speech.moc"
