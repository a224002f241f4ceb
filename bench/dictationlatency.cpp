// The wait after the second hotkey press: from the stop request to the paste key event, over
// N dictations of each length cut from the same speech, with the engine's whole window and with
// the window fitted to short dictations, side by side; and what our pipeline adds to the
// engine's own time. The controller runs with its real recorder, model store, transcriber,
// dictionary, display timing, inserter and history; only the desktop (microphone, keys, panel)
// is simulated, and the paste is timed when its key event would be sent.
//   dictationlatency SPEECH.wav [RUNS] [SECONDS...]
// The environment names the model, as bench/latency.sh sets it; SPEECH.wav must last as long
// as the longest dictation.
#include "core/base/paths.h"
#include "core/base/preferencekeys.h"
#include "core/base/preferences.h"
#include "core/dictation/dictationcontroller.h"
#include "core/dictation/hotkeymonitor.h"
#include "core/hud/hudcontroller.h"
#include "core/hud/sounds.h"
#include "core/insert/clickinserter.h"
#include "core/insert/clipboardsafeinsertservice.h"
#include "core/insert/textinserter.h"
#include "core/speech/modelstore.h"
#include "core/speech/whisper.h"
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
#include <optional>
#include <vector>

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

struct Timings
{
    double waitMs = 0;     // median from the stop to the paste
    double engineMs = 0;   // median of the engine's own time
    double overheadMs = 0; // median of the rest
    double worstOverheadMs = 0;
    QString text;          // what the last dictation pasted
};

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    const QStringList arguments = app.arguments();
    if (arguments.size() < 2) {
        std::fprintf(stderr, "usage: dictationlatency SPEECH.wav [RUNS] [SECONDS...]\n");
        return 2;
    }
    const int runs = arguments.size() > 2 ? arguments.at(2).toInt() : 20;
    QList<double> lengths;
    for (const QString &argument : arguments.mid(3))
        lengths << argument.toDouble();
    if (lengths.isEmpty())
        lengths.append(3.0);
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

    // One dictation: the wait from the stop to the paste, or a negative value when it failed.
    const auto dictate = [&](const AudioFrames &audio) -> double {
        dictation.startRecording();
        if (dictation.status() != DictationController::Status::recording) {
            std::fprintf(stderr, "could not start: %s\n", qPrintable(dictation.lastError()));
            return -1;
        }
        microphone.deliver(audio);
        QCoreApplication::processEvents();
        keyboard.pastedAt = -1;
        QEventLoop finished;
        QObject::connect(&dictation, &DictationController::dictationFinished, &finished, &QEventLoop::quit);
        const qint64 stoppedAt = clock.nsecsElapsed();
        dictation.stopAndProcess();
        finished.exec();
        if (keyboard.pastedAt < 0) {
            std::fprintf(stderr, "nothing was pasted: %s\n", qPrintable(dictation.lastError()));
            return -1;
        }
        return double(keyboard.pastedAt - stoppedAt) / 1e6;
    };
    const auto measure = [&](const AudioFrames &audio, bool fitted) -> std::optional<Timings> {
        preferences.setBoolean(PreferenceKeys::fasterShortDictations, fitted);
        std::vector<double> waits, engines, overheads;
        for (int run = 0; run < runs; ++run) {
            const double wait = dictate(audio);
            if (wait < 0)
                return std::nullopt;
            waits.push_back(wait);
            engines.push_back(engineSeconds * 1000);
            overheads.push_back(wait - engineSeconds * 1000);
        }
        return Timings{median(waits), median(engines), median(overheads),
                       *std::max_element(overheads.begin(), overheads.end()), clipboard.text()};
    };

    // The first dictation loads the model, as the warm-up would at start; it is not counted.
    if (dictate(speech.mid(0, 3 * 16000)) < 0)
        return 1;
    const QString card = preferences.booleanOrDefault(PreferenceKeys::coreMLEnabled) ? Whisper::graphicsCardName()
                                                                                     : QString();
    std::printf("engine: %s; graphics card: %s\n", qPrintable(Whisper::engineDescription()),
                card.isEmpty() ? "none" : qPrintable(card));
    std::printf("wait from the stop to the paste, median of %d dictations\n", runs);
    std::printf("%-10s %14s %16s %8s\n", "dictation", "whole window", "fitted window", "ratio");
    std::vector<double> overheads;
    double worstOverhead = 0;
    double engine = 0;
    for (const double seconds : std::as_const(lengths)) {
        const AudioFrames audio = speech.mid(0, qsizetype(seconds * 16000));
        if (audio.size() < qsizetype(seconds * 16000)) {
            std::fprintf(stderr, "the speech lasts less than %.1f s\n", seconds);
            return 1;
        }
        const std::optional<Timings> whole = measure(audio, false);
        const std::optional<Timings> fitted = measure(audio, true);
        if (!whole || !fitted)
            return 1;
        std::printf("%-10s %11.0f ms %13.0f ms %8.2f%s\n", qPrintable(QString::asprintf("%.0f s", seconds)),
                    whole->waitMs, fitted->waitMs, fitted->waitMs / whole->waitMs,
                    whole->text == fitted->text ? "" : "  (the texts differ)");
        overheads.insert(overheads.end(), {whole->overheadMs, fitted->overheadMs});
        worstOverhead = std::max({worstOverhead, whole->worstOverheadMs, fitted->worstOverheadMs});
        engine = std::max(engine, whole->engineMs);
    }
    const double overhead = median(overheads);
    std::printf("pipeline overhead median: %.2f ms (max %.2f ms), %.3f%% of the longest engine time\n", overhead,
                worstOverhead, 100 * overhead / engine);
    return 0;
}
