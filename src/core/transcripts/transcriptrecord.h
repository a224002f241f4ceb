#pragma once

#include <QDateTime>
#include <QJsonObject>
#include <QString>
#include <QUuid>

#include <optional>

// One stored transcript: a dictation or a transcribed file.
struct TranscriptRecord
{
    enum class Kind { dictation, file };

    QUuid id;
    // Seconds since 2001-01-01 00:00:00 UTC, as the history file keeps them, so that a
    // record read and written again keeps its date to the last digit.
    double date = 0.0;
    Kind kind = Kind::dictation;
    QString title;
    QString text;
    std::optional<double> duration; // seconds of source audio; files only

    friend bool operator==(const TranscriptRecord &, const TranscriptRecord &) = default;

    // Invalid for a date before 1970 or after the year 9999: shown as unknown.
    QDateTime dateTime() const;
    static double referenceSeconds(const QDateTime &moment);

    static QString kindName(Kind kind);
    static std::optional<Kind> kindFromName(QStringView name);

    // The history file's object: "id" upper-case, "date" a number, "kind", "title", "text",
    // and "duration" only when there is one.
    QJsonObject toJson() const;
    // Nothing when a required key is missing, a value has the wrong type or the kind is
    // unknown.
    static std::optional<TranscriptRecord> fromJson(const QJsonValue &value);
};
