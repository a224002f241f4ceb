#pragma once

#include "core/transcripts/transcriptrecord.h"

#include <QAbstractListModel>

#include <functional>

class Preferences;

// Which records the history screen shows.
enum class KindFilter { all, dictation, file };

// Every finished dictation and file transcription, newest first, kept in one JSON file that
// is written whole, atomically, after every change. A list model the history screen binds
// to. Main thread only.
//
// The file is shared with other Murmel processes (the command line, a second session):
// each change is made under a lock file, on the file's current content when another
// process changed it since, so no process's change is lost and a deletion stays deleted.
// Changes made elsewhere also show here as soon as the file changes.
//
// A damaged file is never taken for an empty history: the records that can be read are
// listed and problem() says what is wrong. Before the next save replaces it, the file is
// moved aside as history.json.unreadable-<UTC time>, so nothing of it is overwritten.
class HistoryStore final : public QAbstractListModel
{
    Q_OBJECT
    Q_PROPERTY(QString problem READ problem NOTIFY problemChanged)

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

    const QList<TranscriptRecord> &records() const { return m_records; }
    std::optional<TranscriptRecord> record(const QUuid &id) const;

    // Stores a new record first in the list: the title is the first 60 characters of the
    // trimmed title source, or "Untitled". Saves at once; a record that could not be saved
    // stays in the list, and problem() says why.
    TranscriptRecord add(TranscriptRecord::Kind kind, const QString &titleSource, const QString &text,
                         std::optional<double> duration = std::nullopt);
    // Removes every record with this id and saves (even when none matched). False, with
    // problem() set, when the change could not be saved.
    bool remove(const QUuid &id);
    // Removes records older than "retentionDays" days (0 keeps everything); saves only when
    // something was removed.
    void applyRetention();

    // What is wrong with the history file, in words for the user; empty while all is well.
    QString problem() const { return m_problem; }
    // True when the file could not be read whole: some or all of its records are missing.
    bool isDamaged() const { return m_damage.has_value(); }

    // The records that pass the kind filter and contain the trimmed query, case-insensitively,
    // in their title or text; newest first.
    QList<TranscriptRecord> filtered(const QString &query, KindFilter filter) const;
    // The same as row numbers, what a list view filtering this model needs.
    QList<qsizetype> filteredRows(const QString &query, KindFilter filter) const;

    static QString titleFrom(const QString &source);

    int rowCount(const QModelIndex &parent = {}) const override;
    QVariant data(const QModelIndex &index, int role) const override;
    QHash<int, QByteArray> roleNames() const override;

Q_SIGNALS:
    void problemChanged();

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

    // The file's identity and size as this process last read or wrote it.
    struct Seen
    {
        bool exists = false;
        quint64 inode = 0;
        qint64 size = 0;
        qint64 modifiedNs = 0;
        friend bool operator==(const Seen &, const Seen &) = default;
    };
    Seen onDisk() const;

    void load();
    // Runs `apply` on the current records under the lock, first reading the file again if
    // another process changed it, then saves. False (problem() says why) when the lock or
    // the save failed.
    bool change(const std::function<void()> &apply);
    bool save();
    void setRecords(QList<TranscriptRecord> records);
    void updateProblem();

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
    Seen m_seen;
    // Why the file could not be read whole, while it is still in place.
    std::optional<QString> m_damage;
    QString m_keptAside; // where a damaged file was moved this session
    QString m_failure;   // why the last change could not be saved
    QString m_problem;
};
