#include "fixturemodels.h"
#include "murmelprocess.h"
#include "testenvironment.h"
#include "testhttpserver.h"

#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QSignalSpy>
#include <QTest>

#include <cstdio>

using namespace Qt::StringLiterals;

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

    QString modelsFolder() const { return m_environment->dataHome() + u"/Murmel/Models"_s; }

    static bool run(const QString &program, const QStringList &arguments)
    {
        QProcess process;
        process.start(program, arguments);
        return process.waitForFinished(60000) && process.exitCode() == 0;
    }

    void installParrot(const QString &rawName)
    {
        const QString path = modelsFolder() + u"/ggml-"_s + rawName + u".bin"_s;
        QVERIFY(FixtureModels::make(path));
        QVERIFY(FixtureModels::useCatalog(m_environment->home() + u"/catalog.json"_s,
                                          {{rawName, FixtureModels::sha256Of(path)}}));
    }

private Q_SLOTS:
    void init()
    {
        m_environment = std::make_unique<TestEnvironment>();
        m_speech = m_environment->home() + u"/speech.wav"_s;
        m_tone = m_environment->home() + u"/tone.mp3"_s;
        m_silentVideo = m_environment->home() + u"/silent.mp4"_s;
        QVERIFY(run(u"espeak-ng"_s, {u"-w"_s, m_speech, u"Testing the command line transcriber."_s}));
        QVERIFY(run(u"ffmpeg"_s, {u"-loglevel"_s, u"error"_s, u"-f"_s, u"lavfi"_s, u"-i"_s,
                                   u"sine=frequency=300:duration=2"_s, m_tone}));
        QVERIFY(run(u"ffmpeg"_s, {u"-loglevel"_s, u"error"_s, u"-f"_s, u"lavfi"_s, u"-i"_s,
                                   u"testsrc=size=32x32:rate=5:duration=1"_s, u"-c:v"_s, u"mpeg4"_s, m_silentVideo}));
    }

    void cleanup() { m_environment.reset(); }

    void printsThePhrase()
    {
        installParrot(u"base.en"_s);
        const Result result = murmel({u"transcribe"_s, m_speech});
        QVERIFY2(result.exitCode == 0, qPrintable(result.err));
        QCOMPARE(result.out, FixtureModels::phrase.trimmed() + u'\n');
    }

    // The transcript of the first file cannot be written: the second is not worked on, and
    // the command fails with the reason.
    void unwritableOutputStopsTheWork()
    {
        installParrot(u"base.en"_s);
        const QString missing = m_environment->home() + u"/missing.wav"_s;
        const Result result = MurmelProcess::murmelInto(u"/dev/full"_s, {u"transcribe"_s, m_speech, missing});
        QCOMPARE(result.exitCode, 1);
        QVERIFY2(result.lastErrLine().startsWith(u"The output could not be written: "_s), qPrintable(result.err));
        QVERIFY2(!result.err.contains(u"missing.wav"_s), qPrintable(result.err));
    }

    // A file name with escape sequences is shown, not obeyed, in the headers.
    void headersShowControlCharacters()
    {
        installParrot(u"base.en"_s);
        const QString evil = m_environment->home() + u"/talk\x1b]0;owned\x07.wav"_s;
        QVERIFY(QFile::copy(m_speech, evil));
        const Result result = murmel({u"transcribe"_s, evil, m_speech});
        QVERIFY2(result.exitCode == 0, qPrintable(result.err));
        QVERIFY2(result.out.contains(u"/talk\uFFFD]0;owned\uFFFD.wav <=="_s), qPrintable(result.out));
        QVERIFY(!result.out.contains(u'\x1b'));
    }

    // Bytes that are not UTF-8 in a file name cannot survive the trip into Murmel: said so.
    void nameThatIsNotUtf8()
    {
        installParrot(u"base.en"_s);
        // The file exists under its Latin-1 name; it cannot be reached through a UTF-8 one.
        const QByteArray latin1 = QFile::encodeName(m_environment->home()) + "/caf\xe9.wav";
        std::fclose(std::fopen(latin1.constData(), "w"));
        QProcess process;
        process.start(u"sh"_s, {u"-c"_s, u"exec \"$0\" transcribe \"$(printf '%s/caf\\351.wav' \"$1\")\""_s,
                                MurmelProcess::binary(), m_environment->home()});
        const Result result = MurmelProcess::finish(process);
        QCOMPARE(result.exitCode, 1);
        QCOMPARE(result.lastErrLine(), u"The file name is not valid UTF-8, so Murmel cannot open it; rename the file (convmv can)."_s);
    }

    void formats()
    {
        installParrot(u"base.en"_s);
        const Result json = murmel({u"transcribe"_s, m_speech, u"--format"_s, u"json"_s});
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
            return u"00:00:%1%2%3"_s.arg(ms / 1000, 2, 10, QLatin1Char('0')).arg(separator).arg(ms % 1000, 3, 10, QLatin1Char('0'));
        };
        const Result srt = murmel({u"transcribe"_s, m_speech, u"--format"_s, u"srt"_s});
        QVERIFY2(srt.exitCode == 0, qPrintable(srt.err));
        QCOMPARE(srt.out, u"1\n00:00:00,000 --> "_s + stamp(end, u',') + u'\n' + FixtureModels::phrase.trimmed() + u'\n');
        const Result vtt = murmel({u"transcribe"_s, m_speech, u"--format"_s, u"vtt"_s});
        QVERIFY2(vtt.exitCode == 0, qPrintable(vtt.err));
        QCOMPARE(vtt.out, u"WEBVTT\n\n1\n00:00:00.000 --> "_s + stamp(end, u'.') + u'\n' + FixtureModels::phrase.trimmed() + u'\n');
    }

    void severalFilesShareOneEngineAndOneFailureStopsNothing()
    {
        installParrot(u"base.en"_s);
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert(u"QT_LOGGING_RULES"_s, u"murmel.speech.debug=true"_s);
        const QString missing = m_environment->home() + u"/missing.wav"_s;
        const Result result = murmel({u"transcribe"_s, m_speech, m_silentVideo, missing, m_tone}, environment);
        QCOMPARE(result.exitCode, 1);
        const QString phrase = FixtureModels::phrase.trimmed();
        QCOMPARE(result.out, u"==> "_s + m_speech + u" <==\n"_s + phrase + u"\n\n==> "_s + m_tone + u" <==\n"_s + phrase + u'\n');
        QVERIFY2(result.err.contains(u"silent.mp4: That file has no audio to transcribe."_s), qPrintable(result.err));
        QVERIFY(result.err.contains(u"missing.wav: No such file or directory"_s));
        QCOMPARE(result.err.count(u"Loading \"ggml-base.en.bin\""_s), 1);
    }

    void modelAndLanguageOptions()
    {
        installParrot(u"small"_s);
        const Result result = murmel({u"transcribe"_s, u"--model"_s, u"small"_s, u"--language"_s, u"de"_s, m_tone});
        QVERIFY2(result.exitCode == 0, qPrintable(result.err));
        QCOMPARE(result.out.trimmed(), FixtureModels::phrase.trimmed());
        // The preference picks the model when no option does.
        QVERIFY(run(qEnvironmentVariable("MURMEL_BINARY"), {u"config"_s, u"set"_s, u"whisperModel"_s, u"\"small\""_s}));
        QCOMPARE(murmel({u"transcribe"_s, m_tone}).out.trimmed(), FixtureModels::phrase.trimmed());
    }

    void missingModel_data()
    {
        QTest::addColumn<bool>("serverAnswers");
        QTest::addColumn<QString>("reason");
        QTest::newRow("server without the file") << true << u"Could not download Base (fast, English). The server returned HTTP 404."_s;
        QTest::newRow("no server") << false << u"Could not download Base (fast, English). "_s;
    }

    void missingModel()
    {
        QFETCH(bool, serverAnswers);
        QFETCH(QString, reason);
        TestHttpServer server;
        QVERIFY(server.listen());
        const QUrl base = server.url(u"/repo/"_s);
        if (!serverAnswers)
            server.close();
        qputenv("MURMEL_MODEL_BASE_URL", base.toString().toLocal8Bit());
        const Result result = murmel({u"transcribe"_s, m_speech});
        QCOMPARE(result.exitCode, 1);
        QVERIFY2(result.errLines().contains(u"No speech model is downloaded yet. Open Murmel and download a model first."_s),
                 qPrintable(result.err));
        QVERIFY2(result.err.contains(reason), qPrintable(result.err));
        QCOMPARE(result.out, QString());
    }

    void usageErrors_data()
    {
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<QString>("message");
        QTest::newRow("no file") << QStringList{} << u"Name at least one audio or video file."_s;
        QTest::newRow("bad format") << QStringList{u"a.wav"_s, u"--format"_s, u"doc"_s} << u"Unknown format \"doc\""_s;
        QTest::newRow("bad model") << QStringList{u"--model"_s, u"medium"_s, u"a.wav"_s} << u"Unknown model \"medium\""_s;
        QTest::newRow("bad language") << QStringList{u"--language"_s, u"xx"_s, u"a.wav"_s} << u"Unknown language \"xx\""_s;
        QTest::newRow("missing value") << QStringList{u"a.wav"_s, u"--model"_s} << u"--model needs a value."_s;
        QTest::newRow("unknown option") << QStringList{u"--fast"_s, u"a.wav"_s} << u"Unknown option --fast."_s;
    }

    void usageErrors()
    {
        QFETCH(QStringList, arguments);
        QFETCH(QString, message);
        const Result result = murmel(QStringList{u"transcribe"_s} + arguments);
        QCOMPARE(result.exitCode, 2);
        QVERIFY2(result.err.contains(message), qPrintable(result.err));
    }
};

QTEST_GUILESS_MAIN(TestTranscribeCommand)
#include "tst_transcribecommand.moc"
