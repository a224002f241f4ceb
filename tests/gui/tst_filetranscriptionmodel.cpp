#include "core/base/preferencekeys.h"
#include "core/base/preferences.h"
#include "core/hud/hudcontroller.h"
#include "core/hud/sounds.h"
#include "core/hud/voice.h"
#include "core/insert/clickinserter.h"
#include "core/insert/clipboardsafeinsertservice.h"
#include "core/insert/textinserter.h"
#include "core/speech/modelstore.h"
#include "core/speech/transcriber.h"
#include "core/transcripts/audiofiledecoder.h"
#include "core/transcripts/historystore.h"
#include "fakes/fakeannouncer.h"
#include "fakes/fakeclickobserver.h"
#include "fakes/fakeclipboard.h"
#include "fakes/fakefocusprobe.h"
#include "fakes/fakehudpanel.h"
#include "fakes/fakekeyboardinjector.h"
#include "fakes/fakeprocessactivity.h"
#include "fakes/fakesoundplayer.h"
#include "fakes/fakespeechsynthesizer.h"
#include "fixturemodels.h"
#include "gui/viewmodels/filetranscriptionmodel.h"
#include "testenvironment.h"
#include "testhttpserver.h"

#include <QElapsedTimer>
#include <QProcess>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QTest>
#include <QThreadPool>

#include <QCoroTask>

#include <algorithm>
#include <memory>
#include <utility>

using namespace Qt::StringLiterals;

using Phase = FileTranscriptionModel::Phase;
using Phases = QList<Phase>;
// What the engine reports, at seconds on the model's clock.
using Reports = QList<std::pair<double, double>>;
using Batches = QList<std::pair<double, QString>>;

namespace {

const QString phrase = FixtureModels::phrase.trimmed();
constexpr int runTimeoutMs = 90000;

// The model over the genuine history, model store, click-to-insert, sounds and voice, with
// fakes only at the platform boundary and a clock the test sets.
struct Rig
{
    Rig(Preferences &preferences, const QString &folder)
        : inserter(safeInsert, clipboard, keyboard, focus, preferences)
        , history(folder + u"/History/history.json"_s, preferences)
        , models(folder + u"/Models"_s)
        , model(std::make_unique<FileTranscriptionModel>(
              FileTranscriptionModel::Collaborators{models, preferences, history, sounds, voice, clipboard,
                                                    clickInserter, activity},
              nullptr, [this] { return time; }))
    {
        QObject::connect(model.get(), &FileTranscriptionModel::phaseChanged, model.get(),
                         [this] { phases << model->phase(); });
    }

    FakeSoundPlayer player;
    Sounds sounds{player};
    FakeSpeechSynthesizer speech;
    Voice voice{speech};
    FakeClipboard clipboard;
    FakeKeyboardInjector keyboard;
    FakeFocusProbe focus;
    ClipboardSafeInsertService safeInsert{keyboard};
    TextInserter inserter;
    FakeHUDPanel panel;
    FakeAnnouncer announcer;
    HUDController hud{panel, announcer};
    FakeClickObserver clicks;
    ClickInserter clickInserter{clicks, keyboard, inserter, hud, sounds};
    HistoryStore history;
    ModelStore models;
    FakeProcessActivity activity;
    double time = 0.0;
    std::unique_ptr<FileTranscriptionModel> model;
    Phases phases;
};

} // namespace

class TestFileTranscriptionModel final : public QObject
{
    Q_OBJECT

    std::unique_ptr<TestEnvironment> m_environment;
    QString m_parrot;
    std::unique_ptr<QTemporaryDir> m_scratch;
    std::unique_ptr<TestHttpServer> m_server;
    std::unique_ptr<Rig> m_rig;

    QString media(const QString &name) const { return m_environment->home() + u"/media/"_s + name; }
    FileTranscriptionModel &model() { return *m_rig->model; }
    bool install(const QString &from, const QString &rawName) const
    {
        QDir().mkpath(m_scratch->path() + u"/Models"_s);
        return QFile::copy(from, m_scratch->path() + u"/Models/ggml-"_s + rawName + u".bin"_s);
    }
    bool handleAndFinish(const QString &path)
    {
        model().handle(QUrl::fromLocalFile(path));
        return QTest::qWaitFor(
            [this] { return model().phase() == Phase::done || model().phase() == Phase::failed; }, runTimeoutMs);
    }
    static void ffmpeg(const QString &source, const QString &output)
    {
        QProcess process;
        process.start(u"ffmpeg"_s, {u"-y"_s, u"-loglevel"_s, u"error"_s, u"-f"_s, u"lavfi"_s, u"-i"_s,
                                     source, u"-ac"_s, u"1"_s, output});
        QVERIFY2(process.waitForFinished(60000) && process.exitCode() == 0,
                 process.readAllStandardError().constData());
    }

private Q_SLOTS:
    void initTestCase()
    {
        // Sounds and voice read the application's own preferences, fixed on first use.
        m_environment = std::make_unique<TestEnvironment>();
        m_parrot = m_environment->home() + u"/fixtures/parrot.bin"_s;
        QVERIFY2(FixtureModels::make(m_parrot), "the model generator failed");
        QVERIFY(FixtureModels::useCatalog(m_environment->home() + u"/catalog.json"_s,
                                          {{u"base.en"_s, FixtureModels::sha256Of(m_parrot)}}));
        QDir().mkpath(media({}));
        // Past one 30-second window, so the engine reports two segment batches.
        ffmpeg(u"sine=frequency=440:duration=35"_s, media(u"speech.wav"_s));
        ffmpeg(u"sine=frequency=440:duration=2"_s, media(u"Team Sync.final.MOV"_s));
        // Shorter than the shortest speech the engine looks at.
        ffmpeg(u"sine=frequency=440:duration=0.05"_s, media(u"blip.wav"_s));
        QFile broken(media(u"broken.mp3"_s));
        QVERIFY(broken.open(QIODevice::WriteOnly) && broken.write(QByteArray(8192, 'x')) == 8192);
    }

    void init()
    {
        QFile::remove(Preferences::shared().filePath());
        QVERIFY(Preferences::shared().setString(PreferenceKeys::whisperModel, u"base.en"_s));
        m_scratch = std::make_unique<QTemporaryDir>();
        m_server = std::make_unique<TestHttpServer>();
        QVERIFY(m_server->listen());
        qputenv("MURMEL_MODEL_BASE_URL", m_server->url(u"/repo/"_s).toString().toUtf8());
        m_rig = std::make_unique<Rig>(Preferences::shared(), m_scratch->path());
    }

    void cleanup()
    {
        if (m_rig)
            m_rig->models.cancel();
        m_rig.reset();
        m_server.reset();
        m_scratch.reset();
    }

    void fileNames_data()
    {
        QTest::addColumn<QString>("file");
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("ext");
        QTest::addColumn<QString>("proposed");
        QTest::newRow("dotted name") << u"Team Sync.final.MOV"_s << u"Team Sync.final"_s << u"mov"_s
                                     << u"Team Sync.final.txt"_s;
        QTest::newRow("no extension") << u"memo"_s << u"memo"_s << QString() << u"memo.txt"_s;
        QTest::newRow("leading dot") << u".take"_s << u".take"_s << QString() << u".take.txt"_s;
    }

    // The names appear at once; a file that is not there fails in decoding.
    void fileNames()
    {
        QFETCH(QString, file);
        QCOMPARE(model().title(), u"Transcribe a file"_s);
        model().handle(QUrl::fromLocalFile(m_scratch->path() + u"/missing/"_s + file));
        // The decoder may give up before handle() returns.
        QCOMPARE(m_rig->phases.value(0), Phase::decoding);
        QTEST(model().fileName(), "name");
        QTEST(model().fileExt(), "ext");
        QTEST(model().title(), "name");
        QTEST(model().proposedExportName(u"txt"_s), "proposed");
        QTRY_COMPARE(model().phase(), Phase::failed);
        QVERIFY(!model().failureMessage().isEmpty());
    }

    void progress_data()
    {
        QTest::addColumn<Reports>("reports");
        QTest::addColumn<double>("progress");
        QTest::addColumn<double>("rate");
        QTest::addColumn<double>("at");
        QTest::addColumn<double>("smoothed");
        const Reports rising{{0, 0.1}, {0.5, 0.2}}; // the first rate: 0.2 per second from 0.5 s
        QTest::newRow("within 0.1 s dropped") << Reports{{0, 0.10}, {0.05, 0.12}} << 0.10 << 0.0 << 1.0 << 0.10;
        QTest::newRow("at 0.1 s still dropped") << Reports{{0, 0.10}, {0.1, 0.12}} << 0.10 << 0.0 << 1.0 << 0.10;
        QTest::newRow("1.0 never dropped") << Reports{{0, 0.1}, {0.01, 1.0}} << 1.0 << 0.0 << 1.0 << 1.0;
        QTest::newRow("extrapolated") << rising << 0.2 << 0.2 << 0.6 << 0.22;
        QTest::newRow("lead capped") << rising << 0.2 << 0.2 << 3.0 << 0.25;
        QTest::newRow("time before the rise") << rising << 0.2 << 0.2 << 0.0 << 0.2;
        QTest::newRow("blended 0.4 new, 0.6 old") << rising + Reports{{1, 0.5}} << 0.5 << 0.36 << 1.1 << 0.536;
        QTest::newRow("falling keeps anchor, rate") << rising + Reports{{1, 0.15}} << 0.15 << 0.2 << 1.0 << 0.2;
        QTest::newRow("never past 1") << Reports{{0, 0.9}, {0.5, 0.99}} << 0.99 << 0.18 << 0.6 << 1.0;
    }

    void progress()
    {
        QFETCH(Reports, reports);
        QFETCH(double, at);
        for (const auto &[time, fraction] : reports) {
            m_rig->time = time;
            model().updateProgress(fraction);
        }
        QTEST(model().progress(), "progress");
        QTEST(model().progressRate(), "rate");
        QTEST(model().smoothedProgress(at), "smoothed");
    }

    void liveText_data()
    {
        QTest::addColumn<Batches>("batches");
        QTest::addColumn<QString>("live");
        QTest::newRow("joined after 0.2 s") << Batches{{0, u"Hello"_s}, {0.25, u"  world "_s}} << u"Hello world"_s;
        QTest::newRow("held at 0.2 s") << Batches{{0, u"Hello"_s}, {0.2, u"  world "_s}} << u"Hello"_s;
        QTest::newRow("held text comes with the next")
            << Batches{{0, u"a"_s}, {0.1, u"b"_s}, {0.35, u"c"_s}} << u"a b c"_s;
        QTest::newRow("blank pieces ignored")
            << Batches{{0, u"\nHello"_s}, {0.3, u" \n\t"_s}, {0.6, u"world\n"_s}} << u"Hello world"_s;
    }

    void liveText()
    {
        QFETCH(Batches, batches);
        for (const auto &[time, text] : batches) {
            m_rig->time = time;
            model().appendLive(text);
        }
        QTEST(model().liveText(), "live");
    }

    void metaLine_data()
    {
        QTest::addColumn<QString>("ext");
        QTest::addColumn<double>("duration");
        QTest::addColumn<Phase>("phase");
        QTest::addColumn<QString>("language");
        QTest::addColumn<QString>("line");
        const QString mp3 = u"mp3"_s;
        QTest::newRow("done, German") << mp3 << 205.0 << Phase::done << u"de"_s << u"MP3 · 3:25 · DE · 512 WORDS"_s;
        QTest::newRow("done, automatic") << mp3 << 205.0 << Phase::done << u"auto"_s << u"MP3 · 3:25 · 512 WORDS"_s;
        QTest::newRow("transcribing") << mp3 << 205.9 << Phase::transcribing << u"de"_s << u"MP3 · 3:25"_s;
        QTest::newRow("decoding, nothing known") << QString() << 0.0 << Phase::decoding << u"de"_s << QString();
        QTest::newRow("long, no extension")
            << QString() << 3725.0 << Phase::done << u"auto"_s << u"62:05 · 512 WORDS"_s;
    }

    void metaLine()
    {
        QFETCH(QString, ext);
        QFETCH(double, duration);
        QFETCH(Phase, phase);
        QFETCH(QString, language);
        QTEST(FileTranscriptionModel::composeMetaLine(ext, duration, phase, language, 512), "line");
    }

    void numberFormats()
    {
        QCOMPARE(FileTranscriptionModel::percentText(0.999), u"99%"_s);
        QCOMPARE(FileTranscriptionModel::percentText(1.0), u"100%"_s);
        QCOMPARE(FileTranscriptionModel::percentText(0.0), u"0%"_s);
        QCOMPARE(FileTranscriptionModel::minutesSeconds(59.99), u"0:59"_s);
        QCOMPARE(FileTranscriptionModel::minutesSeconds(600.0), u"10:00"_s);
        // A camera's upper-case file is offered under the QuickTime filter, the last of seven.
        const QStringList filters = FileTranscriptionModel::acceptedNameFilters();
        QCOMPARE(filters.size(), 8);
        QVERIFY(filters.first().startsWith(u"Audio and video files (*.mp3 *.m4a "_s));
        QVERIFY(filters.first().contains(u" *.mov "_s));
        QVERIFY(filters.at(1).startsWith(u"Audio files (*.mp3 *.m4a "_s));
        const QStringList quickTime = filters.last().section(u'(', 1).chopped(1).split(u' ');
        QVERIFY(std::any_of(quickTime.cbegin(), quickTime.cend(), [](const QString &pattern) {
            return QRegularExpression(QRegularExpression::wildcardToRegularExpression(pattern))
                .match(u"Team Sync.final.MOV"_s)
                .hasMatch();
        }));
    }

    // Each copy runs its own timer; the first to end clears the confirmation.
    void copyConfirmation()
    {
        QElapsedTimer clock;
        clock.start();
        model().copyAll();
        QVERIFY(model().justCopied());
        QTest::qWait(1000);
        model().copyAll();
        QTRY_VERIFY_WITH_TIMEOUT(!model().justCopied(), 3000);
        const qint64 shown = clock.elapsed();
        QVERIFY2(shown >= 1400 && shown < 2200, qPrintable(QString::number(shown)));
        QCOMPARE(m_rig->clipboard.writes, 2);
        QCOMPARE(m_rig->player.played, (QStringList{u"Morse"_s, u"Morse"_s}));

        // A clipboard that did not take the text is never confirmed.
        m_rig->clipboard.refuses = true;
        model().copyAll();
        QVERIFY(!model().justCopied());
        QCOMPARE(m_rig->player.played.size(), 2);
    }

    void wholeRun_data()
    {
        QTest::addColumn<QString>("file");
        QTest::addColumn<QString>("language");
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("live");
        QTest::addColumn<QString>("meta");
        QTest::addColumn<QString>("srt");
        QTest::addColumn<double>("duration");
        QTest::addColumn<QStringList>("times"); // the segment rows' start times
        const QString srt = u"1\n00:00:00,000 --> 00:00:00,100\n"_s + phrase
            + u"\n\n2\n00:00:30,000 --> 00:00:30,100\n"_s + phrase + u'\n';
        QTest::newRow("speech") << u"speech.wav"_s << u"en"_s << phrase + u' ' + phrase << phrase
                                << u"WAV · 0:35 · EN · 10 WORDS"_s << srt << 35.0
                                << QStringList{u"0:00"_s, u"0:30"_s};
        QTest::newRow("no words") << u"blip.wav"_s << u"auto"_s << QString() << QString()
                                  << u"WAV · 0:00 · 0 WORDS"_s << QString() << 0.05 << QStringList();
    }

    // The genuine engine on the parrot model, from the file to the history and the exports.
    void wholeRun()
    {
        QFETCH(QString, file);
        QFETCH(QString, text);
        QFETCH(QString, language);
        QVERIFY(install(m_parrot, u"base.en"_s));
        QVERIFY(Preferences::shared().setString(PreferenceKeys::language, language));
        Rig &rig = *m_rig;
        QVERIFY(handleAndFinish(media(file)));
        QCOMPARE(rig.phases, (Phases{Phase::decoding, Phase::transcribing, Phase::done}));
        QCOMPARE(model().fullText(), text);
        QCOMPARE(model().progress(), 1.0);
        // The clock stood still: the first batch was published, the second waits in the buffer.
        QTEST(model().liveText(), "live");
        QTEST(model().metaLine(), "meta");
        QFETCH(double, duration);
        QVERIFY2(qAbs(model().duration() - duration) < 0.01, qPrintable(QString::number(model().duration())));
        QStringList times;
        for (const QVariant &row : model().property("segments").toList())
            times << row.toMap().value(u"time"_s).toString();
        QTEST(times, "times");
        const QList<qreal> envelope = model().envelope();
        QVERIFY(!envelope.isEmpty());
        QCOMPARE(*std::max_element(envelope.cbegin(), envelope.cend()), 1.0);
        QCOMPARE(rig.player.played, (QStringList{u"Tink"_s, u"Glass"_s}));
        QCOMPARE(rig.speech.calls, (QStringList{u"stop"_s, u"speak:It's ready."_s}));
        QCOMPARE(rig.activity.reasons, QStringList{u"Transcribing a file"_s});
        QCOMPARE(rig.activity.held, 0);
        QCOMPARE(rig.history.records().size(), 1);
        const TranscriptRecord record = rig.history.records().first();
        QCOMPARE(record.kind, TranscriptRecord::Kind::file);
        QCOMPARE(record.title, QFileInfo(file).completeBaseName());
        QCOMPARE(record.text, text);
        QCOMPARE(record.duration, std::optional<double>(model().duration()));

        QFETCH(QString, srt);
        for (const auto &[ext, content] : {std::pair{u"txt"_s, text}, std::pair{u"srt"_s, srt}}) {
            const QString target = m_scratch->path() + u"/export."_s + ext;
            QVERIFY(model().saveExport(QUrl::fromLocalFile(target), ext));
            QFile written(target);
            QVERIFY(written.open(QIODevice::ReadOnly));
            QCOMPARE(written.readAll(), content.toUtf8());
        }
        model().copyAll();
        QCOMPARE(rig.clipboard.text(), text);
        QVERIFY(model().canInsertByClicking());
        model().insertByClicking();
        QVERIFY(rig.clickInserter.isArmed());
        QCOMPARE(rig.clickInserter.text(), text);
    }

    // A file while one is worked on changes nothing; after the end, the next replaces it.
    void oneFileAtATime()
    {
        QVERIFY(install(m_parrot, u"base.en"_s));
        const QUrl other = QUrl::fromLocalFile(media(u"Team Sync.final.MOV"_s));
        model().handle(QUrl()); // a drop without a file
        QVERIFY(m_rig->phases.isEmpty());
        const QMetaObject::Connection whileTranscribing
            = connect(&model(), &FileTranscriptionModel::phaseChanged, this, [&] {
                  if (model().phase() == Phase::transcribing)
                      model().handle(other);
              });
        model().handle(QUrl::fromLocalFile(media(u"speech.wav"_s)));
        model().handle(other);
        QTRY_COMPARE_WITH_TIMEOUT(model().phase(), Phase::done, runTimeoutMs);
        disconnect(whileTranscribing);
        QCOMPARE(model().fileName(), u"speech"_s);
        QCOMPARE(m_rig->activity.reasons.size(), 1);

        m_rig->phases.clear();
        model().handle(other);
        QCOMPARE(m_rig->phases.value(0), Phase::decoding);
        QCOMPARE(model().fileName(), u"Team Sync.final"_s);
        QVERIFY(model().segments().isEmpty() && model().liveText().isEmpty() && model().progress() == 0.0);
        QTRY_COMPARE_WITH_TIMEOUT(model().phase(), Phase::done, runTimeoutMs);
        QCOMPARE(model().fullText(), phrase);
        QCOMPARE(m_rig->history.records().size(), 2);
        QCOMPARE(m_rig->history.records().first().title, u"Team Sync.final"_s);
    }

    void failures_data()
    {
        QTest::addColumn<QString>("file");
        QTest::addColumn<QString>("setup");
        QTest::addColumn<QString>("message"); // empty: the decoder's or the model store's own
        QTest::addColumn<Phases>("phases");
        const QString wav = u"blip.wav"_s;
        const Phases afterDecoding{Phase::decoding, Phase::transcribing, Phase::failed};
        QTest::newRow("undecodable file") << u"broken.mp3"_s << QString() << QString()
                                          << Phases{Phase::decoding, Phase::failed};
        QTest::newRow("model server unreachable") << wav << u"unreachable"_s << QString() << afterDecoding;
        QTest::newRow("another download holds the slot")
            << wav << u"busy"_s << u"The speech model is not ready yet."_s << afterDecoding;
        QTest::newRow("model fails its check") << wav << u"corrupt"_s
                                               << TranscriberError::integrity(u"ggml-base.en.bin"_s).description()
                                               << afterDecoding;
    }

    // Every failure ends in the failed phase with its message, stores nothing and holds nothing.
    void failures()
    {
        QFETCH(QString, file);
        QFETCH(QString, setup);
        QFETCH(QString, message);
        QFETCH(Phases, phases);
        Rig &rig = *m_rig;
        std::optional<QCoro::Task<>> download;
        if (setup == u"unreachable")
            m_server->close();
        if (setup == u"busy") {
            m_server->setResponse(u"/repo/ggml-large-v3.bin"_s,
                                  {.body = QByteArray(1 << 20, 'x'), .chunkSize = 1024, .chunkDelayMs = 200});
            download = rig.models.download(WhisperModel::largeV3);
        }
        if (setup == u"corrupt")
            QVERIFY(install(media(u"broken.mp3"_s), u"base.en"_s));

        QVERIFY(handleAndFinish(media(file)));
        QCOMPARE(rig.phases, phases);
        if (message.isEmpty() && phases.size() == 2) {
            const DecodeResult decoded = AudioFileDecoder::decodeNow(media(file), 240);
            QVERIFY(std::holds_alternative<AudioDecodeError>(decoded));
            message = std::get<AudioDecodeError>(decoded).description();
        } else if (message.isEmpty()) {
            message = rig.models.lastErrorText();
        }
        QVERIFY(!message.isEmpty());
        QCOMPARE(model().failureMessage(), message);
        QCOMPARE(rig.history.records().size(), 0);
        QCOMPARE(rig.player.played, phases.size() == 3 ? QStringList{u"Tink"_s} : QStringList());
        QVERIFY(rig.speech.calls.isEmpty());
        QCOMPARE(rig.activity.reasons.size(), 1);
        QCOMPARE(rig.activity.held, 0);
        if (download) {
            rig.models.cancel();
            QCoro::waitFor(std::move(*download));
        }
    }

    void destroyedWhileRunning_data()
    {
        QTest::addColumn<bool>("waitForWords");
        QTest::newRow("decoding") << false;
        QTest::newRow("transcribing") << true;
    }

    // The run goes on to its end without the model and touches nothing of it.
    void destroyedWhileRunning()
    {
        QFETCH(bool, waitForWords);
        QVERIFY(install(m_parrot, u"base.en"_s));
        QSignalSpy words(m_rig->model.get(), &FileTranscriptionModel::liveTextChanged);
        model().handle(QUrl::fromLocalFile(media(u"speech.wav"_s)));
        if (waitForWords)
            QVERIFY(words.wait(runTimeoutMs));
        m_rig->model.reset();
        QTRY_COMPARE_WITH_TIMEOUT(m_rig->activity.held, 0, runTimeoutMs);
        QThreadPool::globalInstance()->waitForDone();
        QTest::qWait(50);
        QCOMPARE(m_rig->history.records().size(), 0);
        QCOMPARE(m_rig->player.played, waitForWords ? QStringList{u"Tink"_s} : QStringList());
    }
};

QTEST_GUILESS_MAIN(TestFileTranscriptionModel)
#include "tst_filetranscriptionmodel.moc"
