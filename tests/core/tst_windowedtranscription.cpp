// Files heard a window at a time: where windows end, and that their transcripts join up
// into the file's, on the genuine engine with the parrot model.
#include "core/transcripts/windowedtranscription.h"
#include "fixturemodels.h"
#include "testenvironment.h"

#include <QCoroTask>
#include <QProcess>
#include <QTest>

#include <cmath>

using namespace Qt::StringLiterals;

class TestWindowedTranscription final : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void quietCut_data()
    {
        QTest::addColumn<qsizetype>("silenceAt"); // -1: none
        QTest::addColumn<qsizetype>("size");
        QTest::addColumn<qsizetype>("cut");
        // Ten seconds of tone, the last five searched in 100 ms blocks.
        QTest::newRow("a pause in the searched part") << qsizetype(7 * 16000) << qsizetype(160000) << qsizetype(7 * 16000 + 800);
        QTest::newRow("a pause before it is not seen") << qsizetype(2 * 16000) << qsizetype(160000) << qsizetype(5 * 16000 + 800);
        QTest::newRow("shorter than the search") << qsizetype(-1) << qsizetype(3 * 16000) << qsizetype(3 * 16000);
    }

    void quietCut()
    {
        QFETCH(qsizetype, silenceAt);
        QFETCH(qsizetype, size);
        QFETCH(qsizetype, cut);
        AudioFrames samples(size);
        for (qsizetype i = 0; i < size; ++i) {
            const bool silent = silenceAt >= 0 && i >= silenceAt && i < silenceAt + 1600;
            // Louder as it goes: without a pause the first searched block is the quietest.
            const float loudness = 0.1f + 0.5f * float(i) / float(size);
            samples[i] = silent ? 0.0f : loudness * float(std::sin(double(i) * 0.17));
        }
        QCOMPARE(WindowedTranscription::quietCut(samples, 5 * 16000), cut);
    }

    // Seventy seconds in windows of thirty: three windows, each heard once, times the file's.
    void windowsJoinUp()
    {
        TestEnvironment environment;
        const QString model = environment.home() + u"/ggml-base.en.bin"_s;
        QVERIFY(FixtureModels::make(model));
        QVERIFY(FixtureModels::useCatalog(environment.home() + u"/catalog.json"_s,
                                          {{u"base.en"_s, FixtureModels::sha256Of(model)}}));
        const QString audio = environment.home() + u"/long.flac"_s;
        QCOMPARE(QProcess::execute(u"ffmpeg"_s, {u"-loglevel"_s, u"error"_s, u"-f"_s, u"lavfi"_s, u"-i"_s,
                                                 u"sine=frequency=300:sample_rate=16000:duration=70"_s, audio}),
                 0);
        Transcriber transcriber;
        QCOMPARE(QCoro::waitFor(transcriber.load(model, u"en"_s)), std::nullopt);

        QList<double> progress;
        QList<TranscriptSegment> live;
        WindowedTranscription::Options options;
        options.window = 30 * 16000;
        options.onProgress = [&](double fraction) { progress << fraction; };
        options.onSegments = [&](const QList<TranscriptSegment> &segments) { live << segments; };
        const WindowedTranscription::Result result
            = QCoro::waitFor(WindowedTranscription::run(audio, transcriber, options));
        const auto *transcript = std::get_if<WindowedTranscription::Transcript>(&result);
        QVERIFY2(transcript, transcript ? "" : qPrintable(std::get<QString>(result)));
        QCOMPARE(transcript->segments.size(), 3);
        QVERIFY(std::abs(transcript->seconds - 70.0) < 0.05);
        QCOMPARE(transcript->segments.at(0).start, 0.0);
        // Each window starts where the last one was cut, in its last five seconds.
        QVERIFY(transcript->segments.at(1).start >= 25.0 && transcript->segments.at(1).start <= 30.0);
        QVERIFY(transcript->segments.at(2).start >= 50.0 && transcript->segments.at(2).start <= 60.0);
        QVERIFY(transcript->segments.last().end <= 70.0);
        // Live segments come with the file's times too (each conversion makes fresh ids).
        QCOMPARE(live.size(), transcript->segments.size());
        for (qsizetype i = 0; i < live.size(); ++i)
            QCOMPARE(live.at(i).start, transcript->segments.at(i).start);
        QVERIFY(std::is_sorted(progress.begin(), progress.end()));
        QVERIFY(!progress.isEmpty() && progress.last() <= 1.0);

        const WindowedTranscription::Result missing
            = QCoro::waitFor(WindowedTranscription::run(environment.home() + u"/none.wav"_s, transcriber));
        QCOMPARE(std::get<QString>(missing), u"No such file or directory"_s);
    }
};

QTEST_GUILESS_MAIN(TestWindowedTranscription)
#include "tst_windowedtranscription.moc"
