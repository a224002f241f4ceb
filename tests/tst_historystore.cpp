#include "app/preferencekeys.h"
#include "app/preferences.h"
#include "transcripts/historystore.h"

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

namespace {

// A fixed "now": 2026-12-06 12:00:00 UTC.
const QDateTime now = QDateTime(QDate(2026, 12, 6), QTime(12, 0), Qt::UTC);
const double nowSeconds = TranscriptRecord::referenceSeconds(now);

QByteArray recordJson(const QString &id, double date, const QString &kind, const QString &title = u"t"_qs)
{
    return QJsonDocument(QJsonObject{{u"id"_qs, id}, {u"date"_qs, date}, {u"kind"_qs, kind}, {u"title"_qs, title},
                                     {u"text"_qs, QString(u"text of "_qs + title)}})
        .toJson(QJsonDocument::Compact);
}

QString uuid(int n)
{
    return u"00000000-0000-0000-0000-%1"_qs.arg(n, 12, 10, QLatin1Char('0'));
}

} // namespace

class TestHistoryStore final : public QObject
{
    Q_OBJECT

private:
    std::unique_ptr<QTemporaryDir> m_dir;
    std::unique_ptr<Preferences> m_preferences;

    QString path() const { return m_dir->path() + u"/Murmel/History/history.json"_qs; }

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
        m_preferences = std::make_unique<Preferences>(m_dir->path() + u"/preferences.json"_qs);
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
        const TranscriptRecord dictation = store->add(TranscriptRecord::Kind::dictation, u"  Hello there  "_qs, u" Hello there "_qs);
        const TranscriptRecord file = store->add(TranscriptRecord::Kind::file, u"interview"_qs, u"Long text."_qs, 3725.5);
        QCOMPARE(store->records().first(), file);

        // Python's json module, not Qt's, reads what we wrote.
        QProcess python;
        python.start(u"python3"_qs, {u"-c"_qs, u"import json,sys\n"
                                             "for r in json.load(open(sys.argv[1])):\n"
                                             "    print(r['id'], repr(r['date']), r['kind'], r['title'], r['text'], r.get('duration', 'none'), sorted(r))"_qs,
                                     path()});
        QVERIFY(python.waitForFinished(30000));
        QCOMPARE(python.exitCode(), 0);
        const QStringList lines = QString::fromUtf8(python.readAllStandardOutput()).split(u'\n', Qt::SkipEmptyParts);
        QCOMPARE(lines.size(), 2);
        QVERIFY2(lines.at(0).startsWith(file.id.toString(QUuid::WithoutBraces).toUpper() + u' '), qPrintable(lines.at(0)));
        QVERIFY(lines.at(0).endsWith(u"file interview Long text. 3725.5 ['date', 'duration', 'id', 'kind', 'text', 'title']"_qs));
        QVERIFY(lines.at(1).endsWith(u"dictation Hello there  Hello there  none ['date', 'id', 'kind', 'text', 'title']"_qs));
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
        writeFile("[" + recordJson(uuid(1), 786123456.123456789, u"dictation"_qs) + "]");
        auto store = open(QDateTime::fromSecsSinceEpoch(0, Qt::UTC));
        QCOMPARE(store->records().first().date, 786123456.123456789);
        store->remove(QUuid()); // saves the list unchanged
        auto reopened = open(QDateTime::fromSecsSinceEpoch(0, Qt::UTC));
        QCOMPARE(reopened->records().first().date, 786123456.123456789);
    }

    void loadingSortsNewestFirstAndKeepsTies()
    {
        writeFile("[" + recordJson(uuid(1), 100, u"dictation"_qs, u"old"_qs) + ","
                  + recordJson(uuid(2), 300, u"file"_qs, u"tie A"_qs) + ","
                  + recordJson(uuid(3), 500, u"dictation"_qs, u"newest"_qs) + ","
                  + recordJson(uuid(4), 300, u"dictation"_qs, u"tie B"_qs) + "]");
        auto store = open();
        QCOMPARE(titles(store->records()), (QStringList{u"newest"_qs, u"tie A"_qs, u"tie B"_qs, u"old"_qs}));
        QCOMPARE(store->rowCount(), 4);
        QCOMPARE(store->data(store->index(1), HistoryStore::KindRole).toString(), u"file"_qs);
        QCOMPARE(store->data(store->index(1), HistoryStore::IdRole).toUuid(), QUuid::fromString(uuid(2)));
    }

    void unreadableFilesAreKeptNotLost_data()
    {
        QTest::addColumn<QByteArray>("content");
        QTest::newRow("unknown kind") << QByteArray("[" + recordJson(uuid(1), 100, u"dictation"_qs) + "," + recordJson(uuid(2), 200, u"memo"_qs) + "]");
        QTest::newRow("truncated") << QByteArray("[" + recordJson(uuid(1), 100, u"dictation"_qs)).chopped(10);
        QTest::newRow("missing title") << QByteArray(R"([{"id":"00000000-0000-0000-0000-000000000001","date":1,"kind":"file","text":"x"}])");
        QTest::newRow("date as a string") << QByteArray(R"([{"id":"00000000-0000-0000-0000-000000000001","date":"1","kind":"file","title":"t","text":"x"}])");
        QTest::newRow("not an array") << QByteArray("{}");
    }

    void unreadableFilesAreKeptNotLost()
    {
        QFETCH(QByteArray, content);
        writeFile(content);
        auto store = open();
        QVERIFY(store->records().isEmpty());
        QCOMPARE(fileContent(), content); // loading alone changes nothing

        store->add(TranscriptRecord::Kind::dictation, u"new"_qs, u"new text"_qs);
        const QStringList kept = QDir(QFileInfo(path()).absolutePath()).entryList({u"history.json.unreadable-*"_qs});
        QCOMPARE(kept.size(), 1);
        QFile aside(QFileInfo(path()).absolutePath() + u'/' + kept.first());
        QVERIFY(aside.open(QIODevice::ReadOnly));
        QCOMPARE(aside.readAll(), content);
        QCOMPARE(open()->records().size(), 1);

        // Only once: the next save writes in place.
        store->add(TranscriptRecord::Kind::dictation, u"another"_qs, u"text"_qs);
        QCOMPARE(QDir(QFileInfo(path()).absolutePath()).entryList({u"history.json.unreadable-*"_qs}).size(), 1);
        QCOMPARE(open()->records().size(), 2);
    }

    void retentionAtTheCutoff()
    {
        const double week = 7 * 86400.0;
        writeFile("[" + recordJson(uuid(1), nowSeconds - week + 1, u"dictation"_qs, u"inside"_qs) + ","
                  + recordJson(uuid(2), nowSeconds - week, u"dictation"_qs, u"at the cut-off"_qs) + ","
                  + recordJson(uuid(3), nowSeconds - week - 1, u"file"_qs, u"outside"_qs) + "]");
        QVERIFY(m_preferences->setInteger(PreferenceKeys::retentionDays, 7));
        auto store = open();
        QCOMPARE(titles(store->records()), (QStringList{u"inside"_qs, u"at the cut-off"_qs}));
        QCOMPARE(open()->records().size(), 2); // the file was rewritten
    }

    void retentionWithoutRemovalsDoesNotWrite()
    {
        writeFile("[" + recordJson(uuid(1), nowSeconds - 100, u"dictation"_qs) + "]");
        const QDateTime old = QDateTime(QDate(2020, 1, 1), QTime(0, 0), Qt::UTC);
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
        writeFile("[" + recordJson(uuid(1), nowSeconds - 10 * 86400.0, u"dictation"_qs, u"ten days"_qs) + ","
                  + recordJson(uuid(2), nowSeconds - 86400.0, u"dictation"_qs, u"yesterday"_qs) + "]");
        auto store = open();
        QCOMPARE(store->records().size(), 2); // forever by default
        QVERIFY(m_preferences->setString(PreferenceKeys::retentionDays, u"7"_qs));
        store->applyRetention(); // a string is not a number of days
        QCOMPARE(store->records().size(), 2);
        QVERIFY(m_preferences->setInteger(PreferenceKeys::retentionDays, 7));
        QSignalSpy reset(store.get(), &QAbstractItemModel::modelReset);
        store->applyRetention();
        QCOMPARE(titles(store->records()), QStringList{u"yesterday"_qs});
        QCOMPARE(reset.size(), 1);
        QVERIFY(m_preferences->setInteger(PreferenceKeys::retentionDays, 0));
        store->applyRetention();
        QCOMPARE(store->records().size(), 1); // nothing comes back
    }

    void titles_data()
    {
        QTest::addColumn<QString>("source");
        QTest::addColumn<QString>("title");
        QTest::newRow("blank") << u" \n\t "_qs << u"Untitled"_qs;
        QTest::newRow("empty") << QString() << u"Untitled"_qs;
        QTest::newRow("trimmed") << u"\n  Meeting notes  \n"_qs << u"Meeting notes"_qs;
        QTest::newRow("exactly 60") << QString(60, u'a') << QString(60, u'a');
        QTest::newRow("61 becomes 60") << QString(61, u'b') << QString(60, u'b');
        const QString family = u"👩‍👩‍👧"_qs;
        QString emoji;
        for (int i = 0; i < 61; ++i)
            emoji += family;
        QString sixty;
        for (int i = 0; i < 60; ++i)
            sixty += family;
        QTest::newRow("emoji count once") << emoji << sixty;
        const QString combined = u"e\u0301"_qs;
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
        QTest::newRow("everything") << QString() << int(KindFilter::all) << QStringList{u"memo"_qs, u"Call"_qs, u"lecture"_qs};
        QTest::newRow("blanks and case") << u"  KUBERNETES \n"_qs << int(KindFilter::all) << QStringList{u"memo"_qs, u"lecture"_qs};
        QTest::newRow("dictations only") << u"kubernetes"_qs << int(KindFilter::dictation) << QStringList{u"memo"_qs};
        QTest::newRow("files only") << QString() << int(KindFilter::file) << QStringList{u"lecture"_qs};
        QTest::newRow("title match") << u"call"_qs << int(KindFilter::all) << QStringList{u"Call"_qs};
        QTest::newRow("accents fold by case") << u"ÉCOLE"_qs << int(KindFilter::all) << QStringList{u"Call"_qs};
        QTest::newRow("no match") << u"zebra"_qs << int(KindFilter::all) << QStringList();
    }

    void searchAndFilter()
    {
        QFETCH(QString, query);
        QFETCH(int, filter);
        QFETCH(QStringList, expected);
        auto store = open();
        store->add(TranscriptRecord::Kind::file, u"lecture"_qs, u"All about Kubernetes."_qs, 60.0);
        store->add(TranscriptRecord::Kind::dictation, u"Call"_qs, u"Call the école"_qs);
        store->add(TranscriptRecord::Kind::dictation, u"memo"_qs, u"deploy kubernetes today"_qs);
        QCOMPARE(titles(store->filtered(query, static_cast<KindFilter>(filter))), expected);
    }

    void typingNarrowsAndEveryChangeStartsAfresh()
    {
        auto store = open();
        store->add(TranscriptRecord::Kind::dictation, u"one"_qs, u"kubernetes cluster"_qs);
        store->add(TranscriptRecord::Kind::file, u"two"_qs, u"kube proxy"_qs, 1.0);
        QCOMPARE(titles(store->filtered(u"kube"_qs, KindFilter::all)), (QStringList{u"two"_qs, u"one"_qs}));
        QCOMPARE(titles(store->filtered(u"kuber"_qs, KindFilter::all)), QStringList{u"one"_qs});
        // Shorter again, or another filter: everything is looked at anew.
        QCOMPARE(titles(store->filtered(u"kub"_qs, KindFilter::all)), (QStringList{u"two"_qs, u"one"_qs}));
        QCOMPARE(titles(store->filtered(u"kube"_qs, KindFilter::file)), QStringList{u"two"_qs});
        QCOMPARE(titles(store->filtered(u"kuber"_qs, KindFilter::all)), QStringList{u"one"_qs});
        // A new record is found by the next keystroke even though the query only grew.
        store->add(TranscriptRecord::Kind::dictation, u"three"_qs, u"kubernetes nodes"_qs);
        QCOMPARE(titles(store->filtered(u"kubern"_qs, KindFilter::all)), (QStringList{u"three"_qs, u"one"_qs}));
        QCOMPARE(store->filteredRows(u"kubern"_qs, KindFilter::all), (QList<qsizetype>{0, 2}));
        store->remove(store->records().first().id);
        QCOMPARE(titles(store->filtered(u"kuberne"_qs, KindFilter::all)), QStringList{u"one"_qs});
    }

    void removeKeepsOrderAndAlwaysSaves()
    {
        auto store = open();
        const TranscriptRecord a = store->add(TranscriptRecord::Kind::dictation, u"a"_qs, u"a"_qs);
        store->add(TranscriptRecord::Kind::dictation, u"b"_qs, u"b"_qs);
        store->add(TranscriptRecord::Kind::dictation, u"c"_qs, u"c"_qs);
        QSignalSpy removed(store.get(), &QAbstractItemModel::rowsRemoved);
        store->remove(a.id);
        QCOMPARE(titles(store->records()), (QStringList{u"c"_qs, u"b"_qs}));
        QCOMPARE(removed.size(), 1);
        QFile::remove(path());
        store->remove(QUuid::createUuid());
        QCOMPARE(open()->records().size(), 2);
    }

    void tenThousandRecords()
    {
        auto store = open();
        QJsonArray list;
        for (int i = 0; i < 10000; ++i)
            list.append(QJsonObject{{u"id"_qs, uuid(i + 1)}, {u"date"_qs, double(i)}, {u"kind"_qs, i % 3 ? u"dictation"_qs : u"file"_qs},
                                    {u"title"_qs, u"record %1"_qs.arg(i)}, {u"text"_qs, QString(QString(500, u'x') + QString::number(i))}});
        writeFile(QJsonDocument(list).toJson(QJsonDocument::Compact));
        auto big = open();
        QCOMPARE(big->records().size(), 10000);
        QCOMPARE(big->records().first().title, u"record 9999"_qs);
        QCOMPARE(big->filtered(u"x9998"_qs, KindFilter::all).size(), 1);
        QCOMPARE(big->filtered(QString(), KindFilter::file).size(), 3334);
        big->add(TranscriptRecord::Kind::file, u"one more"_qs, u"text"_qs, 1.0);
        QCOMPARE(open()->records().size(), 10001);
    }
};

QTEST_GUILESS_MAIN(TestHistoryStore)
#include "tst_historystore.moc"
