#include "core/base/preferences.h"
#include "core/base/uuids.h"
#include "core/transcripts/historystore.h"
#include "murmelprocess.h"
#include "testenvironment.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTest>

using namespace Qt::StringLiterals;

using MurmelProcess::murmel;
using MurmelProcess::Result;

// `murmel history` on a history written by the store, as a script would use it.
class TestHistoryCommand final : public QObject
{
    Q_OBJECT

private:
    std::unique_ptr<TestEnvironment> m_environment;
    std::unique_ptr<Preferences> m_preferences;
    QList<TranscriptRecord> m_added;

    QString historyPath() const { return m_environment->dataHome() + u"/Murmel/History/history.json"_s; }
    std::unique_ptr<HistoryStore> store() const { return std::make_unique<HistoryStore>(historyPath(), *m_preferences); }

private Q_SLOTS:
    void init()
    {
        m_environment = std::make_unique<TestEnvironment>();
        m_preferences = std::make_unique<Preferences>(m_environment->configHome() + u"/Murmel/preferences.json"_s);
        auto history = store();
        m_added = {history->add(TranscriptRecord::Kind::file, u"interview"_s, u"A long interview about Qt."_s, 61.5),
                   history->add(TranscriptRecord::Kind::dictation, u"Send the report"_s, u"Send the report\nto Anna."_s)};
    }

    void cleanup() { m_environment.reset(); }

    // Newest first, one line each; a title or a text that carries escape sequences (a file
    // name can) must not retitle or clear the terminal it is listed on.
    void listsNewestFirstAndSafely()
    {
        const TranscriptRecord evil = store()->add(TranscriptRecord::Kind::file, u"talk\x1b]0;owned\x07\x1b[2J"_s,
                                                   u"line one\nline\ttwo\x1b[2J"_s, 3.0);
        const Result listed = murmel({u"history"_s});
        QCOMPARE(listed.exitCode, 0);
        const QStringList lines = listed.out.split(u'\n', Qt::SkipEmptyParts);
        QCOMPARE(lines.size(), 3);
        QVERIFY(lines.at(0).startsWith(Uuids::canonical(evil.id) + u"  "_s));
        QVERIFY2(lines.at(0).endsWith(u"  file       talk\uFFFD]0;owned\uFFFD\uFFFD[2J"_s), qPrintable(listed.out));
        QVERIFY(lines.at(1).endsWith(u"  dictation  Send the report"_s));
        QVERIFY(lines.at(2).endsWith(u"  file       interview"_s));
        QCOMPARE(murmel({u"history"_s, u"show"_s, Uuids::canonical(evil.id)}).out, u"line one\nline\ttwo\uFFFD[2J\n"_s);
    }

    void filters_data()
    {
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<QStringList>("titles");
        QTest::newRow("files") << QStringList{u"--kind"_s, u"file"_s} << QStringList{u"interview"_s};
        QTest::newRow("search the text") << QStringList{u"--search"_s, u" ANNA "_s} << QStringList{u"Send the report"_s};
        QTest::newRow("search and kind") << QStringList{u"--search"_s, u"qt"_s, u"--kind"_s, u"dictation"_s} << QStringList();
    }

    void filters()
    {
        QFETCH(QStringList, arguments);
        QFETCH(QStringList, titles);
        const Result result = murmel(QStringList{u"history"_s, u"--json"_s} + arguments);
        QCOMPARE(result.exitCode, 0);
        QStringList actual;
        for (const QJsonValue &record : QJsonDocument::fromJson(result.out.toUtf8()).array())
            actual << record.toObject().value(u"title").toString();
        QCOMPARE(actual, titles);
    }

    void jsonCarriesTheRecords()
    {
        const QJsonArray records = QJsonDocument::fromJson(murmel({u"history"_s, u"--json"_s}).out.toUtf8()).array();
        QCOMPARE(records.size(), 2);
        const QJsonObject file = records.at(1).toObject();
        QCOMPARE(file.value(u"id").toString(), Uuids::canonical(m_added.at(0).id));
        QCOMPARE(file.value(u"kind").toString(), u"file"_s);
        QCOMPARE(file.value(u"duration").toDouble(), 61.5);
        QCOMPARE(file.value(u"text").toString(), u"A long interview about Qt."_s);
        QCOMPARE(QDateTime::fromString(file.value(u"time").toString(), Qt::ISODateWithMs), m_added.at(0).dateTime());
        QVERIFY(!records.at(0).toObject().contains(u"duration"));
    }

    void showAndDelete()
    {
        const QString id = Uuids::canonical(m_added.at(1).id);
        const Result shown = murmel({u"history"_s, u"show"_s, id.toLower()});
        QCOMPARE(shown.exitCode, 0);
        QCOMPARE(shown.out, u"Send the report\nto Anna.\n"_s);

        QCOMPARE(murmel({u"history"_s, u"delete"_s, id}).exitCode, 0);
        QCOMPARE(store()->records().size(), 1);
    }

    void parallelDeletesAllLand()
    {
        m_added << store()->add(TranscriptRecord::Kind::dictation, u"third"_s, u"third"_s);
        std::vector<std::unique_ptr<QProcess>> deleting;
        for (const TranscriptRecord &record : std::as_const(m_added)) {
            deleting.push_back(std::make_unique<QProcess>());
            deleting.back()->start(MurmelProcess::binary(), {u"history"_s, u"delete"_s, Uuids::canonical(record.id)});
        }
        for (const auto &process : deleting)
            QCOMPARE(MurmelProcess::finish(*process).exitCode, 0);
        QCOMPARE(store()->records().size(), 0);
    }

    // Damage is said, and fails the script; what can be read is still listed, and a far date
    // shows as unknown.
    void damagedHistoryIsReported()
    {
        const QJsonArray records = QJsonDocument::fromJson(TestFiles::read(historyPath())).array();
        QJsonObject dictation = records.at(0).toObject(), interview = records.at(1).toObject();
        dictation[u"date"] = 1e15;
        interview[u"kind"] = u"memo"_s;
        QVERIFY(TestFiles::write(historyPath(), QJsonDocument(QJsonArray{dictation, interview}).toJson()));

        const Result listed = murmel({u"history"_s});
        QCOMPARE(listed.exitCode, 1);
        QCOMPARE(listed.out, Uuids::canonical(m_added.at(1).id) + u"  unknown date      dictation  Send the report\n"_s);
        QCOMPARE(listed.lastErrLine(), u"The history file is damaged: 1 of its 2 transcripts cannot be read. "
                                       "It will be kept under another name when the history next changes."_s);
        const Result json = murmel({u"history"_s, u"--json"_s});
        QCOMPARE(json.exitCode, 1);
        QVERIFY(QJsonDocument::fromJson(json.out.toUtf8()).array().at(0).toObject().value(u"time").isNull());
    }
};

QTEST_GUILESS_MAIN(TestHistoryCommand)
#include "tst_historycommand.moc"
