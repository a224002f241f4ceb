#include "platform/wayland/datacontrolclipboard.h"

#include "core/base/logging.h"
#include "ext-data-control-v1-client-protocol.h"
#include "platform/wayland/waylandconnection.h"
#include "wlr-data-control-unstable-v1-client-protocol.h"

#include <QCoreApplication>
#include <QSocketNotifier>
#include <cerrno>
#include <fcntl.h>
#include <unistd.h>
#include <wayland-client.h>

namespace {

// Both protocols have the same requests and events in the same order; only the interfaces
// differ, so one implementation speaks either.
enum : uint32_t {
    managerCreateSource = 0,
    managerGetDevice = 1,
    managerDestroy = 2,
    deviceSetSelection = 0,
    deviceDestroy = 1,
    deviceSetPrimarySelection = 2,
    sourceOffer = 0,
    sourceDestroy = 1,
    offerDestroy = 1,
};

const DataControlClipboard::Protocol protocols[] = {
    {&ext_data_control_manager_v1_interface, &ext_data_control_device_v1_interface,
     &ext_data_control_source_v1_interface, 1},
    {&zwlr_data_control_manager_v1_interface, &zwlr_data_control_device_v1_interface,
     &zwlr_data_control_source_v1_interface, 2},
};

const QByteArray markerPrefix = QByteArrayLiteral("application/x-murmel-write-");

// What other applications ask for when they paste text.
const char *const textTypes[] = {"text/plain;charset=utf-8", "text/plain", "UTF8_STRING", "STRING", "TEXT"};

// The listeners as libwayland calls them: the user data, the proxy, then the arguments.
struct DeviceListener
{
    void (*dataOffer)(void *, wl_proxy *, wl_proxy *);
    void (*selection)(void *, wl_proxy *, wl_proxy *);
    void (*finished)(void *, wl_proxy *);
    void (*primarySelection)(void *, wl_proxy *, wl_proxy *);
};
struct OfferListener
{
    void (*offer)(void *, wl_proxy *, const char *);
};
struct SourceListener
{
    void (*send)(void *, wl_proxy *, const char *, int32_t);
    void (*cancelled)(void *, wl_proxy *);
};

void destroy(wl_proxy *proxy, uint32_t opcode)
{
    wl_proxy_marshal_flags(proxy, opcode, nullptr, wl_proxy_get_version(proxy), WL_MARSHAL_FLAG_DESTROY);
}

// Hands one written text to one reader without blocking, in as many turns of the event loop
// as the reader needs, and then goes away. A reader that stops reading only stops its own
// transfer.
class PipeWriter final : public QObject
{
public:
    PipeWriter(int fd, QByteArray bytes, QObject *parent)
        : QObject(parent)
        , m_fd(fd)
        , m_bytes(std::move(bytes))
        , m_notifier(fd, QSocketNotifier::Write)
    {
        ::fcntl(m_fd, F_SETFL, ::fcntl(m_fd, F_GETFL) | O_NONBLOCK);
        connect(&m_notifier, &QSocketNotifier::activated, this, &PipeWriter::writeSome);
        writeSome();
    }
    ~PipeWriter() override { ::close(m_fd); }

private:
    void writeSome()
    {
        while (m_written < m_bytes.size()) {
            const ssize_t count =
                ::write(m_fd, m_bytes.constData() + m_written, size_t(m_bytes.size() - m_written));
            if (count > 0) {
                m_written += count;
                continue;
            }
            if (count < 0 && errno == EINTR)
                continue;
            if (count < 0 && (errno == EAGAIN || errno == EWOULDBLOCK))
                return; // the notifier calls again when the reader has made room
            break;
        }
        m_notifier.setEnabled(false);
        deleteLater();
    }

    int m_fd;
    QByteArray m_bytes;
    qsizetype m_written = 0;
    QSocketNotifier m_notifier;
};

} // namespace

DataControlClipboard::DataControlClipboard(WaylandConnection &connection, QObject *parent)
    : QObject(parent)
    , m_connection(connection)
{
    if (!connection.seat())
        return;
    for (const Protocol &protocol : protocols) {
        m_manager = static_cast<wl_proxy *>(connection.bind(protocol.manager, protocol.manager->version));
        if (m_manager) {
            m_protocol = &protocol;
            break;
        }
    }
    if (!m_manager)
        return;
    m_device = wl_proxy_marshal_flags(m_manager, managerGetDevice, m_protocol->device,
                                      wl_proxy_get_version(m_manager), 0, nullptr, connection.seat());
    static const DeviceListener listener{&onDataOffer, &onSelection, &onFinished, &onPrimarySelection};
    wl_proxy_add_listener(m_device, reinterpret_cast<void (**)(void)>(const_cast<DeviceListener *>(&listener)),
                          this);
    // The device announces the current selections at once; wait for them so the first write
    // compares with a settled state.
    m_connection.roundtrip();
    qCInfo(lcPlatform) << "Wayland clipboard through" << m_protocol->manager->name;
}

DataControlClipboard::~DataControlClipboard()
{
    dropSource(clipboard);
    dropSource(primary);
    for (auto offer = m_offers.cbegin(); offer != m_offers.cend(); ++offer)
        destroy(offer.key(), offerDestroy);
    if (m_device)
        destroy(m_device, deviceDestroy);
    if (m_manager)
        destroy(m_manager, managerDestroy);
    m_connection.flush();
}

bool DataControlClipboard::setText(const QString &text)
{
    return set(clipboard, text);
}

bool DataControlClipboard::setPrimaryText(const QString &text)
{
    if (!m_device || wl_proxy_get_version(m_manager) < m_protocol->primarySince)
        return false;
    return set(primary, text);
}

bool DataControlClipboard::set(Selection which, const QString &text)
{
    if (!m_device || !m_connection.isConnected())
        return false;
    dropSource(which);

    const QByteArray marker = markerPrefix + QByteArray::number(QCoreApplication::applicationPid()) + '-' +
                              QByteArray::number(++m_writes);
    Source &source = m_sources[which];
    source.bytes = text.toUtf8();
    source.proxy = wl_proxy_marshal_flags(m_manager, managerCreateSource, m_protocol->source,
                                          wl_proxy_get_version(m_manager), 0, nullptr);
    static const SourceListener listener{&onSend, &onCancelled};
    wl_proxy_add_listener(source.proxy, reinterpret_cast<void (**)(void)>(const_cast<SourceListener *>(&listener)),
                          this);
    for (const char *type : textTypes)
        wl_proxy_marshal_flags(source.proxy, sourceOffer, nullptr, wl_proxy_get_version(source.proxy), 0, type);
    wl_proxy_marshal_flags(source.proxy, sourceOffer, nullptr, wl_proxy_get_version(source.proxy), 0,
                           marker.constData());
    wl_proxy_marshal_flags(m_device, which == clipboard ? deviceSetSelection : deviceSetPrimarySelection, nullptr,
                           wl_proxy_get_version(m_device), 0, source.proxy);

    // The compositor announces the new selection to every device, ours included, before it
    // answers the roundtrip.
    if (!m_connection.roundtrip())
        return false;
    const wl_proxy *current = m_current[which];
    const bool ours = current && m_offers.value(const_cast<wl_proxy *>(current)) == marker && m_sources[which].proxy;
    if (!ours)
        qCWarning(lcPlatform) << "the compositor did not take Murmel's" << (which == clipboard ? "clipboard" : "primary selection");
    return ours;
}

void DataControlClipboard::dropSource(Selection which)
{
    Source &source = m_sources[which];
    if (source.proxy)
        destroy(source.proxy, sourceDestroy);
    source = {};
}

void DataControlClipboard::announce(Selection which, wl_proxy *offer)
{
    wl_proxy *previous = m_current[which];
    m_current[which] = offer;
    if (previous && previous != offer && previous != m_current[1 - which]) {
        m_offers.remove(previous);
        destroy(previous, offerDestroy);
    }
}

void DataControlClipboard::onDataOffer(void *data, wl_proxy *, wl_proxy *offer)
{
    auto *self = static_cast<DataControlClipboard *>(data);
    self->m_offers.insert(offer, {});
    static const OfferListener listener{&onOfferMimeType};
    wl_proxy_add_listener(offer, reinterpret_cast<void (**)(void)>(const_cast<OfferListener *>(&listener)), self);
}

void DataControlClipboard::onOfferMimeType(void *data, wl_proxy *offer, const char *mimeType)
{
    auto *self = static_cast<DataControlClipboard *>(data);
    const QByteArray type(mimeType);
    if (type.startsWith(markerPrefix))
        self->m_offers[offer] = type;
}

void DataControlClipboard::onSelection(void *data, wl_proxy *, wl_proxy *offer)
{
    static_cast<DataControlClipboard *>(data)->announce(clipboard, offer);
}

void DataControlClipboard::onPrimarySelection(void *data, wl_proxy *, wl_proxy *offer)
{
    static_cast<DataControlClipboard *>(data)->announce(primary, offer);
}

void DataControlClipboard::onFinished(void *data, wl_proxy *)
{
    // The seat went away: nothing can be set any more.
    auto *self = static_cast<DataControlClipboard *>(data);
    self->dropSource(clipboard);
    self->dropSource(primary);
    destroy(self->m_device, deviceDestroy);
    self->m_device = nullptr;
    qCWarning(lcPlatform) << "the Wayland clipboard device is gone";
}

void DataControlClipboard::onSend(void *data, wl_proxy *proxy, const char *, int32_t fd)
{
    auto *self = static_cast<DataControlClipboard *>(data);
    for (const Source &source : self->m_sources) {
        if (source.proxy == proxy) {
            new PipeWriter(fd, source.bytes, self);
            return;
        }
    }
    ::close(fd);
}

void DataControlClipboard::onCancelled(void *data, wl_proxy *proxy)
{
    // Another client took the selection: the source is spent.
    auto *self = static_cast<DataControlClipboard *>(data);
    for (Selection which : {clipboard, primary}) {
        if (self->m_sources[which].proxy == proxy)
            self->dropSource(which);
    }
}
