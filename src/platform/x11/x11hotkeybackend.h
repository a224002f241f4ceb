#pragma once

#include "core/desktop/hotkeybackend.h"

#include <QList>

#include <cstdint>
#include <memory>

class QSocketNotifier;
struct xcb_connection_t;

// The global hotkey on X11: a passive key grab on the root window over a connection of
// its own, so the X server hands the combination to us instead of the focused window.
// The grab is made for every state of Num Lock and Caps Lock, since the server compares
// modifiers exactly and either lock would otherwise disable the hotkey. Detectable
// auto-repeat makes a held key repeat presses without releases; a press of a key that
// is already down is reported as a repeat.
//
// Under Wayland the X server is Xwayland and a grab sees only the keys typed into X
// windows: there the portal backend comes first and this one is the fallback
// (see isWaylandSession()). Main thread only; events arrive through the event loop.
class X11HotkeyBackend final : public HotkeyBackend
{
    Q_OBJECT

public:
    explicit X11HotkeyBackend(QObject *parent = nullptr);
    ~X11HotkeyBackend() override;

    QString name() const override;
    // An X display can be opened (DISPLAY names a server that accepts us).
    bool isAvailable() const override;
    // Releases the old grab, then grabs `shortcut`. False, with conflict() emitted, when
    // the server refuses (BadAccess: another client holds the combination) or the key
    // cannot be grabbed at all.
    bool watch(const std::optional<Shortcut> &shortcut) override;
    bool isActive() const override { return m_active; }
    bool reachesEveryWindow() const override { return !isWaylandSession(); }

    // XDG_SESSION_TYPE is wayland or WAYLAND_DISPLAY is set.
    static bool isWaylandSession();

private:
    // X modifier masks of the Shortcut modifiers and the two locks, read from the
    // server's modifier mapping (Alt is usually Mod1, Num Lock Mod2, Super Mod4).
    struct ModifierMasks
    {
        uint16_t alt = 0;
        uint16_t super = 0;
        uint16_t numLock = 0;
    };
    struct Grab
    {
        uint8_t keyCode = 0;
        uint16_t modifiers = 0;
    };

    bool connectToDisplay();
    void disconnectFromDisplay();
    void readModifierMasks();
    // Empty on success, else the text for the settings screen.
    QString grab(const Shortcut &shortcut);
    void ungrab();
    void regrabAfterMappingChange();
    void readEvents();
    void queueRegrab();
    void reportKey(bool press, uint8_t keyCode, uint16_t state, bool repeat);
    int shortcutModifiers(uint16_t state) const;
    void setActive(bool active);

    xcb_connection_t *m_connection = nullptr;
    uint32_t m_root = 0;
    uint8_t m_xkbFirstEvent = 0;
    bool m_detectableRepeat = false;
    std::unique_ptr<QSocketNotifier> m_notifier;
    ModifierMasks m_masks;
    std::optional<Shortcut> m_shortcut;
    QList<Grab> m_grabs;
    bool m_keyDown = false;
    bool m_active = false;
    bool m_regrabQueued = false;
    // The last mapping change left the hotkey's keys out; the next one grabs again.
    bool m_lostToMapping = false;
};
