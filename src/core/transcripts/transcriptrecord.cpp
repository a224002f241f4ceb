#include "core/transcripts/transcriptrecord.h"

#include "core/base/uuids.h"

#include <QJsonValue>
#include <QTimeZone>

namespace {

// 2001-01-01 00:00:00 UTC in seconds since the Unix epoch.
constexpr qint64 referenceEpoch = 978307200;
// Dates a record can sensibly carry, in seconds since the Unix epoch: 1970 to the end of
// year 9999. Beyond them a date is damage, and shown as unknown.
constexpr double earliestDate = 0.0;
constexpr double latestDate = 253402300800.0;

} // namespace

QDateTime TranscriptRecord::dateTime() const
{
    const double unixSeconds = date + referenceEpoch;
    if (!(unixSeconds >= earliestDate && unixSeconds < latestDate))
        return {};
    return QDateTime::fromMSecsSinceEpoch(qRound64((date + referenceEpoch) * 1000.0), QTimeZone::utc());
}

double TranscriptRecord::referenceSeconds(const QDateTime &moment)
{
    return static_cast<double>(moment.toMSecsSinceEpoch()) / 1000.0 - referenceEpoch;
}

QString TranscriptRecord::kindName(Kind kind)
{
    return kind == Kind::file ? QStringLiteral("file") : QStringLiteral("dictation");
}

std::optional<TranscriptRecord::Kind> TranscriptRecord::kindFromName(QStringView name)
{
    if (name == u"dictation")
        return Kind::dictation;
    if (name == u"file")
        return Kind::file;
    return std::nullopt;
}

QJsonObject TranscriptRecord::toJson() const
{
    QJsonObject object{{QStringLiteral("id"), Uuids::canonical(id)},
                       {QStringLiteral("date"), date},
                       {QStringLiteral("kind"), kindName(kind)},
                       {QStringLiteral("title"), title},
                       {QStringLiteral("text"), text}};
    if (duration)
        object.insert(QStringLiteral("duration"), *duration);
    return object;
}

std::optional<TranscriptRecord> TranscriptRecord::fromJson(const QJsonValue &value)
{
    if (!value.isObject())
        return std::nullopt;
    const QJsonObject object = value.toObject();
    const QJsonValue id = object.value(u"id");
    const QJsonValue date = object.value(u"date");
    const QJsonValue kind = object.value(u"kind");
    const QJsonValue title = object.value(u"title");
    const QJsonValue text = object.value(u"text");
    const QJsonValue duration = object.value(u"duration");
    if (!id.isString() || !date.isDouble() || !kind.isString() || !title.isString() || !text.isString())
        return std::nullopt;
    if (!duration.isUndefined() && !duration.isDouble() && !duration.isNull())
        return std::nullopt;
    const std::optional<QUuid> uuid = Uuids::parse(id.toString());
    const std::optional<Kind> parsedKind = kindFromName(kind.toString());
    if (!uuid || !parsedKind)
        return std::nullopt;
    TranscriptRecord record{*uuid, date.toDouble(), *parsedKind, title.toString(), text.toString(), std::nullopt};
    if (duration.isDouble())
        record.duration = duration.toDouble();
    return record;
}
