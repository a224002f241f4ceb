#include "statusnotifierwatcher.h"

#include <QDBusArgument>
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDBusObjectPath>
#include <QDBusPendingCallWatcher>
#include <QDBusServiceWatcher>
#include <QDBusVariant>
#include <QEventLoop>
#include <QMutexLocker>
#include <QTest>
#include <QThread>
#include <QtEndian>

namespace {

const QString watcherName = QStringLiteral("org.kde.StatusNotifierWatcher");
const QString watcherPath = QStringLiteral("/StatusNotifierWatcher");
const QString itemInterface = QStringLiteral("org.kde.StatusNotifierItem");
const QString menuInterface = QStringLiteral("com.canonical.dbusmenu");

// dbusmenu marks the mnemonic with '_' and writes a literal one as "__".
QString withoutMnemonic(QString label)
{
    return label.replace(QStringLiteral("__"), QStringLiteral("\x01")).remove(u'_').replace(u'\x01', u'_');
}

// IconPixmap and the tooltip's image: a(iiay), each image ARGB32 in network byte order.
QList<QImage> readImages(const QDBusArgument &argument)
{
    QList<QImage> images;
    argument.beginArray();
    while (!argument.atEnd()) {
        int width = 0;
        int height = 0;
        QByteArray bytes;
        argument.beginStructure();
        argument >> width >> height >> bytes;
        argument.endStructure();
        QImage image(width, height, QImage::Format_ARGB32);
        if (width <= 0 || height <= 0 || bytes.size() != qsizetype(width) * height * 4)
            image = QImage();
        for (int y = 0; y < image.height(); ++y)
            for (int x = 0; x < width; ++x)
                image.setPixel(x, y, qFromBigEndian<quint32>(bytes.constData() + (qsizetype(y) * width + x) * 4));
        images << image;
    }
    argument.endArray();
    return images;
}

QString describe(const QDBusMessage &reply)
{
    return reply.errorName() + u": " + reply.errorMessage();
}

} // namespace

struct StatusNotifierWatcherState
{
    mutable QMutex mutex;
    QStringList items;
};

// The object on the bus, on the watcher's own thread.
class StatusNotifierWatcherService final : public QObject
{
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.kde.StatusNotifierWatcher")
    Q_PROPERTY(QStringList RegisteredStatusNotifierItems READ items)
    Q_PROPERTY(bool IsStatusNotifierHostRegistered READ hasHost)

public:
    StatusNotifierWatcherService(const QDBusConnection &connection, std::shared_ptr<StatusNotifierWatcherState> state)
        : m_state(std::move(state))
        , m_names(new QDBusServiceWatcher(QString(), connection, QDBusServiceWatcher::WatchForUnregistration, this))
    {
        // An item leaves the panel with its connection.
        connect(m_names, &QDBusServiceWatcher::serviceUnregistered, this, [this](const QString &name) {
            m_names->removeWatchedService(name);
            const QMutexLocker lock(&m_state->mutex);
            m_state->items.removeIf([&](const QString &item) { return item.startsWith(name + u'/'); });
        });
    }

    QStringList items() const
    {
        const QMutexLocker lock(&m_state->mutex);
        return m_state->items;
    }
    // The watcher stands for a panel that shows the items.
    bool hasHost() const { return true; }

public Q_SLOTS:
    // Qt registers its item by the bus name of the connection that exports it.
    void RegisterStatusNotifierItem(const QString &service)
    {
        m_names->addWatchedService(service);
        const QMutexLocker lock(&m_state->mutex);
        m_state->items.removeAll(service + u"/StatusNotifierItem");
        m_state->items << service + u"/StatusNotifierItem";
    }

private:
    std::shared_ptr<StatusNotifierWatcherState> m_state;
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
    , m_state(std::make_shared<StatusNotifierWatcherState>())
{
}

StatusNotifierWatcher::~StatusNotifierWatcher() { stop(); }

bool StatusNotifierWatcher::start()
{
    const QString address = m_busAddress.isEmpty() ? qEnvironmentVariable("DBUS_SESSION_BUS_ADDRESS") : m_busAddress;
    QDBusConnection connection = QDBusConnection::connectToBus(address, m_connectionName);
    m_connected = true;
    auto *service = new StatusNotifierWatcherService(connection, m_state);
    // Exported here, before the object moves to the thread it answers from.
    const bool exported = connection.registerObject(watcherPath, service,
                                                    QDBusConnection::ExportAllSlots | QDBusConnection::ExportAllProperties);
    m_thread = new QThread;
    service->moveToThread(m_thread);
    connect(m_thread, &QThread::finished, service, &QObject::deleteLater);
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
        QDBusConnection(m_connectionName).unregisterObject(watcherPath);
        QDBusConnection::disconnectFromBus(m_connectionName);
        m_connected = false;
    }
    if (m_thread) {
        // The service deletes itself on its own thread as the thread finishes.
        m_thread->quit();
        m_thread->wait();
        delete m_thread;
        m_thread = nullptr;
    }
    const QMutexLocker lock(&m_state->mutex);
    m_state->items.clear();
}

QStringList StatusNotifierWatcher::registeredItems() const
{
    const QMutexLocker lock(&m_state->mutex);
    return m_state->items;
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
    // The item may live on this very thread, so its answer needs this thread's event loop.
    QDBusPendingCallWatcher pending(QDBusConnection(m_connectionName).asyncCall(message, timeoutMs));
    if (!pending.isFinished()) {
        QEventLoop loop;
        connect(&pending, &QDBusPendingCallWatcher::finished, &loop, &QEventLoop::quit);
        loop.exec(QEventLoop::ExcludeUserInputEvents);
    }
    return pending.reply();
}

StatusNotifierWatcher::Item StatusNotifierWatcher::readItem(int timeoutMs)
{
    Item item;
    const QStringList items = registeredItems();
    if (items.isEmpty()) {
        item.error = QStringLiteral("no item is registered");
        return item;
    }
    const qsizetype slash = items.last().indexOf(u'/');
    item.service = items.last().left(slash);
    item.path = items.last().mid(slash);
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
    QString iconName;
    toolTip.beginStructure();
    toolTip >> iconName;
    readImages(toolTip);
    toolTip >> item.toolTipTitle;
    for (const QImage &image : readImages(properties.value(QStringLiteral("IconPixmap")).value<QDBusArgument>())) {
        item.iconSizes << image.size();
        if (image.width() > item.icon.width())
            item.icon = image;
    }

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
        read.label = withoutMnemonic(entryProperties.value(QStringLiteral("label")).toString());
        read.enabled = entryProperties.value(QStringLiteral("enabled"), true).toBool();
        read.separator = entryProperties.value(QStringLiteral("type")).toString() == u"separator";
        item.menu << read;
    }
    return item;
}

bool StatusNotifierWatcher::clickMenuItem(const QString &label, QString *error)
{
    const auto fail = [error](const QString &why) {
        if (error)
            *error = why;
        return false;
    };
    const Item item = readItem();
    if (!item.isValid())
        return fail(item.error);
    const auto entry = std::find_if(item.menu.cbegin(), item.menu.cend(), [&](const MenuEntry &candidate) {
        return !candidate.separator && candidate.label == label;
    });
    if (entry == item.menu.cend())
        return fail(u'"' + label + QStringLiteral("\" is not in the menu: ") + item.menuLabels().join(u", "));
    for (const auto &[method, arguments] : {std::pair{QStringLiteral("AboutToShow"), QVariantList{0}},
                                            std::pair{QStringLiteral("Event"),
                                                      QVariantList{entry->id, QStringLiteral("clicked"),
                                                                   QVariant::fromValue(QDBusVariant(0)), 0u}},
                                            std::pair{QStringLiteral("Event"),
                                                      QVariantList{0, QStringLiteral("closed"),
                                                                   QVariant::fromValue(QDBusVariant(0)), 0u}}}) {
        const QDBusMessage reply = call(item.service, item.menuPath, menuInterface, method, arguments, 5000);
        if (reply.type() != QDBusMessage::ReplyMessage)
            return fail(method + u": " + describe(reply));
    }
    return true;
}

bool StatusNotifierWatcher::activate(Click click)
{
    const Item item = readItem();
    const QString method = click == Click::left ? QStringLiteral("Activate") : QStringLiteral("SecondaryActivate");
    return item.isValid()
           && call(item.service, item.path, itemInterface, method, {0, 0}, 5000).type() == QDBusMessage::ReplyMessage;
}

#include "statusnotifierwatcher.moc"
