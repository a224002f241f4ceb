#pragma once

#include "gui/viewmodels/nav.h"
#include "gui/viewmodels/qmlsingleton.h"
#include "shell/muraction.h"

#include <QObject>
#include <QStringList>
#include <QUrl>
#include <QtQml/qqmlregistration.h>

#include <optional>

class DictationController;
class FileOpenRouter;
class MainWindowHost;
class UpdateChecker;
class UrlOpener;

// Every command of the application shell, whichever way the user reaches it: the main
// window's menus and shortcuts, the tray's menu, the menu window, the launcher's actions,
// files handed over from outside, and the automation interface. Each is a call into the
// dictation controller, the navigation state or a desktop service; none has logic of its
// own beyond choosing which. The commands the menus show are actions, so a title and whether
// it can be given now are worked out once, here.
//
// Main thread only. The collaborators must outlive it.
class MurCommands final : public QObject, public QmlSingleton<MurCommands>
{
    Q_OBJECT
    QML_NAMED_ELEMENT(Commands)
    QML_SINGLETON
    // "Start Dictation", or "Stop Dictation" while recording; off while a dictation is being
    // processed, when a start or stop would do nothing. Leaves the window where it is.
    Q_PROPERTY(MurAction *toggleDictation READ toggleDictation CONSTANT)
    // The rest bring the main window forward, so the user sees where they led.
    Q_PROPERTY(MurAction *transcribeFile READ transcribeFile CONSTANT)
    Q_PROPERTY(MurAction *openSettings READ openSettings CONSTANT)
    // The settings' General tab, where the hotkey is.
    Q_PROPERTY(MurAction *setHotkey READ setHotkey CONSTANT)
    Q_PROPERTY(MurAction *showHome READ showHome CONSTANT)
    Q_PROPERTY(MurAction *showHistory READ showHistory CONSTANT)
    // Home from any other screen; nothing on home. The window stays where it is.
    Q_PROPERTY(MurAction *back READ back CONSTANT)
    Q_PROPERTY(MurAction *openHelp READ openHelp CONSTANT)
    Q_PROPERTY(MurAction *contactSupport READ contactSupport CONSTANT)
    // Off, and saying so, in a build without a release manifest.
    Q_PROPERTY(MurAction *checkForUpdates READ checkForUpdates CONSTANT)
    Q_PROPERTY(MurAction *quit READ quit CONSTANT)

public:
    struct Collaborators
    {
        DictationController &dictation;
        Nav &nav;
        FileOpenRouter &router;
        MainWindowHost &window;
        UrlOpener &urls;
        UpdateChecker &updates;
    };

    explicit MurCommands(const Collaborators &collaborators, QObject *parent = nullptr);

    MurAction *toggleDictation() { return &m_toggleDictation; }
    MurAction *transcribeFile() { return &m_transcribeFile; }
    MurAction *openSettings() { return &m_openSettings; }
    MurAction *setHotkey() { return &m_setHotkey; }
    MurAction *showHome() { return &m_showHome; }
    MurAction *showHistory() { return &m_showHistory; }
    MurAction *back() { return &m_back; }
    MurAction *openHelp() { return &m_openHelp; }
    MurAction *contactSupport() { return &m_contactSupport; }
    MurAction *checkForUpdates() { return &m_checkForUpdates; }
    MurAction *quit() { return &m_quit; }

    // The launcher's "Start Dictation": starts one, and never stops it.
    void startDictation();
    // Files handed to Murmel from outside: only the first is used. Each entry is an
    // absolute path or a file URL; anything else is refused (false) and changes nothing.
    bool openFiles(const QStringList &files);
    Q_INVOKABLE void showMainWindow();
    // The launcher's leave to take the focus, used by the next showMainWindow().
    void setActivationToken(const QString &token);
    // The small window of the tray icon, which the scene shows.
    void showMenuWindow();

    // The local file an absolute path or a "file:" URL names; nothing for a relative path
    // (whose meaning depends on a working folder we do not share) or another scheme.
    static std::optional<QUrl> localFileUrl(const QString &pathOrUrl);

Q_SIGNALS:
    void menuWindowRequested();

private:
    void followDictation();
    // Makes `action` show `screen` in the main window.
    void leadTo(MurAction &action, Nav::MurScreen screen);

    DictationController &m_dictation;
    Nav &m_nav;
    FileOpenRouter &m_router;
    MainWindowHost &m_window;
    UrlOpener &m_urls;
    UpdateChecker &m_updates;
    MurAction m_toggleDictation;
    MurAction m_transcribeFile;
    MurAction m_openSettings;
    MurAction m_setHotkey;
    MurAction m_showHome;
    MurAction m_showHistory;
    MurAction m_back;
    MurAction m_openHelp;
    MurAction m_contactSupport;
    MurAction m_checkForUpdates;
    MurAction m_quit;
};
