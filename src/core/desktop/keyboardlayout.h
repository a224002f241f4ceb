#pragma once

#include <QString>

// The user's current keyboard layout, asked what a key types so a hotkey can be named
// after its character ("Ctrl+Ö" on a German keyboard rather than "Ctrl+;").
// Main thread only.
class KeyboardLayout
{
public:
    virtual ~KeyboardLayout() = default;

    // What the key with this evdev code types with no modifier held in the active layout
    // group, or an empty string when it types nothing or the layout cannot be read.
    virtual QString characters(int evdevCode) const = 0;
};
