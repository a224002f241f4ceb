#include "core/speech/modelintegrity.h"
#include "core/speech/transcriber.h"
#include "fixturemodels.h"
#include "testenvironment.h"

#include <QCoroTask>
#include <QTest>
#include <QThread>

using namespace Qt::StringLiterals;

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

// The genuine engine on generated models: base.en, and as base one whose segments end at 2 s.
class TestTranscriber final : public QObject
{
    Q_OBJECT

    TestEnvironment m_environment;
    QString model(const QString &rawName) const { return m_environment.dataHome() + u"/ggml-"_s + rawName + u".bin"_s; }

private Q_SLOTS:
    void initTestCase()
    {
        QVERIFY(FixtureModels::make(model(u"base.en"_s)));
        QVERIFY(FixtureModels::make(model(u"base"_s), u"parrot"_s, {u"--end"_s, u"2.0"_s}));
        QVERIFY(QFile::copy(model(u"base.en"_s), model(u"large-v3"_s))); // not what was published
        QVERIFY(QFile::copy(QCoreApplication::applicationFilePath(), model(u"small"_s))); // no model at all
        QJsonObject digests;
        for (const QString &name : {u"base.en"_s, u"base"_s, u"small"_s})
            digests.insert(name, FixtureModels::sha256Of(model(name)));
        QVERIFY(FixtureModels::useCatalog(m_environment.home() + u"/catalog.json"_s, digests));
    }

    // One hash per (file, language), also for two loads at once; a refused load keeps the last.
    void loadsAndRefusals()
    {
        std::atomic<int> hashes = 0;
        Transcriber transcriber(nullptr, [&hashes](const QString &path, const QString &expected) {
            ++hashes;
            return ModelIntegrity::verify(path, expected);
        });
        auto first = transcriber.load(model(u"base.en"_s), u"en"_s);
        QCOMPARE(loadError(transcriber, model(u"base.en"_s)), QString());
        QCOMPARE(QCoro::waitFor(std::move(first)), std::nullopt);
        QCOMPARE(hashes.load(), 1);
        QCOMPARE(loadError(transcriber, model(u"base.en"_s), u"auto"_s), QString());
        QCOMPARE(hashes.load(), 2);
        QCOMPARE(loadError(transcriber, model(u"tiny"_s)), u"Unrecognized model file ggml-tiny.bin; refusing to load it."_s);
        QCOMPARE(loadError(transcriber, model(u"large-v3"_s)),
                 u"The ggml-large-v3.bin model failed its integrity check and was not loaded. Re-download it from Settings."_s);
        QCOMPARE(loadError(transcriber, model(u"small"_s)),
                 u"The ggml-small.bin model could not be loaded. Re-download it from Settings."_s);
        QCOMPARE(text(transcriber, audio(1.0)), phrase);
    }

    // Live reports on the main thread, each segment once; times clamped into the audio.
    void segments()
    {
        Transcriber transcriber;
        QCOMPARE(loadError(transcriber, model(u"base"_s)), QString());
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

    // Two transcribers over one file share one copy and run side by side. Ten minutes are twenty
    // segments; cancelled at the first, the engine stops far sooner, and the next run works.
    void oneModelPerFileAndCancel()
    {
        QTRY_COMPARE(Whisper::loadedModelCount(), 0); // once the last runs' workers let theirs go
        {
            Transcriber dictation;
            Transcriber files;
            QCOMPARE(loadError(dictation, model(u"base.en"_s)), QString());
            QCOMPARE(loadError(files, model(u"base.en"_s), u"auto"_s), QString());
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
            QCOMPARE(loadError(files, model(u"base"_s)), QString());
            QCOMPARE(Whisper::loadedModelCount(), 2);
        }
        QTRY_COMPARE(Whisper::loadedModelCount(), 0);
    }
};

QTEST_GUILESS_MAIN(TestTranscriber)
#include "tst_transcriber.moc"
