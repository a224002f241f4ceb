#include "core/transcripts/historystore.h"

#include "core/base/logging.h"
#include "core/base/paths.h"
#include "core/base/preferences.h"
#include "core/base/settings.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QFileSystemWatcher>
#include <QJsonArray>
#include <QJsonDocument>
#include <QLockFile>
#include <QSaveFile>
#include <QTextBoundaryFinder>

#include <sys/stat.h>

#include <algorithm>

HistoryStore::HistoryStore(QString filePath, Preferences &preferences, QObject *parent, Clock clock)
    : QAbstractListModel(parent)
    , m_filePath(std::move(filePath))
    , m_preferences(preferences)
    , m_clock(clock ? std::move(clock) : Clock([] { return QDateTime::currentDateTimeUtc(); }))
{
    const QString folder = QFileInfo(m_filePath).absolutePath();
    Paths::makePrivateFolder(folder);
    Paths::makePrivateFile(m_filePath);
    load();
    applyRetention();
    // Another process's change (a `murmel history delete`) shows at once. Every save
    // replaces the file, so the folder is watched as well, and the new file again.
    auto *watcher = new QFileSystemWatcher({folder}, this);
    const auto follow = [this, watcher] {
        if (!watcher->files().contains(m_filePath) && QFile::exists(m_filePath))
            watcher->addPath(m_filePath);
        if (onDisk() != m_seen)
            load();
    };
    connect(watcher, &QFileSystemWatcher::directoryChanged, this, follow);
    connect(watcher, &QFileSystemWatcher::fileChanged, this, follow);
    follow();
}

HistoryStore::Seen HistoryStore::onDisk() const
{
    struct stat status = {};
    if (::stat(QFile::encodeName(m_filePath).constData(), &status) != 0)
        return {};
    return {true, static_cast<quint64>(status.st_ino), static_cast<qint64>(status.st_size),
            static_cast<qint64>(status.st_mtim.tv_sec) * 1000000000 + status.st_mtim.tv_nsec};
}

void HistoryStore::load()
{
    m_seen = onDisk();
    m_damage.reset();
    QList<TranscriptRecord> records;
    QFile file(m_filePath);
    if (!file.open(QIODevice::ReadOnly)) {
        if (file.exists())
            m_damage = tr("it cannot be read (%1)").arg(file.errorString());
    } else if (const QByteArray bytes = file.readAll(); !bytes.isEmpty()) {
        QJsonParseError error;
        const QJsonDocument document = QJsonDocument::fromJson(bytes, &error);
        if (error.error != QJsonParseError::NoError) {
            m_damage = tr("it is not valid JSON (%1 at byte %2)").arg(error.errorString()).arg(error.offset);
        } else if (!document.isArray()) {
            m_damage = tr("it holds no list of transcripts");
        } else {
            const QJsonArray list = document.array();
            records.reserve(list.size());
            for (const QJsonValue &element : list) {
                if (std::optional<TranscriptRecord> record = TranscriptRecord::fromJson(element))
                    records.append(std::move(*record));
            }
            if (records.size() != list.size())
                m_damage = tr("%1 of its %2 transcripts cannot be read").arg(list.size() - records.size()).arg(list.size());
        }
    }
    if (m_damage)
        qCWarning(lcTranscripts).noquote() << "The history file" << m_filePath << "is damaged:" << *m_damage;
    std::stable_sort(records.begin(), records.end(),
                     [](const TranscriptRecord &a, const TranscriptRecord &b) { return a.date > b.date; });
    setRecords(std::move(records));
    updateProblem();
}

HistoryStore::Derived HistoryStore::derive(const TranscriptRecord &record)
{
    return {QJsonDocument(record.toJson()).toJson(QJsonDocument::Compact), record.title.toCaseFolded(),
            record.text.toCaseFolded()};
}

bool HistoryStore::change(const std::function<void()> &apply)
{
    QLockFile lock(m_filePath + QStringLiteral(".lock"));
    if (!lock.tryLock(10000)) {
        // The change still shows here; it is only not on disk.
        apply();
        m_failure = lock.error() == QLockFile::LockFailedError
                        ? tr("The history could not be saved: another Murmel process kept it locked.")
                        : tr("The history could not be saved: its folder cannot be written to.");
        updateProblem();
        return false;
    }
    if (onDisk() != m_seen)
        load();
    apply();
    return save();
}

bool HistoryStore::save()
{
    m_failure.clear();
    if (m_damage) {
        const QString aside = m_filePath + QStringLiteral(".unreadable-")
            + QDateTime::currentDateTimeUtc().toString(QStringLiteral("yyyyMMddTHHmmssZ"));
        if (!QFile::rename(m_filePath, aside) && QFile::exists(m_filePath)) {
            m_failure = tr("The history could not be saved: the damaged history file cannot be moved aside.");
            updateProblem();
            return false;
        }
        qCWarning(lcTranscripts).noquote() << "The damaged history file was kept as" << aside;
        m_damage.reset();
        m_keptAside = aside;
    }
    // The array is put together from each record's stored JSON text: saving ten thousand
    // records then costs little more than writing the file.
    qsizetype size = 2;
    for (const Derived &derived : std::as_const(m_derived))
        size += derived.json.size() + 1;
    QByteArray bytes;
    bytes.reserve(size);
    bytes += '[';
    for (qsizetype i = 0; i < m_derived.size(); ++i) {
        if (i > 0)
            bytes += ',';
        bytes += m_derived.at(i).json;
    }
    bytes += ']';
    QSaveFile file(m_filePath);
    if (file.open(QIODevice::WriteOnly)) {
        file.setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner);
        file.write(bytes);
        if (file.commit())
            m_seen = onDisk();
    }
    if (file.error() != QFileDevice::NoError) {
        m_failure = tr("The history could not be saved: %1.").arg(file.errorString());
        qCWarning(lcTranscripts).noquote() << m_failure;
    }
    updateProblem();
    return m_failure.isEmpty();
}

void HistoryStore::updateProblem()
{
    QString problem = m_failure;
    if (problem.isEmpty() && m_damage)
        problem = tr("The history file is damaged: %1. It will be kept under another name when the history "
                     "next changes.").arg(*m_damage);
    if (problem.isEmpty() && !m_keptAside.isEmpty())
        problem = tr("The damaged history file was kept as %1.").arg(m_keptAside);
    if (problem == m_problem)
        return;
    m_problem = problem;
    Q_EMIT problemChanged();
}

void HistoryStore::setRecords(QList<TranscriptRecord> records)
{
    beginResetModel();
    m_lastSearch.valid = false;
    m_records = std::move(records);
    m_derived.clear();
    m_derived.reserve(m_records.size());
    for (const TranscriptRecord &record : std::as_const(m_records))
        m_derived.append(derive(record));
    endResetModel();
}

std::optional<TranscriptRecord> HistoryStore::record(const QUuid &id) const
{
    for (const TranscriptRecord &record : m_records) {
        if (record.id == id)
            return record;
    }
    return std::nullopt;
}

QString HistoryStore::titleFrom(const QString &source)
{
    const QString trimmed = source.trimmed();
    if (trimmed.isEmpty())
        return QStringLiteral("Untitled");
    // Sixty user-perceived characters: an emoji of several code points counts once and is
    // never cut in half.
    QTextBoundaryFinder finder(QTextBoundaryFinder::Grapheme, trimmed);
    int characters = 0;
    qsizetype end = 0;
    while (characters < 60 && (end = finder.toNextBoundary()) != -1)
        ++characters;
    return end == -1 ? trimmed : trimmed.left(end);
}

TranscriptRecord HistoryStore::add(TranscriptRecord::Kind kind, const QString &titleSource, const QString &text,
                                   std::optional<double> duration)
{
    const TranscriptRecord record{QUuid::createUuid(), TranscriptRecord::referenceSeconds(m_clock()), kind,
                                  titleFrom(titleSource), text, duration};
    change([&] {
        beginInsertRows({}, 0, 0);
        m_lastSearch.valid = false;
        m_records.prepend(record);
        m_derived.prepend(derive(record));
        endInsertRows();
    });
    return record;
}

bool HistoryStore::remove(const QUuid &id)
{
    return change([&] {
        for (qsizetype row = m_records.size() - 1; row >= 0; --row) {
            if (m_records.at(row).id != id)
                continue;
            beginRemoveRows({}, static_cast<int>(row), static_cast<int>(row));
            m_lastSearch.valid = false;
            m_records.removeAt(row);
            m_derived.removeAt(row);
            endRemoveRows();
        }
    });
}

void HistoryStore::applyRetention()
{
    const qint64 days = Settings::retentionDays(m_preferences);
    if (days < 1)
        return;
    const double cutoff = TranscriptRecord::referenceSeconds(m_clock()) - static_cast<double>(days) * 86400.0;
    const auto expired = [cutoff](const TranscriptRecord &record) { return record.date < cutoff; };
    if (std::none_of(m_records.cbegin(), m_records.cend(), expired))
        return;
    change([&] {
        QList<TranscriptRecord> kept = m_records;
        kept.removeIf(expired);
        setRecords(std::move(kept));
    });
}

QList<TranscriptRecord> HistoryStore::filtered(const QString &query, KindFilter filter) const
{
    const QList<qsizetype> rows = filteredRows(query, filter);
    QList<TranscriptRecord> shown;
    shown.reserve(rows.size());
    for (qsizetype row : rows)
        shown.append(m_records.at(row));
    return shown;
}

QList<qsizetype> HistoryStore::filteredRows(const QString &query, KindFilter filter) const
{
    // Case-folded once here and once per record when it was stored, so each keystroke is a
    // plain substring search.
    const QString needle = query.trimmed().toCaseFolded();
    // A record that contains the new query contains any part of it, so when the query grew
    // from the last one only the last one's rows can still match.
    const bool narrowing = m_lastSearch.valid && m_lastSearch.filter == filter && needle.contains(m_lastSearch.needle);
    QList<qsizetype> candidates;
    if (narrowing) {
        candidates = m_lastSearch.rows;
    } else {
        candidates.reserve(m_records.size());
        for (qsizetype row = 0; row < m_records.size(); ++row) {
            const TranscriptRecord::Kind kind = m_records.at(row).kind;
            if (filter == KindFilter::all || (filter == KindFilter::dictation) == (kind == TranscriptRecord::Kind::dictation))
                candidates.append(row);
        }
    }

    QList<qsizetype> rows;
    rows.reserve(candidates.size());
    for (qsizetype row : std::as_const(candidates)) {
        const Derived &derived = m_derived.at(row);
        if (needle.isEmpty() || derived.foldedTitle.contains(needle) || derived.foldedText.contains(needle))
            rows.append(row);
    }
    m_lastSearch = {needle, filter, rows, true};
    return rows;
}

int HistoryStore::rowCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : static_cast<int>(m_records.size());
}

QVariant HistoryStore::data(const QModelIndex &index, int role) const
{
    if (!checkIndex(index, CheckIndexOption::IndexIsValid))
        return {};
    const TranscriptRecord &record = m_records.at(index.row());
    switch (role) {
    case IdRole:
        return record.id;
    case DateRole:
        return record.dateTime();
    case KindRole:
        return TranscriptRecord::kindName(record.kind);
    case Qt::DisplayRole:
    case TitleRole:
        return record.title;
    case TextRole:
        return record.text;
    case DurationRole:
        return record.duration ? QVariant(*record.duration) : QVariant();
    }
    return {};
}

QHash<int, QByteArray> HistoryStore::roleNames() const
{
    return {{IdRole, "recordId"}, {DateRole, "date"}, {KindRole, "kind"},
            {TitleRole, "title"}, {TextRole, "text"}, {DurationRole, "duration"}};
}
