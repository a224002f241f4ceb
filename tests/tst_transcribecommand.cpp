#include "fixturemodels.h"
#include "testenvironment.h"
#include "murmelprocess.h"
#include "testhttpserver.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QSignalSpy>
#include <QTest>

using MurmelProcess::Result;
using MurmelProcess::binary;
using MurmelProcess::finish;
using MurmelProcess::murmel;

// `murmel transcribe` end to end: the real binary, generated speech, the parrot model.
class TestTranscribeCommand final : public QObject
{
    Q_OBJECT

private:
    std::unique_ptr<TestEnvironment> m_environment;
    QString m_speech;
    QString m_tone;
    QString m_silentVideo;

    QString modelsFolder() const { return m_environment->dataHome() + u"/Murmel/Models"_qs; }

    static bool run(const QString &program, const QStringList &arguments)
    {
        QProcess process;
        process.start(program, arguments);
        return process.waitForFinished(60000) && process.exitCode() == 0;
    }

    void installParrot(const QString &rawName)
    {
        const QString path = modelsFolder() + u"/ggml-"_qs + rawName + u".bin"_qs;
        QVERIFY(FixtureModels::make(path));
        QVERIFY(FixtureModels::useCatalog(m_environment->home() + u"/catalog.json"_qs,
                                          {{rawName, FixtureModels::sha256Of(path)}}));
    }

private Q_SLOTS:
    void init()
    {
        m_environment = std::make_unique<TestEnvironment>();
        m_speech = m_environment->home() + u"/speech.wav"_qs;
        m_tone = m_environment->home() + u"/tone.mp3"_qs;
        m_silentVideo = m_environment->home() + u"/silent.mp4"_qs;
        QVERIFY(run(u"espeak-ng"_qs, {u"-w"_qs, m_speech, u"Testing the command line transcriber."_qs}));
        QVERIFY(run(u"ffmpeg"_qs, {u"-loglevel"_qs, u"error"_qs, u"-f"_qs, u"lavfi"_qs, u"-i"_qs,
                                   u"sine=frequency=300:duration=2"_qs, m_tone}));
        QVERIFY(run(u"ffmpeg"_qs, {u"-loglevel"_qs, u"error"_qs, u"-f"_qs, u"lavfi"_qs, u"-i"_qs,
                                   u"testsrc=size=32x32:rate=5:duration=1"_qs, u"-c:v"_qs, u"mpeg4"_qs, m_silentVideo}));
    }

    void cleanup() { m_environment.reset(); }

    void printsThePhrase()
    {
        installParrot(u"base.en"_qs);
        const Result result = murmel({u"transcribe"_qs, m_speech});
        QVERIFY2(result.exitCode == 0, qPrintable(result.err));
        QCOMPARE(result.out, FixtureModels::phrase.trimmed() + u'\n');
    }

    void formats()
    {
        installParrot(u"base.en"_qs);
        const Result json = murmel({u"transcribe"_qs, m_speech, u"--format"_qs, u"json"_qs});
        QVERIFY2(json.exitCode == 0, qPrintable(json.err));
        const QJsonObject document = QJsonDocument::fromJson(json.out.toUtf8()).object();
        QCOMPARE(document.value(u"file").toString(), m_speech);
        QVERIFY(document.value(u"duration").toDouble() > 1.0);
        const QJsonArray segments = document.value(u"segments").toArray();
        QCOMPARE(segments.size(), 1);
        const QJsonObject segment = segments.first().toObject();
        QCOMPARE(segment.value(u"text").toString(), FixtureModels::phrase.trimmed());
        QCOMPARE(segment.value(u"start").toDouble(), 0.0);
        const double end = segment.value(u"end").toDouble();
        QVERIFY(end > 0.0 && end <= document.value(u"duration").toDouble());

        auto stamp = [](double seconds, QChar separator) {
            const int ms = qRound(seconds * 1000);
            return u"00:00:%1%2%3"_qs.arg(ms / 1000, 2, 10, QLatin1Char('0')).arg(separator).arg(ms % 1000, 3, 10, QLatin1Char('0'));
        };
        const Result srt = murmel({u"transcribe"_qs, m_speech, u"--format"_qs, u"srt"_qs});
        QVERIFY2(srt.exitCode == 0, qPrintable(srt.err));
        QCOMPARE(srt.out, u"1\n00:00:00,000 --> "_qs + stamp(end, u',') + u'\n' + FixtureModels::phrase.trimmed() + u'\n');
        const Result vtt = murmel({u"transcribe"_qs, m_speech, u"--format"_qs, u"vtt"_qs});
        QVERIFY2(vtt.exitCode == 0, qPrintable(vtt.err));
        QCOMPARE(vtt.out, u"WEBVTT\n\n1\n00:00:00.000 --> "_qs + stamp(end, u'.') + u'\n' + FixtureModels::phrase.trimmed() + u'\n');
    }

    void severalFilesShareOneEngineAndOneFailureStopsNothing()
    {
        installParrot(u"base.en"_qs);
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert(u"QT_LOGGING_RULES"_qs, u"murmel.speech.debug=true"_qs);
        const QString missing = m_environment->home() + u"/missing.wav"_qs;
        const Result result = murmel({u"transcribe"_qs, m_speech, m_silentVideo, missing, m_tone}, environment);
        QCOMPARE(result.exitCode, 1);
        const QString phrase = FixtureModels::phrase.trimmed();
        QCOMPARE(result.out, u"==> "_qs + m_speech + u" <==\n"_qs + phrase + u"\n\n==> "_qs + m_tone + u" <==\n"_qs + phrase + u'\n');
        QVERIFY2(result.err.contains(u"silent.mp4: That file has no audio to transcribe."_qs), qPrintable(result.err));
        QVERIFY(result.err.contains(u"missing.wav: No such file or directory"_qs));
        QCOMPARE(result.err.count(u"Loading \"ggml-base.en.bin\""_qs), 1);
    }

    void modelAndLanguageOptions()
    {
        installParrot(u"small"_qs);
        const Result result = murmel({u"transcribe"_qs, u"--model"_qs, u"small"_qs, u"--language"_qs, u"de"_qs, m_tone});
        QVERIFY2(result.exitCode == 0, qPrintable(result.err));
        QCOMPARE(result.out.trimmed(), FixtureModels::phrase.trimmed());
        // The preference picks the model when no option does.
        QVERIFY(run(qEnvironmentVariable("MURMEL_BINARY"), {u"config"_qs, u"set"_qs, u"whisperModel"_qs, u"\"small\""_qs}));
        QCOMPARE(murmel({u"transcribe"_qs, m_tone}).out.trimmed(), FixtureModels::phrase.trimmed());
    }

    void missingModel_data()
    {
        QTest::addColumn<bool>("serverAnswers");
        QTest::addColumn<QString>("reason");
        QTest::newRow("server without the file") << true << u"Could not download Base (fast, English). The server returned HTTP 404."_qs;
        QTest::newRow("no server") << false << u"Could not download Base (fast, English). "_qs;
    }

    void missingModel()
    {
        QFETCH(bool, serverAnswers);
        QFETCH(QString, reason);
        TestHttpServer server;
        QVERIFY(server.listen());
        const QUrl base = server.url(u"/repo/"_qs);
        if (!serverAnswers)
            server.close();
        qputenv("MURMEL_MODEL_BASE_URL", base.toString().toLocal8Bit());
        const Result result = murmel({u"transcribe"_qs, m_speech});
        QCOMPARE(result.exitCode, 1);
        QVERIFY2(result.err.startsWith(u"No speech model is downloaded yet. Open Murmel and download a model first.\n"_qs),
                 qPrintable(result.err));
        QVERIFY2(result.err.contains(reason), qPrintable(result.err));
        QCOMPARE(result.out, QString());
    }

    void usageErrors_data()
    {
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<QString>("message");
        QTest::newRow("no file") << QStringList{} << u"Name at least one audio or video file."_qs;
        QTest::newRow("bad format") << QStringList{u"a.wav"_qs, u"--format"_qs, u"doc"_qs} << u"Unknown format \"doc\""_qs;
        QTest::newRow("bad model") << QStringList{u"--model"_qs, u"medium"_qs, u"a.wav"_qs} << u"Unknown model \"medium\""_qs;
        QTest::newRow("bad language") << QStringList{u"--language"_qs, u"xx"_qs, u"a.wav"_qs} << u"Unknown language \"xx\""_qs;
        QTest::newRow("missing value") << QStringList{u"a.wav"_qs, u"--model"_qs} << u"--model needs a value."_qs;
        QTest::newRow("unknown option") << QStringList{u"--fast"_qs, u"a.wav"_qs} << u"Unknown option --fast."_qs;
    }

    void usageErrors()
    {
        QFETCH(QStringList, arguments);
        QFETCH(QString, message);
        const Result result = murmel(QStringList{u"transcribe"_qs} + arguments);
        QCOMPARE(result.exitCode, 2);
        QVERIFY2(result.err.contains(message), qPrintable(result.err));
    }
};

QTEST_GUILESS_MAIN(TestTranscribeCommand)
#include "tst_transcribecommand.moc"
