#pragma once

#include <QAbstractListModel>

class ModelStore;

// The four speech models with their download state, as a list the model pickers and
// download rows bind to. Follows the store: rows change when a download starts or ends.
// Main thread only.
class ModelListModel final : public QAbstractListModel
{
    Q_OBJECT

public:
    enum Role {
        RawValueRole = Qt::UserRole + 1,
        DisplayNameRole,
        SizeLabelRole,
        StateRole, // a ModelStore::State, as a number
    };

    explicit ModelListModel(ModelStore &store, QObject *parent = nullptr);

    int rowCount(const QModelIndex &parent = {}) const override;
    QVariant data(const QModelIndex &index, int role) const override;
    QHash<int, QByteArray> roleNames() const override;

    // Starts downloading the model with this raw value; the store's rules apply.
    Q_INVOKABLE void download(const QString &rawValue);
    // Downloads a present model again, for a file that fails to load.
    Q_INVOKABLE void replace(const QString &rawValue);
    // "Base (English)" for "base.en"; empty for a raw value that names no model.
    Q_INVOKABLE static QString displayName(const QString &rawValue);
    // Re-reads every row's state, for files added or removed behind our back.
    Q_INVOKABLE void refresh();

private:
    ModelStore &m_store;
};
