#pragma once

#include <QImage>
#include <QList>
#include <QObject>
#include <QSize>
#include <QStringList>

class QDBusMessage;
class QThread;
class StatusNotifierWatcherService;

// A stand-in for a desktop panel's StatusNotifierWatcher, for tests that look at a tray icon
// as a panel does: its org.kde.StatusNotifierItem and com.canonical.dbusmenu over D-Bus.
// Start it before the first tray icon: Qt asks once, blocking its GUI thread, whether there is
// a panel, so the watcher answers from a thread of its own; the item under test may live on
// the calling thread, whose event loop turns while an item answers.
class StatusNotifierWatcher final : public QObject
{
    Q_OBJECT

public:
    struct MenuEntry
    {
        int id = 0;
        QString label; // without dbusmenu's mnemonic marks
        bool enabled = true;
        bool separator = false;
    };
    // The item registered last, as a panel reads it; `error` says what could not be read.
    struct Item
    {
        QString service;
        QString path;
        QString menuPath;
        QString toolTipTitle;
        QImage icon; // the largest image of IconPixmap
        QList<QSize> iconSizes;
        QList<MenuEntry> menu; // the top level, in order
        QString error;

        bool isValid() const { return error.isEmpty(); }
        // The menu's labels in order, a separator as "-".
        QStringList menuLabels() const;
    };

    // `busAddress` empty: the session bus of this process's environment.
    explicit StatusNotifierWatcher(QString busAddress = QString());
    ~StatusNotifierWatcher() override;

    // Connects, exports the watcher and takes its name; false, with error() saying why.
    bool start();
    QString error() const { return m_error; }

    bool waitForItem(int timeoutMs = 10000);
    Item readItem(int timeoutMs = 5000);
    // Clicks the top-level entry with this label, disabled or not. False, with `error` set, when
    // there is no such entry or the item did not answer.
    bool clickMenuItem(const QString &label, QString *error = nullptr);
    // What a panel calls on a click on the icon.
    enum class Click { left, middle };
    bool activate(Click click = Click::left);

private:
    void stop();
    QStringList registeredItems() const;
    QDBusMessage call(const QString &service, const QString &path, const QString &interface, const QString &method,
                      const QVariantList &arguments, int timeoutMs = 5000);

    QString m_busAddress;
    QString m_connectionName;
    QString m_error;
    StatusNotifierWatcherService *m_service = nullptr; // lives on m_thread
    QThread *m_thread = nullptr;
    bool m_connected = false;
};
