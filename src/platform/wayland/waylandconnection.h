#pragma once

#include <QByteArray>
#include <QHash>
#include <QObject>
#include <QStringList>
#include <cstdint>
#include <memory>

struct wl_display;
struct wl_interface;
struct wl_registry;
struct wl_seat;
class QSocketNotifier;

// Murmel's own connection to the Wayland compositor, whatever platform Qt's windows use:
// the clipboard, key injection and the window list talk to the compositor through it, so
// they work from the background and under XWayland alike. Its events are read in Qt's
// event loop.
//
// Main thread only. Without a Wayland display (an X11 session) it is simply not connected.
class WaylandConnection final : public QObject
{
    Q_OBJECT

public:
    // Connects to `name`, or to $WAYLAND_DISPLAY when it is empty.
    explicit WaylandConnection(const QByteArray &name = {}, QObject *parent = nullptr);
    ~WaylandConnection() override;

    WaylandConnection(const WaylandConnection &) = delete;
    WaylandConnection &operator=(const WaylandConnection &) = delete;

    bool isConnected() const;
    wl_display *display() const { return m_display; }
    // The first seat the compositor announced, or null.
    wl_seat *seat() const { return m_seat; }
    // Whether that seat has a keyboard now (a desktop with no keyboard attached has none).
    bool seatHasKeyboard() const;

    // The interfaces the compositor offers, by name.
    QStringList interfaces() const { return m_globals.keys(); }
    bool offers(const char *interface) const;
    // Binds the global that implements `interface` at the highest version both sides know
    // (at most `maxVersion`); null when the compositor does not offer it.
    void *bind(const wl_interface *interface, uint32_t maxVersion);

    // Sends what is queued and waits until the compositor has handled it, dispatching the
    // events that arrive meanwhile. False once the connection has failed.
    bool roundtrip();
    // Sends what is queued without waiting.
    void flush();

private:
    struct Global
    {
        uint32_t name;
        uint32_t version;
    };

    static void announce(void *data, wl_registry *registry, uint32_t name, const char *interface,
                         uint32_t version);
    static void withdraw(void *data, wl_registry *registry, uint32_t name);
    void readEvents();
    static void seatCapabilities(void *data, wl_seat *seat, uint32_t capabilities);
    static void seatName(void *data, wl_seat *seat, const char *name);

    wl_display *m_display = nullptr;
    wl_registry *m_registry = nullptr;
    wl_seat *m_seat = nullptr;
    uint32_t m_seatCapabilities = 0;
    QHash<QString, Global> m_globals;
    std::unique_ptr<QSocketNotifier> m_notifier;
};
