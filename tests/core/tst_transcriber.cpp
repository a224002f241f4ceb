#include "core/speech/modelintegrity.h"
#include "core/speech/transcriber.h"
#include "fixturemodels.h"
#include "testenvironment.h"

#include <QCoroTask>
#include <QSignalSpy>
#include <QTest>
#include <QThread>

#include <cmath>

using namespace Qt::StringLiterals;

namespace {

AudioFrames tone(double seconds)
{
    AudioFrames samples(static_cast<qsizetype>(seconds * 16000));
    for (qsizetype i = 0; i < samples.size(); ++i)
        samples[i] = 0.3f * static_cast<float>(std::sin(2.0 * M_PI * 440.0 * double(i) / 16000.0));
    return samples;
}

} // namespace

// The genuine whisper.cpp engine on the generated parrot model.
class TestTranscriber final : public QObject
{
    Q_OBJECT

private:
    std::unique_ptr<TestEnvironment> m_environment;
    QString m_folder;
    QString m_model;        // ggml-base.en.bin: the parrot model
    QString m_multilingual; // ggml-base.bin: the same model under a multilingual name
    std::atomic<int> m_hashes{0};

    Transcriber::Verifier countingVerifier()
    {
        return [this](const QString &path, const QString &expected) {
            ++m_hashes;
            return ModelIntegrity::verify(path, expected);
        };
    }

    std::optional<TranscriberError> load(Transcriber &transcriber, const QString &path, const QString &language)
    {
        return QCoro::waitFor(transcriber.load(path, language));
    }

    // Loads a base.en file that the shared test catalog does not vouch for, under a catalog
    // of its own for this one load.
    std::optional<TranscriberError> loadOutsideTheCatalog(Transcriber &transcriber, const QString &path)
    {
        const QString catalog = qEnvironmentVariable("MURMEL_MODEL_CATALOG");
        if (!FixtureModels::useCatalog(m_environment->home() + u"/single.json"_s,
                                       {{u"base.en"_s, FixtureModels::sha256Of(path)}}))
            return TranscriberError::notReady();
        const auto error = load(transcriber, path, u"en"_s);
        qputenv("MURMEL_MODEL_CATALOG", catalog.toLocal8Bit());
        return error;
    }

    QString text(Transcriber &transcriber, const AudioFrames &samples)
    {
        const Transcriber::TextResult result = QCoro::waitFor(transcriber.transcribe(samples));
        if (const auto *error = std::get_if<TranscriberError>(&result))
            return u"error: "_s + error->description();
        return std::get<QString>(result);
    }

private Q_SLOTS:
    void initTestCase()
    {
        m_environment = std::make_unique<TestEnvironment>();
        m_folder = m_environment->dataHome() + u"/Murmel/Models"_s;
        m_model = m_folder + u"/ggml-base.en.bin"_s;
        m_multilingual = m_folder + u"/ggml-base.bin"_s;
        QVERIFY2(FixtureModels::make(m_model), "the model generator failed");
        QVERIFY(QFile::copy(m_model, m_multilingual));
        QVERIFY(FixtureModels::make(m_folder + u"/ggml-tiny.bin"_s));
        QVERIFY(FixtureModels::make(m_folder + u"/model.bin"_s));
        const QString digest = FixtureModels::sha256Of(m_model);
        QVERIFY(FixtureModels::useCatalog(m_environment->home() + u"/catalog.json"_s,
                                          {{u"base.en"_s, digest}, {u"base"_s, digest}}));
    }

    void init() { m_hashes = 0; }

    void transcribesThePhrase()
    {
        Transcriber transcriber(nullptr, countingVerifier());
        QVERIFY(!transcriber.isLoaded());
        QCOMPARE(load(transcriber, m_model, u"en"_s), std::nullopt);
        QVERIFY(transcriber.isLoaded());
        QCOMPARE(text(transcriber, tone(3.0)), FixtureModels::phrase.trimmed());
        QCOMPARE(m_hashes.load(), 1);
    }

    void segmentsInSecondsWithLiveCallbacksOnTheMainThread()
    {
        Transcriber transcriber;
        QCOMPARE(load(transcriber, m_model, u"auto"_s), std::nullopt);
        QList<double> progress;
        QList<TranscriptSegment> live;
        bool offMainThread = false;
        const auto result = QCoro::waitFor(transcriber.segments(
            tone(5.0),
            [&](double fraction) {
                offMainThread |= QThread::currentThread() != QCoreApplication::instance()->thread();
                progress << fraction;
            },
            [&](const QList<TranscriptSegment> &segments) {
                offMainThread |= QThread::currentThread() != QCoreApplication::instance()->thread();
                live += segments;
            }));
        QVERIFY(std::holds_alternative<QList<TranscriptSegment>>(result));
        const QList<TranscriptSegment> segments = std::get<QList<TranscriptSegment>>(result);
        QCOMPARE(segments.size(), 1);
        QCOMPARE(segments.first().text, FixtureModels::phrase.trimmed());
        QCOMPARE(segments.first().start, 0.0);
        QVERIFY(segments.first().end > 0.0 && segments.first().end <= 5.0);
        // Each segment arrived live once, with its own id.
        QCOMPARE(live.size(), segments.size());
        QCOMPARE(live.first().text, segments.first().text);
        QCOMPARE(live.first().end, segments.first().end);
        QVERIFY(live.first().id != segments.first().id);
        QVERIFY(!offMainThread);
        for (double fraction : progress)
            QVERIFY(fraction >= 0.0 && fraction <= 1.0);
    }

    void loadsAreCachedByFileAndLanguage()
    {
        Transcriber transcriber(nullptr, countingVerifier());
        QCOMPARE(load(transcriber, m_model, u"en"_s), std::nullopt);
        QCOMPARE(load(transcriber, m_model, u"en"_s), std::nullopt);
        QCOMPARE(m_hashes.load(), 1);
        QCOMPARE(load(transcriber, m_model, u"auto"_s), std::nullopt);
        QCOMPARE(m_hashes.load(), 2);
        QCOMPARE(load(transcriber, m_multilingual, u"auto"_s), std::nullopt);
        QCOMPARE(m_hashes.load(), 3);
        QCOMPARE(text(transcriber, tone(2.0)), FixtureModels::phrase.trimmed());
    }

    void concurrentLoadsHashOnce()
    {
        Transcriber transcriber(nullptr, countingVerifier());
        auto first = transcriber.load(m_model, u"de"_s);
        auto second = transcriber.load(m_model, u"de"_s);
        QCOMPARE(QCoro::waitFor(std::move(second)), std::nullopt);
        QCOMPARE(QCoro::waitFor(std::move(first)), std::nullopt);
        QCOMPARE(m_hashes.load(), 1);
    }

    void refusals_data()
    {
        QTest::addColumn<QString>("file");
        QTest::addColumn<QString>("message");
        QTest::newRow("tiny") << u"ggml-tiny.bin"_s << u"Unrecognized model file ggml-tiny.bin; refusing to load it."_s;
        QTest::newRow("model.bin") << u"model.bin"_s << u"Unrecognized model file model.bin; refusing to load it."_s;
        QTest::newRow("wrong contents") << u"ggml-small.bin"_s
                                        << u"The ggml-small.bin model failed its integrity check and was not loaded. Re-download it from Settings."_s;
        QTest::newRow("missing file") << u"ggml-large-v3.bin"_s
                                      << u"The ggml-large-v3.bin model failed its integrity check and was not loaded. Re-download it from Settings."_s;
    }

    void refusals()
    {
        QFETCH(QString, file);
        QFETCH(QString, message);
        if (file == u"ggml-small.bin" && !QFile::exists(m_folder + u'/' + file))
            QVERIFY(QFile::copy(m_model, m_folder + u'/' + file)); // the published checksum holds for small
        Transcriber transcriber;
        QCOMPARE(load(transcriber, m_model, u"en"_s), std::nullopt);
        const auto error = load(transcriber, m_folder + u'/' + file, u"en"_s);
        QVERIFY(error);
        QCOMPARE(error->description(), message);
        // The engine loaded before is still there and still works.
        QCOMPARE(text(transcriber, tone(1.0)), FixtureModels::phrase.trimmed());
    }

    void unloadableFileIsAnErrorNotACrash()
    {
        const QString broken = m_folder + u"/broken/ggml-base.en.bin"_s;
        QDir().mkpath(QFileInfo(broken).absolutePath());
        QFile file(broken);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write(QByteArray(4096, 'x'));
        file.close();
        Transcriber transcriber;
        const auto error = loadOutsideTheCatalog(transcriber, broken);
        QVERIFY(error);
        QCOMPARE(error->kind(), TranscriberError::loadFailed);
        QCOMPARE(error->description(), u"The ggml-base.en.bin model could not be loaded. Re-download it from Settings."_s);
        QVERIFY(!transcriber.isLoaded());
    }

    void segmentEndsNeverPassTheAudio()
    {
        // This model's segment always claims to end at 2 s.
        const QString late = m_folder + u"/late/ggml-base.en.bin"_s;
        QVERIFY(FixtureModels::make(late, u"parrot"_s, {u"--end"_s, u"2.0"_s}));
        Transcriber transcriber;
        QCOMPARE(loadOutsideTheCatalog(transcriber, late), std::nullopt);
        QList<TranscriptSegment> live;
        const auto shortRun = QCoro::waitFor(transcriber.segments(tone(0.5), {}, [&](const QList<TranscriptSegment> &s) { live += s; }));
        QCOMPARE(std::get<QList<TranscriptSegment>>(shortRun).first().end, 0.5);
        QCOMPARE(live.first().end, 0.5);
        const auto longRun = QCoro::waitFor(transcriber.segments(tone(3.0)));
        QCOMPARE(std::get<QList<TranscriptSegment>>(longRun).first().end, 2.0);
    }

    void runningBeforeLoading()
    {
        Transcriber transcriber;
        QCOMPARE(text(transcriber, tone(1.0)), u"error: The speech model is not loaded yet."_s);
    }

    void emptyAndVeryShortAudio()
    {
        Transcriber transcriber;
        QCOMPARE(load(transcriber, m_model, u"en"_s), std::nullopt);
        const auto empty = QCoro::waitFor(transcriber.segments({}));
        QVERIFY(std::holds_alternative<TranscriberError>(empty));
        QCOMPARE(std::get<TranscriberError>(empty).kind(), TranscriberError::engine);
        QCOMPARE(std::get<TranscriberError>(empty).whisperError(), WhisperError::invalidFrames);
        // Under 0.1 s there is no word to find, and whisper.cpp would read past the buffer.
        QCOMPARE(text(transcriber, AudioFrames(200, 0.1f)), QString());
        QCOMPARE(text(transcriber, AudioFrames(1599, 0.1f)), QString());
        QCOMPARE(text(transcriber, tone(0.2)), FixtureModels::phrase.trimmed());
    }

    void secondRunWhileBusyLeavesTheFirstAlone()
    {
        Transcriber transcriber;
        QCOMPARE(load(transcriber, m_model, u"en"_s), std::nullopt);
        QList<TranscriptSegment> firstLive;
        auto first = transcriber.segments(tone(8.0), {}, [&](const QList<TranscriptSegment> &segments) { firstLive += segments; });
        bool secondCalled = false;
        const auto second = QCoro::waitFor(
            transcriber.segments(tone(1.0), {}, [&](const QList<TranscriptSegment> &) { secondCalled = true; }));
        QVERIFY(std::holds_alternative<TranscriberError>(second));
        QCOMPARE(std::get<TranscriberError>(second).whisperError(), WhisperError::instanceBusy);
        QCOMPARE(std::get<TranscriberError>(second).description(), u"A transcription is already running."_s);
        const auto result = QCoro::waitFor(std::move(first));
        QVERIFY(std::holds_alternative<QList<TranscriptSegment>>(result));
        QCOMPARE(firstLive.size(), 1);
        QVERIFY(!secondCalled);
        // The next run may start right away.
        QCOMPARE(text(transcriber, tone(1.0)), FixtureModels::phrase.trimmed());
    }

    void conversionTrimsSpacesButKeepsLineBreaks()
    {
        const QList<TranscriptSegment> converted = Transcriber::convert(
            {Segment{1500, 4200, u" \tHello "_s}, Segment{4200, 5000, u" world.\n"_s}});
        QCOMPARE(converted.size(), 2);
        QCOMPARE(converted.at(0).start, 1.5);
        QCOMPARE(converted.at(0).end, 4.2);
        QCOMPARE(converted.at(0).text, u"Hello"_s);
        QCOMPARE(converted.at(1).text, u"world.\n"_s);
        QVERIFY(converted.at(0).id != converted.at(1).id);
    }
};

QTEST_GUILESS_MAIN(TestTranscriber)
#include "tst_transcriber.moc"
