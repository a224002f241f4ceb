#include "core/base/preferencekeys.h"
#include "core/base/preferences.h"
#include "core/desktop/keyboardlayout.h"
#include "core/dictation/hotkeymonitor.h"
#include "core/dictation/hotkeyrecorder.h"
#include "fakes/fakehotkeybackend.h"

#include <QHash>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

#include <memory>

using namespace Qt::StringLiterals;

Q_DECLARE_METATYPE(Shortcut)

namespace {

const int ctrl = Shortcut::control;
const int alt = Shortcut::alt;
const int shift = Shortcut::shift;
const int super = Shortcut::super;
constexpr int escape = 1;

// A German layout, as far as these tests need one.
class GermanLayout final : public KeyboardLayout
{
public:
    QString characters(int evdevCode) const override
    {
        static const QHash<int, QString> keys{{57, u" "_s}, {1, u"\u001B"_s}, {38, u"l"_s},
                                              {39, u"ö"_s}, {44, u"y"_s},      {21, u"z"_s}};
        return keys.value(evdevCode);
    }
};

} // namespace

char *toString(const std::optional<Shortcut> &shortcut)
{
    return shortcut ? QTest::toString(QStringLiteral("{%1, %2, \"%3\"}")
                                          .arg(shortcut->keyCode)
                                          .arg(shortcut->modifiers, 0, 16)
                                          .arg(shortcut->display))
                    : qstrdup("none");
}

class TestHotkeyRecorder final : public QObject
{
    Q_OBJECT

private:
    std::unique_ptr<QTemporaryDir> m_dir;
    std::unique_ptr<Preferences> m_preferences;
    std::unique_ptr<FakeHotkeyBackend> m_backend;
    std::unique_ptr<HotkeyMonitor> m_monitor;
    GermanLayout m_layout;
    std::unique_ptr<HotkeyRecorder> m_recorder;

    std::optional<Shortcut> stored() const { return HotkeyMonitor::load(*m_preferences); }

private Q_SLOTS:
    void init()
    {
        m_dir = std::make_unique<QTemporaryDir>();
        m_preferences = std::make_unique<Preferences>(m_dir->filePath(u"preferences.json"_s));
        m_backend = std::make_unique<FakeHotkeyBackend>();
        m_monitor = std::make_unique<HotkeyMonitor>(*m_preferences, QList<HotkeyBackend *>{m_backend.get()});
        m_monitor->start();
        m_recorder = std::make_unique<HotkeyRecorder>(*m_monitor, *m_preferences, &m_layout);
    }

    void cleanup()
    {
        m_recorder.reset();
        m_monitor.reset();
        m_backend.reset();
    }

    void texts()
    {
        QCOMPARE(HotkeyRecorder::pressKeyText(), u"Press a key…"_s);
        QCOMPARE(HotkeyRecorder::notSetText(), u"Not set"_s);
        QCOMPARE(m_recorder->property("helpText").toString(),
                 u"Click, then press any key or combo. Even a single Page Up works. Esc cancels."_s);
        QCOMPARE(m_recorder->property("accessibilityLabel").toString(), u"Dictation hotkey"_s);
        QCOMPARE(HotkeyRecorder::recordingAccessibilityValue(), u"Recording, press a key, or Escape to cancel"_s);
        QCOMPARE(m_recorder->property("clearText").toString(), u"Clear the hotkey"_s);
        QCOMPARE(m_recorder->property("rowLabel").toString(), u"Hotkey"_s);
    }

    void showsTheActiveHotkey()
    {
        QVERIFY(!m_recorder->isRecording());
        QCOMPARE(m_recorder->display(), u"Ctrl+Alt+Space"_s);
        QCOMPARE(m_recorder->accessibilityValue(), u"Ctrl+Alt+Space"_s);
    }

    void showsNotSetWithoutHotkey()
    {
        HotkeyMonitor unstarted(*m_preferences, {});
        HotkeyRecorder recorder(unstarted, *m_preferences, nullptr);
        QCOMPARE(recorder.display(), u"Not set"_s);
        QCOMPARE(recorder.accessibilityValue(), u"Not set"_s);
        // The monitor starting afterwards shows up on the control.
        QSignalSpy display(&recorder, &HotkeyRecorder::displayChanged);
        unstarted.start();
        QCOMPARE(recorder.display(), u"Ctrl+Alt+Space"_s);
        QCOMPARE(display.count(), 1);
    }

    void toggleBeginsAndCancels()
    {
        QSignalSpy recording(m_recorder.get(), &HotkeyRecorder::recordingChanged);
        QSignalSpy display(m_recorder.get(), &HotkeyRecorder::displayChanged);
        QSignalSpy accessibility(m_recorder.get(), &HotkeyRecorder::accessibilityValueChanged);
        m_recorder->toggle();
        QVERIFY(m_recorder->isRecording());
        QCOMPARE(m_recorder->display(), u"Press a key…"_s);
        QCOMPARE(m_recorder->accessibilityValue(), u"Recording, press a key, or Escape to cancel"_s);
        QCOMPARE(recording.count(), 1);
        QCOMPARE(display.count(), 1);
        QCOMPARE(accessibility.count(), 1);

        m_recorder->toggle();
        QVERIFY(!m_recorder->isRecording());
        QCOMPARE(m_recorder->display(), u"Ctrl+Alt+Space"_s);
        QCOMPARE(m_recorder->accessibilityValue(), u"Ctrl+Alt+Space"_s);
        QCOMPARE(recording.count(), 2);
        QCOMPARE(display.count(), 2);
        QCOMPARE(accessibility.count(), 2);

        // Cancelling when not recording changes nothing.
        m_recorder->cancel();
        QCOMPARE(recording.count(), 2);
        QCOMPARE(display.count(), 2);
        QCOMPARE(accessibility.count(), 2);
        QCOMPARE(m_monitor->shortcut(), HotkeyMonitor::defaultShortcut());
        QCOMPARE(stored(), std::nullopt);
    }

    void escapeAloneCancels()
    {
        QVERIFY(HotkeyMonitor::save(*m_preferences, Shortcut{59, 0, u"F1"_s}));
        m_monitor->setShortcut(Shortcut{59, 0, u"F1"_s});
        m_recorder->toggle();
        QVERIFY(m_recorder->capture(escape, 0, u"\u001B"_s));
        QVERIFY(!m_recorder->isRecording());
        QCOMPARE(m_recorder->display(), u"F1"_s);
        QCOMPARE(m_monitor->shortcut(), (Shortcut{59, 0, u"F1"_s}));
        QCOMPARE(m_backend->watched(), (Shortcut{59, 0, u"F1"_s}));
        QCOMPARE(stored(), (Shortcut{59, 0, u"F1"_s}));
        // Lock or keypad bits are no modifiers: that is still Esc alone.
        m_recorder->toggle();
        QVERIFY(m_recorder->capture(escape, 0x10000, QString()));
        QVERIFY(!m_recorder->isRecording());
        QCOMPARE(m_monitor->shortcut(), (Shortcut{59, 0, u"F1"_s}));
    }

    void capture_data()
    {
        QTest::addColumn<int>("keyCode");
        QTest::addColumn<int>("modifiers");
        QTest::addColumn<QString>("characters");
        QTest::addColumn<Shortcut>("expected");
        QTest::newRow("super esc") << escape << super << u"\u001B"_s << Shortcut{escape, super, u"Super+Esc"_s};
        QTest::newRow("ctrl esc") << escape << ctrl << QString() << Shortcut{escape, ctrl, u"Ctrl+Esc"_s};
        QTest::newRow("single page up") << 104 << 0 << QString() << Shortcut{104, 0, u"Page Up"_s};
        QTest::newRow("single f13") << 183 << 0 << QString() << Shortcut{183, 0, u"F13"_s};
        QTest::newRow("ctrl shift letter") << 37 << (ctrl | shift) << u"k"_s
                                           << Shortcut{37, ctrl | shift, u"Ctrl+Shift+K"_s};
        QTest::newRow("layout character") << 39 << alt << u"ö"_s << Shortcut{39, alt, u"Alt+Ö"_s};
        QTest::newRow("unnamed key") << 240 << ctrl << QString() << Shortcut{240, ctrl, u"Ctrl+Key 240"_s};
        QTest::newRow("other flag bits dropped") << 57 << (ctrl | alt | shift | 0x10000 | 0x800000) << u" "_s
                                                 << Shortcut{57, ctrl | alt | shift, u"Ctrl+Alt+Shift+Space"_s};
    }

    void capture()
    {
        QFETCH(int, keyCode);
        QFETCH(int, modifiers);
        QFETCH(QString, characters);
        QFETCH(Shortcut, expected);
        QSignalSpy recording(m_recorder.get(), &HotkeyRecorder::recordingChanged);
        m_recorder->toggle();
        QVERIFY(m_recorder->capture(keyCode, modifiers, characters));
        QVERIFY(!m_recorder->isRecording());
        QCOMPARE(recording.count(), 2);
        QCOMPARE(m_recorder->display(), expected.display);
        QCOMPARE(m_recorder->accessibilityValue(), expected.display);
        // In force at once, and kept for the next start.
        QCOMPARE(m_monitor->shortcut(), expected);
        QCOMPARE(m_backend->watched(), expected);
        QCOMPARE(stored(), expected);
        int downs = 0;
        m_monitor->onKeyDown = [&downs] { ++downs; };
        m_backend->press(expected.keyCode, expected.modifiers);
        QCOMPARE(downs, 1);
    }

    void modifierKeysAloneRecordNothing()
    {
        m_recorder->toggle();
        for (const auto &[key, modifiers] : QList<std::pair<int, int>>{{29, ctrl}, {56, alt}, {42, shift}, {125, super},
                                                                      {100, alt}, {58, 0}, {69, 0}}) {
            QVERIFY(m_recorder->capture(key, modifiers, QString()));
            QVERIFY(m_recorder->isRecording());
        }
        QCOMPARE(m_recorder->display(), u"Press a key…"_s);
        QCOMPARE(m_monitor->shortcut(), HotkeyMonitor::defaultShortcut());
        QCOMPARE(stored(), std::nullopt);
    }

    void keysOutsideRecordingAreLeftAlone()
    {
        QVERIFY(!m_recorder->capture(30, ctrl, u"a"_s));
        QVERIFY(!m_recorder->captureQtKey(38, int(Qt::ControlModifier)));
        QCOMPARE(m_monitor->shortcut(), HotkeyMonitor::defaultShortcut());
        QCOMPARE(stored(), std::nullopt);
    }

    void captureQtKey_data()
    {
        QTest::addColumn<int>("nativeScanCode");
        QTest::addColumn<int>("qtModifiers");
        QTest::addColumn<Shortcut>("expected");
        QTest::newRow("ctrl alt space") << 65 << int(Qt::ControlModifier | Qt::AltModifier)
                                        << Shortcut{57, ctrl | alt, u"Ctrl+Alt+Space"_s};
        QTest::newRow("named from the layout") << 46 << int(Qt::ControlModifier) << Shortcut{38, ctrl, u"Ctrl+L"_s};
        // On a German keyboard the key right of T types z.
        QTest::newRow("layout decides the name") << 29 << int(Qt::MetaModifier) << Shortcut{21, super, u"Super+Z"_s};
        QTest::newRow("keypad flag dropped") << 104 << int(Qt::KeypadModifier) << Shortcut{96, 0, u"Enter"_s};
        QTest::newRow("key the layout does not know") << 199 << int(Qt::ShiftModifier)
                                                      << Shortcut{191, shift, u"Shift+Key 191"_s};
    }

    void captureQtKey()
    {
        QFETCH(int, nativeScanCode);
        QFETCH(int, qtModifiers);
        QFETCH(Shortcut, expected);
        m_recorder->toggle();
        QVERIFY(m_recorder->captureQtKey(nativeScanCode, qtModifiers));
        QVERIFY(!m_recorder->isRecording());
        QCOMPARE(m_monitor->shortcut(), expected);
        QCOMPARE(stored(), expected);
    }

    void qtKeyWithoutScanCodeRecordsNothing()
    {
        m_recorder->toggle();
        QVERIFY(m_recorder->captureQtKey(0, int(Qt::ControlModifier)));
        QVERIFY(m_recorder->isRecording());
        // A modifier reported by Qt (Left Ctrl is 37 on X11) records nothing either.
        QVERIFY(m_recorder->captureQtKey(37, int(Qt::ControlModifier)));
        QVERIFY(m_recorder->isRecording());
        // Esc still cancels.
        QVERIFY(m_recorder->captureQtKey(9, 0));
        QVERIFY(!m_recorder->isRecording());
        QCOMPARE(m_monitor->shortcut(), HotkeyMonitor::defaultShortcut());
    }

    void clearRemovesTheHotkey()
    {
        QVERIFY(m_preferences->setBoolean(PreferenceKeys::soundsEnabled, false));
        m_recorder->toggle();
        QVERIFY(m_recorder->capture(59, 0, QString()));
        QVERIFY(stored());

        QSignalSpy display(m_recorder.get(), &HotkeyRecorder::displayChanged);
        m_recorder->clear();
        QCOMPARE(m_recorder->display(), u"Not set"_s);
        QCOMPARE(m_recorder->accessibilityValue(), u"Not set"_s);
        QCOMPARE(display.count(), 1);
        QCOMPARE(m_monitor->shortcut(), std::nullopt);
        QCOMPARE(m_backend->watched(), std::nullopt);
        QVERIFY(!m_preferences->stored().contains(PreferenceKeys::dictateHotkey));
        QCOMPARE(m_preferences->boolean(PreferenceKeys::soundsEnabled), false);

        int downs = 0;
        m_monitor->onKeyDown = [&downs] { ++downs; };
        m_backend->press(59, 0);
        m_backend->press(57, ctrl | alt);
        QCOMPARE(downs, 0);

        // Cancelling a recording now shows "Not set" again, and the next start uses the default.
        m_recorder->toggle();
        m_recorder->cancel();
        QCOMPARE(m_recorder->display(), u"Not set"_s);
        HotkeyMonitor nextStart(*m_preferences, {});
        nextStart.start();
        QCOMPARE(nextStart.shortcut(), HotkeyMonitor::defaultShortcut());
    }

    void clearWhileRecordingStopsRecording()
    {
        m_recorder->toggle();
        m_recorder->clear();
        QVERIFY(!m_recorder->isRecording());
        QCOMPARE(m_recorder->display(), u"Not set"_s);
        QCOMPARE(m_recorder->accessibilityValue(), u"Not set"_s);
        QCOMPARE(m_monitor->shortcut(), std::nullopt);
    }

    void anotherControlFollows()
    {
        HotkeyRecorder other(*m_monitor, *m_preferences, &m_layout);
        m_recorder->toggle();
        // The other control is not recording: it shows the hotkey as it changes.
        QCOMPARE(other.display(), u"Ctrl+Alt+Space"_s);
        m_recorder->capture(104, 0, QString());
        QCOMPARE(other.display(), u"Page Up"_s);
        m_recorder->clear();
        QCOMPARE(other.display(), u"Not set"_s);
    }
};

QTEST_GUILESS_MAIN(TestHotkeyRecorder)
#include "tst_hotkeyrecorder.moc"
