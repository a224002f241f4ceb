#pragma once

#include <QString>
#include <Qt>

#include <optional>

// Names of keys and key combinations as the hotkey control shows them. Key codes are Linux
// evdev codes; `characters` are what the key types in the user's layout with no modifier
// held (empty when unknown). Pure functions, any thread.
namespace KeyNames {

// The name of one of the keys that type nothing readable (Space, the arrows, F1…F16, …),
// or nothing for any other key.
std::optional<QString> specialKeyName(int keyCode);

// The special name, else the first typed character in upper case, else "Key " and the
// code, so a key that types nothing visible still gets a name the user can tell apart.
QString keyName(int keyCode, const QString &characters);

// The held modifiers in the order Ctrl, Alt, Shift, Super, then the key: "Ctrl+Alt+Space".
QString display(int keyCode, int modifiers, const QString &characters);

// The Shortcut modifier bits of Qt's modifier flags; Qt's Meta is the Super key on Linux.
// Keypad, group switch and everything else are dropped.
int modifiersFrom(Qt::KeyboardModifiers modifiers);

// Whether the key is itself a modifier or a lock (Ctrl, Shift, Alt, Super, AltGr, Caps
// Lock, Num Lock, Fn): pressing one alone never makes a hotkey.
bool isModifierKey(int keyCode);

} // namespace KeyNames
