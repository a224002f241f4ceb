#pragma once

#include "core/desktop/focusprobe.h"

#include <QList>
#include <QString>
#include <xkbcommon/xkbcommon-keysyms.h>

#include <QCoroTask>

// Synthetic key presses into whichever window has the keyboard focus. Main thread only.
class KeyboardInjector
{
public:
    // The key combination that pastes in the focused window.
    enum class PasteKeys {
        ctrlV,      // most applications
        ctrlShiftV, // terminals, where Ctrl+V is a control character
        shiftInsert // xterm and the rxvt family, which paste the primary selection
    };

    // The chord's keysyms in the order they go down; they come up in reverse.
    static QList<uint32_t> chord(PasteKeys keys)
    {
        switch (keys) {
        case PasteKeys::ctrlShiftV:
            return {XKB_KEY_Control_L, XKB_KEY_Shift_L, XKB_KEY_v};
        case PasteKeys::shiftInsert:
            return {XKB_KEY_Shift_L, XKB_KEY_Insert};
        case PasteKeys::ctrlV:
            break;
        }
        return {XKB_KEY_Control_L, XKB_KEY_v};
    }

    virtual ~KeyboardInjector() = default;

    // Whether synthetic key events can be sent at all (on X11: the XTEST extension; on
    // Wayland: the compositor offers a keyboard and it was created or granted).
    virtual bool isTrusted() const = 0;
    // Whether keys sent this way arrive in a window of that kind. XTEST reaches only X11
    // clients; a compositor's own injection reaches whatever the compositor focuses.
    virtual bool reaches(FocusProbe::Window window) const = 0;
    // Presses and releases the paste keys. Waits first, for a bounded time, until the user
    // has let go of every modifier, so a hotkey still held cannot turn Ctrl+V into
    // Ctrl+Alt+V; after the bound the held modifiers are lifted for the paste. False when
    // nothing could be sent.
    virtual QCoro::Task<bool> paste(PasteKeys keys) = 0;
    // Types `text` as key presses, any Unicode character included, without touching the
    // clipboard; waits for the modifiers as paste() does. False when it could not type.
    virtual QCoro::Task<bool> type(QString text) = 0;
};
