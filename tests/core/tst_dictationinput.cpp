// What starts a dictation and what it hears: the global hotkey (monitor, recorder, key
// names) over a fake backend, and the recorder over a fake microphone.
#include "core/base/preferencekeys.h"
#include "core/base/preferences.h"
#include "core/desktop/keyboardlayout.h"
#include "core/dictation/audiorecorder.h"
#include "core/dictation/hotkeymonitor.h"
#include "core/dictation/hotkeyrecorder.h"
#include "fakes/fakeaudiosource.h"
#include "fakes/fakehotkeybackend.h"
#include "testenvironment.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QThread>

#include <thread>

using namespace Qt::StringLiterals;

namespace {

const int ctrl = Shortcut::control;
const int alt = Shortcut::alt;
constexpr int space = 57;
const Shortcut f1{59, 0, u"F1"_s};

// On a German keyboard the key right of T types z.
class GermanLayout final : public KeyboardLayout
{
public:
    QString characters(int evdevCode) const override { return evdevCode == 21 ? u"z"_s : evdevCode == 57 ? u" "_s : QString(); }
};

} // namespace

class TestDictationInput final : public QObject
{
    Q_OBJECT

    QTemporaryDir m_dir;
    std::unique_ptr<Preferences> m_preferences;
    std::unique_ptr<FakeHotkeyBackend> m_backend;
    std::unique_ptr<HotkeyMonitor> m_monitor;
    int m_downs = 0;
    int m_ups = 0;

    // A started monitor over the fake backend, counting its callbacks.
    HotkeyMonitor &started()
    {
        m_monitor = std::make_unique<HotkeyMonitor>(*m_preferences, QList<HotkeyBackend *>{m_backend.get()});
        m_monitor->onKeyDown = [this] { ++m_downs; };
        m_monitor->onKeyUp = [this] { ++m_ups; };
        m_monitor->start();
        return *m_monitor;
    }

private Q_SLOTS:
    void init()
    {
        m_preferences = std::make_unique<Preferences>(m_dir.filePath(QLatin1String(QTest::currentTestFunction())));
        m_backend = std::make_unique<FakeHotkeyBackend>();
        m_downs = m_ups = 0;
    }

    void cleanup() { m_monitor.reset(); } // it watches the backend that init replaces

    void exactCombinationOnly()
    {
        started();
        m_backend->press(space, ctrl | alt | Shortcut::shift);
        m_backend->press(space, alt);
        m_backend->press(30, ctrl | alt);
        QCOMPARE(m_downs, 0);
        // Lock and keypad flags are no part of the combination; holding repeats nothing.
        m_backend->press(space, ctrl | alt | 0x10000 | 0x200000);
        m_backend->press(space, ctrl | alt, true);
        QCOMPARE(m_downs, 1);
        // A key let go after one of its modifiers is no release: hold-to-talk goes on.
        m_backend->release(space, ctrl);
        QCOMPARE(m_ups, 0);
        m_backend->release(space, ctrl | alt);
        QCOMPARE(m_ups, 1);
    }

    void shortcutLifecycle()
    {
        HotkeyMonitor monitor(*m_preferences, {m_backend.get()});
        QSignalSpy changed(&monitor, &HotkeyMonitor::shortcutChanged);
        monitor.setShortcut(f1);
        QVERIFY(m_backend->watchRequests.isEmpty()); // nothing is grabbed before start
        monitor.start();
        monitor.setShortcut(f1); // the same again asks the desktop for nothing
        monitor.ensureTap();
        QCOMPARE(m_backend->watchRequests, QList<std::optional<Shortcut>>{f1});
        QCOMPARE(changed.size(), 1);
        monitor.setShortcut(std::nullopt);
        monitor.ensureTap(); // the application coming forward does not bring it back
        QCOMPARE(m_backend->watched(), std::nullopt);
        QVERIFY(!monitor.isActive());

        QCOMPARE(started().shortcut(), HotkeyMonitor::defaultShortcut());
        QVERIFY(!m_preferences->stored().contains(PreferenceKeys::dictateHotkey)); // a default is not written
        QVERIFY(HotkeyMonitor::save(*m_preferences, f1));
        QCOMPARE(started().shortcut(), f1);
        m_monitor.reset(); // releases the combination
        QCOMPARE(m_backend->watched(), std::nullopt);
        Preferences blocked(m_preferences->filePath() + u"/x"_s);
        QVERIFY(!HotkeyMonitor::save(blocked, f1));
    }

    void backendsInTurn()
    {
        FakeHotkeyBackend missing(u"Missing"_s, false), chosen(u"Chosen"_s), spare(u"Spare"_s);
        HotkeyMonitor monitor(*m_preferences, {&missing, nullptr, &chosen, &spare});
        monitor.onKeyDown = [this] { ++m_downs; };
        monitor.start();
        QCOMPARE(monitor.backendName(), u"Chosen"_s);
        QVERIFY(missing.watchRequests.isEmpty() && spare.watchRequests.isEmpty() && spare.availabilityQueries == 0);
        // A backend that turns out unusable hands the hotkey to the next one.
        Q_EMIT chosen.unusable(u"The desktop did not open a shortcut session."_s);
        QCOMPARE(chosen.watched(), std::nullopt);
        QCOMPARE(spare.watched(), HotkeyMonitor::defaultShortcut());
        QVERIFY(monitor.isActive() && monitor.conflict().isEmpty());
        chosen.press(space, ctrl | alt); // only the backend in use counts
        spare.press(space, ctrl | alt);
        QCOMPARE(m_downs, 1);
        // With none left, the reason is what the settings show.
        Q_EMIT spare.unusable(u"No display."_s);
        QVERIFY(monitor.backendName().isEmpty() && !monitor.isActive());
        QCOMPARE(monitor.conflict(), u"No display."_s);
    }

    void storedHotkey()
    {
        const auto entry = [](QJsonValue keyCode, QJsonValue modifiers, QJsonValue display) {
            return QJsonValue(QJsonObject{{u"keyCode"_s, keyCode}, {u"modifiers"_s, modifiers}, {u"display"_s, display}});
        };
        const QList<QJsonValue> invalid{entry(u"59"_s, 0, u"F1"_s), entry(59.5, 0, u"F1"_s), entry(1e12, 0, u"F1"_s),
                                        entry(0, 0, u"Key 0"_s), entry(0x300, 0, u"Key 768"_s), entry(59, 0x10000, u"F1"_s),
                                        entry(59, 0, QJsonValue::Undefined), QJsonArray{59, 0, u"F1"_s}};
        for (const QJsonValue &stored : invalid + QList<QJsonValue>{entry(30, 0x1E0000, u"All+A"_s)}) {
            QVERIFY(TestFiles::write(m_preferences->filePath(), QJsonDocument(QJsonObject{{PreferenceKeys::dictateHotkey, stored}}).toJson()));
            const std::optional<Shortcut> loaded = HotkeyMonitor::load(*m_preferences);
            QCOMPARE(loaded, invalid.contains(stored) ? std::nullopt : std::optional(Shortcut{30, 0x1E0000, u"All+A"_s}));
            QCOMPARE(started().shortcut(), loaded ? loaded : HotkeyMonitor::defaultShortcut());
            // A bad value is ignored, not repaired behind the user's back.
            QCOMPARE(m_preferences->stored().value(PreferenceKeys::dictateHotkey), stored);
        }
    }

    void record()
    {
        struct Row
        {
            bool fromQt; // the key as Qt reports it: an X11 scan code and Qt's modifiers
            int key, modifiers;
            QString characters;
            Shortcut expected;
        };
        const int shift = Shortcut::shift;
        const QList<Row> rows{
            {false, 1, Shortcut::super, u"\u001B"_s, {1, Shortcut::super, u"Super+Esc"_s}},
            {false, 37, Shortcut::super | shift | ctrl | 0x10000, u"k"_s, {37, Shortcut::super | ctrl | shift, u"Ctrl+Shift+Super+K"_s}},
            {false, 30, ctrl, u"\u00A0"_s, {30, ctrl, u"Ctrl+Key 30"_s}}, // what the key types would not show
            {true, 29, int(Qt::MetaModifier), {}, {21, Shortcut::super, u"Super+Z"_s}},
            {true, 104, int(Qt::KeypadModifier | Qt::ShiftModifier), {}, {96, shift, u"Shift+Enter"_s}}};
        GermanLayout layout;
        for (const Row &row : rows) {
            HotkeyRecorder recorder(started(), *m_preferences, &layout);
            HotkeyRecorder other(*m_monitor, *m_preferences, &layout);
            QVERIFY(!recorder.capture(row.key, row.modifiers, row.characters)); // not recording: left to the window
            recorder.toggle();
            QVERIFY(row.fromQt ? recorder.captureQtKey(row.key, row.modifiers) : recorder.capture(row.key, row.modifiers, row.characters));
            QCOMPARE(recorder.accessibilityValue(), row.expected.display);
            QCOMPARE(other.display(), row.expected.display);
            // In force at once, and kept for the next start.
            QCOMPARE(m_backend->watched(), row.expected);
            QCOMPARE(HotkeyMonitor::load(*m_preferences), row.expected);
        }
    }

    void recordNothing()
    {
        HotkeyRecorder recorder(started(), *m_preferences, nullptr);
        QVERIFY(HotkeyMonitor::save(*m_preferences, f1));
        m_monitor->setShortcut(f1);
        recorder.toggle();
        // Modifiers alone start a combination; Qt without a scan code cannot name a key.
        for (const int key : {29, 97, 42, 54, 56, 100, 125, 126, 58, 69, 464})
            QVERIFY(recorder.capture(key, ctrl, QString()));
        QVERIFY(recorder.captureQtKey(0, int(Qt::ControlModifier)));
        QCOMPARE(recorder.display(), u"Press a key…"_s);
        QVERIFY(recorder.capture(1, 0x10000, QString())); // Esc alone, lock bits aside, cancels
        QVERIFY(!recorder.isRecording());
        QCOMPARE(recorder.display(), u"F1"_s);
        QCOMPARE(HotkeyMonitor::load(*m_preferences), f1);
        recorder.toggle();
        recorder.clear();
        QVERIFY(!recorder.isRecording());
        QCOMPARE(recorder.display(), u"Not set"_s);
        QCOMPARE(m_backend->watched(), std::nullopt);
        QVERIFY(!m_preferences->stored().contains(PreferenceKeys::dictateHotkey));
    }

    void recording()
    {
        // 18 × the root mean square, capped at 1.
        const QList<std::pair<QList<float>, float>> levelsOf{
            {{}, 0.0f}, {QList<float>(1600, -0.01f), 0.18f}, {QList<float>(512, 0.055f), 0.99f}, {{0.5f}, 1.0f}};
        for (const auto &[piece, level] : levelsOf)
            QVERIFY(std::abs(AudioRecorder::levelOf(piece.constData(), piece.size()) - level) < 1e-4f);
        FakeAudioSource source;
        AudioRecorder recorder(source);
        QSignalSpy levels(&recorder, &AudioRecorder::level);
        QCOMPARE(recorder.start(), std::nullopt);
        QVERIFY(source.deliver({0.1f, 0.2f}) && source.deliver({}) && source.deliver({0.3f}));
        const AudioFrames first = recorder.stop();
        QCOMPARE(first, (AudioFrames{0.1f, 0.2f, 0.3f}));
        QVERIFY(!source.isRunning());
        QTRY_COMPARE(levels.size(), 2); // one per piece with samples
        QCOMPARE(recorder.start(), std::nullopt);
        QVERIFY(source.deliver({0.9f}));
        QCOMPARE(recorder.start(), std::nullopt); // starting again begins afresh
        QCOMPARE(source.stopCalls, 2);
        QVERIFY(source.deliver({0.4f}));
        QCOMPARE(recorder.stop(), AudioFrames{0.4f});
        source.failWith = u"No microphone is available."_s;
        QCOMPARE(recorder.start(), source.failWith);
        QVERIFY(!recorder.isRecording());
        QVERIFY(recorder.stop().isEmpty()); // the last recording is gone all the same
    }

    void recorderThreads()
    {
        FakeAudioSource source;
        auto recorder = std::make_unique<AudioRecorder>(source);
        QList<QThread *> threads;
        connect(recorder.get(), &AudioRecorder::level, this, [&] { threads << QThread::currentThread(); }, Qt::DirectConnection);
        QCOMPARE(recorder->start(), std::nullopt);
        // As a sound server's capture thread: pieces until the recorder stops the source.
        std::jthread capture([&source](std::stop_token stop) {
            while (!stop.stop_requested() && source.deliver(QList<float>(160, 0.01f)))
                std::this_thread::yield();
        });
        QTRY_VERIFY(threads.size() >= 20);
        QCOMPARE(threads.count(QThread::currentThread()), threads.size()); // levels arrive on the recorder's thread
        // Destroyed while recording, with levels still queued: the capture ends first.
        recorder.reset();
        QVERIFY(!source.isRunning());
        QTest::qWait(20);
    }
};

QTEST_GUILESS_MAIN(TestDictationInput)
#include "tst_dictationinput.moc"
