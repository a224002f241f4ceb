#include "statusnotifierwatcher.h"

#include <QDBusArgument>
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDBusObjectPath>
#include <QDBusPendingCall>
#include <QDBusVariant>
#include <QMutexLocker>
#include <QTest>
#include <QtEndian>

using namespace Qt::StringLiterals;

namespace {

const QString itemPath = u"/StatusNotifierItem"_s;
const QString itemInterface = u"org.kde.StatusNotifierItem"_s;
const QString menuInterface = u"com.canonical.dbusmenu"_s;

} // namespace

// The object on the bus, on the watcher's own thread.
class StatusNotifierWatcherService final : public QObject
{
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.kde.StatusNotifierWatcher")
    // The watcher stands for a panel that shows the items.
    Q_PROPERTY(bool IsStatusNotifierHostRegistered READ hasHost CONSTANT)

public:
    QString lastService() const
    {
        const QMutexLocker lock(&m_mutex);
        return m_lastService;
    }
    bool hasHost() const { return true; }

public Q_SLOTS:
    // Qt registers its item by the bus name of the connection that exports it.
    void RegisterStatusNotifierItem(const QString &service)
    {
        const QMutexLocker lock(&m_mutex);
        m_lastService = service;
    }

private:
    // Written on the service's thread, read on the test's.
    mutable QMutex m_mutex;
    QString m_lastService;
};

StatusNotifierWatcher::StatusNotifierWatcher(QString busAddress)
    : m_busAddress(std::move(busAddress))
    , m_connectionName(u"murmel-test-watcher-"_s + QString::number(reinterpret_cast<quintptr>(this), 16))
{
}

StatusNotifierWatcher::~StatusNotifierWatcher()
{
    QDBusConnection::disconnectFromBus(m_connectionName);
    // The service deletes itself on its own thread as the thread finishes.
    m_thread.quit();
    m_thread.wait();
}

bool StatusNotifierWatcher::start()
{
    const QString address = m_busAddress.isEmpty() ? qEnvironmentVariable("DBUS_SESSION_BUS_ADDRESS") : m_busAddress;
    QDBusConnection connection = QDBusConnection::connectToBus(address, m_connectionName);
    m_service = new StatusNotifierWatcherService;
    // Exported here, before the object moves to the thread it answers from.
    const bool exported = connection.registerObject(u"/StatusNotifierWatcher"_s, m_service,
                                                    QDBusConnection::ExportAllSlots | QDBusConnection::ExportAllProperties);
    m_service->moveToThread(&m_thread);
    QObject::connect(&m_thread, &QThread::finished, m_service, &QObject::deleteLater);
    m_thread.start();
    if (connection.isConnected() && exported
        && connection.interface()->registerService(u"org.kde.StatusNotifierWatcher"_s)
               == QDBusConnectionInterface::ServiceRegistered)
        return true;
    m_error = u"cannot serve the watcher on the bus at "_s + address + u": "_s + connection.lastError().message();
    return false;
}

bool StatusNotifierWatcher::waitForItem()
{
    return QTest::qWaitFor([this] { return !m_service->lastService().isEmpty(); }, 10000);
}

QDBusMessage StatusNotifierWatcher::call(const QString &service, const QString &path, const QString &interface,
                                         const QString &method, const QVariantList &arguments)
{
    QDBusMessage message = QDBusMessage::createMethodCall(service, path, interface, method);
    message.setArguments(arguments);
    const QDBusPendingCall pending = QDBusConnection(m_connectionName).asyncCall(message, 5000);
    // The item may live on this very thread, so its answer needs this thread's event loop; the
    // bus gives up on it with an error reply after five seconds.
    static_cast<void>(QTest::qWaitFor([&] { return pending.isFinished(); }, 6000));
    return pending.reply();
}

StatusNotifierWatcher::Item StatusNotifierWatcher::readItem()
{
    Item item;
    item.service = m_service->lastService();
    const QDBusMessage all =
        call(item.service, itemPath, u"org.freedesktop.DBus.Properties"_s, u"GetAll"_s, {itemInterface});
    if (all.type() != QDBusMessage::ReplyMessage) {
        item.error = u"GetAll on the item: "_s + all.errorMessage();
        return item;
    }
    const QVariantMap properties = qdbus_cast<QVariantMap>(all.arguments().value(0));
    item.menuPath = properties.value(u"Menu"_s).value<QDBusObjectPath>().path();
    // ToolTip is (sa(iiay)ss): icon name, images, title, text.
    const auto toolTip = properties.value(u"ToolTip"_s).value<QDBusArgument>();
    toolTip.beginStructure();
    toolTip.asVariant();
    toolTip.asVariant();
    toolTip >> item.toolTipTitle;
    toolTip.endStructure();
    // IconPixmap is a(iiay), each image ARGB32 in network byte order.
    const auto images = properties.value(u"IconPixmap"_s).value<QDBusArgument>();
    images.beginArray();
    while (!images.atEnd()) {
        int width = 0;
        int height = 0;
        QByteArray bytes;
        images.beginStructure();
        images >> width >> height >> bytes;
        images.endStructure();
        item.iconSizes << QSize(width, height);
        if (width > item.icon.width() && bytes.size() == qsizetype(width) * height * 4) {
            item.icon = QImage(width, height, QImage::Format_ARGB32);
            qFromBigEndian<quint32>(bytes.constData(), qsizetype(width) * height, item.icon.bits());
        }
    }
    images.endArray();

    const QDBusMessage layout = call(item.service, item.menuPath, menuInterface, u"GetLayout"_s, {0, -1, QStringList()});
    if (layout.type() != QDBusMessage::ReplyMessage) {
        item.error = u"GetLayout on the menu: "_s + layout.errorMessage();
        return item;
    }
    // (ia{sv}av), each child a variant holding the same structure.
    const auto root = layout.arguments().value(1).value<QDBusArgument>();
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
        entry.endStructure(); // frees what beginStructure() set up to read it
        const bool separator = entryProperties.value(u"type"_s).toString() == u"separator";
        read.label = separator ? u"-"_s : entryProperties.value(u"label"_s).toString();
        read.enabled = entryProperties.value(u"enabled"_s, true).toBool();
        item.menu << read;
    }
    root.endArray();
    root.endStructure();
    return item;
}

bool StatusNotifierWatcher::clickMenuItem(const QString &label, QString *error)
{
    const Item item = readItem();
    const qsizetype index = item.menuLabels().indexOf(label);
    QString why = item.error;
    if (why.isEmpty() && index < 0)
        why = u'"' + label + u"\" is not in the menu: "_s + item.menuLabels().join(u", ");
    if (why.isEmpty()) {
        const QDBusMessage reply = call(item.service, item.menuPath, menuInterface, u"Event"_s,
                                        {item.menu.at(index).id, u"clicked"_s, QVariant::fromValue(QDBusVariant(0)), 0u});
        if (reply.type() != QDBusMessage::ReplyMessage)
            why = u"the click: "_s + reply.errorMessage();
    }
    if (error)
        *error = why;
    return why.isEmpty();
}

bool StatusNotifierWatcher::activate(Click click)
{
    const QString method = click == Click::left ? u"Activate"_s : u"SecondaryActivate"_s;
    return call(m_service->lastService(), itemPath, itemInterface, method, {0, 0}).type() == QDBusMessage::ReplyMessage;
}

#include "statusnotifierwatcher.moc"
