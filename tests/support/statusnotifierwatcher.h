#pragma once

#include <QImage>
#include <QList>
#include <QSize>
#include <QStringList>
#include <QThread>

class QDBusMessage;
class StatusNotifierWatcherService;

// A stand-in for a desktop panel: the StatusNotifierWatcher on a bus, reading the tray item
// registered last (org.kde.StatusNotifierItem and its com.canonical.dbusmenu) and clicking it.
// Start it before the first tray icon: Qt asks once, blocking its GUI thread, whether there is
// a panel, so the watcher answers from a thread of its own; the item under test may live on
// the calling thread, whose event loop turns while an item answers.
class StatusNotifierWatcher final
{
public:
    struct MenuEntry
    {
        int id = 0;
        QString label; // a separator is "-"
        bool enabled = true;
    };
    struct Item
    {
        QString service;
        QString menuPath;
        QString toolTipTitle;
        QImage icon; // the largest image of IconPixmap
        QList<QSize> iconSizes;
        QList<MenuEntry> menu; // the top level, in order
        QString error; // what could not be read

        bool isValid() const { return error.isEmpty(); }
        QStringList menuLabels() const
        {
            QStringList labels;
            for (const MenuEntry &entry : menu)
                labels << entry.label;
            return labels;
        }
    };

    // `busAddress` empty: the session bus of this process's environment.
    explicit StatusNotifierWatcher(QString busAddress = QString());
    ~StatusNotifierWatcher();

    // Connects, exports the watcher and takes its name; false, with error() saying why.
    bool start();
    QString error() const { return m_error; }

    bool waitForItem();
    Item readItem();
    // Clicks the top-level entry with this label, disabled or not. False, with `error` set, when
    // there is no such entry or the item did not answer.
    bool clickMenuItem(const QString &label, QString *error = nullptr);
    // What a panel calls on a click on the icon.
    enum class Click { left, middle };
    bool activate(Click click = Click::left);

private:
    QDBusMessage call(const QString &service, const QString &path, const QString &interface, const QString &method,
                      const QVariantList &arguments);

    QString m_busAddress;
    QString m_connectionName;
    QString m_error;
    QThread m_thread;
    StatusNotifierWatcherService *m_service = nullptr; // lives on m_thread
};
