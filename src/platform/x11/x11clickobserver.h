#pragma once

#include "core/desktop/clickobserver.h"

#include <QByteArray>
#include <QList>
#include <QSet>

#include <cstdint>
#include <memory>

class QSocketNotifier;
struct xcb_connection_t;

// Click-to-insert's eyes on X11. Other applications' clicks and Escape presses are seen as
// XInput2 raw events selected on the root window, over a connection of our own: raw events
// are copies, so the click or key still reaches the window it was meant for, and no grab
// is needed. Raw events see our own windows' input too; those are left to an event filter
// on the application, which can swallow Escape before any of our windows acts on it.
//
// Which window a raw click landed in is asked of the server (the pointer's window, from
// the root down) when the event is read, not when it happened; the two agree unless the
// pointer moves within the few milliseconds in between.
//
// Main thread only; events arrive through the event loop. Without a display or without
// XInput 2.1 start() returns false, and only our own windows are watched. Under Wayland
// the X server is Xwayland, which sees only the input of X windows.
class X11ClickObserver final : public ClickObserver
{
    Q_OBJECT

public:
    // Connects to `display` (":1") at the first start, or to $DISPLAY when it is empty.
    // `underWayland`: the display is XWayland's, which sees only X windows' clicks.
    explicit X11ClickObserver(const QByteArray &display = {}, bool underWayland = false, QObject *parent = nullptr);
    ~X11ClickObserver() override;

    X11ClickObserver(const X11ClickObserver &) = delete;
    X11ClickObserver &operator=(const X11ClickObserver &) = delete;

    bool start() override;
    bool seesOtherApplications() const override { return !m_underWayland; }
    void stop() override;
    bool isWatching() const { return m_watching; }

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    enum class ClickTarget {
        ownClientArea, // the application's filter sees the press itself
        ownFrame,      // our window's title bar or border, which Qt never hears about
        elsewhere
    };

    bool connectToDisplay();
    bool selectRawEvents(bool on);
    // Reads the keycodes that type Escape and the logical number of each physical button.
    void readMappings();
    // Drops whatever the server had sent before the selection was withdrawn.
    void discardQueuedEvents();
    void readEvents();
    void handleRawEvent(uint16_t type, const void *event);
    ClickTarget windowUnderPointer() const;
    bool inputFocusIsOurs() const;
    // The X ids of the windows of this process that exist on the server.
    QSet<uint32_t> ownWindows() const;
    // Each of our top-level windows' ancestor just below the root: the window manager's
    // frame around it, or the window itself when it is not reparented.
    QSet<uint32_t> ownFrames() const;

    QByteArray m_displayName;
    bool m_underWayland = false;
    xcb_connection_t *m_connection = nullptr;
    uint32_t m_root = 0;
    uint8_t m_xinputOpcode = 0;
    bool m_hasXInput = false;
    std::unique_ptr<QSocketNotifier> m_notifier;
    QSet<uint8_t> m_escapeKeyCodes;
    // Index: the physical button number minus one; value: the logical button.
    QList<uint8_t> m_buttonMap;
    bool m_watching = false;
    bool m_filtering = false;
};
