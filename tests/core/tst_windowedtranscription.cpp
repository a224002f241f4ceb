#include "core/transcripts/audiofiledecoder.h"
#include "core/transcripts/windowedtranscription.h"
#include "fixturemodels.h"
#include "testenvironment.h"

#include <QCoroTask>
#include <QTest>

using namespace Qt::StringLiterals;

class TestWindowedTranscription final : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    // 70 s silent at 10 s and 27 s, windows of 30 s: a window ends in the quietest 100 ms of
    // its last 5 s, in the file's times. A cancelled read gives up at the next packet.
    void windowsJoinUp()
    {
        TestEnvironment environment;
        const QString model = environment.home() + u"/ggml-base.en.bin"_s;
        const QString audio = environment.home() + u"/long.flac"_s;
        QVERIFY(FixtureModels::make(model));
        QVERIFY(FixtureModels::useCatalog(environment.home() + u"/catalog.json"_s, {{u"base.en"_s, FixtureModels::sha256Of(model)}}));
        QCOMPARE(QProcess::execute(u"ffmpeg"_s, {u"-loglevel"_s, u"error"_s, u"-f"_s, u"lavfi"_s, u"-i"_s,
                                                 u"sine=frequency=300:sample_rate=16000:duration=70"_s, u"-af"_s,
                                                 u"volume=enable='between(t,10,10.2)+between(t,27,27.2)':volume=0"_s, audio}),
                 0);
        Transcriber transcriber;
        QCOMPARE(QCoro::waitFor(transcriber.load(model, u"en"_s)), std::nullopt);
        QList<double> progress;
        WindowedTranscription::Options options;
        options.window = 30 * 16000;
        options.onProgress = [&](double fraction) { progress << fraction; };
        const auto result = QCoro::waitFor(WindowedTranscription::run(audio, transcriber, options));
        const auto &[segments, seconds] = std::get<WindowedTranscription::Transcript>(result);
        QCOMPARE(segments.size(), 3);
        QCOMPARE(seconds, 70.0);
        QVERIFY(segments.at(1).start > 27.0 && segments.at(1).start < 27.2);
        QVERIFY(segments.at(2).start >= 52.05 && segments.at(2).start <= 57.05);
        QVERIFY(!progress.isEmpty() && std::is_sorted(progress.begin(), progress.end()) && progress.last() <= 1.0);

        int asked = 0;
        const DecodeResult stopped = AudioFileDecoder::scanNow(audio, 240, [&asked] { return ++asked == 3; });
        QCOMPARE(std::get<AudioDecodeError>(stopped).kind(), AudioDecodeError::readFailed);
        QCOMPARE(asked, 3);
    }
};

QTEST_GUILESS_MAIN(TestWindowedTranscription)
#include "tst_windowedtranscription.moc"
