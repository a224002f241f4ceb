#pragma once

#include "core/desktop/keyboardinjector.h"
#include "platform/wayland/keymap.h"
#include "platform/x11/keyturns.h"

#include <QByteArray>

struct wl_proxy;
class WaylandConnection;

// Keys through the virtual-keyboard protocol of wlroots compositors (sway, Hyprland,
// river): a keyboard of Murmel's own, created once and kept, whose keys the compositor
// delivers to the focused window, native or XWayland, like a real keyboard's.
//
// Pasting uses the user's full keymap (the seat's, or the system's default), so the window
// that gets the keys keeps a keymap it can read other keys with. Typing lends the keyboard
// a keymap of exactly the characters being typed, one key each, so any Unicode text
// arrives as written, and gives the full keymap back afterwards.
//
// Main thread only; the connection must outlive it. One run at a time: a run waits for the
// one before it.
class VirtualKeyboardInjector final : public KeyboardInjector
{
public:
    explicit VirtualKeyboardInjector(WaylandConnection &connection);
    ~VirtualKeyboardInjector() override;

    VirtualKeyboardInjector(const VirtualKeyboardInjector &) = delete;
    VirtualKeyboardInjector &operator=(const VirtualKeyboardInjector &) = delete;

    bool isTrusted() const override;
    bool reaches(FocusProbe::Window window) const override;
    QCoro::Task<bool> paste(PasteKeys keys) override;
    QCoro::Task<bool> type(QString text) override;

    // The text of an XKB keymap that has one key for each distinct character of `text`
    // (newline as Return, tab as Tab), in order of first appearance from key code 9 up;
    // empty when a character has no keysym.
    static QByteArray typingKeymap(const QString &text, QList<uint32_t> *keysyms = nullptr);

private:
    bool upload(const QByteArray &keymap);
    void sendKey(uint32_t xkbKeycode, bool down);
    void sendModifiers(uint32_t depressed);

    WaylandConnection &m_connection;
    wl_proxy *m_manager = nullptr;
    wl_proxy *m_keyboard = nullptr;
    Keymap m_keymap;
    QByteArray m_keymapText;
    KeyTurns m_turns;
};
