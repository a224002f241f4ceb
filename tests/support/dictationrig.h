#pragma once

#include "core/base/preferences.h"
#include "core/dictation/dictationcontroller.h"
#include "core/dictation/hotkeymonitor.h"
#include "core/hud/hudcontroller.h"
#include "core/hud/sounds.h"
#include "core/insert/clickinserter.h"
#include "core/insert/clipboardsafeinsertservice.h"
#include "core/insert/textinserter.h"
#include "core/speech/modelstore.h"
#include "core/text/keychainhelper.h"
#include "core/transcripts/historystore.h"
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

#include <memory>

// Everything a controller works with: the genuine recorder, HUD controller, sounds, inserter,
// clipboard-safe service, click-to-insert, keychain helper, history and model store, over fakes
// at the platform boundary only.
class DictationRig final
{
public:
    DictationRig(Preferences &preferences, const QString &historyFile, const QString &modelsFolder)
        : sounds(player, preferences)
        , inserter(safeInsert, clipboard, keyboard, focus, preferences)
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
    Sounds sounds;
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

