#pragma once

#include <QIcon>
#include <QObject>
#include <QSystemTrayIcon>

#include <memory>

class QAction;
class QMenu;

// Murmel's icon in the desktop's panel (a StatusNotifierItem where the panel has a watcher
// for them, as KDE Plasma and GNOME's AppIndicator extension do, else an XEmbed tray icon),
// with its context menu. It only shows a state and reports what the user asked for; the
// application connects the requests to the dictation controller and the windows.
//
// Lives on the GUI thread of a QApplication (the tray and its menu are widgets).
class TrayIcon final : public QObject
{
    Q_OBJECT

public:
    enum class State { idle, recording, working };
    Q_ENUM(State)

    explicit TrayIcon(QObject *parent = nullptr);
    ~TrayIcon() override;

    State state() const { return m_state; }
    // The icon, the tooltip and the first menu item follow the state. Setting the state it
    // already has changes nothing, so the panel is not asked to redraw.
    void setState(State state);

    // Shows the icon. Without a tray on this desktop it logs once why nothing appears, and
    // the icon goes up should a panel (a StatusNotifier host or an XEmbed tray) turn up later.
    void show();
    bool isVisible() const;

    // Whether the desktop has a tray the icon can appear in right now: a StatusNotifierWatcher
    // with a panel registered as its host, or an XEmbed tray on an X11 display. Decided here
    // rather than by Qt, whose answer differs between versions.
    static bool isTrayAvailable();

    // The tooltip for a state ("Murmel", or "Murmel, recording"), also what screen readers
    // hear for the icon.
    static QString toolTip(State state);

Q_SIGNALS:
    // The first menu item ("Start Dictation" or "Stop Dictation"), or a middle click.
    void toggleDictationRequested();
    void transcribeFileRequested();
    void settingsRequested();
    void quitRequested();
    // The icon itself was clicked or activated: the small menu window should open.
    void menuWindowRequested();

private Q_SLOTS:
    void onHostRegistered();

private:
    void onActivated(QSystemTrayIcon::ActivationReason reason);
    void apply();

    State m_state = State::idle;
    QIcon m_idleIcon;
    QIcon m_recordingIcon;
    // The tray keeps a plain pointer to the menu: it is declared after it, so it goes first.
    std::unique_ptr<QMenu> m_menu;
    std::unique_ptr<QSystemTrayIcon> m_tray;
    QAction *m_toggleAction = nullptr;
    bool m_reportedMissingTray = false;
    bool m_waitingForHost = false;
};
