#include "core/transcripts/transcriptformats.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <cmath>

namespace {

QString timestamp(double seconds, QChar millisecondSeparator)
{
    // std::llround rounds halves away from zero, as subtitle times must.
    const long long ms = std::llround(seconds * 1000.0);
    const long long hours = ms / 3600000;
    const long long minutes = (ms - hours * 3600000) / 60000;
    const long long secs = (ms % 60000) / 1000;
    const long long millis = ms % 1000;
    return QStringLiteral("%1:%2:%3%4%5")
        .arg(hours, 2, 10, QLatin1Char('0'))
        .arg(minutes, 2, 10, QLatin1Char('0'))
        .arg(secs, 2, 10, QLatin1Char('0'))
        .arg(millisecondSeparator)
        .arg(millis, 3, 10, QLatin1Char('0'));
}

QString cues(const QList<TranscriptSegment> &segments, QChar millisecondSeparator)
{
    QStringList blocks;
    blocks.reserve(segments.size());
    for (qsizetype i = 0; i < segments.size(); ++i) {
        const TranscriptSegment &segment = segments.at(i);
        blocks << QString::number(i + 1) + u'\n' + timestamp(segment.start, millisecondSeparator)
                + QStringLiteral(" --> ") + timestamp(segment.end, millisecondSeparator) + u'\n' + segment.text
                + u'\n';
    }
    return blocks.join(u'\n');
}

} // namespace

namespace TranscriptFormats {

QString fullText(const QList<TranscriptSegment> &segments)
{
    QStringList texts;
    texts.reserve(segments.size());
    for (const TranscriptSegment &segment : segments)
        texts << segment.text;
    return texts.join(u' ').trimmed();
}

QString makeSRT(const QList<TranscriptSegment> &segments)
{
    return cues(segments, u',');
}

QString srtTime(double seconds)
{
    return timestamp(seconds, u',');
}

QString makeVTT(const QList<TranscriptSegment> &segments)
{
    const QString body = cues(segments, u'.');
    return body.isEmpty() ? QStringLiteral("WEBVTT\n") : QStringLiteral("WEBVTT\n\n") + body;
}

QByteArray makeJSON(const QList<TranscriptSegment> &segments, double duration)
{
    QJsonArray list;
    for (const TranscriptSegment &segment : segments)
        list.append(QJsonObject{{QStringLiteral("start"), segment.start},
                                {QStringLiteral("end"), segment.end},
                                {QStringLiteral("text"), segment.text}});
    return QJsonDocument(QJsonObject{{QStringLiteral("duration"), duration}, {QStringLiteral("segments"), list}})
        .toJson(QJsonDocument::Indented);
}

} // namespace TranscriptFormats
