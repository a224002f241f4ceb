#pragma once

#include <QIcon>
#include <QObject>
#include <QSystemTrayIcon>

#include <memory>

class MurAction;
class QMenu;

// Murmel's icon in the desktop's panel (a StatusNotifierItem where the panel has a watcher
// for them, as KDE Plasma and GNOME's AppIndicator extension do, else an XEmbed tray icon),
// with its context menu. The menu shows the application's own commands, with their titles
// and whether they can be given now; a middle click gives the dictation command.
//
// Lives on the GUI thread of a QApplication (the tray and its menu are widgets). The actions
// must outlive the icon.
class TrayIcon final : public QObject
{
    Q_OBJECT

public:
    struct Menu
    {
        MurAction &toggleDictation;
        MurAction &transcribeFile;
        MurAction &openSettings;
        MurAction &quit;
    };

    explicit TrayIcon(const Menu &menu, QObject *parent = nullptr);
    ~TrayIcon() override;

    bool isRecording() const { return m_recording; }
    // The icon and the tooltip follow it. Setting what it already is changes nothing, so the
    // panel is not asked to redraw.
    void setRecording(bool recording);

    // Shows the icon. Without a tray on this desktop it logs once why nothing appears, and
    // the icon goes up should a panel (a StatusNotifier host or an XEmbed tray) turn up later.
    void show();
    bool isVisible() const;

    // Whether the desktop has a tray the icon can appear in right now: a StatusNotifierWatcher
    // with a panel registered as its host, or an XEmbed tray on an X11 display. Decided here
    // rather than by Qt, whose answer differs between versions.
    static bool isTrayAvailable();

    // The tooltip ("Murmel", or "Murmel, recording"), also what screen readers hear.
    static QString toolTip(bool recording);

Q_SIGNALS:
    // The icon itself was clicked or activated: the small menu window should open.
    void menuWindowRequested();

private Q_SLOTS:
    void onHostRegistered();

private:
    void onActivated(QSystemTrayIcon::ActivationReason reason);
    void addEntry(MurAction &action);

    MurAction &m_toggleDictation;
    bool m_recording = false;
    QIcon m_idleIcon;
    QIcon m_recordingIcon;
    // The tray keeps a plain pointer to the menu: it is declared after it, so it goes first.
    std::unique_ptr<QMenu> m_menu;
    std::unique_ptr<QSystemTrayIcon> m_tray;
    bool m_reportedMissingTray = false;
    bool m_waitingForHost = false;
};
