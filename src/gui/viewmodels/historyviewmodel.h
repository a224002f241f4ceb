#pragma once

#include "core/transcripts/historystore.h"
#include "gui/viewmodels/qmlsingleton.h"

#include <QAbstractListModel>
#include <QUuid>
#include <QVariantList>
#include <QtQml/qqmlregistration.h>

class Clipboard;

// The history screen's state over the shared store: the search text, the kind filter and
// the selected record, none of them persisted (a fresh model for each visit of the
// screen starts empty). Its rows are the records that pass the search and the filter,
// newest first; it follows every change of the store.
//
// Main thread only. The store and the clipboard must outlive the model.
class HistoryViewModel final : public QAbstractListModel
{
    Q_OBJECT
    QML_ELEMENT
    QML_UNCREATABLE("Histories makes one for each visit of the screen")
    Q_PROPERTY(QString query READ query WRITE setQuery NOTIFY queryChanged)
    Q_PROPERTY(Filter kindFilter READ kindFilter WRITE setKindFilter NOTIFY kindFilterChanged)
    // The filter buttons: "value" (a Filter), "label" and "help" each.
    Q_PROPERTY(QVariantList kindFilters READ kindFilters CONSTANT)
    // The selected record's id, empty when none.
    Q_PROPERTY(QString selection READ selection WRITE setSelection NOTIFY selectionChanged)
    Q_PROPERTY(QString selectedTitle READ selectedTitle NOTIFY selectionChanged)
    Q_PROPERTY(QString selectedDate READ selectedDate NOTIFY selectionChanged)
    Q_PROPERTY(QString selectedText READ selectedText NOTIFY selectionChanged)
    Q_PROPERTY(int count READ count NOTIFY countChanged)
    // "No transcripts yet" for an empty history ("No transcripts could be read" for a
    // damaged one), "No matches" when nothing passes the search, else empty; the icon
    // (a LineIcon name) is "mic" or "search".
    Q_PROPERTY(QString placeholder READ placeholder NOTIFY countChanged)
    Q_PROPERTY(QString placeholderIcon READ placeholderIcon NOTIFY countChanged)
    // What is wrong with the history file (damaged, not saved), empty while all is well.
    Q_PROPERTY(QString problem READ problem NOTIFY problemChanged)

public:
    // Which kinds of record the list shows.
    enum class Filter { all, dictation, file };
    Q_ENUM(Filter)

    enum Role {
        IdRole = Qt::UserRole + 1,
        KindIconRole, // the LineIcon of the record's kind: "mic" or "waveform"
        TitleRole,
        DateTextRole,
        TextRole,
    };

    HistoryViewModel(HistoryStore &store, Clipboard &clipboard, QObject *parent = nullptr);

    QString query() const { return m_query; }
    void setQuery(const QString &query);
    Filter kindFilter() const { return m_filter; }
    void setKindFilter(Filter filter);
    static QVariantList kindFilters();
    QString selection() const;
    void setSelection(const QString &id);
    QString selectedTitle() const;
    QString selectedDate() const;
    QString selectedText() const;
    int count() const { return int(m_rows.size()); }
    QString placeholder() const;
    QString placeholderIcon() const;
    QString problem() const { return m_store.problem(); }

    // The date as the list and the detail show it: an abbreviated date and a short time
    // in the user's locale.
    static QString dateText(const TranscriptRecord &record);

    // Puts the record's text on the clipboard; the record is unchanged.
    Q_INVOKABLE void copy(const QString &id);
    // Deletes the record; a deleted selection leaves nothing selected.
    Q_INVOKABLE void remove(const QString &id);

    int rowCount(const QModelIndex &parent = {}) const override;
    QVariant data(const QModelIndex &index, int role) const override;
    QHash<int, QByteArray> roleNames() const override;

Q_SIGNALS:
    void queryChanged();
    void kindFilterChanged();
    void selectionChanged();
    void countChanged();
    void problemChanged();

private:
    void rebuild();

    HistoryStore &m_store;
    Clipboard &m_clipboard;
    QString m_query;
    Filter m_filter = Filter::all;
    QUuid m_selection;
    QList<TranscriptRecord> m_rows;
};

// Makes a fresh history view model for each visit of the history screen, so the search,
// the filter and the selection start empty every time. The model returned has no parent:
// QML owns it and frees it with the screen.
class HistoryViewModels final : public QObject, public QmlSingleton<HistoryViewModels>
{
    Q_OBJECT
    QML_NAMED_ELEMENT(Histories)
    QML_SINGLETON

public:
    HistoryViewModels(HistoryStore &store, Clipboard &clipboard, QObject *parent = nullptr)
        : QObject(parent)
        , m_store(store)
        , m_clipboard(clipboard)
    {
    }

    Q_INVOKABLE HistoryViewModel *make() { return new HistoryViewModel(m_store, m_clipboard); }

private:
    HistoryStore &m_store;
    Clipboard &m_clipboard;
};
