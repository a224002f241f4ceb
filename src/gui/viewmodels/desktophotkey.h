#pragma once

#include "gui/viewmodels/qmlsingleton.h"

#include <QObject>
#include <QString>
#include <QtQml/qqmlregistration.h>

class CommandShortcut;
class HotkeyMonitor;

// The hotkey as this desktop lets it work, for onboarding and the General tab: whether a
// press reaches Murmel whichever window has the focus, why not when it does not, and the
// desktop's own way to bind `murmel dictation toggle` instead (a GNOME custom shortcut
// Murmel writes when the user asks, or the line for sway's config).
//
// Main thread only. A GNOME shortcut Murmel set follows the hotkey: it takes the new keys
// when the user records others, and goes away when the user removes the hotkey.
class DesktopHotkey final : public QObject, public QmlSingleton<DesktopHotkey>
{
    Q_OBJECT
    QML_ELEMENT
    QML_SINGLETON
    // A press of the hotkey starts or stops a dictation whichever window has the focus,
    // through Murmel's own watch or the desktop shortcut Murmel set.
    Q_PROPERTY(bool works READ works NOTIFY changed)
    // Why the hotkey does not reach every window; empty when it does.
    Q_PROPERTY(QString problem READ problem NOTIFY changed)
    // Which desktop way the screens offer (see Way): one at most is true.
    Q_PROPERTY(bool offersGnomeShortcut READ offersGnomeShortcut NOTIFY changed)
    Q_PROPERTY(bool offersSwayLine READ offersSwayLine NOTIFY changed)
    Q_PROPERTY(bool offersCommand READ offersCommand NOTIFY changed)
    Q_PROPERTY(QString command READ command CONSTANT)
    // The line for sway's config, with the current keys; empty without a hotkey.
    Q_PROPERTY(QString swayLine READ swayLine NOTIFY changed)
    Q_PROPERTY(bool gnomeShortcutSet READ gnomeShortcutSet NOTIFY changed)
    Q_PROPERTY(bool busy READ busy NOTIFY changed)
    // Hold to talk needs the key's release, which only Murmel's own watch sees.
    Q_PROPERTY(bool holdToTalkPossible READ holdToTalkPossible NOTIFY changed)

public:
    // What the screens offer when Murmel cannot watch the hotkey everywhere itself.
    enum class Way {
        none,    // nothing is missing, or no desktop way is known beyond the command
        gnome,   // a custom shortcut in GNOME's keyboard settings, written on request
        wlroots, // a bindsym line for the compositor's config
        other,   // the desktop's keyboard settings, bound to the command by the user
    };

    enum class Desktop { x11, gnome, wlroots, kde, other };

    // `gnome` may be null; without it GNOME is offered the command like any other desktop.
    DesktopHotkey(HotkeyMonitor &hotkeys, Desktop desktop, CommandShortcut *gnome, QObject *parent = nullptr);

    bool works() const;
    QString problem() const;
    Way way() const;
    bool offersGnomeShortcut() const { return way() == Way::gnome; }
    bool offersSwayLine() const { return way() == Way::wlroots; }
    bool offersCommand() const { return way() == Way::other; }
    QString command() const { return m_command; }
    QString swayLine() const;
    bool gnomeShortcutSet() const { return m_gnomeSet; }
    bool busy() const { return m_busy; }
    bool holdToTalkPossible() const;

    // Reads whether GNOME has the schema and Murmel's shortcut; the properties follow.
    Q_INVOKABLE void refresh();
    // Writes Murmel's shortcut into GNOME's settings with the current keys, or takes it out.
    Q_INVOKABLE void addGnomeShortcut();
    Q_INVOKABLE void removeGnomeShortcut();

Q_SIGNALS:
    void changed();

private:
    void followHotkey();
    void finishWrite();

    HotkeyMonitor &m_hotkeys;
    Desktop m_desktop;
    CommandShortcut *m_gnome;
    QString m_command;
    bool m_gnomeSupported = false;
    bool m_gnomeSet = false;
    bool m_busy = false;
    bool m_followAgain = false;
};
