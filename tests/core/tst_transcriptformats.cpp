#include "core/transcripts/transcriptformats.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTest>

using namespace Qt::StringLiterals;

namespace {

TranscriptSegment segment(double start, double end, const QString &text)
{
    return {QUuid::createUuid(), start, end, text};
}

} // namespace

class TestTranscriptFormats final : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void srtTime_data()
    {
        QTest::addColumn<double>("seconds");
        QTest::addColumn<QString>("expected");
        QTest::newRow("zero") << 0.0 << u"00:00:00,000"_s;
        QTest::newRow("example") << 3725.0456 << u"01:02:05,046"_s;
        QTest::newRow("a half rounds away from zero") << 0.0625 << u"00:00:00,063"_s;
        QTest::newRow("just under a half rounds down") << 1.0004 << u"00:00:01,000"_s;
        QTest::newRow("rounding carries into seconds") << 59.9996 << u"00:01:00,000"_s;
        QTest::newRow("engine times") << 4.2 << u"00:00:04,200"_s;
        QTest::newRow("a minute") << 60.0 << u"00:01:00,000"_s;
        QTest::newRow("hour boundary") << 3599.9999 << u"01:00:00,000"_s;
        QTest::newRow("100 hours") << 360000.0 << u"100:00:00,000"_s;
        QTest::newRow("days") << 90061.5 << u"25:01:01,500"_s;
    }

    void srtTime()
    {
        QFETCH(double, seconds);
        QFETCH(QString, expected);
        QCOMPARE(TranscriptFormats::srtTime(seconds), expected);
    }

    void fullText_data()
    {
        QTest::addColumn<QStringList>("texts");
        QTest::addColumn<QString>("expected");
        QTest::newRow("none") << QStringList() << QString();
        QTest::newRow("two") << QStringList{u"Hello"_s, u"world."_s} << u"Hello world."_s;
        QTest::newRow("empty in the middle") << QStringList{u"a"_s, QString(), u"b"_s} << u"a  b"_s;
        QTest::newRow("trimmed ends") << QStringList{QString(), u"text\n"_s} << u"text"_s;
    }

    void fullText()
    {
        QFETCH(QStringList, texts);
        QFETCH(QString, expected);
        QList<TranscriptSegment> segments;
        for (const QString &text : texts)
            segments << segment(0, 1, text);
        QCOMPARE(TranscriptFormats::fullText(segments), expected);
    }

    void srtBlocks()
    {
        const QList<TranscriptSegment> segments = {segment(0.0, 1.5, u"Hello there."_s),
                                                   segment(1.5, 4.2, QString()),
                                                   segment(3725.0456, 3726.0, u"Last words"_s)};
        QCOMPARE(TranscriptFormats::makeSRT(segments),
                 u"1\n00:00:00,000 --> 00:00:01,500\nHello there.\n"
                 "\n"
                 "2\n00:00:01,500 --> 00:00:04,200\n\n"
                 "\n"
                 "3\n01:02:05,046 --> 01:02:06,000\nLast words\n"_s);
        QCOMPARE(TranscriptFormats::makeSRT({}), QString());
        QCOMPARE(TranscriptFormats::makeSRT({segments.first()}), u"1\n00:00:00,000 --> 00:00:01,500\nHello there.\n"_s);
    }

    void vttCues()
    {
        const QList<TranscriptSegment> segments = {segment(0.0, 1.5, u"Hello."_s), segment(61.25, 62.0, u"Bye."_s)};
        QCOMPARE(TranscriptFormats::makeVTT(segments),
                 u"WEBVTT\n\n1\n00:00:00.000 --> 00:00:01.500\nHello.\n\n2\n00:01:01.250 --> 00:01:02.000\nBye.\n"_s);
        QCOMPARE(TranscriptFormats::makeVTT({}), u"WEBVTT\n"_s);
    }

    void json()
    {
        const QList<TranscriptSegment> segments = {segment(0.0, 1.5, u"Hello \"you\"."_s), segment(1.5, 2.25, u"Bye."_s)};
        const QJsonObject document = QJsonDocument::fromJson(TranscriptFormats::makeJSON(segments, 2.5)).object();
        QCOMPARE(document.value(u"duration").toDouble(), 2.5);
        const QJsonArray list = document.value(u"segments").toArray();
        QCOMPARE(list.size(), 2);
        QCOMPARE(list.at(0).toObject().value(u"text").toString(), u"Hello \"you\"."_s);
        QCOMPARE(list.at(1).toObject().value(u"start").toDouble(), 1.5);
        QCOMPARE(list.at(1).toObject().value(u"end").toDouble(), 2.25);
        QCOMPARE(QJsonDocument::fromJson(TranscriptFormats::makeJSON({}, 0)).object().value(u"segments").toArray().size(), 0);
    }
};

QTEST_GUILESS_MAIN(TestTranscriptFormats)
#include "tst_transcriptformats.moc"
