#include "statusnotifierwatcher.h"

#include <QDBusArgument>
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusContext>
#include <QDBusMessage>
#include <QDBusObjectPath>
#include <QDBusPendingCallWatcher>
#include <QDBusReply>
#include <QDBusServiceWatcher>
#include <QDBusVariant>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QMutexLocker>
#include <QtEndian>
#include <QTest>
#include <QThread>

#include <algorithm>
#include <tuple>

namespace {

const QString watcherName = QStringLiteral("org.kde.StatusNotifierWatcher");
const QString watcherPath = QStringLiteral("/StatusNotifierWatcher");
const QString itemInterface = QStringLiteral("org.kde.StatusNotifierItem");
const QString defaultItemPath = QStringLiteral("/StatusNotifierItem");
const QString menuInterface = QStringLiteral("com.canonical.dbusmenu");
const QString propertiesInterface = QStringLiteral("org.freedesktop.DBus.Properties");

// "service/path" → (service, path). Bus names never contain a slash.
std::pair<QString, QString> splitItem(const QString &item)
{
    const qsizetype slash = item.indexOf(u'/');
    if (slash < 0)
        return {item, defaultItemPath};
    return {item.left(slash), item.mid(slash)};
}

// dbusmenu marks the mnemonic with '_' and writes a literal one as "__"; a toolkit that did
// not convert may have left Qt's '&' in the same way.
QString withoutMnemonic(const QString &label)
{
    QString plain;
    for (qsizetype i = 0; i < label.size(); ++i) {
        const QChar c = label.at(i);
        if (c == u'_' || c == u'&') {
            if (i + 1 < label.size() && label.at(i + 1) == c) {
                plain += c;
                ++i;
            }
            continue;
        }
        plain += c;
    }
    return plain;
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
        if (width <= 0 || height <= 0 || bytes.size() != qsizetype(width) * height * 4) {
            images << QImage();
            continue;
        }
        QImage image(width, height, QImage::Format_ARGB32);
        for (int y = 0; y < height; ++y) {
            auto *line = reinterpret_cast<QRgb *>(image.scanLine(y));
            for (int x = 0; x < width; ++x)
                line[x] =
                    qFromBigEndian<quint32>(bytes.constData() + (qsizetype(y) * width + x) * 4);
        }
        images << image;
    }
    argument.endArray();
    return images;
}

struct LayoutNode
{
    int id = 0;
    QVariantMap properties;
    QList<LayoutNode> children;
};

// (ia{sv}av): each child is a variant holding the same structure again.
LayoutNode readLayout(const QDBusArgument &argument)
{
    LayoutNode node;
    argument.beginStructure();
    argument >> node.id >> node.properties;
    argument.beginArray();
    while (!argument.atEnd()) {
        QDBusVariant child;
        argument >> child;
        node.children << readLayout(child.variant().value<QDBusArgument>());
    }
    argument.endArray();
    argument.endStructure();
    return node;
}

QString objectPathOf(const QVariant &value)
{
    if (value.canConvert<QDBusObjectPath>())
        return value.value<QDBusObjectPath>().path();
    return value.toString();
}

QString describe(const QDBusMessage &reply)
{
    return reply.errorName() + u": " + reply.errorMessage();
}

} // namespace

// What the watcher's thread records; read from the test's thread under the lock.
struct StatusNotifierWatcherState
{
    mutable QMutex mutex;
    QStringList items;
    QStringList hosts;
    // The watcher stands for a panel itself, unless told otherwise; then only hosts that
    // register count.
    bool standsForHost = true;
};

// The object on the bus. It lives on the watcher's own thread: Qt asks it a blocking question
// from the GUI thread, which must not be the thread that answers.
class StatusNotifierWatcherService final : public QObject, protected QDBusContext
{
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.kde.StatusNotifierWatcher")
    Q_PROPERTY(QStringList RegisteredStatusNotifierItems READ registeredStatusNotifierItems)
    Q_PROPERTY(bool IsStatusNotifierHostRegistered READ isStatusNotifierHostRegistered)
    Q_PROPERTY(int ProtocolVersion READ protocolVersion)

public:
    StatusNotifierWatcherService(const QDBusConnection &connection,
                                 std::shared_ptr<StatusNotifierWatcherState> state)
        : m_state(std::move(state))
        , m_names(new QDBusServiceWatcher(this))
    {
        m_names->setConnection(connection);
        m_names->setWatchMode(QDBusServiceWatcher::WatchForUnregistration);
        connect(m_names, &QDBusServiceWatcher::serviceUnregistered, this,
                &StatusNotifierWatcherService::nameGone);
    }

    QStringList registeredStatusNotifierItems() const
    {
        const QMutexLocker lock(&m_state->mutex);
        return m_state->items;
    }

    bool isStatusNotifierHostRegistered() const
    {
        const QMutexLocker lock(&m_state->mutex);
        return m_state->standsForHost || !m_state->hosts.isEmpty();
    }

    int protocolVersion() const { return 0; }

public Q_SLOTS:
    void RegisterStatusNotifierItem(const QString &serviceOrPath)
    {
        // The registrant's unique name is the sender of the call; the argument is a bus name
        // (Qt, KDE) or an object path under the sender (libappindicator and others).
        QString service = serviceOrPath;
        QString path = defaultItemPath;
        if (serviceOrPath.startsWith(u'/')) {
            service = message().service();
            path = serviceOrPath;
        }
        if (service.isEmpty()) {
            sendErrorReply(QDBusError::InvalidArgs, QStringLiteral("no service or path given"));
            return;
        }
        const QString item = service + path;
        {
            const QMutexLocker lock(&m_state->mutex);
            if (m_state->items.contains(item))
                return;
            m_state->items << item;
        }
        m_names->addWatchedService(service);
        Q_EMIT StatusNotifierItemRegistered(item);
    }

    void RegisterStatusNotifierHost(const QString &service)
    {
        const QString host = service.isEmpty() ? message().service() : service;
        {
            const QMutexLocker lock(&m_state->mutex);
            if (!m_state->hosts.contains(host))
                m_state->hosts << host;
        }
        m_names->addWatchedService(host);
        Q_EMIT StatusNotifierHostRegistered();
    }

Q_SIGNALS:
    void StatusNotifierItemRegistered(const QString &item);
    void StatusNotifierItemUnregistered(const QString &item);
    void StatusNotifierHostRegistered();

private:
    void nameGone(const QString &name)
    {
        QStringList gone;
        {
            const QMutexLocker lock(&m_state->mutex);
            for (const QString &item : std::as_const(m_state->items)) {
                if (splitItem(item).first == name)
                    gone << item;
            }
            for (const QString &item : std::as_const(gone))
                m_state->items.removeAll(item);
            m_state->hosts.removeAll(name);
        }
        m_names->removeWatchedService(name);
        for (const QString &item : std::as_const(gone))
            Q_EMIT StatusNotifierItemUnregistered(item);
    }

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

StatusNotifierWatcher::StatusNotifierWatcher(QString busAddress, Host host)
    : m_busAddress(std::move(busAddress))
    , m_connectionName(QStringLiteral("murmel-test-status-notifier-watcher-") +
                       QString::number(reinterpret_cast<quintptr>(this), 16))
    , m_state(std::make_shared<StatusNotifierWatcherState>())
{
    m_state->standsForHost = host == Host::present;
}

StatusNotifierWatcher::~StatusNotifierWatcher()
{
    stop();
}

bool StatusNotifierWatcher::start()
{
    if (m_connected)
        return true;
    const QString address =
        m_busAddress.isEmpty() ? qEnvironmentVariable("DBUS_SESSION_BUS_ADDRESS") : m_busAddress;
    QDBusConnection connection = QDBusConnection::connectToBus(address, m_connectionName);
    m_connected = true;
    if (!connection.isConnected()) {
        m_error = QStringLiteral("cannot connect to the bus at ") + address + u": " +
                  connection.lastError().message();
        stop();
        return false;
    }

    auto *service = new StatusNotifierWatcherService(connection, m_state);
    connect(service, &StatusNotifierWatcherService::StatusNotifierItemRegistered, this,
            &StatusNotifierWatcher::onItemRegistered, Qt::QueuedConnection);
    connect(
        service, &StatusNotifierWatcherService::StatusNotifierItemUnregistered, this,
        [this](const QString &item) {
            m_known.removeAll(item);
            Q_EMIT itemUnregistered(item);
        },
        Qt::QueuedConnection);
    m_service = service;
    // Exporting gives the object a helper child that relays its signals, so it happens on
    // this thread, before the object (and the helper with it) moves to its own.
    const bool exported = connection.registerObject(watcherPath, service,
                                                    QDBusConnection::ExportAllSlots |
                                                        QDBusConnection::ExportAllSignals |
                                                        QDBusConnection::ExportAllProperties);
    m_thread = new QThread;
    m_thread->setObjectName(QStringLiteral("StatusNotifierWatcher"));
    service->moveToThread(m_thread);
    connect(m_thread, &QThread::finished, service, &QObject::deleteLater);
    m_thread->start();
    if (!exported) {
        m_error = QStringLiteral("cannot export the watcher: ") + connection.lastError().message();
        stop();
        return false;
    }
    const QDBusReply<QDBusConnectionInterface::RegisterServiceReply> owned =
        connection.interface()->registerService(watcherName,
                                                QDBusConnectionInterface::DontQueueService,
                                                QDBusConnectionInterface::DontAllowReplacement);
    if (!owned.isValid() || owned.value() != QDBusConnectionInterface::ServiceRegistered) {
        m_error = watcherName + QStringLiteral(" is taken on this bus") +
                  (owned.isValid() ? QString() : u": " + owned.error().message());
        stop();
        return false;
    }
    return true;
}

void StatusNotifierWatcher::stop()
{
    if (m_connected) {
        QDBusConnection connection(m_connectionName);
        // No new calls reach the service once it is no longer on the bus.
        connection.unregisterObject(watcherPath);
        QDBusConnection::disconnectFromBus(m_connectionName);
        m_connected = false;
    }
    if (m_thread) {
        // The service goes on its own thread, where its signals (destroyed() among them) may
        // be relayed; it was set to delete itself when the thread finishes.
        m_thread->quit();
        m_thread->wait();
        m_service = nullptr;
        delete m_thread;
        m_thread = nullptr;
    }
    m_known.clear();
    const QMutexLocker lock(&m_state->mutex);
    m_state->items.clear();
    m_state->hosts.clear();
}

QStringList StatusNotifierWatcher::registeredItems() const
{
    const QMutexLocker lock(&m_state->mutex);
    return m_state->items;
}

QStringList StatusNotifierWatcher::registeredHosts() const
{
    const QMutexLocker lock(&m_state->mutex);
    return m_state->hosts;
}

bool StatusNotifierWatcher::waitForItem(int timeoutMs)
{
    return QTest::qWaitFor([this] { return !m_known.isEmpty(); }, timeoutMs);
}

void StatusNotifierWatcher::onItemRegistered(const QString &item)
{
    // A panel redraws an item on its change signals; subscribing here, before anyone hears
    // of the item, lets a test count them from the start.
    const auto [service, path] = splitItem(item);
    QDBusConnection connection(m_connectionName);
    for (const char *name : {"NewIcon", "NewToolTip", "NewTitle", "NewStatus", "NewMenu",
                             "NewAttentionIcon", "NewOverlayIcon"}) {
        connection.connect(service, path, itemInterface, QString::fromLatin1(name), this,
                           SLOT(onItemSignal(QDBusMessage)));
    }
    // The menu's path is only known once the item is read; any path of the same service will do.
    for (const char *name : {"LayoutUpdated", "ItemsPropertiesUpdated"}) {
        connection.connect(service, QString(), menuInterface, QString::fromLatin1(name), this,
                           SLOT(onItemSignal(QDBusMessage)));
    }
    m_known.removeAll(item);
    m_known << item;
    Q_EMIT itemRegistered(item);
}

void StatusNotifierWatcher::onItemSignal(const QDBusMessage &message)
{
    Q_EMIT itemChanged(message.member());
}

QString StatusNotifierWatcher::currentItem() const
{
    if (!m_known.isEmpty())
        return m_known.last();
    const QStringList items = registeredItems();
    return items.isEmpty() ? QString() : items.last();
}

QDBusMessage StatusNotifierWatcher::call(const QString &service, const QString &path,
                                         const QString &interface, const QString &method,
                                         const QVariantList &arguments, int timeoutMs)
{
    QDBusMessage message = QDBusMessage::createMethodCall(service, path, interface, method);
    message.setArguments(arguments);
    if (!m_connected)
        return message.createErrorReply(QDBusError::Disconnected,
                                        QStringLiteral("the watcher is not running"));
    // The item may live on this very thread, so its answer needs this thread's event loop.
    QDBusPendingCallWatcher pending(
        QDBusConnection(m_connectionName).asyncCall(message, timeoutMs));
    if (!pending.isFinished()) {
        QEventLoop loop;
        connect(&pending, &QDBusPendingCallWatcher::finished, &loop, &QEventLoop::quit);
        loop.exec(QEventLoop::ExcludeUserInputEvents);
    }
    return pending.reply();
}

StatusNotifierWatcher::Item StatusNotifierWatcher::readItem(const QString &name, int timeoutMs)
{
    Item item;
    const QString registered = name.isEmpty() ? currentItem() : name;
    if (registered.isEmpty()) {
        item.error = QStringLiteral("no item is registered");
        return item;
    }
    std::tie(item.service, item.path) = splitItem(registered);

    const QDBusMessage all = call(item.service, item.path, propertiesInterface,
                                  QStringLiteral("GetAll"), {itemInterface}, timeoutMs);
    if (all.type() != QDBusMessage::ReplyMessage) {
        item.error = QStringLiteral("GetAll on the item: ") + describe(all);
        return item;
    }
    const QVariantMap properties = qdbus_cast<QVariantMap>(all.arguments().value(0));
    item.id = properties.value(QStringLiteral("Id")).toString();
    item.title = properties.value(QStringLiteral("Title")).toString();
    item.status = properties.value(QStringLiteral("Status")).toString();
    item.category = properties.value(QStringLiteral("Category")).toString();
    item.iconName = properties.value(QStringLiteral("IconName")).toString();
    item.menuPath = objectPathOf(properties.value(QStringLiteral("Menu")));

    const QVariant toolTip = properties.value(QStringLiteral("ToolTip"));
    if (toolTip.userType() == qMetaTypeId<QDBusArgument>()) {
        // (sa(iiay)ss): icon name, images, title, text.
        const QDBusArgument argument = toolTip.value<QDBusArgument>();
        QString iconName;
        argument.beginStructure();
        argument >> iconName;
        readImages(argument);
        argument >> item.toolTipTitle >> item.toolTipText;
        argument.endStructure();
    }

    const QVariant pixmaps = properties.value(QStringLiteral("IconPixmap"));
    if (pixmaps.userType() == qMetaTypeId<QDBusArgument>()) {
        for (const QImage &image : readImages(pixmaps.value<QDBusArgument>())) {
            item.iconSizes << image.size();
            if (image.width() * image.height() > item.icon.width() * item.icon.height())
                item.icon = image;
        }
    }

    if (item.menuPath.isEmpty() || item.menuPath == QStringLiteral("/NO_DBUSMENU"))
        return item;
    const QDBusMessage layout =
        call(item.service, item.menuPath, menuInterface, QStringLiteral("GetLayout"),
             {0, -1, QStringList()}, timeoutMs);
    if (layout.type() != QDBusMessage::ReplyMessage || layout.arguments().size() < 2) {
        item.error = QStringLiteral("GetLayout on the menu: ") + describe(layout);
        return item;
    }
    const LayoutNode root = readLayout(layout.arguments().at(1).value<QDBusArgument>());
    for (const LayoutNode &child : root.children) {
        MenuEntry entry;
        entry.id = child.id;
        entry.separator = child.properties.value(QStringLiteral("type")).toString() ==
                          QStringLiteral("separator");
        entry.label = withoutMnemonic(child.properties.value(QStringLiteral("label")).toString());
        entry.enabled = child.properties.value(QStringLiteral("enabled"), true).toBool();
        entry.visible = child.properties.value(QStringLiteral("visible"), true).toBool();
        item.menu << entry;
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
    const auto entry =
        std::find_if(item.menu.cbegin(), item.menu.cend(), [&](const MenuEntry &candidate) {
            return !candidate.separator && candidate.label == withoutMnemonic(label);
        });
    if (entry == item.menu.cend())
        return fail(u'"' + label + QStringLiteral("\" is not in the menu: ") +
                    item.menuLabels().join(QStringLiteral(", ")));

    // As a panel does: the menu is about to be shown, an entry is clicked, the menu closes. A
    // disabled entry is clicked all the same, which a panel would not allow, so that a test
    // can see the application ignore it.
    const int timeoutMs = 5000;
    const QDBusMessage shown = call(item.service, item.menuPath, menuInterface,
                                    QStringLiteral("AboutToShow"), {0}, timeoutMs);
    if (shown.type() != QDBusMessage::ReplyMessage)
        return fail(QStringLiteral("AboutToShow: ") + describe(shown));
    const auto event = [&](int id, const QString &name) {
        static QElapsedTimer clock;
        if (!clock.isValid())
            clock.start();
        return call(
            item.service, item.menuPath, menuInterface, QStringLiteral("Event"),
            {id, name, QVariant::fromValue(QDBusVariant(QVariant(0))), uint(clock.elapsed())},
            timeoutMs);
    };
    const QDBusMessage clicked = event(entry->id, QStringLiteral("clicked"));
    if (clicked.type() != QDBusMessage::ReplyMessage)
        return fail(QStringLiteral("Event clicked: ") + describe(clicked));
    const QDBusMessage closed = event(0, QStringLiteral("closed"));
    if (closed.type() != QDBusMessage::ReplyMessage)
        return fail(QStringLiteral("Event closed: ") + describe(closed));
    return true;
}

bool StatusNotifierWatcher::clickAt(const QString &method, int x, int y)
{
    const QString registered = currentItem();
    if (registered.isEmpty())
        return false;
    const auto [service, path] = splitItem(registered);
    return call(service, path, itemInterface, method, {x, y}, 5000).type() ==
           QDBusMessage::ReplyMessage;
}

bool StatusNotifierWatcher::activate(int x, int y)
{
    return clickAt(QStringLiteral("Activate"), x, y);
}

bool StatusNotifierWatcher::secondaryActivate(int x, int y)
{
    return clickAt(QStringLiteral("SecondaryActivate"), x, y);
}

bool StatusNotifierWatcher::contextMenu(int x, int y)
{
    return clickAt(QStringLiteral("ContextMenu"), x, y);
}

#include "statusnotifierwatcher.moc"
