#pragma once

#include "core/desktop/shortcut.h"

#include <QString>

// The pieces of a keyboard shortcut that the desktop itself watches, for the Wayland
// desktops where no hotkey backend can see Murmel's own: GNOME without the GlobalShortcuts
// portal, sway and the other wlroots compositors. The desktop runs a command on the key,
// and that command toggles dictation in the running Murmel.
//
// Pure functions, any thread. Keys are named as in the default US layout: the hotkey is
// recorded as an evdev code, and a Wayland client without focus has no layout to ask. For
// the keys hotkeys use (Space, function keys, letters of Latin layouts) the names agree. A
// key without a name in that layout gives an empty result everywhere: such a shortcut
// cannot be handed to the desktop.
namespace DesktopShortcut {

// The X keysym name of the evdev key at the first level of the US layout: "space", "F12",
// "a", "Return", "grave". Empty for a code no key has.
QString keysymName(int evdevCode);

// GNOME's accelerator text, modifiers in the order Super, Shift, Control, Alt:
// "<Control><Alt>space", "<Super>F9", "<Shift><Control>a".
QString gtkAccelerator(const Shortcut &shortcut);

// The line for a sway configuration, modifiers in the same order under sway's names
// (Mod4, Shift, Ctrl, Mod1): "bindsym Ctrl+Mod1+space exec murmel dictation toggle".
QString swayBinding(const Shortcut &shortcut, const QString &command);

// The shell command that toggles dictation: "murmel dictation toggle" when `murmel` on the
// PATH is this very program, else this program's absolute path (single-quoted for the
// shell when it holds anything but plain path characters) and " dictation toggle".
// Looks at the PATH on each call.
QString toggleCommand();

} // namespace DesktopShortcut
