#pragma once

#include "app/apikeyfield.h"
#include "app/automationservice.h"
#include "app/customizationlistmodel.h"
#include "app/desktophotkey.h"
#include "app/eyeegg.h"
#include "app/fileopenrouter.h"
#include "app/historyviewmodel.h"
#include "app/loginitem.h"
#include "app/murcommands.h"
#include "app/nav.h"
#include "app/onboarding.h"
#include "app/permissions.h"
#include "app/settingsmodel.h"
#include "app/updatechecker.h"
#include "dictation/dictationcontroller.h"
#include "dictation/hotkeymonitor.h"
#include "dictation/hotkeyrecorder.h"
#include "dictation/hudcontroller.h"
#include "dictation/sounds.h"
#include "dictation/voice.h"
#include "insert/clickinserter.h"
#include "insert/clipboardsafeinsertservice.h"
#include "insert/keyboardroutes.h"
#include "insert/textinserter.h"
#include "platform/atspiannouncer.h"
#include "platform/atspifocustracker.h"
#include "platform/desktopappearance.h"
#include "platform/desktopurlopener.h"
#include "platform/filechooser.h"
#include "platform/gnomecustomshortcut.h"
#include "platform/espeaksynthesizer.h"
#include "platform/logindactivity.h"
#include "platform/portalhotkeybackend.h"
#include "platform/portalkeyboardinjector.h"
#include "platform/pulseaudiosource.h"
#include "platform/qtclipboard.h"
#include "platform/qtsoundplayer.h"
#include "platform/quickhudpanel.h"
#include "platform/quickmainwindow.h"
#include "platform/sessiontype.h"
#include "platform/trayicon.h"
#include "platform/x11clickobserver.h"
#include "platform/x11clipboard.h"
#include "platform/x11focusprobe.h"
#include "platform/x11hotkeybackend.h"
#include "platform/x11keyboardinjector.h"
#include "platform/wayland/datacontrolclipboard.h"
#include "platform/wayland/fakeinputinjector.h"
#include "platform/wayland/virtualkeyboardinjector.h"
#include "platform/wayland/waylandconnection.h"
#include "platform/wayland/waylandfocusprobe.h"
#include "platform/xkbkeyboardlayout.h"
#include "transcripts/filetranscriptionmodel.h"

#include <memory>

// The running application's objects, each created once, in the order their dependencies
// need: the desktop's facilities first, then the services over them, then the dictation
// controller that uses them all. Nothing here has logic of its own; it only connects.
//
// Main thread only; created after the QApplication and destroyed before it.
class Application final
{
public:
    Application();

    Application(const Application &) = delete;
    Application &operator=(const Application &) = delete;

    // Takes the bus name that makes this the one running Murmel, with the automation
    // interface behind it. False when another Murmel owns it: this one should hand its
    // request over and exit. Without a session bus Murmel runs alone and unreachable.
    bool claimInstance();

    // The Qt Quick main window, once the scene has loaded.
    void setMainWindow(QWindow *window) { m_mainWindow.setWindow(window); }

    // Starts what watches the desktop (focus, the hotkey), shows the tray icon and warms the
    // dictation model up once onboarding is done.
    void start();

    DictationController &dictation() { return m_dictation; }
    HotkeyMonitor &hotkeys() { return m_hotkeys; }
    ClickInserter &clickInserter() { return m_clickInserter; }
    Nav &nav() { return m_nav; }
    FileOpenRouter &fileOpenRouter() { return m_router; }
    MurCommands &commands() { return m_commands; }
    UpdateChecker &updates() { return m_updates; }
    LoginItem &loginItem() { return m_loginItem; }
    FileTranscriptionModel &fileModel() { return m_fileModel; }
    DesktopAppearance &appearance() { return m_appearance; }
    FileChooser &fileChooser() { return m_fileChooser; }

    // What the screens show, each over the services above.
    struct Screens
    {
        SettingsModel &settings;
        Permissions &permissions;
        DesktopHotkey &desktopHotkey;
        HotkeyRecorder &hotkeyRecorder;
        ApiKeyField &apiKey;
        CustomizationListModel &styles;
        CustomizationListModel &dictionary;
        HistoryViewModels &histories;
        Onboarding &onboarding;
        EyeEgg &homeEgg;
        EyeEgg &aboutEgg;
    };
    Screens screens()
    {
        return {m_settings, m_permissions, m_desktopHotkey, m_recorder, m_apiKey,     m_styles,
                m_dictionary, m_histories, m_onboarding, m_homeEgg, m_aboutEgg};
    }

private:
    QList<HotkeyBackend *> hotkeyBackends();
    Clipboard &chooseClipboard();
    void connectTray();
    void connectFileOpening();
    EyeEgg::Collaborators eggVoice();

    // The desktop. In a Wayland session Murmel has a connection of its own to the
    // compositor, whatever platform Qt's windows use.
    WaylandConnection m_wayland;
    SessionType m_session;
    // The clipboard, the keys and the focus: each path the session offers, and the ones
    // chosen for it.
    QtClipboard m_qtClipboard;
    DataControlClipboard m_dataControl;
    // Made only in a Wayland session that lacks data-control.
    std::unique_ptr<X11Clipboard> m_x11Clipboard;
    Clipboard &m_clipboard;
    X11KeyboardInjector m_xtest;
    VirtualKeyboardInjector m_virtualKeyboard;
    FakeInputInjector m_fakeInput;
    PortalKeyboardInjector m_portalKeys;
    AtspiFocusTracker m_focusTracker;
    X11FocusProbe m_x11Focus;
    WaylandFocusProbe m_waylandFocus;
    FocusProbe &m_focusProbe;
    KeyboardRoutes m_keyboard;
    PulseAudioSource m_microphone;
    QtSoundPlayer m_soundPlayer;
    EspeakSynthesizer m_synthesizer;
    AtspiAnnouncer m_announcer;
    LogindActivity m_activity;
    X11HotkeyBackend m_x11Hotkeys;
    PortalHotkeyBackend m_portalHotkeys;
    QuickHUDPanel m_hudPanel;
    X11ClickObserver m_clickObserver;
    QuickMainWindow m_mainWindow;
    DesktopUrlOpener m_urls;
    TrayIcon m_tray;
    XkbKeyboardLayout m_layout;
    DesktopAppearance m_appearance;
    FileChooser m_fileChooser;

    // The services over it.
    Sounds m_sounds;
    Voice m_voice;
    ClipboardSafeInsertService m_safeInsert;
    TextInserter m_inserter;
    HotkeyMonitor m_hotkeys;
    HUDController m_hud;
    ClickInserter m_clickInserter;
    DictationController m_dictation;
    FileTranscriptionModel m_fileModel;

    // The shell around it.
    Nav m_nav;
    FileOpenRouter m_router;
    UpdateChecker m_updates;
    LoginItem m_loginItem;
    MurCommands m_commands;
    AutomationService m_automation;

    // The screens' models.
    GnomeCustomShortcut m_gnomeShortcut;
    DesktopHotkey m_desktopHotkey;
    Permissions m_permissions;
    HotkeyRecorder m_recorder;
    ApiKeyField m_apiKey;
    CustomizationListModel m_styles;
    CustomizationListModel m_dictionary;
    HistoryViewModels m_histories;
    SettingsModel m_settings;
    Onboarding m_onboarding;
    EyeEgg m_homeEgg;
    EyeEgg m_aboutEgg;
};
