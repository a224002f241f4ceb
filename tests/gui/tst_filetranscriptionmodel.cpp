#include "core/base/preferencekeys.h"
#include "core/hud/voice.h"
#include "dictationrig.h"
#include "fakes/fakespeechsynthesizer.h"
#include "fixturemodels.h"
#include "gui/viewmodels/filetranscriptionmodel.h"
#include "testenvironment.h"
#include "testhttpserver.h"

#include <QSignalSpy>
#include <QTest>

using namespace Qt::StringLiterals;

using Phase = FileTranscriptionModel::Phase;
using Phases = QList<Phase>;
using Reports = QList<std::pair<double, double>>; // at seconds on the model's clock

namespace {

const QString phrase = FixtureModels::phrase.trimmed();

// The model beside a dictation, and a clock the test sets or lets tick a second per reading.
struct Rig
{
    explicit Rig(const QString &folder)
        : preferences(folder + u"/preferences.json"_s)
        , with(preferences, folder + u"/history.json"_s, folder + u"/Models"_s)
        , model(std::make_unique<FileTranscriptionModel>(
              FileTranscriptionModel::Collaborators{with.models, preferences, with.history, with.sounds, voice,
                                                    with.clipboard, with.clickInserter, with.activity},
              nullptr, [this] { return time += tick; }))
    {
        QObject::connect(model.get(), &FileTranscriptionModel::phaseChanged, [this] { phases << model->phase(); });
    }

    Preferences preferences;
    DictationRig with;
    FakeSpeechSynthesizer speech;
    Voice voice{speech, preferences};
    double time = 0.0;
    double tick = 0.0;
    std::unique_ptr<FileTranscriptionModel> model;
    Phases phases;
};

} // namespace

class TestFileTranscriptionModel final : public QObject
{
    Q_OBJECT

    TestEnvironment m_environment;
    TestHttpServer m_server;       // without files: every download is a 404
    std::unique_ptr<QTemporaryDir> m_scratch;
    std::unique_ptr<Rig> m_rig;

    QString media(const QString &name) const { return m_environment.home() + u'/' + name; }
    FileTranscriptionModel &model() { return *m_rig->model; }

private Q_SLOTS:
    void initTestCase()
    {
        QVERIFY(FixtureModels::make(media(u"parrot.bin"_s)));
        QVERIFY(FixtureModels::useCatalog(media(u"catalog.json"_s), {{u"base.en"_s, FixtureModels::sha256Of(media(u"parrot.bin"_s))}}));
        // The engine says its phrase per 30 s heard, so 35 s give two segments and ten
        // minutes twenty; 0.05 s is shorter than the shortest speech it looks at.
        for (const auto &[seconds, name] : {std::pair{u"35"_s, u"speech.wav"_s}, {u"600"_s, u"long.flac"_s},
                                            {u"2"_s, u"Team Sync.final.MOV"_s}, {u"0.05"_s, u"blip.wav"_s}})
            QVERIFY(TestFiles::synthesize(media(name), u"sine=frequency=440:duration="_s + seconds, {u"-ac"_s, u"1"_s}));
        QVERIFY(m_server.listen());
        qputenv("MURMEL_MODEL_BASE_URL", m_server.url(u"/repo/"_s).toString().toUtf8());
    }

    void init()
    {
        m_scratch = std::make_unique<QTemporaryDir>();
        m_rig = std::make_unique<Rig>(m_scratch->path());
        QVERIFY(m_rig->preferences.setString(PreferenceKeys::whisperModel, u"base.en"_s));
        QVERIFY(m_rig->preferences.setString(PreferenceKeys::language, u"en"_s));
    }

    void cleanup() { m_rig.reset(); }

    // What the screen shows at a time, after reports at chosen times: the figure moves on at
    // the blended rate from the last rise, at most 0.05 ahead and never past 1.
    void progress_data()
    {
        QTest::addColumn<Reports>("reports");
        QTest::addColumn<double>("at");
        QTest::addColumn<double>("smoothed");
        const Reports rising{{0, 0.1}, {0.5, 0.2}}; // the first rate: 0.2 per second from 0.5 s
        QTest::newRow("at 0.1 s dropped") << Reports{{0, 0.10}, {0.1, 0.12}} << 1.0 << 0.10;
        QTest::newRow("1.0 never dropped") << Reports{{0, 0.1}, {0.01, 1.0}} << 1.0 << 1.0;
        QTest::newRow("lead capped") << rising << 3.0 << 0.25;
        QTest::newRow("time before the rise") << rising << 0.0 << 0.2;
        QTest::newRow("blended 0.4 new, 0.6 old") << rising + Reports{{1, 0.5}} << 1.1 << 0.536;
        QTest::newRow("falling keeps anchor, rate") << rising + Reports{{1, 0.15}} << 1.0 << 0.2;
        QTest::newRow("never past 1") << Reports{{0, 0.9}, {0.5, 0.99}} << 0.6 << 1.0;
    }

    void progress()
    {
        QFETCH(Reports, reports);
        QFETCH(double, at);
        for (const auto &[time, fraction] : reports) {
            m_rig->time = time;
            model().live()->update(fraction);
        }
        QTEST(model().live()->smoothed(at), "smoothed");
    }

    void runs_data()
    {
        QTest::addColumn<QString>("file");
        QTest::addColumn<bool>("modelPresent");
        QTest::addColumn<QString>("stop");      // how the run is stopped, if it is
        QTest::addColumn<Phases>("phases");
        QTest::addColumn<QString>("outcome"); // the transcript, the message, or the title
        const Phases done{Phase::decoding, Phase::transcribing, Phase::done};
        const Phases failed{Phase::decoding, Phase::transcribing, Phase::failed};
        const Phases emptied{Phase::decoding, Phase::transcribing, Phase::empty};
        QTest::newRow("speech") << u"speech.wav"_s << true << QString() << done << phrase + u' ' + phrase;
        QTest::newRow("no words") << u"blip.wav"_s << true << QString() << done << QString();
        QTest::newRow("name not UTF-8") << u"caf\uFFFD.wav"_s << true << QString() << Phases{Phase::decoding, Phase::failed}
                                        << u"The file name is not valid UTF-8, so Murmel cannot open it; rename the file (convmv can)."_s;
        QTest::newRow("no model to be had") << u"blip.wav"_s << false << QString() << failed
                                            << u"Could not download Base (fast, English). The server returned HTTP 404."_s;
        QTest::newRow("cancelled while decoding") << u"long.flac"_s << true << u"cancel now"_s
                                                  << Phases{Phase::decoding, Phase::empty} << u"Transcribe a file"_s;
        QTest::newRow("cancelled at the first words") << u"long.flac"_s << true << u"cancel"_s << emptied << u"Transcribe a file"_s;
        QTest::newRow("destroyed at the first words") << u"long.flac"_s << true << u"destroy"_s << emptied.first(2) << QString();
    }

    // From the file to the history and exports on the parrot model.
    // A file arriving meanwhile is ignored; a stopped run stops the engine (ten minutes are
    // twenty batches); nothing failed or stopped is kept or sounded; the next file runs.
    void runs()
    {
        QFETCH(bool, modelPresent);
        QFETCH(QString, stop);
        QFETCH(QString, outcome);
        DictationRig &with = m_rig->with;
        QVERIFY(!modelPresent || QFile::copy(media(u"parrot.bin"_s), with.models.path(WhisperModel::baseEn)));
        m_rig->tick = stop.isEmpty() ? 0.0 : 1.0; // standing still, only the first batch is published
        int batches = 0;
        connect(model().live(), &FileProgress::textChanged, this, [&] { batches += !model().live()->text().isEmpty(); });
        QSignalSpy words(model().live(), &FileProgress::textChanged);
        QFETCH(QString, file);
        model().handle(QUrl());
        model().handle(QUrl::fromLocalFile(media(file)));
        // A file that cannot be read may have failed already (its decoder answers before the
        // run awaits it), and then the next file is welcome; while decoding it is ignored.
        if (model().phase() == Phase::decoding)
            model().handle(QUrl::fromLocalFile(media(u"Team Sync.final.MOV"_s)));
        if (stop == u"cancel now")
            model().cancel();
        else if (!stop.isEmpty() && words.wait(90000))
            stop == u"cancel" ? model().cancel() : m_rig->model.reset();
        QTRY_COMPARE_WITH_TIMEOUT(with.activity.held, 0, 90000);
        QTEST(m_rig->phases, "phases");
        const bool finished = m_rig->phases.last() == Phase::done;
        const qsizetype sounds = finished ? 2 : m_rig->phases.contains(Phase::transcribing);
        QCOMPARE(with.player.played, (QStringList{u"Tink"_s, u"Glass"_s}.first(sounds)));
        QCOMPARE(m_rig->speech.calls, finished ? (QStringList{u"stop"_s, u"speak:It's ready."_s}) : QStringList());
        QCOMPARE(with.history.records().size(), finished ? 1 : 0);
        if (!stop.isEmpty())
            QVERIFY2(stop == u"cancel now" ? batches == 0 : batches >= 1 && batches < 20, qPrintable(QString::number(batches)));
        if (!m_rig->model)
            return;
        const bool cleared = m_rig->phases.last() == Phase::empty;
        QCOMPARE(finished ? model().fullText() : cleared ? model().title() : model().failureMessage(), outcome);
        if (file == u"speech.wav"_s) {
            QCOMPARE(model().segmentRows().value(1).toMap().value(u"time"_s).toString(), u"0:30"_s);
            QCOMPARE(model().live()->text(), phrase); // the clock stood still: the second batch waits
            QCOMPARE(model().metaLine(), u"WAV · 0:35 · EN · 10 WORDS"_s);
            QVERIFY(model().live()->fraction() == 1.0 && model().envelope().contains(1.0));
            QCOMPARE(with.history.records().first().duration, std::optional<double>(model().duration()));
            QVERIFY(model().saveExport(QUrl::fromLocalFile(m_scratch->path() + u"/out.srt"_s), u"srt"_s));
            QCOMPARE(TestFiles::read(m_scratch->path() + u"/out.srt"_s), (u"1\n00:00:00,000 --> 00:00:00,100\n"_s + phrase
                                     + u"\n\n2\n00:00:30,000 --> 00:00:30,100\n"_s + phrase + u'\n').toUtf8());
            with.clipboard.refuses = true; // a copy the clipboard did not take is not confirmed
            model().copyAll();
            QVERIFY(!model().justCopied());
            with.clipboard.refuses = false;
            model().copyAll();
            model().insertByClicking();
            QVERIFY(model().justCopied());
            QCOMPARE((QStringList{with.history.records().first().text, with.clipboard.text(), with.clickInserter.text()}),
                     QStringList(3, outcome));
        }
        if (!modelPresent)
            return;
        model().handle(QUrl::fromLocalFile(media(u"Team Sync.final.MOV"_s)));
        QVERIFY(model().segments().isEmpty() && model().live()->text().isEmpty() && model().live()->fraction() == 0.0);
        QTRY_COMPARE_WITH_TIMEOUT(model().fullText(), phrase, 90000);
        QCOMPARE(with.history.records().first().title, u"Team Sync.final"_s);
    }
};

QTEST_GUILESS_MAIN(TestFileTranscriptionModel)
#include "tst_filetranscriptionmodel.moc"
