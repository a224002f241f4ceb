#pragma once

#include <QString>

// A global key combination: a non-modifier key and the exact modifiers held with it.
struct Shortcut
{
    // Modifier bits as stored in the preferences.
    static constexpr int shift = 0x20000;
    static constexpr int control = 0x40000;
    static constexpr int alt = 0x80000;
    static constexpr int super = 0x100000;
    static constexpr int modifierMask = 0x1E0000;

    int keyCode = 0;   // Linux evdev key code (Space is 57)
    int modifiers = 0; // a combination of the bits above
    QString display;   // what the user sees, such as "Ctrl+Alt+Space"

    friend bool operator==(const Shortcut &, const Shortcut &) = default;
};
