#pragma once

#include "core/desktop/keyboardinjector.h"
#include "platform/wayland/keymap.h"
#include "platform/x11/keyturns.h"

struct org_kde_kwin_fake_input;
class WaylandConnection;

// Keys through KWin's fake input (`org_kde_kwin_fake_input`), which KWin offers only to a
// program whose desktop file lists it in X-KDE-Wayland-Interfaces (Murmel's does). The
// keys go through KWin's own keyboard state and layout, to whatever window it focused,
// native or XWayland; so typing can only use the characters of the user's layout.
//
// Main thread only; the connection must outlive it. One run at a time.
class FakeInputInjector final : public KeyboardInjector
{
public:
    explicit FakeInputInjector(WaylandConnection &connection);
    ~FakeInputInjector() override;

    FakeInputInjector(const FakeInputInjector &) = delete;
    FakeInputInjector &operator=(const FakeInputInjector &) = delete;

    bool isTrusted() const override;
    bool reaches(FocusProbe::Window window) const override;
    QCoro::Task<bool> paste(PasteKeys keys) override;
    // False, with nothing sent, when a character is not on the layout.
    QCoro::Task<bool> type(QString text) override;

private:
    void sendKey(uint32_t xkbKeycode, bool down);

    WaylandConnection &m_connection;
    org_kde_kwin_fake_input *m_input = nullptr;
    Keymap m_keymap;
    KeyTurns m_turns;
};
