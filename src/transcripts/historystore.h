#pragma once

#include "transcriptrecord.h"

#include <QAbstractListModel>

#include <functional>

class Preferences;

// Which records the history screen shows.
enum class KindFilter { all, dictation, file };

// Every finished dictation and file transcription, newest first, kept in one JSON file that
// is read once and written whole, atomically, after every change. A list model the history
// screen binds to. Main thread only; storage failures are silent, the list in memory stays
// authoritative.
//
// A file that cannot be decoded leaves the history empty, as if there were none; before
// the first save replaces it, it is moved aside as history.json.unreadable-<UTC time>, so
// the user's old history is never overwritten.
class HistoryStore final : public QAbstractListModel
{
    Q_OBJECT

public:
    enum Role {
        IdRole = Qt::UserRole + 1,
        DateRole,     // QDateTime
        KindRole,     // "dictation" or "file"
        TitleRole,
        TextRole,
        DurationRole, // seconds, or undefined
    };

    using Clock = std::function<QDateTime()>;

    // Loads `filePath` and applies the retention preference. `clock` tells the time, for
    // tests; the system clock by default.
    HistoryStore(QString filePath, Preferences &preferences, QObject *parent = nullptr, Clock clock = {});

    // $XDG_DATA_HOME/Murmel/History/history.json with the user's preferences.
    static HistoryStore &shared();

    const QList<TranscriptRecord> &records() const { return m_records; }
    std::optional<TranscriptRecord> record(const QUuid &id) const;

    // Stores a new record first in the list: the title is the first 60 characters of the
    // trimmed title source, or "Untitled". Saves at once.
    TranscriptRecord add(TranscriptRecord::Kind kind, const QString &titleSource, const QString &text,
                         std::optional<double> duration = std::nullopt);
    // Removes every record with this id and saves (even when none matched).
    void remove(const QUuid &id);
    // Removes records older than "retentionDays" days (0 keeps everything); saves only when
    // something was removed.
    void applyRetention();

    // The records that pass the kind filter and contain the trimmed query, case-insensitively,
    // in their title or text; newest first.
    QList<TranscriptRecord> filtered(const QString &query, KindFilter filter) const;
    // The same as row numbers, what a list view filtering this model needs.
    QList<qsizetype> filteredRows(const QString &query, KindFilter filter) const;

    static QString titleFrom(const QString &source);

    int rowCount(const QModelIndex &parent = {}) const override;
    QVariant data(const QModelIndex &index, int role) const override;
    QHash<int, QByteArray> roleNames() const override;

private:
    // What each record costs to save and to search, worked out once: its JSON text and its
    // case-folded title and text. Kept parallel to m_records.
    struct Derived
    {
        QByteArray json;
        QString foldedTitle;
        QString foldedText;
    };
    static Derived derive(const TranscriptRecord &record);

    void load();
    void save();
    void setRecords(QList<TranscriptRecord> records);

    QString m_filePath;
    Preferences &m_preferences;
    Clock m_clock;
    QList<TranscriptRecord> m_records;
    QList<Derived> m_derived;
    // The last search, while the records stay the same: typing only ever narrows it, so the
    // next keystroke need look at no more than these rows.
    struct LastSearch
    {
        QString needle;
        KindFilter filter = KindFilter::all;
        QList<qsizetype> rows;
        bool valid = false;
    };
    mutable LastSearch m_lastSearch;
    bool m_keepUnreadableFile = false;
};
