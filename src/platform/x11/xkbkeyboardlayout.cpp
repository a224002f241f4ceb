#include "platform/x11/xkbkeyboardlayout.h"

#include "core/base/logging.h"

#include <xcb/xcb.h>
#include <xkbcommon/xkbcommon-x11.h>
#include <xkbcommon/xkbcommon.h>

#include <memory>

namespace {

struct Release
{
    void operator()(xcb_connection_t *connection) const { xcb_disconnect(connection); }
    void operator()(xkb_context *context) const { xkb_context_unref(context); }
    void operator()(xkb_keymap *keymap) const { xkb_keymap_unref(keymap); }
    void operator()(xkb_state *state) const { xkb_state_unref(state); }
};

template<typename T>
using Owned = std::unique_ptr<T, Release>;

constexpr int xkbKeyCodeOffset = 8;

} // namespace

QString XkbKeyboardLayout::characters(int evdevCode) const
{
    if (evdevCode <= 0 || evdevCode > 255 - xkbKeyCodeOffset)
        return {};
    const Owned<xcb_connection_t> connection(xcb_connect(nullptr, nullptr));
    if (xcb_connection_has_error(connection.get()))
        return {};
    if (!xkb_x11_setup_xkb_extension(connection.get(), XKB_X11_MIN_MAJOR_XKB_VERSION, XKB_X11_MIN_MINOR_XKB_VERSION,
                                     XKB_X11_SETUP_XKB_EXTENSION_NO_FLAGS, nullptr, nullptr, nullptr, nullptr)) {
        qCDebug(lcPlatform) << "The X server has no XKB extension; keys are named by code";
        return {};
    }
    const int32_t device = xkb_x11_get_core_keyboard_device_id(connection.get());
    const Owned<xkb_context> context(xkb_context_new(XKB_CONTEXT_NO_FLAGS));
    if (device < 0 || !context)
        return {};
    const Owned<xkb_keymap> keymap(
        xkb_x11_keymap_new_from_device(context.get(), connection.get(), device, XKB_KEYMAP_COMPILE_NO_FLAGS));
    if (!keymap)
        return {};
    const Owned<xkb_state> state(xkb_x11_state_new_from_device(keymap.get(), connection.get(), device));
    if (!state)
        return {};

    const auto keyCode = static_cast<xkb_keycode_t>(evdevCode + xkbKeyCodeOffset);
    // The group the user switched to, as this key resolves it (a key with fewer groups
    // than the keymap wraps or clamps).
    const xkb_layout_index_t group = xkb_state_key_get_layout(state.get(), keyCode);
    if (group == XKB_LAYOUT_INVALID)
        return {};
    const xkb_keysym_t *symbols = nullptr;
    const int count = xkb_keymap_key_get_syms_by_level(keymap.get(), keyCode, group, 0, &symbols);
    QString text;
    for (int i = 0; i < count; ++i) {
        const uint32_t codePoint = xkb_keysym_to_utf32(symbols[i]);
        if (codePoint != 0) {
            const auto character = static_cast<char32_t>(codePoint);
            text += QString::fromUcs4(&character, 1);
        }
    }
    return text;
}
