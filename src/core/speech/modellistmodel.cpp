#include "core/speech/modellistmodel.h"

#include "core/speech/modelstore.h"

ModelListModel::ModelListModel(ModelStore &store, QObject *parent)
    : QAbstractListModel(parent)
    , m_store(store)
{
    connect(&m_store, &ModelStore::downloadingChanged, this, &ModelListModel::refresh);
}

int ModelListModel::rowCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : static_cast<int>(WhisperModel::allCases().size());
}

QVariant ModelListModel::data(const QModelIndex &index, int role) const
{
    if (!checkIndex(index, CheckIndexOption::IndexIsValid))
        return {};
    const WhisperModel model = WhisperModel::allCases().at(index.row());
    switch (role) {
    case RawValueRole:
        return model.rawValue();
    case Qt::DisplayRole:
    case DisplayNameRole:
        return model.displayName();
    case SizeLabelRole:
        return model.sizeLabel();
    case StateRole:
        return int(m_store.state(model));
    }
    return {};
}

QHash<int, QByteArray> ModelListModel::roleNames() const
{
    return {{RawValueRole, "rawValue"},
            {DisplayNameRole, "displayName"},
            {SizeLabelRole, "sizeLabel"},
            {StateRole, "downloadState"}};
}

void ModelListModel::download(const QString &rawValue)
{
    if (const auto model = WhisperModel::fromRawValue(rawValue))
        m_store.download(*model); // runs on; the store reports through its properties
}

void ModelListModel::replace(const QString &rawValue)
{
    if (const auto model = WhisperModel::fromRawValue(rawValue))
        m_store.download(*model, true);
}

void ModelListModel::refresh()
{
    if (rowCount() > 0)
        Q_EMIT dataChanged(index(0), index(rowCount() - 1), {StateRole});
}

QString ModelListModel::displayName(const QString &rawValue)
{
    const std::optional<WhisperModel> model = WhisperModel::fromRawValue(rawValue);
    return model ? model->displayName() : QString();
}
