#pragma once

#include "core/desktop/hotkeybackend.h"

#include <QList>

#include <optional>

// A hotkey backend the test drives: it records what it was asked to watch, can refuse a
// combination as an X server would when another client holds it, can bind later as the
// portal does, and sends whatever key events the test makes up.
class FakeHotkeyBackend final : public HotkeyBackend
{
public:
    explicit FakeHotkeyBackend(QString name = QStringLiteral("Fake"), bool available = true)
        : m_name(std::move(name))
        , m_available(available)
    {
    }

    QString name() const override { return m_name; }
    bool isAvailable() const override
    {
        ++availabilityQueries;
        return m_available;
    }

    bool watch(const std::optional<Shortcut> &shortcut) override
    {
        watchRequests.append(shortcut);
        if (shortcut && refused && shortcut->keyCode == refused->keyCode && shortcut->modifiers == refused->modifiers) {
            m_watched.reset();
            setActive(false);
            Q_EMIT conflict(QStringLiteral("Another application already uses %1. Choose a different hotkey.")
                                .arg(shortcut->display));
            return false;
        }
        m_watched = shortcut;
        setActive(shortcut.has_value() && !bindsLater);
        return true;
    }

    bool isActive() const override { return m_active; }
    bool reachesEveryWindow() const override { return reachesEverywhere; }

    // What the desktop is asked to watch right now.
    std::optional<Shortcut> watched() const { return m_watched; }

    void press(int keyCode, int modifiers, bool autoRepeat = false)
    {
        Q_EMIT keyEvent({HotkeyEvent::Type::keyDown, keyCode, modifiers, autoRepeat});
    }
    void release(int keyCode, int modifiers) { Q_EMIT keyEvent({HotkeyEvent::Type::keyUp, keyCode, modifiers, false}); }

    // An asynchronous bind finishing, or the desktop's session ending.
    void setActive(bool active)
    {
        if (active == m_active)
            return;
        m_active = active;
        Q_EMIT activeChanged(active);
    }

    // The combination the desktop refuses, as if another application held it.
    std::optional<Shortcut> refused;
    // Accept watch() requests but become active only when the test says so.
    bool bindsLater = false;
    // False for a grab that sees only XWayland's windows.
    bool reachesEverywhere = true;
    QList<std::optional<Shortcut>> watchRequests;
    mutable int availabilityQueries = 0;

private:
    QString m_name;
    bool m_available;
    bool m_active = false;
    std::optional<Shortcut> m_watched;
};
