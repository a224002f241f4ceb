#pragma once

#include "gui/viewmodels/qmlsingleton.h"

#include <QAbstractListModel>
#include <QUuid>
#include <QtQml/qqmlregistration.h>

class CustomizationStore;

// The rows of one of the two editors over the customisation store: the dictionary's rules
// ("heard" and "wanted") or the custom styles ("name" and "prompt"). An edit of a field
// changes that row's data in place, so the text field being typed in keeps its focus;
// adding or removing a row resets the list. QML knows the styles' list as Styles and the
// dictionary's as DictionaryRules.
//
// Main thread only. The store must outlive the model.
class CustomizationListModel final : public QAbstractListModel
{
    Q_OBJECT
    QML_ELEMENT
    QML_UNCREATABLE("The editors' lists come from the application")
    Q_PROPERTY(int count READ count NOTIFY countChanged)

public:
    enum class List { rules, styles };
    enum Role {
        IdRole = Qt::UserRole + 1,
        FirstRole,  // heard, or the style's name
        SecondRole, // wanted, or the style's instruction
    };

    CustomizationListModel(CustomizationStore &store, List list, QObject *parent = nullptr);

    int count() const { return int(m_ids.size()); }

    Q_INVOKABLE void add();
    Q_INVOKABLE void remove(const QString &id);
    Q_INVOKABLE void setFirst(const QString &id, const QString &value);
    Q_INVOKABLE void setSecond(const QString &id, const QString &value);

    int rowCount(const QModelIndex &parent = {}) const override;
    QVariant data(const QModelIndex &index, int role) const override;
    QHash<int, QByteArray> roleNames() const override;

Q_SIGNALS:
    void countChanged();

private:
    QList<QUuid> currentIds() const;
    void follow();

    CustomizationStore &m_store;
    List m_list;
    QList<QUuid> m_ids;
};

struct StylesSingleton
{
    Q_GADGET
    QML_FOREIGN(CustomizationListModel)
    QML_NAMED_ELEMENT(Styles)
    QML_SINGLETON

public:
    static CustomizationListModel *create(QQmlEngine *, QJSEngine *engine)
    {
        return QmlSingleton<CustomizationListModel, StylesSingleton>::handOver(engine);
    }
};

struct DictionaryRulesSingleton
{
    Q_GADGET
    QML_FOREIGN(CustomizationListModel)
    QML_NAMED_ELEMENT(DictionaryRules)
    QML_SINGLETON

public:
    static CustomizationListModel *create(QQmlEngine *, QJSEngine *engine)
    {
        return QmlSingleton<CustomizationListModel, DictionaryRulesSingleton>::handOver(engine);
    }
};
