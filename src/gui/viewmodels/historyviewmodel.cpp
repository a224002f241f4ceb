#include "gui/viewmodels/historyviewmodel.h"

#include "core/desktop/clipboard.h"

#include <QLocale>

namespace {

KindFilter storeFilter(HistoryViewModel::Filter filter)
{
    switch (filter) {
    case HistoryViewModel::Filter::dictation:
        return KindFilter::dictation;
    case HistoryViewModel::Filter::file:
        return KindFilter::file;
    case HistoryViewModel::Filter::all:
        break;
    }
    return KindFilter::all;
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
    m_rows = m_store.filtered(m_query, storeFilter(m_filter));
}

void HistoryViewModel::setQuery(const QString &query)
{
    if (m_query == query)
        return;
    m_query = query;
    Q_EMIT queryChanged();
    rebuild();
}

void HistoryViewModel::setKindFilter(Filter filter)
{
    if (filter == m_filter)
        return;
    m_filter = filter;
    Q_EMIT kindFilterChanged();
    rebuild();
}

QVariantList HistoryViewModel::kindFilters()
{
    QVariantList filters;
    const std::pair<Filter, QString> entries[] = {
        {Filter::all, tr("All")}, {Filter::dictation, tr("Voice")}, {Filter::file, tr("Files")}};
    for (const auto &[value, label] : entries)
        filters << QVariantMap{{QStringLiteral("value"), int(value)},
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
    case KindIconRole:
        return record.kind == TranscriptRecord::Kind::file ? QStringLiteral("waveform") : QStringLiteral("mic");
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
    return {{IdRole, "recordId"}, {KindIconRole, "kindIcon"}, {TitleRole, "title"}, {DateTextRole, "dateText"},
            {TextRole, "text"}};
}

void HistoryViewModel::rebuild()
{
    const int before = count();
    beginResetModel();
    m_rows = m_store.filtered(m_query, storeFilter(m_filter));
    endResetModel();
    if (count() != before || m_rows.isEmpty())
        Q_EMIT countChanged();
    // A record removed behind the screen's back (retention) takes the selection with it.
    if (!m_selection.isNull() && !m_store.record(m_selection)) {
        m_selection = QUuid();
        Q_EMIT selectionChanged();
    }
}
