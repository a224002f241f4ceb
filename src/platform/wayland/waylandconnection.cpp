#include "platform/wayland/waylandconnection.h"

#include "core/base/logging.h"

#include <QSocketNotifier>
#include <algorithm>
#include <wayland-client.h>

WaylandConnection::WaylandConnection(const QByteArray &name, QObject *parent)
    : QObject(parent)
{
    // Left to itself libwayland would try "wayland-0" even in an X11 session.
    const QByteArray display = name.isEmpty() ? qgetenv("WAYLAND_DISPLAY") : name;
    if (display.isEmpty())
        return;
    m_display = wl_display_connect(display.constData());
    if (!m_display)
        return;
    static const wl_registry_listener listener = {.global = &WaylandConnection::announce,
                                                  .global_remove = &WaylandConnection::withdraw};
    m_registry = wl_display_get_registry(m_display);
    wl_registry_add_listener(m_registry, &listener, this);
    if (!roundtrip()) {
        qCWarning(lcPlatform) << "the Wayland compositor did not answer";
        return;
    }
    if (const auto seat = m_globals.constFind(QStringLiteral("wl_seat")); seat != m_globals.cend())
        m_seat = static_cast<wl_seat *>(
            wl_registry_bind(m_registry, seat->name, &wl_seat_interface, std::min(seat->version, 5u)));
    if (m_seat) {
        static const wl_seat_listener seatListener = {.capabilities = &WaylandConnection::seatCapabilities,
                                                      .name = &WaylandConnection::seatName};
        wl_seat_add_listener(m_seat, &seatListener, this);
        roundtrip();
    }

    m_notifier = std::make_unique<QSocketNotifier>(wl_display_get_fd(m_display), QSocketNotifier::Read);
    connect(m_notifier.get(), &QSocketNotifier::activated, this, &WaylandConnection::readEvents);
    flush();
}

WaylandConnection::~WaylandConnection()
{
    m_notifier.reset();
    if (m_seat)
        wl_seat_destroy(m_seat);
    if (m_registry)
        wl_registry_destroy(m_registry);
    if (m_display)
        wl_display_disconnect(m_display);
}

bool WaylandConnection::isConnected() const
{
    return m_display && wl_display_get_error(m_display) == 0;
}

bool WaylandConnection::seatHasKeyboard() const
{
    return m_seatCapabilities & WL_SEAT_CAPABILITY_KEYBOARD;
}

void WaylandConnection::seatCapabilities(void *data, wl_seat *, uint32_t capabilities)
{
    static_cast<WaylandConnection *>(data)->m_seatCapabilities = capabilities;
}

void WaylandConnection::seatName(void *, wl_seat *, const char *) {}

bool WaylandConnection::offers(const char *interface) const
{
    return m_globals.contains(QLatin1String(interface));
}

void *WaylandConnection::bind(const wl_interface *interface, uint32_t maxVersion)
{
    const auto global = m_globals.constFind(QLatin1String(interface->name));
    if (!isConnected() || global == m_globals.cend())
        return nullptr;
    const uint32_t version = std::min({global->version, maxVersion, uint32_t(interface->version)});
    return wl_registry_bind(m_registry, global->name, interface, version);
}

bool WaylandConnection::roundtrip()
{
    return isConnected() && wl_display_roundtrip(m_display) >= 0;
}

void WaylandConnection::flush()
{
    if (isConnected())
        wl_display_flush(m_display);
}

void WaylandConnection::announce(void *data, wl_registry *, uint32_t name, const char *interface, uint32_t version)
{
    auto *self = static_cast<WaylandConnection *>(data);
    // The first of several seats is the one Murmel works with.
    const QString key = QString::fromLatin1(interface);
    if (!self->m_globals.contains(key))
        self->m_globals.insert(key, {name, version});
}

void WaylandConnection::withdraw(void *data, wl_registry *, uint32_t name)
{
    auto *self = static_cast<WaylandConnection *>(data);
    for (auto global = self->m_globals.begin(); global != self->m_globals.end(); ++global) {
        if (global->name == name) {
            self->m_globals.erase(global);
            return;
        }
    }
}

void WaylandConnection::readEvents()
{
    if (!isConnected()) {
        // A compositor that went away leaves the descriptor readable forever.
        m_notifier->setEnabled(false);
        qCWarning(lcPlatform) << "the Wayland connection failed";
        return;
    }
    while (wl_display_prepare_read(m_display) != 0)
        wl_display_dispatch_pending(m_display);
    wl_display_read_events(m_display);
    wl_display_dispatch_pending(m_display);
    wl_display_flush(m_display);
}
