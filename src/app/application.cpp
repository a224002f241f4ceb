#include "application.h"

#include "app/logging.h"
#include "app/preferencekeys.h"
#include "app/preferences.h"
#include "speech/modelstore.h"
#include "text/keychainhelper.h"
#include "transcripts/historystore.h"

#include <QDBusConnection>

Application::Application()
    : m_focusProbe(&m_focusTracker)
    , m_sounds(m_soundPlayer)
    , m_voice(m_synthesizer)
    , m_safeInsert(m_keyboard)
    , m_inserter(m_safeInsert, m_clipboard, m_keyboard, m_focusProbe)
    , m_hotkeys(Preferences::shared(), hotkeyBackends())
    , m_hud(m_hudPanel, m_announcer)
    , m_clickInserter(m_clickObserver, m_keyboard, m_inserter, m_hud, m_sounds)
    , m_dictation({m_microphone, Preferences::shared(), ModelStore::shared(), m_hotkeys, m_hud, m_sounds, m_inserter,
                   m_safeInsert, m_clickInserter, KeychainHelper::shared(), HistoryStore::shared(), m_activity})
    , m_automation(m_safeInsert)
{
    // The panel exists before the controller that drives it; its stop button needs the controller.
    m_hudPanel.setController(&m_hud);
}

QList<HotkeyBackend *> Application::hotkeyBackends()
{
    // On Wayland a key grab sees only the X clients of XWayland, so the desktop's portal
    // comes first there; on X11 the grab is immediate and needs no dialog.
    if (X11HotkeyBackend::isWaylandSession())
        return {&m_portalHotkeys, &m_x11Hotkeys};
    return {&m_x11Hotkeys, &m_portalHotkeys};
}

void Application::start()
{
    m_focusTracker.start();
    m_hotkeys.start();
    if (Preferences::shared().booleanOrDefault(PreferenceKeys::hasOnboarded))
        m_dictation.warmUp();
    if (!m_automation.registerOn(QDBusConnection::sessionBus()))
        qCWarning(lcApp) << "Scripts and murmel insert-last cannot reach this Murmel";
}
