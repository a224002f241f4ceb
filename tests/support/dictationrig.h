#pragma once

#include "app/preferences.h"
#include "dictation/dictationcontroller.h"
#include "dictation/hotkeymonitor.h"
#include "dictation/hudcontroller.h"
#include "dictation/sounds.h"
#include "fakes/fakeannouncer.h"
#include "fakes/fakeaudiosource.h"
#include "fakes/fakeclickobserver.h"
#include "fakes/fakeclipboard.h"
#include "fakes/fakefocusprobe.h"
#include "fakes/fakehotkeybackend.h"
#include "fakes/fakehudpanel.h"
#include "fakes/fakekeyboardinjector.h"
#include "fakes/fakeprocessactivity.h"
#include "fakes/fakesoundplayer.h"
#include "fakesecretstore.h"
#include "insert/clickinserter.h"
#include "insert/clipboardsafeinsertservice.h"
#include "insert/textinserter.h"
#include "speech/modelstore.h"
#include "text/keychainhelper.h"
#include "transcripts/historystore.h"

#include <memory>

// Everything a controller works with: the genuine recorder, HUD controller, sounds, inserter,
// clipboard-safe service, click-to-insert, keychain helper, history and model store, over fakes
// at the platform boundary only.
class DictationRig final
{
public:
    DictationRig(Preferences &preferences, const QString &historyFile, const QString &modelsFolder)
        : inserter(safeInsert, clipboard, keyboard, focus, preferences)
        , history(historyFile, preferences)
        , hotkeys(preferences, {&hotkeyBackend})
        , models(modelsFolder)
        , controller(std::make_unique<DictationController>(DictationController::Collaborators{
              microphone, preferences, models, hotkeys, hud, sounds, inserter, safeInsert, clickInserter,
              keychain, history, activity}))
    {
        clickInserter.setDelays(2000, 0);
    }

    FakeAudioSource microphone;
    FakeHUDPanel panel;
    FakeAnnouncer announcer;
    HUDController hud{panel, announcer};
    FakeSoundPlayer player;
    Sounds sounds{player};
    FakeClipboard clipboard;
    FakeKeyboardInjector keyboard;
    FakeFocusProbe focus;
    ClipboardSafeInsertService safeInsert{keyboard};
    TextInserter inserter;
    FakeClickObserver clicks;
    ClickInserter clickInserter{clicks, keyboard, inserter, hud, sounds};
    FakeSecretStore secrets;
    KeychainHelper keychain{secrets};
    HistoryStore history;
    FakeProcessActivity activity;
    FakeHotkeyBackend hotkeyBackend;
    HotkeyMonitor hotkeys;
    ModelStore models;
    std::unique_ptr<DictationController> controller;
};

