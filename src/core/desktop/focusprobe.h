#pragma once

#include <QString>

// What has the keyboard focus in the desktop right now. Main thread only; each call asks
// afresh and never blocks for long.
class FocusProbe
{
public:
    // What the accessibility tree says about the focused element: a hint, since many
    // applications (terminals among them) expose nothing.
    enum class Editable { yes, no, unknown };

    // Where keys sent now would go, as far as the desktop tells. In a Wayland session an X11
    // probe only sees XWayland's windows, so "no X window" is not "no window": unless the
    // compositor says what is active, that is `unknown`.
    enum class Window {
        none,    // nothing has the focus: keys go nowhere
        x11,     // an X11 client's window (on Wayland: an XWayland one)
        wayland, // a native Wayland window the compositor named as active
        unknown  // maybe a native Wayland window, maybe nothing
    };

    struct Target
    {
        Window window = Window::none;
        // The application's names, lower case: "instance class" from WM_CLASS, or the
        // Wayland application id.
        QString windowClass;
        Editable editable = Editable::unknown;

        bool hasFocus() const { return window != Window::none; }
    };

    virtual ~FocusProbe() = default;
    virtual Target focusedTarget() const = 0;
};
