// What our dictation pipeline adds to the engine's time: from the stop request to the paste
// key event, less the engine's own transcription time, over N dictations of the same speech.
// The controller runs with its real recorder, model store, transcriber, dictionary, display
// timing, inserter and history; only the desktop (microphone, keys, panel) is simulated, and
// the paste is timed when its key event would be sent.
//   dictationlatency SPEECH.wav [RUNS]   (the environment names the model, as bench/latency.sh sets it)
#include "core/base/paths.h"
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
#include "core/transcripts/audiofiledecoder.h"
#include "core/transcripts/historystore.h"

#include "fakes/fakeannouncer.h"
#include "fakes/fakeaudiosource.h"
#include "fakes/fakeclickobserver.h"
#include "fakes/fakeclipboard.h"
#include "fakes/fakefocusprobe.h"
#include "fakes/fakehudpanel.h"
#include "fakes/fakeprocessactivity.h"
#include "fakes/fakesoundplayer.h"
#include "support/fakesecretstore.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QStandardPaths>

#include <algorithm>
#include <cstdio>

namespace {

// Notes the moment the paste keys would go out; everything else succeeds at once.
class TimedKeyboard final : public KeyboardInjector
{
public:
    explicit TimedKeyboard(const QElapsedTimer &clock) : m_clock(clock) {}
    bool isTrusted() const override { return true; }
    bool reaches(FocusProbe::Window) const override { return true; }
    QCoro::Task<bool> paste(PasteKeys) override
    {
        pastedAt = m_clock.nsecsElapsed();
        co_return true;
    }
    QCoro::Task<bool> type(QString) override { co_return true; }

    qint64 pastedAt = -1;

private:
    const QElapsedTimer &m_clock;
};

double median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    const size_t n = values.size();
    return n % 2 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    const QStringList arguments = app.arguments();
    if (arguments.size() < 2) {
        std::fprintf(stderr, "usage: dictationlatency SPEECH.wav [RUNS]\n");
        return 2;
    }
    const int runs = arguments.size() > 2 ? arguments.at(2).toInt() : 20;
    const DecodeResult decoded = AudioFileDecoder::decodeNow(arguments.at(1), 100);
    if (!std::holds_alternative<DecodedAudio>(decoded)) {
        std::fprintf(stderr, "cannot decode %s\n", qPrintable(arguments.at(1)));
        return 1;
    }
    const AudioFrames speech = std::get<DecodedAudio>(decoded).samples;

    QElapsedTimer clock;
    clock.start();
    FakeAudioSource microphone;
    FakeClipboard clipboard;
    FakeFocusProbe focus;
    focus.target = {FocusProbe::Window::x11, QStringLiteral("editor editor"), FocusProbe::Editable::yes};
    TimedKeyboard keyboard(clock);
    FakeHUDPanel panel;
    FakeAnnouncer announcer;
    FakeSoundPlayer player;
    FakeClickObserver clicks;
    FakeProcessActivity activity;
    FakeSecretStore secrets;
    Preferences preferences(Paths::preferencesFile());
    ModelStore models(Paths::modelsDirectory());
    HistoryStore history(Paths::historyFile(), preferences);
    HotkeyMonitor hotkeys(preferences, {});
    HUDController hud(panel, announcer);
    Sounds sounds(player, preferences);
    ClipboardSafeInsertService safeInsert(keyboard);
    TextInserter inserter(safeInsert, clipboard, keyboard, focus, preferences);
    ClickInserter clickInserter(clicks, keyboard, inserter, hud, sounds);
    KeychainHelper keychain(secrets);
    DictationController dictation({microphone, preferences, models, hotkeys, hud, sounds, inserter,
                                   safeInsert, clickInserter, keychain, history, activity});

    double engineSeconds = 0;
    QObject::connect(&dictation, &DictationController::speechRecognised, [&](double seconds) { engineSeconds = seconds; });

    // The first dictation loads the model, as the warm-up would at start; it is not counted.
    std::vector<double> overheadsMs, enginesMs;
    for (int run = 0; run <= runs; ++run) {
        dictation.startRecording();
        if (dictation.status() != DictationController::Status::recording) {
            std::fprintf(stderr, "could not start: %s\n", qPrintable(dictation.lastError()));
            return 1;
        }
        microphone.deliver(speech);
        QCoreApplication::processEvents();
        keyboard.pastedAt = -1;
        QEventLoop finished;
        QObject::connect(&dictation, &DictationController::dictationFinished, &finished, &QEventLoop::quit);
        const qint64 stoppedAt = clock.nsecsElapsed();
        dictation.stopAndProcess();
        finished.exec();
        if (keyboard.pastedAt < 0) {
            std::fprintf(stderr, "nothing was pasted: %s\n", qPrintable(dictation.lastError()));
            return 1;
        }
        if (run == 0)
            continue;
        const double totalMs = double(keyboard.pastedAt - stoppedAt) / 1e6;
        overheadsMs.push_back(totalMs - engineSeconds * 1000);
        enginesMs.push_back(engineSeconds * 1000);
    }
    const double overhead = median(overheadsMs);
    const double engine = median(enginesMs);
    std::printf("dictations: %d of %.1f s\n", runs, double(speech.size()) / 16000);
    std::printf("engine median: %.1f ms\n", engine);
    std::printf("pipeline overhead median: %.2f ms (max %.2f ms), %.3f%% of the engine time\n", overhead,
                *std::max_element(overheadsMs.begin(), overheadsMs.end()), 100 * overhead / engine);
    return 0;
}
