// Transcripts: the history file and an independent reader of it, the subtitle forms,
// decoding what a broken recorder or a hostile file gives, and long files in windows.
#include "childprocess.h"
#include "core/base/preferencekeys.h"
#include "core/base/preferences.h"
#include "core/transcripts/audiofiledecoder.h"
#include "core/transcripts/historystore.h"
#include "core/transcripts/transcriptformats.h"
#include "core/transcripts/windowedtranscription.h"
#include "fixturemodels.h"
#include "testenvironment.h"

#include <QCoroTask>
#include <QDataStream>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSignalSpy>
#include <QTest>
#include <QTimeZone>

using namespace Qt::StringLiterals;
using Kind = TranscriptRecord::Kind;

namespace {

const QDateTime now(QDate(2026, 12, 6), QTime(12, 0), QTimeZone::utc());
const double nowSeconds = TranscriptRecord::referenceSeconds(now);

QByteArray record(int n, double date, const QString &kind, const QString &title = u"t"_s)
{
    return QJsonDocument(QJsonObject{{u"id"_s, u"00000000-0000-0000-0000-%1"_s.arg(n, 12, 10, QLatin1Char('0'))},
                                     {u"date"_s, date}, {u"kind"_s, kind}, {u"title"_s, title}, {u"text"_s, title}})
        .toJson(QJsonDocument::Compact);
}

QStringList titlesOf(const QList<TranscriptRecord> &records)
{
    QStringList titles;
    for (const TranscriptRecord &record : records)
        titles << record.title;
    return titles;
}

} // namespace

class TestTranscripts final : public QObject
{
    Q_OBJECT

    QTemporaryDir m_dir;
    Preferences m_preferences{m_dir.filePath(u"preferences.json"_s)};

    QString path() const { return m_dir.filePath(u"History/"_s + QLatin1String(QTest::currentTestFunction()) + u".json"_s); }
    std::unique_ptr<HistoryStore> open() { return std::make_unique<HistoryStore>(path(), m_preferences, nullptr, [] { return now; }); }

private Q_SLOTS:
    void historyReadByAnIndependentParser()
    {
        auto store = open();
        store->add(Kind::dictation, u"  Hello there  "_s, u" Hello there "_s);
        const TranscriptRecord file = store->add(Kind::file, u"interview"_s, u"Long text."_s, 3725.5);
        // Python's json module, not Qt's, reads what we wrote.
        const QString script = u"import json,sys\nfor r in json.load(open(sys.argv[1])):\n"
                               "    print(r['id'], repr(r['date']), r['kind'], r['title'], r['text'], r.get('duration'), sorted(r))"_s;
        const QStringList lines = QString::fromUtf8(ChildProcess::run(u"python3"_s, {u"-c"_s, script, path()})).split(u'\n', Qt::SkipEmptyParts);
        QCOMPARE(lines.size(), 2);
        QVERIFY2(lines.at(0).startsWith(file.id.toString(QUuid::WithoutBraces).toUpper() + u' '), qPrintable(lines.at(0)));
        QVERIFY(lines.at(0).endsWith(u"file interview Long text. 3725.5 ['date', 'duration', 'id', 'kind', 'text', 'title']"_s));
        QVERIFY(lines.at(1).endsWith(u"dictation Hello there  Hello there  None ['date', 'id', 'kind', 'text', 'title']"_s));
        QVERIFY(lines.at(1).contains(QString::number(nowSeconds, 'g', 17).left(9)));
        QCOMPARE(open()->records(), store->records());
        // Every digit of a date survives a save.
        QVERIFY(TestFiles::write(path(), "[" + record(1, 786123456.123456789, u"dictation"_s) + "]"));
        QVERIFY(open()->remove(QUuid()));
        QCOMPARE(open()->records().first().date, 786123456.123456789);
    }

    void damagedHistoryIsKept()
    {
        const QList<std::tuple<QByteArray, qsizetype, QString>> files{
            {"[" + record(1, 100, u"dictation"_s) + "," + record(2, 200, u"memo"_s) + "]", 1, u"1 of its 2 transcripts cannot be read"_s},
            {QByteArray("[" + record(1, 100, u"dictation"_s)).chopped(10), 0, u"it is not valid JSON"_s},
            {"{}", 0, u"it holds no list of transcripts"_s}};
        for (const auto &[content, readable, damage] : files) {
            QVERIFY(QDir(QFileInfo(path()).path()).removeRecursively() && TestFiles::write(path(), content));
            auto store = open();
            QCOMPARE(store->records().size(), readable);
            QVERIFY2(store->problem().startsWith(u"The history file is damaged: "_s + damage), qPrintable(store->problem()));
            QCOMPARE(TestFiles::read(path()), content); // loading alone changes nothing
            QSignalSpy problem(store.get(), &HistoryStore::problemChanged);
            store->add(Kind::dictation, u"new"_s, u"new text"_s);
            store->add(Kind::dictation, u"another"_s, u"text"_s); // set aside once only
            const QFileInfoList kept = QFileInfo(path()).dir().entryInfoList({u"*.unreadable-*"_s});
            QCOMPARE(kept.size(), 1);
            QCOMPARE(TestFiles::read(kept.first().filePath()), content);
            QCOMPARE(problem.size(), 1);
            QVERIFY(store->problem().endsWith(kept.first().fileName() + u'.'));
            QCOMPARE(open()->records().size(), readable + 2);
        }
    }

    void retentionTitlesAndSearch()
    {
        const double week = 7 * 86400.0;
        QVERIFY(TestFiles::write(path(), "[" + record(1, nowSeconds - week, u"file"_s, u"at the cut-off"_s) + ","
                                             + record(2, nowSeconds - week - 1, u"dictation"_s, u"outside"_s) + "]"));
        auto store = open();
        QVERIFY(m_preferences.setString(PreferenceKeys::retentionDays, u"7"_s)); // not a number of days
        store->applyRetention();
        QCOMPARE(store->records().size(), 2);
        QVERIFY(m_preferences.setInteger(PreferenceKeys::retentionDays, 7));
        store->applyRetention();
        QVERIFY(m_preferences.remove(PreferenceKeys::retentionDays));
        QCOMPARE(titlesOf(open()->records()), QStringList{u"at the cut-off"_s});

        const QList<std::pair<QString, QString>> titles{{u" \n\t "_s, u"Untitled"_s}, {u"\n Notes  \n"_s, u"Notes"_s},
                                                        {u"👩‍👩‍👧"_s.repeated(61), u"👩‍👩‍👧"_s.repeated(60)},
                                                        {u"e\u0301"_s.repeated(65), u"e\u0301"_s.repeated(60)}};
        for (const auto &[source, title] : titles)
            QCOMPARE(store->add(Kind::dictation, source, source).title, title);
        QCOMPARE(store->records().first().text, u"e\u0301"_s.repeated(65)); // the text itself is never cut
        store->add(Kind::dictation, u"memo"_s, u"deploy Kubernetes École"_s);
        QCOMPARE(titlesOf(store->filtered(u"  école \n"_s, KindFilter::all)), QStringList{u"memo"_s});
        QCOMPARE(titlesOf(store->filtered(u"kub"_s, KindFilter::file)), QStringList());
        // Typing narrows the last result; another filter or a new record looks at everything anew.
        QCOMPARE(titlesOf(store->filtered(u"kube"_s, KindFilter::all)), QStringList{u"memo"_s});
        store->add(Kind::file, u"lecture"_s, u"kubernetes"_s, 60.0);
        QCOMPARE(store->filteredRows(u"kuber"_s, KindFilter::all), (QList<qsizetype>{0, 1}));
        // The application and `murmel history delete` each hold the file: neither undoes the other.
        QVERIFY(open()->remove(store->records().first().id));
        QTRY_COMPARE(titlesOf(store->records()).first(), u"memo"_s);
        store->add(Kind::file, u"kept"_s, u"y"_s);
        QCOMPARE(titlesOf(open()->records()).mid(0, 2), (QStringList{u"kept"_s, u"memo"_s}));
    }

    // A second of NaN, infinities and 1e30 under a header that claims nine hours; a file with
    // no sound, one cut short, one missing.
    void decodingBadFiles()
    {
        QFile file(m_dir.filePath(u"broken.wav"_s));
        QVERIFY(file.open(QIODevice::WriteOnly));
        QDataStream stream(&file);
        stream.setByteOrder(QDataStream::LittleEndian);
        stream.setFloatingPointPrecision(QDataStream::SinglePrecision);
        stream.writeRawData("RIFF\xff\xff\xff\x7fWAVEfmt ", 16);
        stream << quint32(16) << quint16(3) << quint16(1) << quint32(16000) << quint32(64000) << quint16(4) << quint16(32);
        stream.writeRawData("data\xf0\xff\xff\x7f", 8);
        const float wild[] = {std::numeric_limits<float>::quiet_NaN(), std::numeric_limits<float>::infinity(), -1e30f, 0.25f};
        for (int i = 0; i < 16000; ++i)
            stream << wild[i % 4];
        file.close();
        const DecodeResult result = AudioFileDecoder::decodeNow(file.fileName(), 240);
        QVERIFY(std::holds_alternative<DecodedAudio>(result));
        const DecodedAudio &audio = std::get<DecodedAudio>(result);
        QVERIFY2(std::abs(audio.duration - 1.0) < 0.05, qPrintable(QString::number(audio.duration)));
        QVERIFY(std::all_of(audio.samples.begin(), audio.samples.end(), [](float s) { return s >= -1.0f && s <= 1.0f; }));
        QVERIFY(std::all_of(audio.envelope.begin(), audio.envelope.end(), [](float p) { return p >= 0.0f && p <= 1.0f; }));
        QCOMPARE(AudioFileDecoder::makeEnvelope(AudioFrames(6, 0.0f), 3), QList<float>(3, 0.0f)); // silence stays silent

        QVERIFY(TestFiles::synthesize(m_dir.filePath(u"silent.mp4"_s), u"testsrc=size=64x64:duration=1"_s, {u"-c:v"_s, u"mpeg4"_s}));
        QVERIFY(TestFiles::write(m_dir.filePath(u"cut.mp4"_s), TestFiles::read(m_dir.filePath(u"silent.mp4"_s)).first(2048)));
        const auto failure = [this](const QString &name) {
            const DecodeResult decoded = AudioFileDecoder::decodeNow(m_dir.filePath(name), 240);
            return std::holds_alternative<AudioDecodeError>(decoded) ? std::get<AudioDecodeError>(decoded).description() : u"decoded"_s;
        };
        QCOMPARE(failure(u"silent.mp4"_s), u"That file has no audio to transcribe."_s);
        QCOMPARE(failure(u"cut.mp4"_s), u"Could not read the audio from that file."_s);
        QCOMPARE(failure(u"missing.wav"_s), u"No such file or directory"_s);
    }

    // 70 s silent at 10 s and 27 s, windows of 30 s: a window ends in the quietest 100 ms of
    // its last 5 s, in the file's times. A cancelled read gives up at the next packet.
    void windowsJoinUp()
    {
        TestEnvironment environment;
        const QString model = environment.home() + u"/ggml-base.en.bin"_s;
        const QString audio = environment.home() + u"/long.flac"_s;
        QVERIFY(FixtureModels::make(model));
        QVERIFY(FixtureModels::useCatalog(environment.home() + u"/catalog.json"_s, {{u"base.en"_s, FixtureModels::sha256Of(model)}}));
        QVERIFY(TestFiles::synthesize(audio, u"sine=frequency=300:sample_rate=16000:duration=70"_s,
                                      {u"-af"_s, u"volume=enable='between(t,10,10.2)+between(t,27,27.2)':volume=0"_s}));
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

QTEST_GUILESS_MAIN(TestTranscripts)
#include "tst_transcripts.moc"
