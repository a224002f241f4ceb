#include "fixturemodels.h"
#include "murmelprocess.h"
#include "testenvironment.h"

#include <QTest>

using namespace Qt::StringLiterals;

using MurmelProcess::Result;
using MurmelProcess::murmel;

// `murmel transcribe` end to end: the real binary, the parrot model as the preferences' small.
class TestTranscribeCommand final : public QObject
{
    Q_OBJECT

    TestEnvironment m_environment;
    const QString m_phrase = FixtureModels::phrase.trimmed();

    QString file(const QString &name) const { return m_environment.home() + u'/' + name; }

private Q_SLOTS:
    void initTestCase()
    {
        QCOMPARE(QProcess::execute(u"ffmpeg"_s, {u"-loglevel"_s, u"error"_s, u"-f"_s, u"lavfi"_s, u"-i"_s,
                                                 u"sine=frequency=300:duration=2"_s, file(u"tone.mp3"_s)}),
                 0);
        const QString model = m_environment.dataHome() + u"/Murmel/Models/ggml-small.bin"_s;
        QVERIFY(FixtureModels::make(model));
        QVERIFY(FixtureModels::useCatalog(file(u"catalog.json"_s), {{u"small"_s, FixtureModels::sha256Of(model)}}));
        QCOMPARE(murmel({u"config"_s, u"set"_s, u"whisperModel"_s, u"\"small\""_s}).exitCode, 0);
    }

    // Each file under a header that shows, not obeys, escapes in its name; a failing file stops
    // nothing; one engine load, in the language asked for, for all. JSON names the file.
    void severalFiles()
    {
        const QString evil = file(u"talk\x1b]0;owned\x07.mp3"_s);
        QVERIFY(QFile::copy(file(u"tone.mp3"_s), evil));
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert(u"QT_LOGGING_RULES"_s, u"murmel.speech.debug=true"_s);
        const Result result = murmel({u"transcribe"_s, u"--format"_s, u"vtt"_s, u"--language"_s, u"de"_s, evil,
                                      file(u"missing.wav"_s), file(u"tone.mp3"_s)}, environment);
        QCOMPARE(result.exitCode, 1);
        const QString vtt = u" <==\nWEBVTT\n\n1\n00:00:00.000 --> 00:00:00.100\n"_s + m_phrase + u'\n';
        QCOMPARE(result.out, u"==> "_s + file(u"talk\uFFFD]0;owned\uFFFD.mp3"_s) + vtt + u"\n==> "_s + file(u"tone.mp3"_s) + vtt);
        QVERIFY2(result.err.contains(u"missing.wav: No such file or directory"_s), qPrintable(result.err));
        QCOMPARE(result.err.count(u"Loading \"ggml-small.bin\" for language \"de\""_s), 1);
        const Result json = murmel({u"transcribe"_s, file(u"tone.mp3"_s), u"--format"_s, u"json"_s});
        QCOMPARE(QJsonDocument::fromJson(json.out.toUtf8()).object().value(u"file").toString(), file(u"tone.mp3"_s));
        // Once the output cannot be written, the next file is not worked on.
        const Result full = MurmelProcess::murmelInto(u"/dev/full"_s, {u"transcribe"_s, file(u"tone.mp3"_s), file(u"missing.wav"_s)});
        QVERIFY2(full.exitCode == 1 && !full.err.contains(u"missing.wav"_s), qPrintable(full.err));
    }

    // --model overrides the preferences; a model that cannot be had is said so, with why.
    void missingModel()
    {
        qputenv("MURMEL_MODEL_BASE_URL", "http://127.0.0.1:9/repo/"); // nothing answers there
        const Result result = murmel({u"transcribe"_s, u"--model"_s, u"large-v3"_s, file(u"tone.mp3"_s)});
        QCOMPARE(result.exitCode, 1);
        QCOMPARE(result.errLines().value(result.errLines().size() - 2),
                 u"No speech model is downloaded yet. Open Murmel and download a model first."_s);
        QVERIFY2(result.lastErrLine().startsWith(u"Could not download Large v3 (most accurate). "_s), qPrintable(result.err));
    }

    void usageErrors_data()
    {
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<QString>("message");
        QTest::newRow("no file") << QStringList{} << u"Name at least one audio or video file."_s;
        QTest::newRow("bad format") << QStringList{u"a.wav"_s, u"--format"_s, u"doc"_s} << u"Unknown format \"doc\""_s;
        QTest::newRow("missing value") << QStringList{u"a.wav"_s, u"--model"_s} << u"--model needs a value."_s;
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
