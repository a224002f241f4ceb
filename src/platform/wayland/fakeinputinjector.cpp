#include "platform/wayland/fakeinputinjector.h"

#include "core/base/logging.h"
#include "fake-input-client-protocol.h"
#include "platform/wayland/waylandconnection.h"

#include <QList>
#include <wayland-client.h>
#include <xkbcommon/xkbcommon-keysyms.h>

namespace {

// Key codes in the protocol are evdev codes; XKB's are 8 higher.
constexpr uint32_t evdevOffset = 8;
// keyboard_key came with version 4.
constexpr uint32_t keyboardSince = 4;

} // namespace

FakeInputInjector::FakeInputInjector(WaylandConnection &connection)
    : m_connection(connection)
{
    m_input = static_cast<org_kde_kwin_fake_input *>(connection.bind(&org_kde_kwin_fake_input_interface, 4));
    if (!m_input)
        return;
    if (org_kde_kwin_fake_input_get_version(m_input) < keyboardSince) {
        org_kde_kwin_fake_input_destroy(m_input);
        m_input = nullptr;
        return;
    }
    org_kde_kwin_fake_input_authenticate(m_input, "Murmel", "Paste dictated text at your cursor");
    m_keymap = Keymap::ofSeat(connection);
    connection.roundtrip();
    qCInfo(lcPlatform) << "keys through KWin's fake input";
}

FakeInputInjector::~FakeInputInjector()
{
    if (m_input)
        org_kde_kwin_fake_input_destroy(m_input);
    m_connection.flush();
}

bool FakeInputInjector::isTrusted() const
{
    return m_input && m_keymap.isValid() && m_connection.isConnected();
}

bool FakeInputInjector::reaches(FocusProbe::Window window) const
{
    return window != FocusProbe::Window::none;
}

void FakeInputInjector::sendKey(uint32_t xkbKeycode, bool down)
{
    org_kde_kwin_fake_input_keyboard_key(m_input, xkbKeycode - evdevOffset,
                                         down ? WL_KEYBOARD_KEY_STATE_PRESSED : WL_KEYBOARD_KEY_STATE_RELEASED);
}

QCoro::Task<bool> FakeInputInjector::paste(PasteKeys keys)
{
    if (!isTrusted())
        co_return false;
    auto taking = m_turns.take();
    const KeyTurns::Token turn = co_await std::move(taking);

    QList<uint32_t> keycodes;
    for (const uint32_t keysym : chord(keys)) {
        const uint32_t keycode = m_keymap.find(keysym).keycode;
        if (!keycode) {
            qCWarning(lcPlatform) << "the keymap lacks a paste key; nothing was sent";
            co_return false;
        }
        keycodes.append(keycode);
    }
    for (const uint32_t keycode : keycodes)
        sendKey(keycode, true);
    for (auto keycode = keycodes.crbegin(); keycode != keycodes.crend(); ++keycode)
        sendKey(*keycode, false);
    co_return m_connection.roundtrip();
}

QCoro::Task<bool> FakeInputInjector::type(QString text)
{
    if (!isTrusted())
        co_return false;
    auto taking = m_turns.take();
    const KeyTurns::Token turn = co_await std::move(taking);

    QList<Keymap::Stroke> strokes;
    for (const char32_t character : text.toUcs4()) {
        const Keymap::Stroke stroke = m_keymap.find(Keymap::keysymFor(character));
        if (!stroke.keycode) {
            qCWarning(lcPlatform) << "a character is not on the keyboard layout; nothing was typed";
            co_return false;
        }
        strokes.append(stroke);
    }
    const uint32_t shift = m_keymap.find(XKB_KEY_Shift_L).keycode;
    for (const Keymap::Stroke &stroke : strokes) {
        if (stroke.shift && !shift)
            co_return false;
        if (stroke.shift)
            sendKey(shift, true);
        sendKey(stroke.keycode, true);
        sendKey(stroke.keycode, false);
        if (stroke.shift)
            sendKey(shift, false);
    }
    co_return m_connection.roundtrip();
}
