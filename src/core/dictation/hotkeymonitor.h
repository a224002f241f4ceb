#pragma once

#include "core/desktop/shortcut.h"

#include <QList>
#include <QObject>
#include <QString>

#include <functional>
#include <optional>

class HotkeyBackend;
struct HotkeyEvent;
class Preferences;

// Watches the global dictation hotkey through the first hotkey backend that works in this
// session and turns its key events into the two dictation callbacks: key down once per
// press (holding the keys repeats nothing) and key up when the key is released while the
// same modifiers are still held. The desktop never passes the combination on to the
// focused application, in either dictation mode.
//
// Main thread only; the callbacks run on it. The monitor does not own the backends: they
// must outlive it (make it their parent, for instance).
class HotkeyMonitor final : public QObject
{
    Q_OBJECT
    // A backend watches the combination successfully: the hotkey works right now, in some
    // windows at least (see reach).
    Q_PROPERTY(bool active READ isActive NOTIFY activeChanged)
    Q_PROPERTY(Reach reach READ reach NOTIFY activeChanged)
    // Why the combination does not work, for the settings screen; empty when nothing is wrong.
    Q_PROPERTY(QString conflict READ conflict NOTIFY conflictChanged)
    // The backend in use ("X11", "GlobalShortcuts portal"), empty when none works here.
    Q_PROPERTY(QString backendName READ backendName CONSTANT)

public:
    // Where a press of the hotkey is seen: nowhere, only in XWayland's windows (the X11
    // grab under Wayland, when the desktop offers nothing better), or in every window.
    enum class Reach { none, x11Windows, everywhere };
    Q_ENUM(Reach)

    // `backends` in order of preference; the first that is available in this session is used.
    HotkeyMonitor(Preferences &preferences, const QList<HotkeyBackend *> &backends, QObject *parent = nullptr);
    // Releases the combination, so no other owner of the backend keeps it grabbed.
    ~HotkeyMonitor() override;

    // Set by the dictation controller before start(); unset callbacks do nothing, and the
    // combination is swallowed all the same.
    std::function<void()> onKeyDown;
    std::function<void()> onKeyUp;

    // Takes the stored hotkey (or the default when nothing valid is stored) unless one is
    // already set, then starts watching it. Called once at start-up.
    void start();
    // Starts watching if the backend is not yet doing so, for instance after the desktop
    // refused the combination or its session ended. Cheap when already watching.
    void ensureTap();

    // The active combination; none means the hotkey is off.
    std::optional<Shortcut> shortcut() const { return m_shortcut; }
    // Takes effect at once once started: the old combination is released before the new
    // one is watched. Does not store anything (see save()).
    void setShortcut(const std::optional<Shortcut> &shortcut);

    bool isActive() const { return m_active; }
    Reach reach() const;
    QString conflict() const { return m_conflict; }
    QString backendName() const;

    // The stored hotkey, or none when "dictateHotkey" is absent or not a valid one (every
    // entry of the right type, a key code a keyboard can send, only the four modifiers).
    static std::optional<Shortcut> load(const Preferences &preferences);
    // Stores the hotkey, or removes it with none. False when the preferences could not be written.
    static bool save(Preferences &preferences, const std::optional<Shortcut> &shortcut);
    // Ctrl+Alt+Space: Alt+Space opens the window menu on the usual Linux desktops.
    static Shortcut defaultShortcut();
    // Whether a key code and modifier bits can form a hotkey at all.
    static bool isValid(int keyCode, int modifiers);

Q_SIGNALS:
    void activeChanged();
    void conflictChanged();
    void shortcutChanged();

private:
    void handle(const HotkeyEvent &event);
    void useNext();
    void fallBack(const QString &reason);
    void watchCurrent();
    void updateActive();
    void setConflict(const QString &message);

    Preferences &m_preferences;
    HotkeyBackend *m_backend = nullptr;
    // The backends after the one in use, in order; each is asked whether it is available
    // only when its turn comes.
    QList<HotkeyBackend *> m_standby;
    std::optional<Shortcut> m_shortcut;
    // Set by the first ensureTap(): before it, a new shortcut is only remembered.
    bool m_watching = false;
    bool m_active = false;
    QString m_conflict;
};
