#include "app/application.h"

#include "core/base/logging.h"
#include "core/base/paths.h"
#include "core/base/preferencekeys.h"
#include "core/speech/whisper.h"
#include "core/speech/workerstop.h"
#include "core/text/keychainhelper.h"
#include "gui/viewmodels/qmlsingleton.h"
#include "platform/audio/audioinputprobe.h"
#include "platform/wayland/keymap.h"

#include <QDBusConnection>
#include <QGuiApplication>

namespace {

SessionType detectSession(const WaylandConnection &wayland)
{
    const SessionType session = SessionType::classify(QProcessEnvironment::systemEnvironment(), wayland.interfaces());
    qCInfo(lcApp).noquote() << "session:" << session.description();
    return session;
}

DesktopHotkey::Desktop desktopOf(const SessionType &session)
{
    if (!session.isWayland())
        return DesktopHotkey::Desktop::x11;
    switch (session.compositor) {
    case SessionType::Compositor::mutter:
        return DesktopHotkey::Desktop::gnome;
    case SessionType::Compositor::wlroots:
        return DesktopHotkey::Desktop::wlroots;
    case SessionType::Compositor::kwin:
        return DesktopHotkey::Desktop::kde;
    case SessionType::Compositor::none:
    case SessionType::Compositor::other:
        break;
    }
    return DesktopHotkey::Desktop::other;
}

} // namespace

Application::Application()
    : m_preferences(Paths::preferencesFile())
    , m_models(Paths::modelsDirectory())
    , m_history(Paths::historyFile(), m_preferences)
    , m_customization(m_preferences)
    , m_session(detectSession(m_wayland))
    , m_dataControl(m_wayland)
    , m_clipboard(chooseClipboard())
    , m_virtualKeyboard(m_wayland)
    , m_fakeInput(m_wayland)
    , m_portalKeys(QDBusConnection::sessionBus(),
                   {[this] { return m_preferences.stringOrDefault(PreferenceKeys::remoteDesktopToken); },
                    [this](const QString &token) {
                        if (token.isEmpty())
                            m_preferences.remove(PreferenceKeys::remoteDesktopToken);
                        else
                            m_preferences.setString(PreferenceKeys::remoteDesktopToken, token);
                    }},
                   [this](const QList<uint32_t> &keysyms) {
                       const Keymap keymap = Keymap::ofSeat(m_wayland);
                       return std::all_of(keysyms.cbegin(), keysyms.cend(),
                                          [&](uint32_t keysym) { return keymap.find(keysym).keycode != 0; });
                   })
    , m_x11Focus(&m_focusTracker, {}, m_session.isWayland())
    , m_waylandFocus(m_wayland, m_x11Focus, &m_focusTracker)
    , m_focusProbe(m_session.isWayland() ? static_cast<FocusProbe &>(m_waylandFocus) : m_x11Focus)
    // The compositor's own keys reach every window; XTEST only XWayland's, so it comes last.
    // The portal's session counts once the desktop has granted it.
    , m_keyboard(m_focusProbe, {&m_virtualKeyboard, &m_portalKeys, &m_fakeInput, &m_xtest},
                 m_session.isWayland() ? FocusProbe::Window::wayland : FocusProbe::Window::x11)
    , m_hudPanel(m_session.isWayland())
    , m_clickObserver({}, m_session.isWayland())
    , m_keychain(m_secrets)
    , m_sounds(m_soundPlayer, m_preferences)
    , m_voice(m_synthesizer, m_preferences)
    , m_safeInsert(m_keyboard)
    , m_inserter(m_safeInsert, m_clipboard, m_keyboard, m_focusProbe, m_preferences)
    , m_hotkeys(m_preferences, hotkeyBackends())
    , m_hud(m_hudPanel, m_announcer)
    , m_clickInserter(m_clickObserver, m_keyboard, m_inserter, m_hud, m_sounds)
    , m_dictation({m_microphone, m_preferences, m_models, m_hotkeys, m_hud, m_sounds, m_inserter,
                   m_safeInsert, m_clickInserter, m_keychain, m_history, m_activity})
    , m_fileModel({m_models, m_preferences, m_history, m_sounds, m_voice, m_clipboard,
                   m_clickInserter, m_activity})
    , m_nav(nullptr)
    , m_updates(UpdateChecker::manifestUrl())
    , m_commands({m_dictation, m_nav, m_router, m_mainWindow, m_urls, m_updates})
    , m_tray({*m_commands.toggleDictation(), *m_commands.transcribeFile(), *m_commands.openSettings(),
              *m_commands.quit()})
    , m_automation({m_safeInsert, m_dictation, m_commands, m_models, m_preferences})
    , m_modelList(m_models)
    , m_desktopHotkey(m_hotkeys, desktopOf(m_session), &m_gnomeShortcut)
    , m_permissions({AudioInputProbe::hasInput, [this] { return m_keyboard.isTrusted(); },
                     [this] { return m_desktopHotkey.works(); },
                     [this](Permissions::Kind which) {
                         // Pasting needs no grant on X11: the rows only look again. On
                         // Wayland the desktop's RemoteDesktop portal asks the user once.
                         // The hotkey may have been refused or taken; ask for it once more.
                         if (which == Permissions::Kind::hotkey)
                             m_hotkeys.ensureTap();
                         else if (which == Permissions::Kind::paste && m_session.isWayland())
                             m_portalKeys.openSession(true);
                     }})
    , m_recorder(m_hotkeys, m_preferences, &m_layout)
    , m_apiKey(m_keychain)
    , m_styles(m_customization, CustomizationListModel::List::styles)
    , m_dictionary(m_customization, CustomizationListModel::List::rules)
    , m_histories(m_history, m_clipboard)
    , m_settings({m_preferences, &m_history, &m_safeInsert, &m_loginItem, &m_nav,
                  &m_models, &m_customization, &Whisper::graphicsCardName})
    , m_onboarding({m_preferences, m_permissions, m_settings, m_models,
                    [this] { m_hotkeys.ensureTap(); },
                    [this] { m_voice.speak(QObject::tr("Murmel is ready.")); }})
    , m_homeEgg(eggVoice())
    , m_aboutEgg(eggVoice())
{
    // The panel exists before the controller that drives it; its stop button needs the controller.
    m_hudPanel.setController(&m_hud);
    QObject::connect(&m_desktopHotkey, &DesktopHotkey::changed, &m_permissions, &Permissions::refresh);
    // Quitting stops the work on worker threads and gives the bus name back at once, so a
    // new launch finds no half-gone Murmel while the last of it winds down.
    QObject::connect(qApp, &QCoreApplication::aboutToQuit, qApp, [this] {
        WorkerStop::requestAll();
        m_automation.release();
    });
    connectTray();
    connectFileOpening();
    handToQml();
}

void Application::handToQml()
{
    ::exposeToQml(&m_dictation, &m_models, &m_modelList, &m_recorder, &m_nav, &m_settings, &m_permissions,
                  &m_desktopHotkey, &m_apiKey, &m_histories, &m_onboarding, &m_commands, &m_updates, &m_appearance,
                  &m_fileModel, &m_fileChooser);
    // The classes with two instances on the screens tell them apart by their singletons.
    QmlSingleton<CustomizationListModel, StylesSingleton>::setInstance(&m_styles);
    QmlSingleton<CustomizationListModel, DictionaryRulesSingleton>::setInstance(&m_dictionary);
    QmlSingleton<EyeEgg, HomeEggSingleton>::setInstance(&m_homeEgg);
    QmlSingleton<EyeEgg, AboutEggSingleton>::setInstance(&m_aboutEgg);
}

Clipboard &Application::chooseClipboard()
{
    if (!m_session.isWayland())
        return m_qtClipboard;
    // Qt's own Wayland clipboard is taken only right after an input event of ours. A
    // data-control protocol needs none; without one (GNOME), the X clipboard of XWayland is
    // copied over to Wayland's by the compositor.
    if (m_dataControl.isAvailable())
        return m_dataControl;
    m_x11Clipboard = std::make_unique<X11Clipboard>();
    if (m_x11Clipboard->isAvailable())
        return *m_x11Clipboard;
    return m_qtClipboard;
}

void Application::connectFileOpening()
{
    // A file handed over from outside goes straight to the file screen: it ends onboarding
    // (the user plainly knows what they want) and starts at once, whether or not the window
    // has finished loading.
    QObject::connect(&m_router, &FileOpenRouter::pendingUrlChanged, &m_fileModel, [this] {
        if (m_router.pendingUrl().isEmpty())
            return;
        m_onboarding.dismiss();
        m_nav.setScreen(Nav::MurScreen::file);
        m_fileModel.handle(m_router.take());
    });
}

EyeEgg::Collaborators Application::eggVoice()
{
    return {[this](const QString &phrase) { m_voice.speak(phrase); }, [this] { m_sounds.play(QStringLiteral("Funk")); }};
}

void Application::connectTray()
{
    QObject::connect(&m_dictation, &DictationController::statusChanged, &m_tray, [this] {
        m_tray.setRecording(m_dictation.status() == DictationController::Status::recording);
    });
    QObject::connect(&m_tray, &TrayIcon::menuWindowRequested, &m_commands, &MurCommands::showMenuWindow);
}

bool Application::claimInstance()
{
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected()) {
        qCWarning(lcApp) << "no session bus: this Murmel runs alone, and scripts cannot reach it";
        return true;
    }
    return m_automation.registerOn(bus);
}

QList<HotkeyBackend *> Application::hotkeyBackends()
{
    // On Wayland a key grab sees only the X clients of XWayland, so the desktop's portal
    // comes first there; on X11 the grab is immediate and needs no dialog.
    if (m_session.isWayland())
        return {&m_portalHotkeys, &m_x11Hotkeys};
    return {&m_x11Hotkeys, &m_portalHotkeys};
}

void Application::start()
{
    // A grant from an earlier run opens its session without the desktop's dialog; a desktop
    // without the portal answers the first request with an error, and nothing waits on it.
    QObject::connect(&m_portalKeys, &PortalKeyboardInjector::trustChanged, &m_permissions, &Permissions::refresh);
    if (m_session.isWayland() && !m_virtualKeyboard.isTrusted())
        m_portalKeys.openSession(false);
    m_focusTracker.start();
    m_hotkeys.start();
    m_desktopHotkey.refresh();
    // A hotkey the desktop refused at start (the portal's dialog declined, the grab taken)
    // is tried again when the user comes back to Murmel, as after changing a setting.
    QObject::connect(qApp, &QGuiApplication::applicationStateChanged, &m_hotkeys, [this](Qt::ApplicationState state) {
        if (state == Qt::ApplicationActive)
            m_hotkeys.ensureTap();
    });
    m_tray.show();
    m_appearance.start();
    // Until onboarding is done the user has not chosen a model; loading one would only
    // compete with the download they may start.
    if (m_onboarding.isShowing())
        QObject::connect(&m_onboarding, &Onboarding::done, &m_dictation, [this] { m_dictation.warmUp(); });
    else
        m_dictation.warmUp();
}
