#pragma once

#include "core/desktop/focusprobe.h"

#include <QByteArray>

struct xcb_connection_t;
class AtspiFocusTracker;

// The window that has the X input focus, its WM_CLASS, and the accessibility hint about the
// element inside it. Its own xcb connection; each call makes a few quick round trips.
//
// Main thread only. Without a display nothing has the focus. The tracker, when given, must
// outlive the probe.
class X11FocusProbe final : public FocusProbe
{
public:
    // Connects to `display` (":1"), or to $DISPLAY when it is empty. `underWayland`: the
    // display is XWayland's, where a focus window without WM_CLASS is the compositor's.
    explicit X11FocusProbe(const AtspiFocusTracker *tracker = nullptr, const QByteArray &display = {},
                           bool underWayland = false);
    ~X11FocusProbe() override;

    X11FocusProbe(const X11FocusProbe &) = delete;
    X11FocusProbe &operator=(const X11FocusProbe &) = delete;

    Target focusedTarget() const override;

private:
    const AtspiFocusTracker *m_tracker;
    bool m_underWayland;
    xcb_connection_t *m_connection = nullptr;
};
