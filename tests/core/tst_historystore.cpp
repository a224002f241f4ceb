#include "core/base/preferencekeys.h"
#include "core/base/preferences.h"
#include "core/transcripts/historystore.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QTimeZone>

using namespace Qt::StringLiterals;

namespace {

// A fixed "now": 2026-12-06 12:00:00 UTC.
const QDateTime now = QDateTime(QDate(2026, 12, 6), QTime(12, 0), QTimeZone::utc());
const double nowSeconds = TranscriptRecord::referenceSeconds(now);

QByteArray recordJson(const QString &id, double date, const QString &kind, const QString &title = u"t"_s)
{
    return QJsonDocument(QJsonObject{{u"id"_s, id}, {u"date"_s, date}, {u"kind"_s, kind}, {u"title"_s, title},
                                     {u"text"_s, QString(u"text of "_s + title)}})
        .toJson(QJsonDocument::Compact);
}

QString uuid(int n)
{
    return u"00000000-0000-0000-0000-%1"_s.arg(n, 12, 10, QLatin1Char('0'));
}

} // namespace

class TestHistoryStore final : public QObject
{
    Q_OBJECT

private:
    std::unique_ptr<QTemporaryDir> m_dir;
    std::unique_ptr<Preferences> m_preferences;

    QString path() const { return m_dir->path() + u"/Murmel/History/history.json"_s; }

    std::unique_ptr<HistoryStore> open(QDateTime at = now)
    {
        return std::make_unique<HistoryStore>(path(), *m_preferences, nullptr, [at] { return at; });
    }

    void writeFile(const QByteArray &content)
    {
        QDir().mkpath(QFileInfo(path()).absolutePath());
        QFile file(path());
        QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
        file.write(content);
    }

    QByteArray fileContent() const
    {
        QFile file(path());
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
    }

    QStringList titles(const QList<TranscriptRecord> &records) const
    {
        QStringList list;
        for (const TranscriptRecord &record : records)
            list << record.title;
        return list;
    }

private Q_SLOTS:
    void init()
    {
        m_dir = std::make_unique<QTemporaryDir>();
        m_preferences = std::make_unique<Preferences>(m_dir->path() + u"/preferences.json"_s);
    }

    void firstStartCreatesTheFolderButNoFile()
    {
        auto store = open();
        QVERIFY(store->records().isEmpty());
        QVERIFY(QDir(QFileInfo(path()).absolutePath()).exists());
        QVERIFY(!QFile::exists(path()));
    }

    void fileFormatReadByAnIndependentParser()
    {
        auto store = open();
        const TranscriptRecord dictation = store->add(TranscriptRecord::Kind::dictation, u"  Hello there  "_s, u" Hello there "_s);
        const TranscriptRecord file = store->add(TranscriptRecord::Kind::file, u"interview"_s, u"Long text."_s, 3725.5);
        QCOMPARE(store->records().first(), file);

        // Python's json module, not Qt's, reads what we wrote.
        QProcess python;
        python.start(u"python3"_s, {u"-c"_s, u"import json,sys\n"
                                             "for r in json.load(open(sys.argv[1])):\n"
                                             "    print(r['id'], repr(r['date']), r['kind'], r['title'], r['text'], r.get('duration', 'none'), sorted(r))"_s,
                                     path()});
        QVERIFY(python.waitForFinished(30000));
        QCOMPARE(python.exitCode(), 0);
        const QStringList lines = QString::fromUtf8(python.readAllStandardOutput()).split(u'\n', Qt::SkipEmptyParts);
        QCOMPARE(lines.size(), 2);
        QVERIFY2(lines.at(0).startsWith(file.id.toString(QUuid::WithoutBraces).toUpper() + u' '), qPrintable(lines.at(0)));
        QVERIFY(lines.at(0).endsWith(u"file interview Long text. 3725.5 ['date', 'duration', 'id', 'kind', 'text', 'title']"_s));
        QVERIFY(lines.at(1).endsWith(u"dictation Hello there  Hello there  none ['date', 'id', 'kind', 'text', 'title']"_s));
        QVERIFY(lines.at(1).contains(QString::number(nowSeconds, 'g', 17).left(9)));

        // And it reads back equal, durations and all.
        auto reopened = open();
        QCOMPARE(reopened->records(), store->records());
        QCOMPARE(reopened->records().last().duration, std::nullopt);
        QCOMPARE(reopened->records().first().duration, std::optional(3725.5));
        QCOMPARE(reopened->records().first().dateTime(), now);
    }

    void datesKeepEveryDigit()
    {
        writeFile("[" + recordJson(uuid(1), 786123456.123456789, u"dictation"_s) + "]");
        auto store = open(QDateTime::fromSecsSinceEpoch(0, QTimeZone::utc()));
        QCOMPARE(store->records().first().date, 786123456.123456789);
        store->remove(QUuid()); // saves the list unchanged
        auto reopened = open(QDateTime::fromSecsSinceEpoch(0, QTimeZone::utc()));
        QCOMPARE(reopened->records().first().date, 786123456.123456789);
    }

    void loadingSortsNewestFirstAndKeepsTies()
    {
        writeFile("[" + recordJson(uuid(1), 100, u"dictation"_s, u"old"_s) + ","
                  + recordJson(uuid(2), 300, u"file"_s, u"tie A"_s) + ","
                  + recordJson(uuid(3), 500, u"dictation"_s, u"newest"_s) + ","
                  + recordJson(uuid(4), 300, u"dictation"_s, u"tie B"_s) + "]");
        auto store = open();
        QCOMPARE(titles(store->records()), (QStringList{u"newest"_s, u"tie A"_s, u"tie B"_s, u"old"_s}));
        QCOMPARE(store->rowCount(), 4);
        QCOMPARE(store->data(store->index(1), HistoryStore::KindRole).toString(), u"file"_s);
        QCOMPARE(store->data(store->index(1), HistoryStore::IdRole).toUuid(), QUuid::fromString(uuid(2)));
    }

    void damagedFilesAreReportedAndKept_data()
    {
        QTest::addColumn<QByteArray>("content");
        QTest::addColumn<QStringList>("readable");
        QTest::addColumn<QString>("damage");
        QTest::newRow("unknown kind") << QByteArray("[" + recordJson(uuid(1), 100, u"dictation"_s, u"fine"_s) + "," + recordJson(uuid(2), 200, u"memo"_s) + "]")
                                      << QStringList{u"fine"_s} << u"1 of its 2 transcripts cannot be read"_s;
        QTest::newRow("truncated") << QByteArray("[" + recordJson(uuid(1), 100, u"dictation"_s)).chopped(10) << QStringList()
                                   << u"it is not valid JSON"_s;
        QTest::newRow("missing title") << QByteArray(R"([{"id":"00000000-0000-0000-0000-000000000001","date":1,"kind":"file","text":"x"}])")
                                       << QStringList() << u"1 of its 1 transcripts"_s;
        QTest::newRow("date as a string") << QByteArray(R"([{"id":"00000000-0000-0000-0000-000000000001","date":"1","kind":"file","title":"t","text":"x"}])")
                                          << QStringList() << u"1 of its 1 transcripts"_s;
        QTest::newRow("not an array") << QByteArray("{}") << QStringList() << u"it holds no list of transcripts"_s;
    }

    void damagedFilesAreReportedAndKept()
    {
        QFETCH(QByteArray, content);
        QFETCH(QStringList, readable);
        QFETCH(QString, damage);
        writeFile(content);
        auto store = open();
        QCOMPARE(titles(store->records()), readable);
        QVERIFY(store->isDamaged());
        QVERIFY2(store->problem().startsWith(u"The history file is damaged: "_s + damage), qPrintable(store->problem()));
        QCOMPARE(fileContent(), content); // loading alone changes nothing

        QSignalSpy problem(store.get(), &HistoryStore::problemChanged);
        store->add(TranscriptRecord::Kind::dictation, u"new"_s, u"new text"_s);
        const QStringList kept = QDir(QFileInfo(path()).absolutePath()).entryList({u"history.json.unreadable-*"_s});
        QCOMPARE(kept.size(), 1);
        QFile aside(QFileInfo(path()).absolutePath() + u'/' + kept.first());
        QVERIFY(aside.open(QIODevice::ReadOnly));
        QCOMPARE(aside.readAll(), content);
        QCOMPARE(problem.size(), 1);
        QVERIFY(store->problem().endsWith(kept.first() + u'.'));
        QCOMPARE(open()->records().size(), readable.size() + 1);

        // Only once: the next save writes in place.
        store->add(TranscriptRecord::Kind::dictation, u"another"_s, u"text"_s);
        QCOMPARE(QDir(QFileInfo(path()).absolutePath()).entryList({u"history.json.unreadable-*"_s}).size(), 1);
        QCOMPARE(open()->records().size(), readable.size() + 2);
    }

    void retentionAtTheCutoff()
    {
        const double week = 7 * 86400.0;
        writeFile("[" + recordJson(uuid(1), nowSeconds - week + 1, u"dictation"_s, u"inside"_s) + ","
                  + recordJson(uuid(2), nowSeconds - week, u"dictation"_s, u"at the cut-off"_s) + ","
                  + recordJson(uuid(3), nowSeconds - week - 1, u"file"_s, u"outside"_s) + "]");
        QVERIFY(m_preferences->setInteger(PreferenceKeys::retentionDays, 7));
        auto store = open();
        QCOMPARE(titles(store->records()), (QStringList{u"inside"_s, u"at the cut-off"_s}));
        QCOMPARE(open()->records().size(), 2); // the file was rewritten
    }

    void retentionWithoutRemovalsDoesNotWrite()
    {
        writeFile("[" + recordJson(uuid(1), nowSeconds - 100, u"dictation"_s) + "]");
        const QDateTime old = QDateTime(QDate(2020, 1, 1), QTime(0, 0), QTimeZone::utc());
        {
            QFile file(path());
            QVERIFY(file.open(QIODevice::ReadWrite));
            QVERIFY(file.setFileTime(old, QFileDevice::FileModificationTime));
        }
        QVERIFY(m_preferences->setInteger(PreferenceKeys::retentionDays, 30));
        auto store = open();
        store->applyRetention();
        QCOMPARE(store->records().size(), 1);
        QCOMPARE(QFileInfo(path()).lastModified().toUTC(), old);
    }

    void retentionFollowsThePreference()
    {
        writeFile("[" + recordJson(uuid(1), nowSeconds - 10 * 86400.0, u"dictation"_s, u"ten days"_s) + ","
                  + recordJson(uuid(2), nowSeconds - 86400.0, u"dictation"_s, u"yesterday"_s) + "]");
        auto store = open();
        QCOMPARE(store->records().size(), 2); // forever by default
        QVERIFY(m_preferences->setString(PreferenceKeys::retentionDays, u"7"_s));
        store->applyRetention(); // a string is not a number of days
        QCOMPARE(store->records().size(), 2);
        QVERIFY(m_preferences->setInteger(PreferenceKeys::retentionDays, 7));
        QSignalSpy reset(store.get(), &QAbstractItemModel::modelReset);
        store->applyRetention();
        QCOMPARE(titles(store->records()), QStringList{u"yesterday"_s});
        QCOMPARE(reset.size(), 1);
        QVERIFY(m_preferences->setInteger(PreferenceKeys::retentionDays, 0));
        store->applyRetention();
        QCOMPARE(store->records().size(), 1); // nothing comes back
    }

    void titles_data()
    {
        QTest::addColumn<QString>("source");
        QTest::addColumn<QString>("title");
        QTest::newRow("blank") << u" \n\t "_s << u"Untitled"_s;
        QTest::newRow("empty") << QString() << u"Untitled"_s;
        QTest::newRow("trimmed") << u"\n  Meeting notes  \n"_s << u"Meeting notes"_s;
        QTest::newRow("exactly 60") << QString(60, u'a') << QString(60, u'a');
        QTest::newRow("61 becomes 60") << QString(61, u'b') << QString(60, u'b');
        const QString family = u"👩‍👩‍👧"_s;
        QString emoji;
        for (int i = 0; i < 61; ++i)
            emoji += family;
        QString sixty;
        for (int i = 0; i < 60; ++i)
            sixty += family;
        QTest::newRow("emoji count once") << emoji << sixty;
        const QString combined = u"e\u0301"_s;
        QString accents;
        for (int i = 0; i < 65; ++i)
            accents += combined;
        QTest::newRow("combining marks stay with their letter") << accents << accents.left(120);
    }

    void titles()
    {
        QFETCH(QString, source);
        QFETCH(QString, title);
        QCOMPARE(HistoryStore::titleFrom(source), title);
        auto store = open();
        const TranscriptRecord record = store->add(TranscriptRecord::Kind::dictation, source, source);
        QCOMPARE(record.title, title);
        QCOMPARE(record.text, source); // the text itself is never trimmed
    }

    void searchAndFilter_data()
    {
        QTest::addColumn<QString>("query");
        QTest::addColumn<int>("filter");
        QTest::addColumn<QStringList>("expected");
        QTest::newRow("everything") << QString() << int(KindFilter::all) << QStringList{u"memo"_s, u"Call"_s, u"lecture"_s};
        QTest::newRow("blanks and case") << u"  KUBERNETES \n"_s << int(KindFilter::all) << QStringList{u"memo"_s, u"lecture"_s};
        QTest::newRow("dictations only") << u"kubernetes"_s << int(KindFilter::dictation) << QStringList{u"memo"_s};
        QTest::newRow("files only") << QString() << int(KindFilter::file) << QStringList{u"lecture"_s};
        QTest::newRow("title match") << u"call"_s << int(KindFilter::all) << QStringList{u"Call"_s};
        QTest::newRow("accents fold by case") << u"ÉCOLE"_s << int(KindFilter::all) << QStringList{u"Call"_s};
        QTest::newRow("no match") << u"zebra"_s << int(KindFilter::all) << QStringList();
    }

    void searchAndFilter()
    {
        QFETCH(QString, query);
        QFETCH(int, filter);
        QFETCH(QStringList, expected);
        auto store = open();
        store->add(TranscriptRecord::Kind::file, u"lecture"_s, u"All about Kubernetes."_s, 60.0);
        store->add(TranscriptRecord::Kind::dictation, u"Call"_s, u"Call the école"_s);
        store->add(TranscriptRecord::Kind::dictation, u"memo"_s, u"deploy kubernetes today"_s);
        QCOMPARE(titles(store->filtered(query, static_cast<KindFilter>(filter))), expected);
    }

    void typingNarrowsAndEveryChangeStartsAfresh()
    {
        auto store = open();
        store->add(TranscriptRecord::Kind::dictation, u"one"_s, u"kubernetes cluster"_s);
        store->add(TranscriptRecord::Kind::file, u"two"_s, u"kube proxy"_s, 1.0);
        QCOMPARE(titles(store->filtered(u"kube"_s, KindFilter::all)), (QStringList{u"two"_s, u"one"_s}));
        QCOMPARE(titles(store->filtered(u"kuber"_s, KindFilter::all)), QStringList{u"one"_s});
        // Shorter again, or another filter: everything is looked at anew.
        QCOMPARE(titles(store->filtered(u"kub"_s, KindFilter::all)), (QStringList{u"two"_s, u"one"_s}));
        QCOMPARE(titles(store->filtered(u"kube"_s, KindFilter::file)), QStringList{u"two"_s});
        QCOMPARE(titles(store->filtered(u"kuber"_s, KindFilter::all)), QStringList{u"one"_s});
        // A new record is found by the next keystroke even though the query only grew.
        store->add(TranscriptRecord::Kind::dictation, u"three"_s, u"kubernetes nodes"_s);
        QCOMPARE(titles(store->filtered(u"kubern"_s, KindFilter::all)), (QStringList{u"three"_s, u"one"_s}));
        QCOMPARE(store->filteredRows(u"kubern"_s, KindFilter::all), (QList<qsizetype>{0, 2}));
        store->remove(store->records().first().id);
        QCOMPARE(titles(store->filtered(u"kuberne"_s, KindFilter::all)), QStringList{u"one"_s});
    }

    void removeKeepsOrderAndAlwaysSaves()
    {
        auto store = open();
        const TranscriptRecord a = store->add(TranscriptRecord::Kind::dictation, u"a"_s, u"a"_s);
        store->add(TranscriptRecord::Kind::dictation, u"b"_s, u"b"_s);
        store->add(TranscriptRecord::Kind::dictation, u"c"_s, u"c"_s);
        QSignalSpy removed(store.get(), &QAbstractItemModel::rowsRemoved);
        store->remove(a.id);
        QCOMPARE(titles(store->records()), (QStringList{u"c"_s, u"b"_s}));
        QCOMPARE(removed.size(), 1);
        // Emptied by hand elsewhere: that stands, and the save still happens.
        QFile::remove(path());
        QVERIFY(store->remove(QUuid::createUuid()));
        QVERIFY(QFile::exists(path()));
        QCOMPARE(store->records().size(), 0);
    }

    // The application and `murmel history delete` each hold the file: neither undoes the other.
    void anotherWritersChangesAreMerged()
    {
        auto app = open();
        const TranscriptRecord doomed = app->add(TranscriptRecord::Kind::dictation, u"doomed"_s, u"x"_s);
        QVERIFY(open()->remove(doomed.id));
        QTRY_COMPARE(app->records().size(), 0); // seen without any change of its own
        app->add(TranscriptRecord::Kind::file, u"kept"_s, u"y"_s);
        QCOMPARE(titles(open()->records()), QStringList{u"kept"_s});
    }

    void tenThousandRecords()
    {
        auto store = open();
        QJsonArray list;
        for (int i = 0; i < 10000; ++i)
            list.append(QJsonObject{{u"id"_s, uuid(i + 1)}, {u"date"_s, double(i)}, {u"kind"_s, i % 3 ? u"dictation"_s : u"file"_s},
                                    {u"title"_s, u"record %1"_s.arg(i)}, {u"text"_s, QString(QString(500, u'x') + QString::number(i))}});
        writeFile(QJsonDocument(list).toJson(QJsonDocument::Compact));
        auto big = open();
        QCOMPARE(big->records().size(), 10000);
        QCOMPARE(big->records().first().title, u"record 9999"_s);
        QCOMPARE(big->filtered(u"x9998"_s, KindFilter::all).size(), 1);
        QCOMPARE(big->filtered(QString(), KindFilter::file).size(), 3334);
        big->add(TranscriptRecord::Kind::file, u"one more"_s, u"text"_s, 1.0);
        QCOMPARE(open()->records().size(), 10001);
    }
};

QTEST_GUILESS_MAIN(TestHistoryStore)
#include "tst_historystore.moc"
