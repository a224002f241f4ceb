#include "childprocess.h"
#include "core/base/preferences.h"
#include "core/dictation/hotkeymonitor.h"
#include "core/dictation/hotkeyrecorder.h"
#include "desktopsession.h"
#include "platform/x11/x11hotkeybackend.h"
#include "platform/x11/xkbkeyboardlayout.h"

#include <QProcess>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

#include <xcb/xcb.h>
// The XKB protocol header names a struct member `explicit`.
#define explicit explicit_
#include <xcb/xkb.h>
#undef explicit

#include <csignal>
#include <cstdlib>
#include <memory>
#include <sys/prctl.h>

using namespace Qt::StringLiterals;

namespace {

// X key codes of the US keymap Xvfb starts with (evdev code + 8).
constexpr int xSpace = 65;
constexpr int xF1 = 67;
constexpr int xMarker = 53; // x
// Ctrl+Alt+Space pressed and let go the way people do: the key first, then the modifiers.
// (xdotool's own "key ctrl+alt+space" lets go of the modifiers first, which is no
// release of the combination.)
const QStringList hotkeyStroke{u"keydown"_s, u"ctrl+alt+space"_s, u"keyup"_s, u"space"_s,
                               u"keyup"_s, u"ctrl+alt"_s};
// X modifier state bits.
constexpr unsigned shiftBit = 1;
constexpr unsigned lockBit = 2;
constexpr unsigned controlBit = 4;
constexpr unsigned mod1Bit = 8;
constexpr unsigned mod2Bit = 16;

// The focused application: a window of another process that logs every key it gets.
class KeyProbe final
{
public:
    ~KeyProbe() { stop(); }

    bool start(const QProcessEnvironment &environment)
    {
        m_process.setProcessEnvironment(environment);
        ChildProcess::dieWithParent(m_process);
        m_process.start(QString::fromLocal8Bit(qgetenv("MURMEL_HOTKEY_PROBE")), {});
        if (!m_process.waitForStarted(10000))
            return false;
        static const QRegularExpression windowLine(u"^window (\\d+)$"_s, QRegularExpression::MultilineOption);
        if (!QTest::qWaitFor([&] { return windowLine.match(read()).hasMatch(); }, 10000)) {
            qWarning() << "the key probe did not show its window:" << m_output << m_process.readAllStandardError()
                       << m_process.errorString();
            return false;
        }
        m_window = windowLine.match(m_output).captured(1);
        return true;
    }

    void stop()
    {
        if (m_process.state() == QProcess::NotRunning)
            return;
        m_process.kill();
        m_process.waitForFinished(5000);
    }

    QString window() const { return m_window; }
    qsizetype mark() { return read().size(); }
    QString since(qsizetype mark) { return read().mid(mark); }
    bool waitFor(const QString &text, qsizetype mark)
    {
        return QTest::qWaitFor([&] { return since(mark).contains(text); }, 10000);
    }

private:
    QString read()
    {
        m_output += QString::fromLatin1(m_process.readAllStandardOutput());
        return m_output;
    }

    QProcess m_process;
    QString m_output;
    QString m_window;
};

bool sawKey(const QString &log, int keyCode)
{
    return log.contains(QStringLiteral("press %1 ").arg(keyCode))
        || log.contains(QStringLiteral("release %1 ").arg(keyCode));
}

// The X state bits of the first press of `keyCode` in the log, or -1.
int pressState(const QString &log, int keyCode)
{
    const QRegularExpression line(QStringLiteral("^press %1 (\\d+)$").arg(keyCode), QRegularExpression::MultilineOption);
    const QRegularExpressionMatch match = line.match(log);
    return match.hasMatch() ? match.captured(1).toInt() : -1;
}

// Another X client, holding a combination of its own or changing the keyboard mapping.
class OtherClient final
{
public:
    explicit OtherClient(const QString &display)
        : m_connection(xcb_connect(display.toLocal8Bit().constData(), nullptr))
    {
        if (!xcb_connection_has_error(m_connection))
            m_root = xcb_setup_roots_iterator(xcb_get_setup(m_connection)).data->root;
    }
    ~OtherClient() { xcb_disconnect(m_connection); }

    bool grab(int keyCode, uint16_t modifiers)
    {
        const xcb_void_cookie_t cookie = xcb_grab_key_checked(m_connection, 1, m_root, modifiers, keyCode,
                                                              XCB_GRAB_MODE_ASYNC, XCB_GRAB_MODE_ASYNC);
        xcb_generic_error_t *error = xcb_request_check(m_connection, cookie);
        std::free(error);
        return !error;
    }

    void ungrab(int keyCode, uint16_t modifiers)
    {
        xcb_ungrab_key(m_connection, keyCode, m_root, modifiers);
        std::free(xcb_get_input_focus_reply(m_connection, xcb_get_input_focus(m_connection), nullptr));
    }

    // The modifier map: eight rows (Shift, Lock, Control, Mod1…Mod5) of `perModifier` keys.
    QList<xcb_keycode_t> modifierMap(int *perModifier)
    {
        xcb_get_modifier_mapping_reply_t *reply =
            xcb_get_modifier_mapping_reply(m_connection, xcb_get_modifier_mapping(m_connection), nullptr);
        if (!reply)
            return {};
        *perModifier = reply->keycodes_per_modifier;
        QList<xcb_keycode_t> keyCodes(8 * *perModifier);
        std::copy_n(xcb_get_modifier_mapping_keycodes(reply), keyCodes.size(), keyCodes.begin());
        std::free(reply);
        return keyCodes;
    }

    bool setModifierMap(int perModifier, const QList<xcb_keycode_t> &keyCodes)
    {
        xcb_set_modifier_mapping_reply_t *set = xcb_set_modifier_mapping_reply(
            m_connection, xcb_set_modifier_mapping(m_connection, perModifier, keyCodes.data()), nullptr);
        const bool done = set && set->status == XCB_MAPPING_STATUS_SUCCESS;
        std::free(set);
        return done;
    }

    // Moves every key of one modifier row to another, as xmodmap does.
    bool moveModifier(int from, int to)
    {
        int perModifier = 0;
        QList<xcb_keycode_t> keyCodes = modifierMap(&perModifier);
        for (int column = 0; column < perModifier; ++column)
            std::swap(keyCodes[from * perModifier + column], keyCodes[to * perModifier + column]);
        return !keyCodes.isEmpty() && setModifierMap(perModifier, keyCodes);
    }

    // Switches the keyboard to another group (layout) of the keymap, as a layout
    // indicator does.
    bool lockGroup(uint8_t group)
    {
        xcb_xkb_use_extension_reply_t *use =
            xcb_xkb_use_extension_reply(m_connection, xcb_xkb_use_extension(m_connection, 1, 0), nullptr);
        const bool supported = use && use->supported;
        std::free(use);
        if (!supported)
            return false;
        const xcb_void_cookie_t cookie = xcb_xkb_latch_lock_state_checked(
            m_connection, XCB_XKB_ID_USE_CORE_KBD, 0, 0, 1, group, 0, 0, 0);
        xcb_generic_error_t *error = xcb_request_check(m_connection, cookie);
        std::free(error);
        return !error;
    }

    bool isConnected() const { return !xcb_connection_has_error(m_connection); }

private:
    xcb_connection_t *m_connection;
    xcb_window_t m_root = 0;
};

} // namespace

class TestX11Hotkey final : public QObject
{
    Q_OBJECT

private:
    DesktopSession m_desktop;
    KeyProbe m_probe;
    QTemporaryDir m_dir;
    std::unique_ptr<Preferences> m_preferences;
    X11HotkeyBackend *m_backend = nullptr;
    std::unique_ptr<HotkeyMonitor> m_monitor;
    int m_downs = 0;
    int m_ups = 0;

    void xdotool(const QStringList &arguments)
    {
        int code = -1;
        m_desktop.run(u"xdotool"_s, arguments, &code);
        QCOMPARE(code, 0);
    }

    // Presses keys, then a marker key, and returns what the focused window received
    // up to the marker. Events for the hotkey are given time to arrive here too.
    QString typed(const QStringList &arguments, qsizetype from = -1)
    {
        const qsizetype mark = from < 0 ? m_probe.mark() : from;
        if (!arguments.isEmpty())
            xdotool(arguments);
        xdotool({u"key"_s, u"x"_s});
        if (!m_probe.waitFor(QStringLiteral("release %1 ").arg(xMarker), mark))
            qWarning() << "the marker key never reached the window";
        QTest::qWait(200);
        return m_probe.since(mark);
    }

    void startMonitor()
    {
        m_backend = new X11HotkeyBackend;
        m_monitor = std::make_unique<HotkeyMonitor>(*m_preferences, QList<HotkeyBackend *>{m_backend});
        m_backend->setParent(m_monitor.get());
        m_monitor->onKeyDown = [this] { ++m_downs; };
        m_monitor->onKeyUp = [this] { ++m_ups; };
        m_monitor->start();
    }

private Q_SLOTS:
    void initTestCase()
    {
        QVERIFY2(m_desktop.start(), qPrintable(m_desktop.error()));
        m_desktop.enter();
        QVERIFY(m_probe.start(m_desktop.environment()));
        // openbox may focus the new window by itself before it is asked to.
        xdotool({u"windowactivate"_s, u"--sync"_s, m_probe.window()});
        QVERIFY(m_probe.waitFor(u"focus"_s, 0));
        m_preferences = std::make_unique<Preferences>(m_dir.filePath(u"preferences.json"_s));
    }

    void init()
    {
        // A test that failed half-way may have left a lock on.
        const QString log = typed({});
        const int state = pressState(log, xMarker);
        QVERIFY(state >= 0);
        if (state & int(mod2Bit))
            xdotool({u"key"_s, u"Num_Lock"_s});
        if (state & int(lockBit))
            xdotool({u"key"_s, u"Caps_Lock"_s});
        m_downs = 0;
        m_ups = 0;
        startMonitor();
        QCOMPARE(m_monitor->backendName(), u"X11"_s);
        QVERIFY2(m_monitor->isActive(), qPrintable(m_monitor->conflict()));
    }

    void cleanup() { m_monitor.reset(); }

    void cleanupTestCase()
    {
        m_probe.stop();
        m_desktop.stop();
    }

    void combinationReachesTheCallbacksAndNotTheWindow()
    {
        QString log = typed(hotkeyStroke);
        QCOMPARE(m_downs, 1);
        QCOMPARE(m_ups, 1);
        QVERIFY2(!sawKey(log, xSpace), qPrintable(log));
        // The window does get the modifiers themselves, and everything after.
        QVERIFY(sawKey(log, xMarker));

        // Letting go of the modifiers first: the press counts, the release does not (in
        // hold-to-talk the recording goes on), and the window still gets nothing.
        log = typed({u"key"_s, u"ctrl+alt+space"_s});
        QCOMPARE(m_downs, 2);
        QCOMPARE(m_ups, 1);
        QVERIFY2(!sawKey(log, xSpace), qPrintable(log));
    }

    void otherCombinationsPassThroughUntouched()
    {
        const QString log = typed({u"key"_s, u"alt+shift+space"_s, u"ctrl+space"_s, u"space"_s});
        QCOMPARE(m_downs, 0);
        QCOMPARE(m_ups, 0);
        QCOMPARE(log.count(QStringLiteral("press %1 ").arg(xSpace)), 3);
        QCOMPARE(pressState(log, xSpace), int(shiftBit | mod1Bit));
    }

    void holdingGivesOneKeyDown()
    {
        QSignalSpy events(m_backend, &HotkeyBackend::keyEvent);
        const qsizetype mark = m_probe.mark();
        xdotool({u"keydown"_s, u"ctrl+alt+space"_s});
        QTRY_COMPARE(m_downs, 1);
        // Longer than the server's auto-repeat delay.
        QTest::qWait(1500);
        xdotool({u"keyup"_s, u"space"_s});
        xdotool({u"keyup"_s, u"ctrl+alt"_s});
        QTRY_COMPARE(m_ups, 1);
        QCOMPARE(m_downs, 1);
        int repeats = 0;
        for (const QList<QVariant> &arguments : std::as_const(events))
            repeats += arguments.at(0).value<HotkeyEvent>().autoRepeat ? 1 : 0;
        QVERIFY2(repeats > 0, "the server sent no auto-repeat, so holding was not tested");
        const QString log = typed({}, mark);
        QVERIFY2(!sawKey(log, xSpace), qPrintable(log));
    }

    void worksWithNumLockAndCapsLock()
    {
        QString log = typed({u"key"_s, u"Num_Lock"_s});
        QVERIFY(pressState(log, xMarker) & int(mod2Bit));
        log = typed(hotkeyStroke);
        QCOMPARE(m_downs, 1);
        QVERIFY(!sawKey(log, xSpace));

        log = typed({u"key"_s, u"Caps_Lock"_s});
        QCOMPARE(pressState(log, xMarker) & int(mod2Bit | lockBit), int(mod2Bit | lockBit));
        log = typed(hotkeyStroke);
        QCOMPARE(m_downs, 2);
        QVERIFY(!sawKey(log, xSpace));

        log = typed({u"key"_s, u"Num_Lock"_s});
        QCOMPARE(pressState(log, xMarker) & int(mod2Bit | lockBit), int(lockBit));
        log = typed(hotkeyStroke);
        QCOMPARE(m_downs, 3);
        QCOMPARE(m_ups, 3);
        QVERIFY(!sawKey(log, xSpace));

        log = typed({u"key"_s, u"Caps_Lock"_s});
        QCOMPARE(pressState(log, xMarker) & int(mod2Bit | lockBit), 0);
    }

    void clearingStopsIt()
    {
        m_monitor->setShortcut(std::nullopt);
        QVERIFY(!m_monitor->isActive());
        const QString log = typed({u"key"_s, u"ctrl+alt+space"_s});
        QCOMPARE(m_downs, 0);
        QCOMPARE(pressState(log, xSpace), int(controlBit | mod1Bit));
    }

    void newHotkeyReplacesTheOld()
    {
        m_monitor->setShortcut(Shortcut{59, 0, u"F1"_s});
        QVERIFY(m_monitor->isActive());
        QString log = typed({u"key"_s, u"ctrl+alt+space"_s});
        QCOMPARE(m_downs, 0);
        QVERIFY(sawKey(log, xSpace));
        log = typed({u"key"_s, u"F1"_s});
        QCOMPARE(m_downs, 1);
        QCOMPARE(m_ups, 1);
        QVERIFY(!sawKey(log, xF1));
        // F1 with a modifier is another combination.
        log = typed({u"key"_s, u"shift+F1"_s});
        QCOMPARE(m_downs, 1);
        QVERIFY(sawKey(log, xF1));
    }

    void combinationHeldByAnotherClientIsAConflict()
    {
        m_monitor.reset();
        OtherClient other(m_desktop.display());
        QVERIFY(other.isConnected());
        QVERIFY(other.grab(xSpace, XCB_MOD_MASK_CONTROL | XCB_MOD_MASK_1));

        startMonitor();
        QVERIFY(!m_monitor->isActive());
        QCOMPARE(m_monitor->conflict(), u"Another application already uses Ctrl+Alt+Space. Choose a different hotkey."_s);
        QVERIFY(!m_backend->isActive());
        // Our half of the lock variants must not linger: with Caps Lock on, the other
        // client's exact grab does not match, so the key reaches the window.
        QString log = typed({u"key"_s, u"Caps_Lock"_s, u"ctrl+alt+space"_s, u"Caps_Lock"_s});
        QCOMPARE(m_downs, 0);
        QVERIFY(sawKey(log, xSpace));

        other.ungrab(xSpace, XCB_MOD_MASK_CONTROL | XCB_MOD_MASK_1);
        QSignalSpy conflictChanged(m_monitor.get(), &HotkeyMonitor::conflictChanged);
        m_monitor->ensureTap();
        QVERIFY(m_monitor->isActive());
        QVERIFY(m_monitor->conflict().isEmpty());
        QCOMPARE(conflictChanged.count(), 1);
        log = typed({u"key"_s, u"ctrl+alt+space"_s});
        QCOMPARE(m_downs, 1);
        QVERIFY(!sawKey(log, xSpace));
    }

    void followsAModifierMappingChange()
    {
        OtherClient other(m_desktop.display());
        // Alt moves from Mod1 to Mod3 (rows 3 and 5 of the modifier map).
        QVERIFY(other.moveModifier(3, 5));
        auto restore = qScopeGuard([&] { other.moveModifier(5, 3); });
        QTest::qWait(300);
        QString log = typed({u"key"_s, u"ctrl+alt+space"_s});
        QCOMPARE(m_downs, 1);
        QVERIFY2(!sawKey(log, xSpace), qPrintable(log));
        // And back.
        QVERIFY(other.moveModifier(5, 3));
        restore.dismiss();
        QTest::qWait(300);
        log = typed({u"key"_s, u"ctrl+alt+space"_s});
        QCOMPARE(m_downs, 2);
        QVERIFY(!sawKey(log, xSpace));
    }

    // A mapping without Alt (a keymap lent for typing under Wayland has none) takes the
    // hotkey away; the mapping given back brings it back.
    void returnsWithTheMappingThatHasItsKeys()
    {
        OtherClient other(m_desktop.display());
        int perModifier = 0;
        const QList<xcb_keycode_t> saved = other.modifierMap(&perModifier);
        QVERIFY(!saved.isEmpty());
        QList<xcb_keycode_t> withoutAlt = saved;
        std::fill_n(withoutAlt.begin() + 3 * perModifier, perModifier, xcb_keycode_t(0));
        QVERIFY(other.setModifierMap(perModifier, withoutAlt));
        auto restore = qScopeGuard([&] { other.setModifierMap(perModifier, saved); });
        QTRY_VERIFY(!m_monitor->isActive());
        QVERIFY(other.setModifierMap(perModifier, saved));
        restore.dismiss();
        QTRY_VERIFY2(m_monitor->isActive(), qPrintable(m_monitor->conflict()));
        const QString log = typed({u"key"_s, u"ctrl+alt+space"_s});
        QCOMPARE(m_downs, 1);
        QVERIFY(!sawKey(log, xSpace));
    }

    void layoutNamesTheKeys()
    {
        XkbKeyboardLayout layout;
        QCOMPARE(layout.characters(57), u" "_s);
        QCOMPARE(layout.characters(21), u"y"_s);
        QCOMPARE(layout.characters(39), u";"_s);
        // Level one only: Shift is not held.
        QCOMPARE(layout.characters(2), u"1"_s);
        // Keys that type nothing, and codes no X keyboard has.
        QCOMPARE(layout.characters(29), QString());
        QCOMPARE(layout.characters(0), QString());
        QCOMPARE(layout.characters(300), QString());

        // Two layouts, the second one active: what the user sees on the keys now.
        auto restore = qScopeGuard([this] {
            m_desktop.run(u"setxkbmap"_s, {u"us"_s});
            HotkeyMonitor::save(*m_preferences, std::nullopt);
        });
        int code = -1;
        m_desktop.run(u"setxkbmap"_s, {u"-layout"_s, u"us,de"_s}, &code);
        QCOMPARE(code, 0);
        OtherClient other(m_desktop.display());
        QVERIFY(other.lockGroup(1));
        QTRY_COMPARE(layout.characters(21), u"z"_s);
        QCOMPARE(layout.characters(39), u"ö"_s);

        // The recorder names a German Ö key as such.
        HotkeyRecorder recorder(*m_monitor, *m_preferences, &layout);
        recorder.toggle();
        QVERIFY(recorder.captureQtKey(39 + 8, int(Qt::ControlModifier)));
        QCOMPARE(recorder.display(), u"Ctrl+Ö"_s);
        QCOMPARE(m_monitor->shortcut(), (Shortcut{39, Shortcut::control, u"Ctrl+Ö"_s}));
        QVERIFY(m_monitor->isActive());

        // The new keymap did not cost the grab.
        const QString log = typed({u"keydown"_s, u"ctrl+odiaeresis"_s, u"keyup"_s, u"odiaeresis"_s, u"keyup"_s,
                                   u"ctrl"_s});
        QCOMPARE(m_downs, 1);
        QCOMPARE(m_ups, 1);
        QVERIFY2(!sawKey(log, 39 + 8), qPrintable(log));
    }

    void notAvailableWithoutADisplay()
    {
        const QByteArray display = qgetenv("DISPLAY");
        qputenv("DISPLAY", ":9999");
        X11HotkeyBackend backend;
        QVERIFY(!backend.isAvailable());
        QSignalSpy conflict(&backend, &HotkeyBackend::conflict);
        QVERIFY(!backend.watch(HotkeyMonitor::defaultShortcut()));
        QCOMPARE(conflict.count(), 1);
        QVERIFY(!backend.isActive());
        qputenv("DISPLAY", display);
    }
};

QTEST_GUILESS_MAIN(TestX11Hotkey)
#include "tst_x11hotkey.moc"
