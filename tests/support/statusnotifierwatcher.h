#pragma once

#include <QImage>
#include <QList>
#include <QObject>
#include <QSize>
#include <QString>
#include <QStringList>

#include <memory>

class QDBusMessage;
class QThread;
struct StatusNotifierWatcherState;

// A stand-in for the StatusNotifierWatcher a desktop panel runs (KDE Plasma, GNOME's
// AppIndicator extension, most others), for tests that look at a tray icon the way a panel
// does: over D-Bus, through the org.kde.StatusNotifierItem the application exports and the
// com.canonical.dbusmenu menu behind it.
//
// How Qt's tray (6.4, xcb platform) uses it: the first time anything asks about the tray, Qt
// reads IsStatusNotifierHostRegistered from org.kde.StatusNotifierWatcher at
// /StatusNotifierWatcher and keeps that answer for the life of the process. So the watcher
// must own its name on the session bus before the code under test creates its first
// QSystemTrayIcon; otherwise Qt falls back to XEmbed for good. Qt then exports the item at
// /StatusNotifierItem (its menu at /MenuBar) on a connection of its own and calls
// RegisterStatusNotifierItem with that connection's unique name. Other libraries pass an
// object path instead; their item is then at that path under the caller's unique name. Both
// are accepted.
//
// Threads: Qt reads the property with a blocking call from its GUI thread, so the watcher's
// D-Bus object answers from a thread of its own, on a connection of its own. The watcher can
// therefore share a process with the item under test. Everything else here is called from
// the thread that created the watcher (the test's GUI thread); the calls to an item wait for
// its answer with that thread's event loop running, since the item under test usually lives
// on that very thread.
//
// Needs a QCoreApplication. stop() and the destructor give up the name and the connection.
//
// Typical use, with the application under test in this process or another on the same bus:
//
//     StatusNotifierWatcher watcher(session.busAddress());
//     QVERIFY2(watcher.start(), qPrintable(watcher.error()));
//     … start the application …
//     QVERIFY(watcher.waitForItem());
//     const StatusNotifierWatcher::Item item = watcher.readItem();
//     QVERIFY2(item.isValid(), qPrintable(item.error));
//     QCOMPARE(item.toolTipTitle, QStringLiteral("Murmel"));
//     QVERIFY(watcher.clickMenuItem(QStringLiteral("Settings…")));
class StatusNotifierWatcher final : public QObject
{
    Q_OBJECT

public:
    // Whether the watcher says a host (a panel that shows items) is registered: Qt 6.4
    // exports its items only when one is.
    enum class Host { present, absent };

    struct MenuEntry
    {
        int id = 0;
        // Without the mnemonic marks ('_' in dbusmenu, '&' where a toolkit left one).
        QString label;
        bool enabled = true;
        bool visible = true;
        bool separator = false;
    };

    // An item as a panel reads it. `error` says what could not be read.
    struct Item
    {
        QString service;
        QString path;
        QString id;
        QString title;
        QString status;
        QString category;
        QString toolTipTitle;
        QString toolTipText;
        QString iconName;
        // The largest image of IconPixmap, and the sizes of all of them.
        QImage icon;
        QList<QSize> iconSizes;
        QString menuPath;
        // The top level of the menu, in order.
        QList<MenuEntry> menu;
        QString error;

        bool isValid() const { return error.isEmpty(); }
        // The menu's labels in order, a separator as "-".
        QStringList menuLabels() const;
    };

    // `busAddress` empty: the session bus of this process's environment.
    explicit StatusNotifierWatcher(QString busAddress = QString(), Host host = Host::present);
    ~StatusNotifierWatcher() override;

    StatusNotifierWatcher(const StatusNotifierWatcher &) = delete;
    StatusNotifierWatcher &operator=(const StatusNotifierWatcher &) = delete;

    // Connects, exports the watcher and takes its name; false, with error() saying why, when
    // the bus is unreachable or the name is taken.
    bool start();
    void stop();
    QString error() const { return m_error; }

    // As RegisteredStatusNotifierItems has them: the bus name followed by the object path.
    QStringList registeredItems() const;
    QStringList registeredHosts() const;
    // Waits until at least one item is registered (and this thread has heard of it).
    bool waitForItem(int timeoutMs = 10000);

    // Reads the most recently registered item, or `item` (as registeredItems() names it).
    Item readItem(const QString &item = QString(), int timeoutMs = 5000);
    // Clicks the top-level menu entry with this label (mnemonic marks ignored), as a panel
    // does: AboutToShow, then the "clicked" event. False, with `error` set, when there is no
    // such entry or the item did not answer.
    bool clickMenuItem(const QString &label, QString *error = nullptr);
    // What a panel calls on a left click, a middle click and a right click on the icon.
    bool activate(int x = 0, int y = 0);
    bool secondaryActivate(int x = 0, int y = 0);
    bool contextMenu(int x = 0, int y = 0);

Q_SIGNALS:
    void itemRegistered(const QString &item);
    void itemUnregistered(const QString &item);
    // A change signal of a registered item (NewIcon, NewToolTip, NewTitle, NewStatus,
    // NewMenu, …) or of its menu (LayoutUpdated, ItemsPropertiesUpdated); `name` is the
    // D-Bus signal's name. A panel redraws on these.
    void itemChanged(const QString &name);

private Q_SLOTS:
    void onItemSignal(const QDBusMessage &message);

private:
    void onItemRegistered(const QString &item);
    QDBusMessage call(const QString &service, const QString &path, const QString &interface,
                      const QString &method, const QVariantList &arguments, int timeoutMs);
    QString currentItem() const;
    bool clickAt(const QString &method, int x, int y);

    QString m_busAddress;
    QString m_connectionName;
    QString m_error;
    // What the watcher's own thread records, read here under its lock.
    std::shared_ptr<StatusNotifierWatcherState> m_state;
    QThread *m_thread = nullptr;
    QObject *m_service = nullptr;
    bool m_connected = false;
    // Items this thread has subscribed to, in order of registration.
    QStringList m_known;
};
