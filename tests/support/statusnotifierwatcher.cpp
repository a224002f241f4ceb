#include "statusnotifierwatcher.h"

#include <QDBusArgument>
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDBusObjectPath>
#include <QDBusPendingCall>
#include <QDBusServiceWatcher>
#include <QDBusVariant>
#include <QMutexLocker>
#include <QTest>
#include <QThread>
#include <QtEndian>

namespace {

const QString watcherName = QStringLiteral("org.kde.StatusNotifierWatcher");
const QString watcherPath = QStringLiteral("/StatusNotifierWatcher");
const QString itemInterface = QStringLiteral("org.kde.StatusNotifierItem");
const QString menuInterface = QStringLiteral("com.canonical.dbusmenu");

QString describe(const QDBusMessage &reply)
{
    return reply.errorName() + u": " + reply.errorMessage();
}

} // namespace

// The object on the bus, on the watcher's own thread.
class StatusNotifierWatcherService final : public QObject
{
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.kde.StatusNotifierWatcher")
    Q_PROPERTY(QStringList RegisteredStatusNotifierItems READ items)
    // The watcher stands for a panel that shows the items.
    Q_PROPERTY(bool IsStatusNotifierHostRegistered READ hasHost CONSTANT)

public:
    explicit StatusNotifierWatcherService(const QDBusConnection &connection)
        : m_names(new QDBusServiceWatcher(QString(), connection, QDBusServiceWatcher::WatchForUnregistration, this))
    {
        // An item leaves the panel with its connection, so a restarted application is not
        // mistaken for its predecessor.
        connect(m_names, &QDBusServiceWatcher::serviceUnregistered, this, [this](const QString &name) {
            m_names->removeWatchedService(name);
            const QMutexLocker lock(&m_mutex);
            m_registered.removeIf([&](const QString &item) { return item.startsWith(name + u'/'); });
        });
    }

    QStringList items() const
    {
        const QMutexLocker lock(&m_mutex);
        return m_registered;
    }
    bool hasHost() const { return true; }

public Q_SLOTS:
    // Qt registers its item by the bus name of the connection that exports it.
    void RegisterStatusNotifierItem(const QString &service)
    {
        m_names->addWatchedService(service);
        const QMutexLocker lock(&m_mutex);
        m_registered.removeAll(service + u"/StatusNotifierItem");
        m_registered << service + u"/StatusNotifierItem";
    }

private:
    // Written on the service's thread, read on the test's.
    mutable QMutex m_mutex;
    QStringList m_registered;
    QDBusServiceWatcher *m_names;
};

QStringList StatusNotifierWatcher::Item::menuLabels() const
{
    QStringList labels;
    for (const MenuEntry &entry : menu)
        labels << (entry.separator ? QStringLiteral("-") : entry.label);
    return labels;
}

StatusNotifierWatcher::StatusNotifierWatcher(QString busAddress)
    : m_busAddress(std::move(busAddress))
    , m_connectionName(QStringLiteral("murmel-test-watcher-") + QString::number(reinterpret_cast<quintptr>(this), 16))
{
}

StatusNotifierWatcher::~StatusNotifierWatcher() { stop(); }

bool StatusNotifierWatcher::start()
{
    const QString address = m_busAddress.isEmpty() ? qEnvironmentVariable("DBUS_SESSION_BUS_ADDRESS") : m_busAddress;
    QDBusConnection connection = QDBusConnection::connectToBus(address, m_connectionName);
    m_connected = true;
    m_service = new StatusNotifierWatcherService(connection);
    // Exported here, before the object moves to the thread it answers from.
    const bool exported = connection.registerObject(watcherPath, m_service,
                                                    QDBusConnection::ExportAllSlots | QDBusConnection::ExportAllProperties);
    m_thread = new QThread;
    m_service->moveToThread(m_thread);
    connect(m_thread, &QThread::finished, m_service, &QObject::deleteLater);
    m_thread->start();
    if (!connection.isConnected() || !exported
        || connection.interface()->registerService(watcherName, QDBusConnectionInterface::DontQueueService,
                                                   QDBusConnectionInterface::DontAllowReplacement)
               != QDBusConnectionInterface::ServiceRegistered) {
        m_error = QStringLiteral("cannot serve the watcher on the bus at ") + address + u": "
                  + connection.lastError().message();
        stop();
        return false;
    }
    return true;
}

void StatusNotifierWatcher::stop()
{
    if (m_connected) {
        QDBusConnection::disconnectFromBus(m_connectionName);
        m_connected = false;
    }
    if (m_thread) {
        // The service deletes itself on its own thread as the thread finishes.
        m_thread->quit();
        m_thread->wait();
        delete m_thread;
        m_thread = nullptr;
        m_service = nullptr;
    }
}

QStringList StatusNotifierWatcher::registeredItems() const
{
    return m_service ? m_service->items() : QStringList();
}

bool StatusNotifierWatcher::waitForItem(int timeoutMs)
{
    return QTest::qWaitFor([this] { return !registeredItems().isEmpty(); }, timeoutMs);
}

QDBusMessage StatusNotifierWatcher::call(const QString &service, const QString &path, const QString &interface,
                                         const QString &method, const QVariantList &arguments, int timeoutMs)
{
    QDBusMessage message = QDBusMessage::createMethodCall(service, path, interface, method);
    message.setArguments(arguments);
    const QDBusPendingCall pending = QDBusConnection(m_connectionName).asyncCall(message, timeoutMs);
    // The item may live on this very thread, so its answer needs this thread's event loop; the
    // bus gives up on it with an error reply after `timeoutMs`.
    static_cast<void>(QTest::qWaitFor([&] { return pending.isFinished(); }, timeoutMs + 1000));
    return pending.reply();
}

StatusNotifierWatcher::Item StatusNotifierWatcher::readItem(int timeoutMs)
{
    Item item;
    const QStringList registered = registeredItems();
    if (registered.isEmpty()) {
        item.error = QStringLiteral("no item is registered");
        return item;
    }
    item.service = registered.last().section(u'/', 0, 0);
    item.path = registered.last().mid(item.service.size());
    const QDBusMessage all = call(item.service, item.path, QStringLiteral("org.freedesktop.DBus.Properties"),
                                  QStringLiteral("GetAll"), {itemInterface}, timeoutMs);
    if (all.type() != QDBusMessage::ReplyMessage) {
        item.error = QStringLiteral("GetAll on the item: ") + describe(all);
        return item;
    }
    const QVariantMap properties = qdbus_cast<QVariantMap>(all.arguments().value(0));
    item.menuPath = properties.value(QStringLiteral("Menu")).value<QDBusObjectPath>().path();
    // ToolTip is (sa(iiay)ss): icon name, images, title, text.
    const auto toolTip = properties.value(QStringLiteral("ToolTip")).value<QDBusArgument>();
    toolTip.beginStructure();
    toolTip.asVariant();
    toolTip.asVariant();
    toolTip >> item.toolTipTitle;
    toolTip.endStructure();
    // IconPixmap is a(iiay), each image ARGB32 in network byte order.
    const auto images = properties.value(QStringLiteral("IconPixmap")).value<QDBusArgument>();
    images.beginArray();
    while (!images.atEnd()) {
        int width = 0;
        int height = 0;
        QByteArray bytes;
        images.beginStructure();
        images >> width >> height >> bytes;
        images.endStructure();
        item.iconSizes << QSize(width, height);
        if (width <= item.icon.width() || bytes.size() != qsizetype(width) * height * 4)
            continue;
        item.icon = QImage(width, height, QImage::Format_ARGB32);
        for (int y = 0; y < height; ++y)
            for (int x = 0; x < width; ++x)
                item.icon.setPixel(x, y, qFromBigEndian<quint32>(bytes.constData() + (qsizetype(y) * width + x) * 4));
    }
    images.endArray();

    const QDBusMessage layout =
        call(item.service, item.menuPath, menuInterface, QStringLiteral("GetLayout"), {0, -1, QStringList()}, timeoutMs);
    if (layout.type() != QDBusMessage::ReplyMessage || layout.arguments().size() < 2) {
        item.error = QStringLiteral("GetLayout on the menu: ") + describe(layout);
        return item;
    }
    // (ia{sv}av), each child a variant holding the same structure.
    const auto root = layout.arguments().at(1).value<QDBusArgument>();
    int id = 0;
    QVariantMap entryProperties;
    root.beginStructure();
    root >> id >> entryProperties;
    root.beginArray();
    while (!root.atEnd()) {
        QDBusVariant child;
        root >> child;
        const auto entry = child.variant().value<QDBusArgument>();
        MenuEntry read;
        entry.beginStructure();
        entry >> read.id >> entryProperties;
        // dbusmenu marks the mnemonic with '_' and writes a literal one as "__".
        read.label = entryProperties.value(QStringLiteral("label")).toString();
        read.label.replace(QStringLiteral("__"), QStringLiteral("\x01")).remove(u'_').replace(u'\x01', u'_');
        read.enabled = entryProperties.value(QStringLiteral("enabled"), true).toBool();
        read.separator = entryProperties.value(QStringLiteral("type")).toString() == u"separator";
        item.menu << read;
        entry.endStructure(); // frees what beginStructure() set up to read it
    }
    root.endArray();
    root.endStructure();
    return item;
}

bool StatusNotifierWatcher::clickMenuItem(const QString &label, QString *error)
{
    const Item item = readItem();
    const auto entry = std::find_if(item.menu.cbegin(), item.menu.cend(), [&](const MenuEntry &candidate) {
        return !candidate.separator && candidate.label == label;
    });
    QString why = item.error;
    if (why.isEmpty() && entry == item.menu.cend())
        why = u'"' + label + QStringLiteral("\" is not in the menu: ") + item.menuLabels().join(u", ");
    if (why.isEmpty()) {
        const QDBusMessage reply = call(item.service, item.menuPath, menuInterface, QStringLiteral("Event"),
                                        {entry->id, QStringLiteral("clicked"), QVariant::fromValue(QDBusVariant(0)), 0u});
        if (reply.type() != QDBusMessage::ReplyMessage)
            why = QStringLiteral("the click: ") + describe(reply);
    }
    if (error)
        *error = why;
    return why.isEmpty();
}

bool StatusNotifierWatcher::activate(Click click)
{
    const Item item = readItem();
    const QString method = click == Click::left ? QStringLiteral("Activate") : QStringLiteral("SecondaryActivate");
    return item.isValid() && call(item.service, item.path, itemInterface, method, {0, 0}).type() == QDBusMessage::ReplyMessage;
}

#include "statusnotifierwatcher.moc"
