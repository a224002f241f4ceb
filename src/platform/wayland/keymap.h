#pragma once

#include <QByteArray>
#include <cstdint>
#include <memory>

struct xkb_context;
struct xkb_keymap;
class WaylandConnection;

// The keyboard layout keys are sent with on Wayland: the seat's own keymap, as the
// compositor gives it to clients, or the system default where the seat has no keyboard
// (the XKB_DEFAULT_* variables, then the built-in layout).
class Keymap final
{
public:
    // One key press: the XKB key code and whether Shift must be held for the wanted symbol.
    struct Stroke
    {
        uint32_t keycode = 0; // 0: the keymap has no key for it
        bool shift = false;
    };

    static Keymap ofSeat(WaylandConnection &connection);

    bool isValid() const { return m_keymap != nullptr; }
    // The keymap in XKB's text form, as a virtual keyboard uploads it.
    QByteArray text() const;
    // The first key of the first layout giving `keysym` at its plain or shifted level.
    Stroke find(uint32_t keysym) const;
    // The modifier mask bit of an XKB modifier name ("Control", "Shift").
    uint32_t modifierMask(const char *name) const;

    // The key symbol that types `character` (newline is Return, tab is Tab), or 0.
    static uint32_t keysymFor(char32_t character);

private:
    struct Deleter
    {
        void operator()(xkb_keymap *keymap) const;
    };
    std::shared_ptr<xkb_keymap> m_keymap;
};
