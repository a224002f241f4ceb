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

    struct Target
    {
        bool hasFocus = false; // some application window has the keyboard focus
        QString windowClass;   // its class and instance names, "instance class", lower case
        Editable editable = Editable::unknown;
    };

    virtual ~FocusProbe() = default;
    virtual Target focusedTarget() const = 0;
};
