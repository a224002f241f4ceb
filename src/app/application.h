#pragma once

#include "core/base/loginitem.h"
#include "core/base/preferences.h"
#include "core/dictation/dictationcontroller.h"
#include "core/dictation/hotkeymonitor.h"
#include "core/dictation/hotkeyrecorder.h"
#include "core/hud/hudcontroller.h"
#include "core/hud/sounds.h"
#include "core/hud/voice.h"
#include "core/insert/clickinserter.h"
#include "core/insert/clipboardsafeinsertservice.h"
#include "core/insert/keyboardroutes.h"
#include "core/insert/textinserter.h"
#include "core/speech/modellistmodel.h"
#include "core/speech/modelstore.h"
#include "core/text/customizationstore.h"
#include "core/text/keychainhelper.h"
#include "core/transcripts/historystore.h"
#include "gui/viewmodels/apikeyfield.h"
#include "gui/viewmodels/customizationlistmodel.h"
#include "gui/viewmodels/desktophotkey.h"
#include "gui/viewmodels/eyeegg.h"
#include "gui/viewmodels/filetranscriptionmodel.h"
#include "gui/viewmodels/historyviewmodel.h"
#include "gui/viewmodels/nav.h"
#include "gui/viewmodels/onboarding.h"
#include "gui/viewmodels/permissions.h"
#include "gui/viewmodels/settingsmodel.h"
#include "platform/audio/espeaksynthesizer.h"
#include "platform/audio/pulseaudiosource.h"
#include "platform/audio/qtsoundplayer.h"
#include "platform/portal/desktopappearance.h"
#include "platform/portal/filechooser.h"
#include "platform/portal/portalhotkeybackend.h"
#include "platform/portal/portalkeyboardinjector.h"
#include "platform/session/atspiannouncer.h"
#include "platform/session/atspifocustracker.h"
#include "platform/session/desktopurlopener.h"
#include "platform/session/gnomecustomshortcut.h"
#include "platform/session/logindactivity.h"
#include "platform/session/qtclipboard.h"
#include "platform/session/qtkeychainstore.h"
#include "platform/session/sessiontype.h"
#include "platform/wayland/datacontrolclipboard.h"
#include "platform/wayland/fakeinputinjector.h"
#include "platform/wayland/virtualkeyboardinjector.h"
#include "platform/wayland/waylandconnection.h"
#include "platform/wayland/waylandfocusprobe.h"
#include "platform/x11/x11clickobserver.h"
#include "platform/x11/x11clipboard.h"
#include "platform/x11/x11focusprobe.h"
#include "platform/x11/x11hotkeybackend.h"
#include "platform/x11/x11keyboardinjector.h"
#include "platform/x11/xkbkeyboardlayout.h"
#include "shell/automationservice.h"
#include "shell/fileopenrouter.h"
#include "shell/murcommands.h"
#include "shell/tray/trayicon.h"
#include "shell/updatechecker.h"
#include "shell/windows/quickhudpanel.h"
#include "shell/windows/quickmainwindow.h"

#include <memory>

// The running application's objects, each created once, in the order their dependencies
// need: the desktop's facilities first, then the services over them, then the dictation
// controller that uses them all. Nothing here has logic of its own; it only connects, and
// hands QML the objects its screens show (as the singletons they declare).
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

    MurCommands &commands() { return m_commands; }

private:
    QList<HotkeyBackend *> hotkeyBackends();
    Clipboard &chooseClipboard();
    void connectTray();
    void connectFileOpening();
    void handToQml();
    EyeEgg::Collaborators eggVoice();

    // The user's files, which outlive everything that reads them.
    Preferences m_preferences;
    ModelStore m_models;
    HistoryStore m_history;
    CustomizationStore m_customization;
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
    XkbKeyboardLayout m_layout;
    DesktopAppearance m_appearance;
    FileChooser m_fileChooser;
    QtKeychainStore m_secrets;
    GnomeCustomShortcut m_gnomeShortcut;

    // The services over it.
    KeychainHelper m_keychain;
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
    TrayIcon m_tray;
    AutomationService m_automation;

    // The screens' models.
    ModelListModel m_modelList;
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
