#pragma once

#include "core/desktop/hotkeybackend.h"

#include <QList>

#include <optional>

// A hotkey backend the test drives: it can refuse a combination as an X server does when
// another client holds it, and sends made-up key events.
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
        setActive(shortcut.has_value());
        return true;
    }

    bool isActive() const override { return m_active; }
    bool reachesEveryWindow() const override { return reachesEverywhere; }

    std::optional<Shortcut> watched() const { return m_watched; }

    void press(int keyCode, int modifiers, bool autoRepeat = false)
    {
        Q_EMIT keyEvent({HotkeyEvent::Type::keyDown, keyCode, modifiers, autoRepeat});
    }
    void release(int keyCode, int modifiers) { Q_EMIT keyEvent({HotkeyEvent::Type::keyUp, keyCode, modifiers, false}); }

    // The desktop binding or letting go of the combination by itself.
    void setActive(bool active)
    {
        if (active == m_active)
            return;
        m_active = active;
        Q_EMIT activeChanged(active);
    }

    std::optional<Shortcut> refused;
    bool reachesEverywhere = true;  // false for a grab that sees only XWayland's windows
    QList<std::optional<Shortcut>> watchRequests;
    mutable int availabilityQueries = 0;

private:
    QString m_name;
    bool m_available;
    bool m_active = false;
    std::optional<Shortcut> m_watched;
};
