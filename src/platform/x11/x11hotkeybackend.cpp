#include "platform/x11/x11hotkeybackend.h"

#include "core/base/logging.h"
#include "platform/x11/xcbreply.h"

#include <QSocketNotifier>
#include <QTimer>

#include <xcb/xcb.h>
#include <xkbcommon/xkbcommon-keysyms.h>
// The XKB protocol header names a struct member `explicit`.
#define explicit explicit_
#include <xcb/xkb.h>
#undef explicit

#include <cstdlib>
#include <memory>
#include <vector>

namespace {

constexpr int xkbKeyCodeOffset = 8;
constexpr uint8_t badAccess = 10;

using Xcb::Reply;

QString conflictMessage(const Shortcut &shortcut)
{
    return QStringLiteral("Another application already uses %1. Choose a different hotkey.").arg(shortcut.display);
}

} // namespace

X11HotkeyBackend::X11HotkeyBackend(QObject *parent)
    : HotkeyBackend(parent)
{
}

X11HotkeyBackend::~X11HotkeyBackend()
{
    disconnectFromDisplay();
}

QString X11HotkeyBackend::name() const
{
    return QStringLiteral("X11");
}

bool X11HotkeyBackend::isWaylandSession()
{
    return qgetenv("XDG_SESSION_TYPE") == "wayland" || !qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY");
}

bool X11HotkeyBackend::isAvailable() const
{
    if (m_connection && !xcb_connection_has_error(m_connection))
        return true;
    xcb_connection_t *probe = xcb_connect(nullptr, nullptr);
    const bool available = !xcb_connection_has_error(probe);
    xcb_disconnect(probe);
    if (!available)
        qCInfo(lcPlatform) << "X11 hotkey: no X display can be opened" << qgetenv("DISPLAY");
    else if (isWaylandSession())
        qCInfo(lcPlatform) << "X11 hotkey: this is a Wayland session, so a grab sees only keys typed into X windows";
    return available;
}

bool X11HotkeyBackend::connectToDisplay()
{
    int screenNumber = 0;
    m_connection = xcb_connect(nullptr, &screenNumber);
    if (xcb_connection_has_error(m_connection)) {
        qCWarning(lcPlatform) << "X11 hotkey: cannot open the X display" << qgetenv("DISPLAY");
        xcb_disconnect(m_connection);
        m_connection = nullptr;
        return false;
    }
    xcb_screen_iterator_t screens = xcb_setup_roots_iterator(xcb_get_setup(m_connection));
    for (int i = 0; i < screenNumber && screens.rem > 0; ++i)
        xcb_screen_next(&screens);
    m_root = screens.data->root;

    // Without detectable auto-repeat a held key sends release and press pairs, which
    // would look like the user pressing the hotkey again and again.
    m_detectableRepeat = false;
    m_xkbFirstEvent = 0;
    const xcb_query_extension_reply_t *xkb = xcb_get_extension_data(m_connection, &xcb_xkb_id);
    if (xkb && xkb->present) {
        const Reply<xcb_xkb_use_extension_reply_t> use(
            xcb_xkb_use_extension_reply(m_connection, xcb_xkb_use_extension(m_connection, 1, 0), nullptr));
        if (use && use->supported) {
            m_xkbFirstEvent = xkb->first_event;
            const Reply<xcb_xkb_per_client_flags_reply_t> flags(xcb_xkb_per_client_flags_reply(
                m_connection,
                xcb_xkb_per_client_flags(m_connection, XCB_XKB_ID_USE_CORE_KBD,
                                         XCB_XKB_PER_CLIENT_FLAG_DETECTABLE_AUTO_REPEAT,
                                         XCB_XKB_PER_CLIENT_FLAG_DETECTABLE_AUTO_REPEAT, 0, 0, 0),
                nullptr));
            m_detectableRepeat = flags && (flags->value & XCB_XKB_PER_CLIENT_FLAG_DETECTABLE_AUTO_REPEAT);
            // A client that uses XKB gets the core MappingNotify only for some changes
            // (none for a new keymap from setxkbmap), so ask for XKB's own notices.
            constexpr uint16_t events = XCB_XKB_EVENT_TYPE_NEW_KEYBOARD_NOTIFY | XCB_XKB_EVENT_TYPE_MAP_NOTIFY;
            constexpr uint16_t parts = XCB_XKB_MAP_PART_KEY_SYMS | XCB_XKB_MAP_PART_MODIFIER_MAP
                | XCB_XKB_MAP_PART_VIRTUAL_MOD_MAP;
            xcb_xkb_select_events(m_connection, XCB_XKB_ID_USE_CORE_KBD, events, 0, events, parts, parts, nullptr);
        }
    }
    if (!m_detectableRepeat)
        qCInfo(lcPlatform) << "X11 hotkey: no detectable auto-repeat; repeats are recognised by their timing";

    readModifierMasks();
    m_notifier = std::make_unique<QSocketNotifier>(xcb_get_file_descriptor(m_connection), QSocketNotifier::Read);
    connect(m_notifier.get(), &QSocketNotifier::activated, this, &X11HotkeyBackend::readEvents);
    xcb_flush(m_connection);
    return true;
}

void X11HotkeyBackend::disconnectFromDisplay()
{
    m_notifier.reset();
    if (!m_connection)
        return;
    // Closing the connection releases its grabs too, but an explicit release reaches the
    // server before any other client can look for the combination.
    ungrab();
    xcb_flush(m_connection);
    xcb_disconnect(m_connection);
    m_connection = nullptr;
    m_keyDown = false;
}

void X11HotkeyBackend::readModifierMasks()
{
    // The usual mapping, for a server that does not answer.
    m_masks = {XCB_MOD_MASK_1, XCB_MOD_MASK_4, XCB_MOD_MASK_2};
    const xcb_setup_t *setup = xcb_get_setup(m_connection);
    const auto modifierCookie = xcb_get_modifier_mapping(m_connection);
    const auto keyboardCookie = xcb_get_keyboard_mapping(m_connection, setup->min_keycode,
                                                         static_cast<uint8_t>(setup->max_keycode - setup->min_keycode + 1));
    const Reply<xcb_get_modifier_mapping_reply_t> modifiers(
        xcb_get_modifier_mapping_reply(m_connection, modifierCookie, nullptr));
    const Reply<xcb_get_keyboard_mapping_reply_t> keyboard(
        xcb_get_keyboard_mapping_reply(m_connection, keyboardCookie, nullptr));
    if (!modifiers || !keyboard)
        return;

    const xcb_keycode_t *keyCodes = xcb_get_modifier_mapping_keycodes(modifiers.get());
    const int perModifier = modifiers->keycodes_per_modifier;
    const xcb_keysym_t *symbols = xcb_get_keyboard_mapping_keysyms(keyboard.get());
    const int symbolCount = xcb_get_keyboard_mapping_keysyms_length(keyboard.get());
    const int perKey = keyboard->keysyms_per_keycode;

    uint16_t alt = 0;
    uint16_t meta = 0;
    uint16_t super = 0;
    uint16_t numLock = 0;
    // Rows 0 to 2 are Shift, Lock and Control; Mod1 to Mod5 follow.
    for (int row = 3; row < 8; ++row) {
        const auto mask = static_cast<uint16_t>(1u << row);
        for (int column = 0; column < perModifier; ++column) {
            const xcb_keycode_t keyCode = keyCodes[row * perModifier + column];
            if (keyCode < setup->min_keycode)
                continue;
            for (int level = 0; level < perKey; ++level) {
                const int index = (keyCode - setup->min_keycode) * perKey + level;
                if (index >= symbolCount)
                    break;
                switch (symbols[index]) {
                case XKB_KEY_Alt_L:
                case XKB_KEY_Alt_R:
                    alt = alt ? alt : mask;
                    break;
                case XKB_KEY_Meta_L:
                case XKB_KEY_Meta_R:
                    meta = meta ? meta : mask;
                    break;
                case XKB_KEY_Super_L:
                case XKB_KEY_Super_R:
                    super = super ? super : mask;
                    break;
                case XKB_KEY_Num_Lock:
                    numLock = numLock ? numLock : mask;
                    break;
                default:
                    break;
                }
            }
        }
    }
    m_masks.alt = alt ? alt : meta;
    m_masks.super = super != m_masks.alt ? super : 0;
    m_masks.numLock = numLock;
    qCDebug(lcPlatform) << "X11 hotkey: modifier masks alt" << m_masks.alt << "super" << m_masks.super << "num lock"
                        << m_masks.numLock;
}

bool X11HotkeyBackend::watch(const std::optional<Shortcut> &shortcut)
{
    if (shortcut == m_shortcut && m_connection && (m_active || !shortcut))
        return true;
    if (!m_connection && !connectToDisplay()) {
        m_shortcut = shortcut;
        if (!shortcut)
            return true;
        setActive(false);
        Q_EMIT conflict(QStringLiteral("No X display is available for the global hotkey."));
        return false;
    }
    ungrab();
    m_shortcut = shortcut;
    m_keyDown = false;
    m_lostToMapping = false;
    if (!shortcut) {
        xcb_flush(m_connection);
        setActive(false);
        return true;
    }
    const QString error = grab(*shortcut);
    // Replies may have brought key events into the connection's queue that the socket
    // notifier will not announce.
    QTimer::singleShot(0, this, &X11HotkeyBackend::readEvents);
    if (!error.isEmpty()) {
        setActive(false);
        Q_EMIT conflict(error);
        return false;
    }
    setActive(true);
    return true;
}

QString X11HotkeyBackend::grab(const Shortcut &shortcut)
{
    const int keyCode = shortcut.keyCode + xkbKeyCodeOffset;
    if (shortcut.keyCode <= 0 || keyCode > 255)
        return QStringLiteral("%1 cannot be used as a global hotkey on this display. Choose a different hotkey.")
            .arg(shortcut.display);

    uint16_t modifiers = 0;
    if (shortcut.modifiers & Shortcut::control)
        modifiers |= XCB_MOD_MASK_CONTROL;
    if (shortcut.modifiers & Shortcut::shift)
        modifiers |= XCB_MOD_MASK_SHIFT;
    if (shortcut.modifiers & Shortcut::alt) {
        if (!m_masks.alt)
            return QStringLiteral("This keyboard has no Alt key for %1. Choose a different hotkey.").arg(shortcut.display);
        modifiers |= m_masks.alt;
    }
    if (shortcut.modifiers & Shortcut::super) {
        if (!m_masks.super)
            return QStringLiteral("This keyboard has no Super key for %1. Choose a different hotkey.")
                .arg(shortcut.display);
        modifiers |= m_masks.super;
    }

    // The server matches modifiers exactly, so each lock state needs its own grab.
    QList<uint16_t> variants{modifiers};
    for (const uint16_t lock : {m_masks.numLock, static_cast<uint16_t>(XCB_MOD_MASK_LOCK)}) {
        if (!lock || (modifiers & lock))
            continue;
        for (qsizetype i = 0, count = variants.size(); i < count; ++i)
            variants.append(variants.at(i) | lock);
    }

    QList<xcb_void_cookie_t> cookies;
    for (const uint16_t variant : std::as_const(variants))
        cookies.append(xcb_grab_key_checked(m_connection, 0, m_root, variant, static_cast<xcb_keycode_t>(keyCode),
                                            XCB_GRAB_MODE_ASYNC, XCB_GRAB_MODE_ASYNC));
    QString error;
    for (qsizetype i = 0; i < cookies.size(); ++i) {
        const Reply<xcb_generic_error_t> failure(xcb_request_check(m_connection, cookies.at(i)));
        if (!failure) {
            m_grabs.append({static_cast<uint8_t>(keyCode), variants.at(i)});
            continue;
        }
        if (!error.isEmpty())
            continue;
        if (failure->error_code == badAccess) {
            error = conflictMessage(shortcut);
        } else {
            error = QStringLiteral("The X server refused %1 as a global hotkey (error %2). Choose a different hotkey.")
                        .arg(shortcut.display)
                        .arg(failure->error_code);
        }
    }
    if (!error.isEmpty()) {
        // Half a hotkey (working only with Caps Lock on, say) would only confuse.
        ungrab();
        xcb_flush(m_connection);
        qCInfo(lcPlatform) << "X11 hotkey: grab refused:" << error;
        return error;
    }
    qCDebug(lcPlatform) << "X11 hotkey: grabbed key" << keyCode << "in" << m_grabs.size() << "lock states";
    return {};
}

void X11HotkeyBackend::ungrab()
{
    if (!m_connection)
        return;
    for (const Grab &grab : std::as_const(m_grabs))
        xcb_ungrab_key(m_connection, grab.keyCode, m_root, grab.modifiers);
    m_grabs.clear();
}

void X11HotkeyBackend::regrabAfterMappingChange()
{
    m_regrabQueued = false;
    if (!m_connection)
        return;
    readModifierMasks();
    // A hotkey a mapping took away comes back with a mapping that has its keys again: a
    // keymap lent for typing on Wayland lacks Alt until it is given back.
    if (!m_shortcut || (!m_active && !m_lostToMapping))
        return;
    // The masks may have moved (Alt on another ModN, Num Lock gone): grab afresh.
    ungrab();
    const QString error = grab(*m_shortcut);
    QTimer::singleShot(0, this, &X11HotkeyBackend::readEvents);
    m_lostToMapping = !error.isEmpty();
    if (m_lostToMapping && m_active) {
        setActive(false);
        Q_EMIT conflict(error);
    } else if (!m_lostToMapping) {
        setActive(true);
    }
}

void X11HotkeyBackend::readEvents()
{
    if (!m_connection)
        return;
    // One batch at a time, so a release can be matched with the press right behind it
    // when the server cannot mark repeats itself.
    std::vector<Reply<xcb_generic_event_t>> batch;
    while (xcb_generic_event_t *event = xcb_poll_for_event(m_connection))
        batch.emplace_back(event);
    for (std::size_t i = 0; i < batch.size() && m_connection; ++i) {
        xcb_generic_event_t *event = batch[i].get();
        const uint8_t type = event->response_type & 0x7f;
        if (type == 0) {
            qCDebug(lcPlatform) << "X11 hotkey: X error" << reinterpret_cast<xcb_generic_error_t *>(event)->error_code;
        } else if (type == XCB_MAPPING_NOTIFY) {
            if (reinterpret_cast<xcb_mapping_notify_event_t *>(event)->request != XCB_MAPPING_POINTER)
                queueRegrab();
        } else if (m_xkbFirstEvent && type == m_xkbFirstEvent) {
            queueRegrab();
        } else if (type == XCB_KEY_PRESS) {
            const auto *press = reinterpret_cast<xcb_key_press_event_t *>(event);
            reportKey(true, press->detail, press->state, false);
        } else if (type == XCB_KEY_RELEASE) {
            const auto *release = reinterpret_cast<xcb_key_release_event_t *>(event);
            const xcb_generic_event_t *next = i + 1 < batch.size() ? batch[i + 1].get() : nullptr;
            // Without detectable auto-repeat the server's repeat is a release and a press
            // of the same key at the same moment.
            if (!m_detectableRepeat && next && (next->response_type & 0x7f) == XCB_KEY_PRESS) {
                const auto *press = reinterpret_cast<const xcb_key_press_event_t *>(next);
                if (press->detail == release->detail && press->time == release->time) {
                    reportKey(true, press->detail, press->state, true);
                    ++i;
                    continue;
                }
            }
            reportKey(false, release->detail, release->state, false);
        }
    }

    if (m_connection && xcb_connection_has_error(m_connection)) {
        qCWarning(lcPlatform) << "X11 hotkey: the connection to the X display was lost";
        m_notifier.reset();
        xcb_disconnect(m_connection);
        m_connection = nullptr;
        m_grabs.clear();
        m_keyDown = false;
        setActive(false);
    }
}

void X11HotkeyBackend::queueRegrab()
{
    // A layout switch sends several notices at once; one grab afterwards is enough.
    if (m_regrabQueued)
        return;
    m_regrabQueued = true;
    QTimer::singleShot(0, this, &X11HotkeyBackend::regrabAfterMappingChange);
}

void X11HotkeyBackend::reportKey(bool press, uint8_t keyCode, uint16_t state, bool repeat)
{
    // While a grab is active the whole keyboard comes here; only the hotkey's own key counts.
    if (m_grabs.isEmpty() || keyCode != m_grabs.constFirst().keyCode)
        return;
    const int evdevCode = keyCode - xkbKeyCodeOffset;
    if (!press) {
        m_keyDown = false;
        Q_EMIT keyEvent({HotkeyEvent::Type::keyUp, evdevCode, shortcutModifiers(state), false});
        return;
    }
    // With detectable auto-repeat a held key sends presses only: one while the key is
    // already down is a repeat.
    repeat = repeat || m_keyDown;
    m_keyDown = true;
    Q_EMIT keyEvent({HotkeyEvent::Type::keyDown, evdevCode, shortcutModifiers(state), repeat});
}

int X11HotkeyBackend::shortcutModifiers(uint16_t state) const
{
    int modifiers = 0;
    if (state & XCB_MOD_MASK_CONTROL)
        modifiers |= Shortcut::control;
    if (state & XCB_MOD_MASK_SHIFT)
        modifiers |= Shortcut::shift;
    if (m_masks.alt && (state & m_masks.alt))
        modifiers |= Shortcut::alt;
    if (m_masks.super && (state & m_masks.super))
        modifiers |= Shortcut::super;
    return modifiers;
}

void X11HotkeyBackend::setActive(bool active)
{
    if (active == m_active)
        return;
    m_active = active;
    Q_EMIT activeChanged(active);
}
