#pragma once

#include "core/desktop/clipboard.h"

#include <QByteArray>
#include <QHash>
#include <QObject>
#include <QString>

struct wl_interface;
struct wl_proxy;
class WaylandConnection;

// The Wayland clipboard through a data-control protocol (`ext_data_control_manager_v1`, or
// wlroots' `zwlr_data_control_manager_v1` on sway, KWin 5.27 and the like), which sets the
// selection without a window or an input event of ours, unlike the core protocol that Qt
// uses. Murmel serves the text for as long as it owns the selection.
//
// A write counts once the compositor has announced our own offer as the new selection: each
// offer carries a private mime type naming that one write, so an offer of another client's,
// or an older one of ours, never passes for it.
//
// Main thread only; the connection must outlive it.
class DataControlClipboard final : public QObject, public Clipboard
{
    Q_OBJECT

public:
    explicit DataControlClipboard(WaylandConnection &connection, QObject *parent = nullptr);
    ~DataControlClipboard() override;

    // Whether the compositor offers a data-control protocol and gave us a device.
    bool isAvailable() const { return m_device != nullptr; }

    bool setText(const QString &text) override;
    bool setPrimaryText(const QString &text) override;

    // The data-control protocols, in order of preference; public for the listener tables.
    struct Protocol
    {
        const wl_interface *manager;
        const wl_interface *device;
        const wl_interface *source;
        uint32_t primarySince; // the version that brought the primary selection
    };

private:
    enum Selection { clipboard = 0, primary = 1 };

    struct Source
    {
        wl_proxy *proxy = nullptr;
        QByteArray bytes;
    };

    bool set(Selection which, const QString &text);
    void dropSource(Selection which);
    void announce(Selection which, wl_proxy *offer);

    static void onDataOffer(void *data, wl_proxy *device, wl_proxy *offer);
    static void onSelection(void *data, wl_proxy *device, wl_proxy *offer);
    static void onPrimarySelection(void *data, wl_proxy *device, wl_proxy *offer);
    static void onFinished(void *data, wl_proxy *device);
    static void onOfferMimeType(void *data, wl_proxy *offer, const char *mimeType);
    static void onSend(void *data, wl_proxy *source, const char *mimeType, int32_t fd);
    static void onCancelled(void *data, wl_proxy *source);

    WaylandConnection &m_connection;
    const Protocol *m_protocol = nullptr;
    wl_proxy *m_manager = nullptr;
    wl_proxy *m_device = nullptr;
    Source m_sources[2];
    // Offers the compositor announced, with the write marker each carries (empty for
    // another client's); and the offer that is each selection now.
    QHash<wl_proxy *, QByteArray> m_offers;
    wl_proxy *m_current[2] = {nullptr, nullptr};
    quint64 m_writes = 0;
};
