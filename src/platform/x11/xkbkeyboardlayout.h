#pragma once

#include "core/desktop/keyboardlayout.h"

// The keyboard layout the X server uses right now, read through XKB: the first shift level
// of the active group, which is what the key types with no modifier held. Each question
// opens its own connection to the display named by DISPLAY, so a layout switched or a
// server restarted in between is seen; it is asked once per recorded hotkey, never per
// key press of the user. Without a display or XKB every answer is empty.
class XkbKeyboardLayout final : public KeyboardLayout
{
public:
    QString characters(int evdevCode) const override;
};
