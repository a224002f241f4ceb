#include "platform/x11/x11keyboardinjector.h"

#include "core/base/logging.h"
#include "platform/x11/xcbreply.h"

#include <QChar>
#include <QCoroTimer>
#include <QElapsedTimer>
#include <QHash>
#include <QScopeGuard>
#include <QStringView>
#include <xcb/xcb.h>
#include <xcb/xtest.h>
#include <xkbcommon/xkbcommon-keysyms.h>
#include <xkbcommon/xkbcommon.h>
// xkb.h names a struct member `explicit`.
#define explicit explicit_
#include <xcb/xkb.h>
#undef explicit

#include <algorithm>
#include <cstdlib>
#include <memory>
#include <optional>
#include <utility>
#include <vector>

using namespace std::chrono_literals;

namespace {

using Xcb::Reply;

constexpr auto pollInterval = 10ms;
// Toolkits re-read the keyboard mapping when the server announces a change, some at once
// and some only at the next key event. A key event must therefore be handled before the
// mapping changes again, or it is read with the wrong one. The focused application says
// when it has caught up by answering a ping; one that cannot be asked gets these pauses,
// longer for a longer stretch of keys.
constexpr auto settleBeforeTyping = 50ms;
constexpr auto settleAfterTyping = 150ms;
constexpr auto settlePerKey = 5ms;
constexpr auto settleAfterTypingBound = 1000ms;
// An application that lists the ping but does not answer within this is hung; its keys
// are lost whatever the mapping.
constexpr auto pingBound = 3000ms;

// One key press: the keycode and whether Shift must be held for the wanted keysym.
struct Stroke
{
    xcb_keycode_t keycode = 0;
    bool shift = false;
};

// The core keyboard mapping: for each keycode, keysyms_per_keycode columns, of which the
// first two are the first group's plain and shifted levels.
class KeyboardMapping final
{
public:
    static std::optional<KeyboardMapping> fetch(xcb_connection_t *connection)
    {
        const xcb_setup_t *setup = xcb_get_setup(connection);
        KeyboardMapping mapping;
        mapping.m_min = setup->min_keycode;
        mapping.m_max = setup->max_keycode;
        const auto count = static_cast<uint8_t>(mapping.m_max - mapping.m_min + 1);
        Reply<xcb_get_keyboard_mapping_reply_t> reply(xcb_get_keyboard_mapping_reply(
            connection, xcb_get_keyboard_mapping(connection, mapping.m_min, count), nullptr));
        if (!reply)
            return std::nullopt;
        mapping.m_perKeycode = reply->keysyms_per_keycode;
        const xcb_keysym_t *keysyms = xcb_get_keyboard_mapping_keysyms(reply.get());
        mapping.m_keysyms.assign(keysyms,
                                 keysyms + xcb_get_keyboard_mapping_keysyms_length(reply.get()));
        return mapping;
    }

    uint8_t perKeycode() const { return m_perKeycode; }

    xcb_keysym_t at(xcb_keycode_t keycode, int column) const
    {
        if (keycode < m_min || keycode > m_max || column >= m_perKeycode)
            return XKB_KEY_NoSymbol;
        const size_t index = size_t(keycode - m_min) * m_perKeycode + size_t(column);
        return index < m_keysyms.size() ? m_keysyms[index] : xcb_keysym_t(XKB_KEY_NoSymbol);
    }

    // The plain level wins over the shifted one, and the lowest keycode over the others,
    // which keeps the main block ahead of keypads and extra keys.
    std::optional<Stroke> find(xcb_keysym_t keysym) const
    {
        for (int column = 0; column < 2 && column < m_perKeycode; ++column) {
            for (int keycode = m_min; keycode <= m_max; ++keycode) {
                if (at(xcb_keycode_t(keycode), column) == keysym)
                    return Stroke{xcb_keycode_t(keycode), column == 1};
            }
        }
        return std::nullopt;
    }

    // Keycodes that produce nothing, free to lend a keysym for a moment.
    std::vector<xcb_keycode_t> spareKeycodes() const
    {
        std::vector<xcb_keycode_t> spare;
        for (int keycode = m_min; keycode <= m_max; ++keycode) {
            bool empty = true;
            for (int column = 0; column < m_perKeycode && empty; ++column)
                empty = at(xcb_keycode_t(keycode), column) == XKB_KEY_NoSymbol;
            if (empty)
                spare.push_back(xcb_keycode_t(keycode));
        }
        return spare;
    }

private:
    xcb_keycode_t m_min = 0;
    xcb_keycode_t m_max = 0;
    uint8_t m_perKeycode = 0;
    std::vector<xcb_keysym_t> m_keysyms;
};

// Waits until the server has handled every request sent so far, and drops what came back
// unasked: every client gets MappingNotify, and a refused request an error event.
void sync(xcb_connection_t *connection)
{
    Reply<xcb_get_input_focus_reply_t>(
        xcb_get_input_focus_reply(connection, xcb_get_input_focus(connection), nullptr));
    while (Reply<xcb_generic_event_t> event{xcb_poll_for_event(connection)}) {
        if (event->response_type == 0) {
            const auto *error = reinterpret_cast<const xcb_generic_error_t *>(event.get());
            qCWarning(lcPlatform) << "the X server refused a keyboard request, error"
                                  << error->error_code << "for request" << error->major_code;
        }
    }
}

void sendKey(xcb_connection_t *connection, uint8_t type, xcb_keycode_t keycode)
{
    xcb_test_fake_input(connection, type, keycode, XCB_CURRENT_TIME, XCB_NONE, 0, 0, 0);
}

void press(xcb_connection_t *connection, xcb_keycode_t keycode)
{
    sendKey(connection, XCB_KEY_PRESS, keycode);
}

void release(xcb_connection_t *connection, xcb_keycode_t keycode)
{
    sendKey(connection, XCB_KEY_RELEASE, keycode);
}

// The keycodes that are down right now, from the server's 256-bit key vector.
std::vector<xcb_keycode_t> keysDown(xcb_connection_t *connection)
{
    std::vector<xcb_keycode_t> down;
    Reply<xcb_query_keymap_reply_t> reply(
        xcb_query_keymap_reply(connection, xcb_query_keymap(connection), nullptr));
    if (!reply)
        return down;
    for (int keycode = 0; keycode < 256; ++keycode) {
        if (reply->keys[keycode / 8] & (1 << (keycode % 8)))
            down.push_back(xcb_keycode_t(keycode));
    }
    return down;
}

std::vector<xcb_keycode_t> modifierKeycodes(xcb_connection_t *connection)
{
    std::vector<xcb_keycode_t> keycodes;
    Reply<xcb_get_modifier_mapping_reply_t> reply(
        xcb_get_modifier_mapping_reply(connection, xcb_get_modifier_mapping(connection), nullptr));
    if (!reply)
        return keycodes;
    const xcb_keycode_t *codes = xcb_get_modifier_mapping_keycodes(reply.get());
    const int count = xcb_get_modifier_mapping_keycodes_length(reply.get());
    for (int i = 0; i < count; ++i) {
        if (codes[i] != 0)
            keycodes.push_back(codes[i]);
    }
    return keycodes;
}

// The keysym that types one character, or NoSymbol for characters that are not typed.
xcb_keysym_t keysymFor(char32_t character)
{
    switch (character) {
    case U'\n':
        return XKB_KEY_Return;
    case U'\t':
        return XKB_KEY_Tab;
    default:
        break;
    }
    // Other control characters would reach the application as editing commands.
    if (character < 0x20 || (character >= 0x7f && character < 0xa0))
        return XKB_KEY_NoSymbol;
    return xkb_utf32_to_keysym(uint32_t(character));
}

// Replaces the keysyms of one run of consecutive keycodes in a single request, so every
// client re-reads the mapping once per run.
void changeMapping(xcb_connection_t *connection, const KeyboardMapping &mapping,
                   xcb_keycode_t first, const std::vector<xcb_keysym_t> &keysymPerKeycode)
{
    std::vector<xcb_keysym_t> rows(keysymPerKeycode.size() * mapping.perKeycode(),
                                   XKB_KEY_NoSymbol);
    for (size_t i = 0; i < keysymPerKeycode.size(); ++i) {
        // The same keysym on both levels, so a Shift that is down makes no difference.
        rows[i * mapping.perKeycode()] = keysymPerKeycode[i];
        if (mapping.perKeycode() > 1)
            rows[i * mapping.perKeycode() + 1] = keysymPerKeycode[i];
    }
    xcb_change_keyboard_mapping(connection, uint8_t(keysymPerKeycode.size()), first,
                                mapping.perKeycode(), rows.data());
}

// Lends spare keycodes to keysyms the keyboard lacks, then gives them back.
void remap(xcb_connection_t *connection, const KeyboardMapping &mapping,
           const QHash<xcb_keycode_t, xcb_keysym_t> &lent, bool restore)
{
    std::vector<xcb_keycode_t> keycodes(lent.keyBegin(), lent.keyEnd());
    std::sort(keycodes.begin(), keycodes.end());
    size_t start = 0;
    while (start < keycodes.size()) {
        size_t end = start + 1;
        while (end < keycodes.size() && keycodes[end] == keycodes[end - 1] + 1)
            ++end;
        std::vector<xcb_keysym_t> keysyms;
        for (size_t i = start; i < end; ++i)
            keysyms.push_back(restore ? xcb_keysym_t(XKB_KEY_NoSymbol) : lent.value(keycodes[i]));
        changeMapping(connection, mapping, keycodes[start], keysyms);
        start = end;
    }
}

// Types the strokes of one stretch of text with `lent` keycodes mapped to the keysyms the
// keyboard lacks.
QCoro::Task<void> typeStretch(xcb_connection_t *connection, const KeyboardMapping *mapping,
                              xcb_keycode_t shift, std::vector<Stroke> strokes,
                              QHash<xcb_keycode_t, xcb_keysym_t> lent)
{
    if (!lent.isEmpty()) {
        remap(connection, *mapping, lent, false);
        sync(connection);
        auto settle = QCoro::sleepFor(settleBeforeTyping);
        co_await std::move(settle);
    }
    for (const Stroke &stroke : strokes) {
        if (stroke.shift)
            press(connection, shift);
        press(connection, stroke.keycode);
        release(connection, stroke.keycode);
        if (stroke.shift)
            release(connection, shift);
    }
    sync(connection);
}

// The window with the keyboard focus, or its nearest ancestor, when it lists `ping` in its
// WM_PROTOCOLS; also the root window it belongs to. XCB_NONE when there is no such window.
std::pair<xcb_window_t, xcb_window_t> pingableFocus(xcb_connection_t *connection,
                                                    xcb_atom_t protocols, xcb_atom_t ping)
{
    Reply<xcb_get_input_focus_reply_t> focus(
        xcb_get_input_focus_reply(connection, xcb_get_input_focus(connection), nullptr));
    // Below 2 are None and PointerRoot: nobody in particular has the keyboard.
    xcb_window_t window = focus && focus->focus > XCB_INPUT_FOCUS_POINTER_ROOT
        ? focus->focus
        : xcb_window_t(XCB_NONE);
    while (window != XCB_NONE) {
        Reply<xcb_query_tree_reply_t> tree(
            xcb_query_tree_reply(connection, xcb_query_tree(connection, window), nullptr));
        if (!tree || window == tree->root)
            break;
        const Reply<xcb_get_property_reply_t> listed =
            Xcb::property(connection, window, protocols, XCB_ATOM_ATOM, 32);
        if (listed && listed->format == 32) {
            const auto *atoms = static_cast<const xcb_atom_t *>(xcb_get_property_value(listed.get()));
            const int count = xcb_get_property_value_length(listed.get()) / int(sizeof(xcb_atom_t));
            if (std::find(atoms, atoms + count, ping) != atoms + count)
                return {window, tree->root};
        }
        window = tree->parent;
    }
    return {XCB_NONE, XCB_NONE};
}

} // namespace

X11KeyboardInjector::X11KeyboardInjector(const QByteArray &display)
{
    m_connection = xcb_connect(display.isEmpty() ? nullptr : display.constData(), nullptr);
    if (xcb_connection_has_error(m_connection)) {
        qCInfo(lcPlatform) << "no X display for synthetic keys";
        return;
    }
    const xcb_query_extension_reply_t *xtest = xcb_get_extension_data(m_connection, &xcb_test_id);
    m_hasXTest = xtest && xtest->present;
    if (!m_hasXTest)
        qCInfo(lcPlatform)
            << "the X server has no XTEST extension: dictations stay on the clipboard";
    Reply<xcb_xkb_use_extension_reply_t> xkb(xcb_xkb_use_extension_reply(
        m_connection,
        xcb_xkb_use_extension(m_connection, XCB_XKB_MAJOR_VERSION, XCB_XKB_MINOR_VERSION),
        nullptr));
    m_hasXkb = xkb && xkb->supported;
}

X11KeyboardInjector::~X11KeyboardInjector()
{
    xcb_disconnect(m_connection);
}

bool X11KeyboardInjector::usable() const
{
    return m_hasXTest && !xcb_connection_has_error(m_connection);
}

bool X11KeyboardInjector::isTrusted() const
{
    return usable();
}

bool X11KeyboardInjector::reaches(FocusProbe::Window window) const
{
    return window == FocusProbe::Window::x11;
}

QCoro::Task<void> X11KeyboardInjector::waitForReleasedKeys()
{
    QElapsedTimer waited;
    waited.start();
    while (true) {
        const std::vector<xcb_keycode_t> down = keysDown(m_connection);
        if (down.empty())
            co_return;
        if (waited.elapsed() >= releaseBound.count()) {
            // A modifier still down after this long would turn the paste into another
            // shortcut. Lifting it works for keys held through XTEST; a key the user
            // physically holds stays down, since the server ignores releasing a key that
            // this device did not press.
            const std::vector<xcb_keycode_t> modifiers = modifierKeycodes(m_connection);
            for (xcb_keycode_t keycode : down) {
                if (std::find(modifiers.cbegin(), modifiers.cend(), keycode) != modifiers.cend()) {
                    qCDebug(lcPlatform)
                        << "lifting modifier keycode" << keycode << "for the synthetic keys";
                    release(m_connection, keycode);
                }
            }
            sync(m_connection);
            co_return;
        }
        auto pause = QCoro::sleepFor(pollInterval);
        co_await std::move(pause);
    }
}

std::optional<X11KeyboardInjector::LockState> X11KeyboardInjector::unlockKeyboard()
{
    if (!m_hasXkb)
        return std::nullopt;
    Reply<xcb_xkb_get_state_reply_t> state(xcb_xkb_get_state_reply(
        m_connection, xcb_xkb_get_state(m_connection, XCB_XKB_ID_USE_CORE_KBD), nullptr));
    if (!state ||
        (!(state->lockedMods & XCB_MOD_MASK_LOCK) && state->lockedGroup == XCB_XKB_GROUP_1))
        return std::nullopt;
    const LockState saved{uint8_t(state->lockedMods & XCB_MOD_MASK_LOCK), state->lockedGroup};
    xcb_xkb_latch_lock_state(m_connection, XCB_XKB_ID_USE_CORE_KBD, XCB_MOD_MASK_LOCK, 0, 1,
                             XCB_XKB_GROUP_1, 0, 0, 0);
    sync(m_connection);
    return saved;
}

void X11KeyboardInjector::restoreLocks(LockState locked)
{
    if (xcb_connection_has_error(m_connection))
        return;
    xcb_xkb_latch_lock_state(m_connection, XCB_XKB_ID_USE_CORE_KBD, XCB_MOD_MASK_LOCK,
                             locked.capsLock, 1, locked.group, 0, 0, 0);
    sync(m_connection);
}

QCoro::Task<bool> X11KeyboardInjector::focusedClientCaughtUp()
{
    // Fetched at the first round of lent keys: most users never need them.
    if (m_ping == XCB_ATOM_NONE) {
        m_wmProtocols = Xcb::atom(m_connection, "WM_PROTOCOLS");
        m_ping = Xcb::atom(m_connection, "_NET_WM_PING");
    }
    const auto [client, root] = pingableFocus(m_connection, m_wmProtocols, m_ping);
    if (client == XCB_NONE || m_ping == XCB_ATOM_NONE)
        co_return false;
    // The answer goes to the root window, for whoever listens to its structure (Qt) or its
    // substructure (GTK); this connection listens only while it waits, so nothing piles up
    // in between.
    const auto listen = [&](uint32_t mask) {
        xcb_change_window_attributes(m_connection, root, XCB_CW_EVENT_MASK, &mask);
    };
    listen(XCB_EVENT_MASK_STRUCTURE_NOTIFY | XCB_EVENT_MASK_SUBSTRUCTURE_NOTIFY);
    const auto deaf = qScopeGuard([&] {
        listen(XCB_EVENT_MASK_NO_EVENT);
        sync(m_connection);
    });
    const uint32_t serial = ++m_pings;
    xcb_client_message_event_t ping{};
    ping.response_type = XCB_CLIENT_MESSAGE;
    ping.format = 32;
    ping.window = client;
    ping.type = m_wmProtocols;
    ping.data.data32[0] = m_ping;
    ping.data.data32[1] = serial;
    ping.data.data32[2] = client;
    xcb_send_event(m_connection, 0, client, XCB_EVENT_MASK_NO_EVENT,
                   reinterpret_cast<const char *>(&ping));
    xcb_flush(m_connection);
    QElapsedTimer waited;
    waited.start();
    while (waited.elapsed() < pingBound.count() && !xcb_connection_has_error(m_connection)) {
        while (Reply<xcb_generic_event_t> event{xcb_poll_for_event(m_connection)}) {
            const auto *pong = reinterpret_cast<const xcb_client_message_event_t *>(event.get());
            if ((event->response_type & 0x7f) == XCB_CLIENT_MESSAGE && pong->type == m_wmProtocols
                && pong->data.data32[0] == m_ping && pong->data.data32[1] == serial)
                co_return true;
        }
        auto pause = QCoro::sleepFor(pollInterval);
        co_await std::move(pause);
    }
    qCWarning(lcPlatform) << "the focused application did not answer a ping; typing on";
    co_return false;
}

QCoro::Task<void> X11KeyboardInjector::waitUntilTyped(size_t keys)
{
    auto asking = focusedClientCaughtUp();
    if (co_await std::move(asking))
        co_return;
    const auto pause = std::min<std::chrono::milliseconds>(
        settleAfterTyping + settlePerKey * qint64(keys), settleAfterTypingBound);
    auto settle = QCoro::sleepFor(pause);
    co_await std::move(settle);
}

QCoro::Task<bool> X11KeyboardInjector::paste(PasteKeys keys)
{
    if (!usable())
        co_return false;
    auto taking = m_turns.take();
    const KeyTurns::Token turn = co_await std::move(taking);
    auto released = waitForReleasedKeys();
    co_await std::move(released);

    const std::optional<KeyboardMapping> mapping = KeyboardMapping::fetch(m_connection);
    const auto keycode = [&](xcb_keysym_t keysym) -> xcb_keycode_t {
        const std::optional<Stroke> stroke = mapping ? mapping->find(keysym) : std::nullopt;
        return stroke ? stroke->keycode : 0;
    };
    std::vector<xcb_keycode_t> keycodes;
    for (const uint32_t keysym : chord(keys))
        keycodes.push_back(keycode(keysym));
    if (std::find(keycodes.cbegin(), keycodes.cend(), xcb_keycode_t(0)) != keycodes.cend()) {
        qCWarning(lcPlatform) << "the keyboard mapping lacks a paste key; nothing was sent";
        co_return false;
    }
    for (xcb_keycode_t key : keycodes)
        press(m_connection, key);
    for (auto key = keycodes.crbegin(); key != keycodes.crend(); ++key)
        release(m_connection, *key);
    sync(m_connection);
    co_return !xcb_connection_has_error(m_connection);
}

QCoro::Task<bool> X11KeyboardInjector::type(QString text)
{
    if (!usable())
        co_return false;
    auto taking = m_turns.take();
    const KeyTurns::Token turn = co_await std::move(taking);
    auto released = waitForReleasedKeys();
    co_await std::move(released);

    const std::optional<KeyboardMapping> mapping = KeyboardMapping::fetch(m_connection);
    if (!mapping) {
        co_return false;
    }
    const std::optional<Stroke> shiftKey = mapping->find(XKB_KEY_Shift_L);
    const xcb_keycode_t shiftKeycode = shiftKey ? shiftKey->keycode : 0;

    // A key types what the core mapping shows only in the first group and with Caps Lock
    // off, so both are set so for the run and put back afterwards.
    const std::optional<LockState> locked = unlockKeyboard();
    const auto relock = qScopeGuard([this, locked] {
        if (locked)
            restoreLocks(*locked);
    });

    struct Planned
    {
        xcb_keysym_t keysym;
        std::optional<Stroke> stroke; // none: needs a lent keycode
    };
    std::vector<Planned> plan;
    bool needsSpare = false;
    const QList<uint> characters = text.toUcs4();
    for (qsizetype i = 0; i < characters.size(); ++i) {
        const char32_t character = characters.at(i);
        // A Windows line end is one line end.
        if (character == U'\r' && i + 1 < characters.size() && characters.at(i + 1) == U'\n')
            continue;
        const xcb_keysym_t keysym = keysymFor(character == U'\r' ? U'\n' : character);
        if (keysym == XKB_KEY_NoSymbol)
            continue;
        std::optional<Stroke> stroke = mapping->find(keysym);
        if (stroke && stroke->shift && !shiftKey)
            stroke.reset();
        needsSpare = needsSpare || !stroke;
        plan.push_back({keysym, stroke});
    }
    const std::vector<xcb_keycode_t> spares = mapping->spareKeycodes();
    if (needsSpare && spares.empty()) {
        qCWarning(lcPlatform)
            << "the keyboard mapping has no free keycode to type characters it lacks";
        co_return false;
    }

    std::vector<Stroke> strokes;
    QHash<xcb_keycode_t, xcb_keysym_t> lent;
    QHash<xcb_keysym_t, xcb_keycode_t> lentFor;
    // Every keycode lent at some point, given back once at the end: between stretches the
    // next keysyms simply replace the previous ones.
    QHash<xcb_keycode_t, xcb_keysym_t> everLent;
    for (const Planned &planned : plan) {
        if (planned.stroke) {
            strokes.push_back(*planned.stroke);
            continue;
        }
        if (!lentFor.contains(planned.keysym)) {
            if (size_t(lent.size()) == spares.size()) {
                auto stretch = typeStretch(m_connection, &*mapping, shiftKeycode, strokes, lent);
                co_await std::move(stretch);
                auto typed = waitUntilTyped(strokes.size());
                co_await std::move(typed);
                strokes.clear();
                lent.clear();
                lentFor.clear();
            }
            const xcb_keycode_t keycode = spares[size_t(lent.size())];
            lent.insert(keycode, planned.keysym);
            everLent.insert(keycode, planned.keysym);
            lentFor.insert(planned.keysym, keycode);
        }
        strokes.push_back(Stroke{lentFor.value(planned.keysym), false});
    }
    auto last = typeStretch(m_connection, &*mapping, shiftKeycode, strokes, lent);
    co_await std::move(last);

    if (!everLent.isEmpty()) {
        auto typed = waitUntilTyped(strokes.size());
        co_await std::move(typed);
        remap(m_connection, *mapping, everLent, true);
        sync(m_connection);
    }

    co_return !xcb_connection_has_error(m_connection);
}
