#include "platform/wayland/virtualkeyboardinjector.h"

#include "core/base/logging.h"
#include "platform/wayland/waylandconnection.h"
#include "virtual-keyboard-unstable-v1-client-protocol.h"

#include <QCoroTimer>
#include <QElapsedTimer>
#include <QHash>
#include <QScopeGuard>
#include <algorithm>
#include <chrono>
#include <fcntl.h>
#include <sys/mman.h>
#include <unistd.h>
#include <wayland-client.h>
#include <xkbcommon/xkbcommon.h>

using namespace std::chrono_literals;

namespace {

constexpr uint32_t pressed = WL_KEYBOARD_KEY_STATE_PRESSED;
constexpr uint32_t released = WL_KEYBOARD_KEY_STATE_RELEASED;
// Key codes in the protocol are evdev codes; XKB's are 8 higher.
constexpr uint32_t evdevOffset = 8;
constexpr xkb_keycode_t firstTypingKey = 9;
// XWayland's clients read a new keymap when the server announces it, some only at their
// next key: a keymap change needs a moment before the keys that use it, and the keys a
// moment before the keymap changes back.
constexpr auto settleBeforeTyping = 50ms;
constexpr auto settlePerKey = 5ms;
constexpr auto settleAfterTyping = 150ms;
constexpr auto settleAfterTypingBound = 1000ms;

uint32_t timestamp()
{
    static QElapsedTimer clock = [] {
        QElapsedTimer started;
        started.start();
        return started;
    }();
    return uint32_t(clock.elapsed());
}

} // namespace

VirtualKeyboardInjector::VirtualKeyboardInjector(WaylandConnection &connection)
    : m_connection(connection)
{
    if (!connection.seat())
        return;
    m_manager = static_cast<wl_proxy *>(connection.bind(&zwp_virtual_keyboard_manager_v1_interface, 1));
    if (!m_manager)
        return;
    m_keymap = Keymap::ofSeat(connection);
    m_keymapText = m_keymap.text();
    if (m_keymapText.isEmpty()) {
        qCWarning(lcPlatform) << "no keymap for the virtual keyboard";
        return;
    }

    // One keyboard for Murmel's lifetime: a keyboard made just before its keys loses the
    // first of them.
    m_keyboard = reinterpret_cast<wl_proxy *>(zwp_virtual_keyboard_manager_v1_create_virtual_keyboard(
        reinterpret_cast<zwp_virtual_keyboard_manager_v1 *>(m_manager), connection.seat()));
    if (!upload(m_keymapText) || !m_connection.roundtrip()) {
        qCWarning(lcPlatform) << "the compositor refused Murmel's virtual keyboard";
        return;
    }
    qCInfo(lcPlatform) << "keys through the compositor's virtual keyboard";
}

VirtualKeyboardInjector::~VirtualKeyboardInjector()
{
    if (m_keyboard)
        zwp_virtual_keyboard_v1_destroy(reinterpret_cast<zwp_virtual_keyboard_v1 *>(m_keyboard));
    if (m_manager)
        zwp_virtual_keyboard_manager_v1_destroy(reinterpret_cast<zwp_virtual_keyboard_manager_v1 *>(m_manager));
    m_connection.flush();
}

bool VirtualKeyboardInjector::isTrusted() const
{
    return m_keyboard && !m_keymapText.isEmpty() && m_connection.isConnected();
}

bool VirtualKeyboardInjector::reaches(FocusProbe::Window window) const
{
    // The compositor hands the keys to whatever it has focused, native or XWayland.
    return window != FocusProbe::Window::none;
}

bool VirtualKeyboardInjector::upload(const QByteArray &keymap)
{
    // The keymap travels as a file the compositor maps, with its terminating NUL.
    const int fd = ::memfd_create("murmel-keymap", MFD_CLOEXEC);
    if (fd < 0)
        return false;
    const auto closing = qScopeGuard([fd] { ::close(fd); });
    const qsizetype size = keymap.size() + 1;
    if (::write(fd, keymap.constData(), size_t(size)) != ssize_t(size))
        return false;
    zwp_virtual_keyboard_v1_keymap(reinterpret_cast<zwp_virtual_keyboard_v1 *>(m_keyboard),
                                   WL_KEYBOARD_KEYMAP_FORMAT_XKB_V1, fd, uint32_t(size));
    m_connection.flush();
    return true;
}

void VirtualKeyboardInjector::sendKey(uint32_t xkbKeycode, bool down)
{
    zwp_virtual_keyboard_v1_key(reinterpret_cast<zwp_virtual_keyboard_v1 *>(m_keyboard), timestamp(),
                                xkbKeycode - evdevOffset, down ? pressed : released);
}

void VirtualKeyboardInjector::sendModifiers(uint32_t depressed)
{
    // The compositor does not work the modifiers out from a virtual keyboard's keys: they
    // are ours to state.
    zwp_virtual_keyboard_v1_modifiers(reinterpret_cast<zwp_virtual_keyboard_v1 *>(m_keyboard), depressed, 0, 0, 0);
}

QCoro::Task<bool> VirtualKeyboardInjector::paste(PasteKeys keys)
{
    if (!isTrusted())
        co_return false;
    auto taking = m_turns.take();
    const KeyTurns::Token turn = co_await std::move(taking);

    const uint32_t control = m_keymap.modifierMask(XKB_MOD_NAME_CTRL);
    const uint32_t shift = m_keymap.modifierMask(XKB_MOD_NAME_SHIFT);
    struct Key
    {
        uint32_t keycode;
        uint32_t modifier;
    };
    // Modifier keys also set their mask, which the compositor takes from us, not from the keys.
    QList<Key> keysOfChord;
    for (const uint32_t keysym : chord(keys)) {
        const uint32_t modifier = keysym == XKB_KEY_Control_L ? control : keysym == XKB_KEY_Shift_L ? shift : 0;
        keysOfChord.append({m_keymap.find(keysym).keycode, modifier});
    }
    if (std::any_of(keysOfChord.cbegin(), keysOfChord.cend(), [](const Key &each) { return each.keycode == 0; })) {
        qCWarning(lcPlatform) << "the keymap lacks a paste key; nothing was sent";
        co_return false;
    }

    uint32_t held = 0;
    for (const Key &each : keysOfChord) {
        held |= each.modifier;
        sendKey(each.keycode, true);
        if (each.modifier)
            sendModifiers(held);
    }
    for (auto each = keysOfChord.crbegin(); each != keysOfChord.crend(); ++each) {
        sendKey(each->keycode, false);
        if (each->modifier) {
            held &= ~each->modifier;
            sendModifiers(held);
        }
    }
    co_return m_connection.roundtrip();
}

QByteArray VirtualKeyboardInjector::typingKeymap(const QString &text, QList<uint32_t> *keysyms)
{
    QList<uint32_t> distinct;
    for (const char32_t character : text.toUcs4()) {
        const xkb_keysym_t keysym = Keymap::keysymFor(character);
        if (keysym == XKB_KEY_NoSymbol)
            return {};
        if (!distinct.contains(keysym))
            distinct.append(keysym);
    }
    QByteArray keycodes;
    QByteArray symbols;
    char name[64];
    for (qsizetype index = 0; index < distinct.size(); ++index) {
        const xkb_keycode_t keycode = firstTypingKey + xkb_keycode_t(index);
        keycodes += "<K" + QByteArray::number(keycode) + "> = " + QByteArray::number(keycode) + ";\n";
        xkb_keysym_get_name(distinct.at(index), name, sizeof name);
        symbols += "key <K" + QByteArray::number(keycode) + "> { [ " + QByteArray(name) + " ] };\n";
    }
    if (keysyms)
        *keysyms = distinct;
    const QByteArray maximum = QByteArray::number(std::max<qsizetype>(firstTypingKey + distinct.size(), 255));
    return "xkb_keymap {\n"
           "xkb_keycodes \"murmel\" { minimum = 8; maximum = " +
           maximum + ";\n" + keycodes +
           "};\n"
           "xkb_types \"murmel\" { include \"complete\" };\n"
           "xkb_compatibility \"murmel\" { include \"complete\" };\n"
           "xkb_symbols \"murmel\" {\n" +
           symbols + "};\n};\n";
}

QCoro::Task<bool> VirtualKeyboardInjector::type(QString text)
{
    if (!isTrusted())
        co_return false;
    auto taking = m_turns.take();
    const KeyTurns::Token turn = co_await std::move(taking);

    // Text the user's layout can type goes out on it as it is: no keymap changes hands, so
    // nothing needs time to settle.
    QList<Keymap::Stroke> strokes;
    for (const char32_t character : text.toUcs4()) {
        const Keymap::Stroke stroke = m_keymap.find(Keymap::keysymFor(character));
        if (!stroke.keycode)
            break;
        strokes.append(stroke);
    }
    if (strokes.size() == text.toUcs4().size()) {
        const uint32_t shift = m_keymap.modifierMask(XKB_MOD_NAME_SHIFT);
        for (const Keymap::Stroke &stroke : strokes) {
            sendModifiers(stroke.shift ? shift : 0);
            sendKey(stroke.keycode, true);
            sendKey(stroke.keycode, false);
        }
        sendModifiers(0);
        co_return m_connection.roundtrip();
    }

    QList<uint32_t> keysyms;
    const QByteArray keymap = typingKeymap(text, &keysyms);
    if (keymap.isEmpty()) {
        qCWarning(lcPlatform) << "a character of the text has no key symbol; nothing was typed";
        co_return false;
    }
    if (!upload(keymap))
        co_return false;
    // Whatever happens from here, the user's keymap comes back.
    const auto restoring = qScopeGuard([this] { upload(m_keymapText); });
    sendModifiers(0);
    auto settling = QCoro::sleepFor(settleBeforeTyping);
    co_await std::move(settling);

    const QList<uint> characters = text.toUcs4();
    for (const char32_t character : characters) {
        const xkb_keycode_t keycode = firstTypingKey + xkb_keycode_t(keysyms.indexOf(Keymap::keysymFor(character)));
        sendKey(keycode, true);
        sendKey(keycode, false);
    }
    if (!m_connection.roundtrip())
        co_return false;
    auto settled = QCoro::sleepFor(std::min<std::chrono::milliseconds>(
        settleAfterTyping + settlePerKey * characters.size(), settleAfterTypingBound));
    co_await std::move(settled);
    co_return true;
}
