#pragma once

#include "core/desktop/keyboardinjector.h"
#include "platform/x11/keyturns.h"

#include <chrono>
#include <cstdint>
#include <optional>
#include <QByteArray>

struct xcb_connection_t;

// Synthetic keys on an X11 display through the XTEST extension, over a connection of its
// own (Qt's is not ours to send requests on behind its back).
//
// Main thread only; must outlive every paste and typing run it has begun. Each run waits for
// the previous one, since typing lends spare keycodes of the keyboard mapping to characters
// the layout lacks, and lifts Caps Lock and any second layout group, for as long as it
// runs. Without a display or without XTEST nothing is sent: isTrusted() is false and
// type() resolves to false.
class X11KeyboardInjector final : public KeyboardInjector
{
public:
    // How long a paste or typing run waits for the user to let go of every key before it
    // lifts the modifiers that are still down.
    static constexpr std::chrono::milliseconds releaseBound{2000};

    // Connects to `display` (":1"), or to $DISPLAY when it is empty.
    explicit X11KeyboardInjector(const QByteArray &display = {});
    ~X11KeyboardInjector() override;

    X11KeyboardInjector(const X11KeyboardInjector &) = delete;
    X11KeyboardInjector &operator=(const X11KeyboardInjector &) = delete;

    bool isTrusted() const override;
    // XTEST keys go through the X server: on Wayland they reach XWayland's clients only.
    bool reaches(FocusProbe::Window window) const override;
    QCoro::Task<bool> paste(PasteKeys keys) override;
    QCoro::Task<bool> type(QString text) override;

private:
    // The locks that typing lifts for its run: Caps Lock and the keyboard group.
    struct LockState
    {
        uint8_t capsLock;
        uint8_t group;
    };

    bool usable() const;
    // Turns Caps Lock off and selects the first group; what to restore, when anything changed.
    std::optional<LockState> unlockKeyboard();
    void restoreLocks(LockState locked);
    // Resolves once no key is down, or after releaseBound with the modifiers lifted.
    QCoro::Task<void> waitForReleasedKeys();
    // True once the application with the keyboard focus has handled every key sent so far:
    // it answers _NET_WM_PING only after the events queued before it. False when the focused
    // window does not list the protocol, or gives no answer in time.
    QCoro::Task<bool> focusedClientCaughtUp();
    // Before the keyboard mapping changes again: until the focused application has caught up
    // with `keys` keys, or a pause long enough for most.
    QCoro::Task<void> waitUntilTyped(size_t keys);

    xcb_connection_t *m_connection = nullptr;
    bool m_hasXTest = false;
    bool m_hasXkb = false;
    uint32_t m_wmProtocols = 0; // atoms
    uint32_t m_ping = 0;
    uint32_t m_pings = 0;
    KeyTurns m_turns;
};
