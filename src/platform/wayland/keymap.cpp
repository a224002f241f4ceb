#include "platform/wayland/keymap.h"

#include "platform/wayland/waylandconnection.h"

#include <algorithm>
#include <sys/mman.h>
#include <unistd.h>
#include <wayland-client.h>
#include <xkbcommon/xkbcommon.h>

namespace {

// The seat's keymap as the compositor gives it to clients, or empty when the seat has no
// keyboard.
QByteArray seatKeymapText(WaylandConnection &connection)
{
    if (!connection.seatHasKeyboard())
        return {};
    QByteArray text;
    wl_keyboard *keyboard = wl_seat_get_keyboard(connection.seat());
    static const wl_keyboard_listener listener = {
        .keymap =
            [](void *data, wl_keyboard *, uint32_t format, int32_t fd, uint32_t size) {
                if (format == WL_KEYBOARD_KEYMAP_FORMAT_XKB_V1 && size > 1) {
                    void *mapped = ::mmap(nullptr, size, PROT_READ, MAP_PRIVATE, fd, 0);
                    if (mapped != MAP_FAILED) {
                        // The keymap ends with its terminating NUL.
                        *static_cast<QByteArray *>(data) = QByteArray(static_cast<const char *>(mapped), size - 1);
                        ::munmap(mapped, size);
                    }
                }
                ::close(fd);
            },
        .enter = [](void *, wl_keyboard *, uint32_t, wl_surface *, wl_array *) {},
        .leave = [](void *, wl_keyboard *, uint32_t, wl_surface *) {},
        .key = [](void *, wl_keyboard *, uint32_t, uint32_t, uint32_t, uint32_t) {},
        .modifiers = [](void *, wl_keyboard *, uint32_t, uint32_t, uint32_t, uint32_t, uint32_t) {},
        .repeat_info = [](void *, wl_keyboard *, int32_t, int32_t) {},
    };
    wl_keyboard_add_listener(keyboard, &listener, &text);
    connection.roundtrip();
    if (wl_keyboard_get_version(keyboard) >= WL_KEYBOARD_RELEASE_SINCE_VERSION)
        wl_keyboard_release(keyboard);
    else
        wl_keyboard_destroy(keyboard);
    return text;
}

} // namespace

void Keymap::Deleter::operator()(xkb_keymap *keymap) const
{
    xkb_keymap_unref(keymap);
}

Keymap Keymap::ofSeat(WaylandConnection &connection)
{
    Keymap keymap;
    xkb_context *context = xkb_context_new(XKB_CONTEXT_NO_FLAGS);
    if (!context)
        return keymap;
    const QByteArray text = seatKeymapText(connection);
    xkb_keymap *compiled = nullptr;
    if (!text.isEmpty())
        compiled = xkb_keymap_new_from_string(context, text.constData(), XKB_KEYMAP_FORMAT_TEXT_V1,
                                              XKB_KEYMAP_COMPILE_NO_FLAGS);
    if (!compiled)
        compiled = xkb_keymap_new_from_names(context, nullptr, XKB_KEYMAP_COMPILE_NO_FLAGS);
    xkb_context_unref(context);
    if (compiled)
        keymap.m_keymap.reset(compiled, Deleter());
    return keymap;
}

QByteArray Keymap::text() const
{
    if (!m_keymap)
        return {};
    char *text = xkb_keymap_get_as_string(m_keymap.get(), XKB_KEYMAP_FORMAT_TEXT_V1);
    const QByteArray copy(text);
    std::free(text);
    return copy;
}

Keymap::Stroke Keymap::find(uint32_t keysym) const
{
    if (!m_keymap || keysym == XKB_KEY_NoSymbol)
        return {};
    xkb_keymap *keymap = m_keymap.get();
    for (xkb_keycode_t keycode = xkb_keymap_min_keycode(keymap); keycode <= xkb_keymap_max_keycode(keymap) && keycode;
         ++keycode) {
        for (xkb_level_index_t level = 0; level < 2; ++level) {
            const xkb_keysym_t *syms = nullptr;
            const int count = std::max(xkb_keymap_key_get_syms_by_level(keymap, keycode, 0, level, &syms), 0);
            if (std::find(syms, syms + count, keysym) != syms + count)
                return {keycode, level == 1};
        }
    }
    return {};
}

uint32_t Keymap::modifierMask(const char *name) const
{
    const xkb_mod_index_t index = m_keymap ? xkb_keymap_mod_get_index(m_keymap.get(), name) : XKB_MOD_INVALID;
    return index == XKB_MOD_INVALID ? 0 : 1u << index;
}

uint32_t Keymap::keysymFor(char32_t character)
{
    switch (character) {
    case U'\n':
        return XKB_KEY_Return;
    case U'\t':
        return XKB_KEY_Tab;
    default:
        return xkb_utf32_to_keysym(character);
    }
}
