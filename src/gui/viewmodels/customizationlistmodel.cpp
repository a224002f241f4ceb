#include "gui/viewmodels/customizationlistmodel.h"

#include "core/text/customizationstore.h"

CustomizationListModel::CustomizationListModel(CustomizationStore &store, List list, QObject *parent)
    : QAbstractListModel(parent)
    , m_store(store)
    , m_list(list)
    , m_ids(currentIds())
{
    if (m_list == List::rules)
        connect(&m_store, &CustomizationStore::rulesChanged, this, &CustomizationListModel::follow);
    else
        connect(&m_store, &CustomizationStore::stylesChanged, this, &CustomizationListModel::follow);
}

void CustomizationListModel::add()
{
    if (m_list == List::rules)
        m_store.addRule();
    else
        m_store.addStyle();
}

void CustomizationListModel::remove(const QString &id)
{
    if (m_list == List::rules)
        m_store.removeRule(QUuid(id));
    else
        m_store.deleteStyle(QUuid(id));
}

void CustomizationListModel::setFirst(const QString &id, const QString &value)
{
    if (m_list == List::rules)
        m_store.setHeard(QUuid(id), value);
    else
        m_store.setStyleName(QUuid(id), value);
}

void CustomizationListModel::setSecond(const QString &id, const QString &value)
{
    if (m_list == List::rules)
        m_store.setWanted(QUuid(id), value);
    else
        m_store.setStylePrompt(QUuid(id), value);
}

int CustomizationListModel::rowCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : count();
}

QVariant CustomizationListModel::data(const QModelIndex &index, int role) const
{
    if (!checkIndex(index, CheckIndexOption::IndexIsValid | CheckIndexOption::ParentIsInvalid))
        return {};
    const int row = index.row();
    if (m_list == List::rules) {
        const QList<VocabularyRule> rules = m_store.rules();
        if (row >= rules.size())
            return {};
        const VocabularyRule &rule = rules.at(row);
        switch (role) {
        case IdRole:
            return rule.id.toString(QUuid::WithoutBraces);
        case FirstRole:
            return rule.heard;
        case SecondRole:
            return rule.wanted;
        default:
            return {};
        }
    }
    const QList<CustomStyle> styles = m_store.styles();
    if (row >= styles.size())
        return {};
    const CustomStyle &style = styles.at(row);
    switch (role) {
    case IdRole:
        return style.id.toString(QUuid::WithoutBraces);
    case FirstRole:
        return style.name;
    case SecondRole:
        return style.prompt;
    default:
        return {};
    }
}

QHash<int, QByteArray> CustomizationListModel::roleNames() const
{
    if (m_list == List::rules)
        return {{IdRole, "itemId"}, {FirstRole, "heard"}, {SecondRole, "wanted"}};
    return {{IdRole, "itemId"}, {FirstRole, "name"}, {SecondRole, "prompt"}};
}

QList<QUuid> CustomizationListModel::currentIds() const
{
    QList<QUuid> ids;
    if (m_list == List::rules) {
        for (const VocabularyRule &rule : m_store.rules())
            ids << rule.id;
    } else {
        for (const CustomStyle &style : m_store.styles())
            ids << style.id;
    }
    return ids;
}

void CustomizationListModel::follow()
{
    const QList<QUuid> ids = currentIds();
    if (ids == m_ids) {
        if (!m_ids.isEmpty())
            Q_EMIT dataChanged(index(0), index(count() - 1), {FirstRole, SecondRole});
        return;
    }
    beginResetModel();
    m_ids = ids;
    endResetModel();
    Q_EMIT countChanged();
}
