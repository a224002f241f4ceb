#include "gui/viewmodels/historyviewmodel.h"

#include "core/desktop/clipboard.h"

#include <QLocale>

namespace {

QString filterName(KindFilter filter)
{
    switch (filter) {
    case KindFilter::dictation:
        return QStringLiteral("dictation");
    case KindFilter::file:
        return QStringLiteral("file");
    case KindFilter::all:
        break;
    }
    return QStringLiteral("all");
}

} // namespace

HistoryViewModel::HistoryViewModel(HistoryStore &store, Clipboard &clipboard, QObject *parent)
    : QAbstractListModel(parent)
    , m_store(store)
    , m_clipboard(clipboard)
{
    connect(&m_store, &QAbstractItemModel::modelReset, this, &HistoryViewModel::rebuild);
    connect(&m_store, &QAbstractItemModel::layoutChanged, this, &HistoryViewModel::rebuild);
    connect(&m_store, &QAbstractItemModel::rowsInserted, this, &HistoryViewModel::rebuild);
    connect(&m_store, &QAbstractItemModel::rowsRemoved, this, &HistoryViewModel::rebuild);
    connect(&m_store, &QAbstractItemModel::dataChanged, this, &HistoryViewModel::rebuild);
    connect(&m_store, &HistoryStore::problemChanged, this, &HistoryViewModel::problemChanged);
    m_rows = m_store.filtered(m_query, m_filter);
}

void HistoryViewModel::setQuery(const QString &query)
{
    if (m_query == query)
        return;
    m_query = query;
    Q_EMIT queryChanged();
    rebuild();
}

QString HistoryViewModel::kindFilter() const
{
    return filterName(m_filter);
}

void HistoryViewModel::setKindFilter(const QString &filter)
{
    for (const KindFilter candidate : {KindFilter::all, KindFilter::dictation, KindFilter::file}) {
        if (filterName(candidate) == filter && candidate != m_filter) {
            m_filter = candidate;
            Q_EMIT kindFilterChanged();
            rebuild();
            return;
        }
    }
}

QVariantList HistoryViewModel::kindFilters()
{
    QVariantList filters;
    const std::pair<const char *, QString> entries[] = {
        {"all", tr("All")}, {"dictation", tr("Voice")}, {"file", tr("Files")}};
    for (const auto &[value, label] : entries)
        filters << QVariantMap{{QStringLiteral("value"), QString::fromLatin1(value)},
                               {QStringLiteral("label"), label},
                               {QStringLiteral("help"), tr("Show %1").arg(label.toLower())}};
    return filters;
}

QString HistoryViewModel::selection() const
{
    return m_selection.isNull() ? QString() : m_selection.toString(QUuid::WithoutBraces).toUpper();
}

void HistoryViewModel::setSelection(const QString &id)
{
    QUuid wanted(id);
    if (!wanted.isNull() && !m_store.record(wanted))
        wanted = QUuid();
    if (wanted == m_selection)
        return;
    m_selection = wanted;
    Q_EMIT selectionChanged();
}

QString HistoryViewModel::selectedTitle() const
{
    const auto record = m_store.record(m_selection);
    return record ? record->title : QString();
}

QString HistoryViewModel::selectedDate() const
{
    const auto record = m_store.record(m_selection);
    return record ? dateText(*record) : QString();
}

QString HistoryViewModel::selectedText() const
{
    const auto record = m_store.record(m_selection);
    return record ? record->text : QString();
}

QString HistoryViewModel::placeholder() const
{
    if (!m_rows.isEmpty())
        return {};
    if (!m_store.records().isEmpty())
        return tr("No matches");
    return m_store.isDamaged() ? tr("No transcripts could be read") : tr("No transcripts yet");
}

QString HistoryViewModel::placeholderIcon() const
{
    if (!m_rows.isEmpty())
        return {};
    return m_store.records().isEmpty() ? QStringLiteral("mic") : QStringLiteral("search");
}

QString HistoryViewModel::dateText(const TranscriptRecord &record)
{
    const QDateTime local = record.dateTime().toLocalTime();
    if (!local.isValid())
        return tr("Unknown date");
    const QLocale locale;
    return locale.toString(local.date(), QLocale::ShortFormat) + u' ' + locale.toString(local.time(), QLocale::ShortFormat);
}

void HistoryViewModel::copy(const QString &id)
{
    if (const auto record = m_store.record(QUuid(id)))
        m_clipboard.setText(record->text);
}

void HistoryViewModel::remove(const QString &id)
{
    const QUuid target(id);
    if (target.isNull())
        return;
    m_store.remove(target);
    if (target == m_selection) {
        m_selection = QUuid();
        Q_EMIT selectionChanged();
    }
}

int HistoryViewModel::rowCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : int(m_rows.size());
}

QVariant HistoryViewModel::data(const QModelIndex &index, int role) const
{
    if (!checkIndex(index, CheckIndexOption::IndexIsValid | CheckIndexOption::ParentIsInvalid))
        return {};
    const TranscriptRecord &record = m_rows.at(index.row());
    switch (role) {
    case IdRole:
        return record.id.toString(QUuid::WithoutBraces).toUpper();
    case KindRole:
        return TranscriptRecord::kindName(record.kind);
    case Qt::DisplayRole:
    case TitleRole:
        return record.title;
    case DateTextRole:
        return dateText(record);
    case TextRole:
        return record.text;
    default:
        return {};
    }
}

QHash<int, QByteArray> HistoryViewModel::roleNames() const
{
    return {{IdRole, "recordId"}, {KindRole, "kind"}, {TitleRole, "title"}, {DateTextRole, "dateText"},
            {TextRole, "text"}};
}

void HistoryViewModel::rebuild()
{
    const int before = count();
    beginResetModel();
    m_rows = m_store.filtered(m_query, m_filter);
    endResetModel();
    if (count() != before || m_rows.isEmpty())
        Q_EMIT countChanged();
    // A record removed behind the screen's back (retention) takes the selection with it.
    if (!m_selection.isNull() && !m_store.record(m_selection)) {
        m_selection = QUuid();
        Q_EMIT selectionChanged();
    }
}
