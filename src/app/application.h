#pragma once

#include "app/automationservice.h"
#include "dictation/dictationcontroller.h"
#include "dictation/hotkeymonitor.h"
#include "dictation/hudcontroller.h"
#include "dictation/sounds.h"
#include "dictation/voice.h"
#include "insert/clickinserter.h"
#include "insert/clipboardsafeinsertservice.h"
#include "insert/textinserter.h"
#include "platform/atspiannouncer.h"
#include "platform/atspifocustracker.h"
#include "platform/espeaksynthesizer.h"
#include "platform/logindactivity.h"
#include "platform/portalhotkeybackend.h"
#include "platform/qtaudiosource.h"
#include "platform/qtclipboard.h"
#include "platform/qtsoundplayer.h"
#include "platform/quickhudpanel.h"
#include "platform/x11clickobserver.h"
#include "platform/x11focusprobe.h"
#include "platform/x11hotkeybackend.h"
#include "platform/x11keyboardinjector.h"

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

    // Starts what watches the desktop (focus, the hotkey), warms the dictation model up once
    // onboarding is done, and takes the bus name last, so a script that sees the name can
    // use everything.
    void start();

    DictationController &dictation() { return m_dictation; }
    HotkeyMonitor &hotkeys() { return m_hotkeys; }
    ClickInserter &clickInserter() { return m_clickInserter; }

private:
    QList<HotkeyBackend *> hotkeyBackends();

    // The desktop.
    QtClipboard m_clipboard;
    X11KeyboardInjector m_keyboard;
    AtspiFocusTracker m_focusTracker;
    X11FocusProbe m_focusProbe;
    QtAudioSource m_microphone;
    QtSoundPlayer m_soundPlayer;
    EspeakSynthesizer m_synthesizer;
    AtspiAnnouncer m_announcer;
    LogindActivity m_activity;
    X11HotkeyBackend m_x11Hotkeys;
    PortalHotkeyBackend m_portalHotkeys;
    QuickHUDPanel m_hudPanel;
    X11ClickObserver m_clickObserver;

    // The services over it.
    Sounds m_sounds;
    Voice m_voice;
    ClipboardSafeInsertService m_safeInsert;
    TextInserter m_inserter;
    HotkeyMonitor m_hotkeys;
    HUDController m_hud;
    ClickInserter m_clickInserter;
    DictationController m_dictation;
    AutomationService m_automation;
};
