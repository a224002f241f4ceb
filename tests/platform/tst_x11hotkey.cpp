// The X11 global hotkey on a private display, with a text window focused that reports every
// key it gets: the combination reaches the callbacks and not the window, in every lock state,
// held down, against another client's grab, across modifier mapping and layout changes.
#include "core/base/preferences.h"
#include "core/dictation/hotkeymonitor.h"
#include "core/dictation/hotkeyrecorder.h"
#include "desktopsession.h"
#include "platform/x11/x11hotkeybackend.h"
#include "platform/x11/xkbkeyboardlayout.h"
#include "textwindowprocess.h"

#include <QScopeGuard>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

#include <xcb/xcb.h>
// The XKB protocol header names a struct member `explicit`.
#define explicit explicit_
#include <xcb/xkb.h>
#undef explicit

#include <memory>

using namespace Qt::StringLiterals;

namespace {

constexpr int xSpace = 65; // X key code of Space (evdev code + 8)
// Ctrl+Alt+Space pressed and let go the way people do: the key first, then the modifiers.
// (xdotool's own "key ctrl+alt+space" lets go of the modifiers first.)
const QStringList hotkeyStroke{u"keydown"_s, u"ctrl+alt+space"_s, u"keyup"_s, u"space"_s, u"keyup"_s, u"ctrl+alt"_s};

// Another X client, holding a combination of its own or changing the keyboard mapping.
class OtherClient final
{
public:
    explicit OtherClient(const QString &display)
        : m_connection(xcb_connect(display.toLocal8Bit().constData(), nullptr))
        , m_root(xcb_setup_roots_iterator(xcb_get_setup(m_connection)).data->root)
    {}
    ~OtherClient() { xcb_disconnect(m_connection); }

    bool succeeded(xcb_void_cookie_t cookie)
    {
        xcb_generic_error_t *error = xcb_request_check(m_connection, cookie);
        std::free(error);
        return !error;
    }

    bool grab(bool on, uint16_t modifiers = XCB_MOD_MASK_CONTROL | XCB_MOD_MASK_1)
    {
        return succeeded(on ? xcb_grab_key_checked(m_connection, 1, m_root, modifiers, xSpace, XCB_GRAB_MODE_ASYNC,
                                                   XCB_GRAB_MODE_ASYNC)
                            : xcb_ungrab_key_checked(m_connection, xSpace, m_root, modifiers));
    }

    // The modifier map: eight rows (Shift, Lock, Control, Mod1…Mod5) of `perModifier` keys.
    QList<xcb_keycode_t> modifierMap()
    {
        xcb_get_modifier_mapping_reply_t *reply
            = xcb_get_modifier_mapping_reply(m_connection, xcb_get_modifier_mapping(m_connection), nullptr);
        m_perModifier = reply ? reply->keycodes_per_modifier : 0;
        const xcb_keycode_t *keyCodes = reply ? xcb_get_modifier_mapping_keycodes(reply) : nullptr;
        const QList<xcb_keycode_t> map(keyCodes, keyCodes + 8 * m_perModifier);
        std::free(reply);
        return map;
    }

    bool setModifierMap(const QList<xcb_keycode_t> &keyCodes)
    {
        xcb_set_modifier_mapping_reply_t *set = xcb_set_modifier_mapping_reply(
            m_connection, xcb_set_modifier_mapping(m_connection, m_perModifier, keyCodes.data()), nullptr);
        const bool done = set && set->status == XCB_MAPPING_STATUS_SUCCESS;
        std::free(set);
        return done;
    }

    // Switches the keyboard to another group (layout) of the keymap, as a layout indicator does.
    bool lockGroup(uint8_t group)
    {
        std::free(xcb_xkb_use_extension_reply(m_connection, xcb_xkb_use_extension(m_connection, 1, 0), nullptr));
        return succeeded(
            xcb_xkb_latch_lock_state_checked(m_connection, XCB_XKB_ID_USE_CORE_KBD, 0, 0, 1, group, 0, 0, 0));
    }

    int perModifier() const { return m_perModifier; }

private:
    xcb_connection_t *m_connection;
    xcb_window_t m_root;
    int m_perModifier = 0;
};

} // namespace

class TestX11Hotkey final : public QObject
{
    Q_OBJECT

private:
    DesktopSession m_desktop;
    std::unique_ptr<TextWindowProcess> m_window;
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

    // Presses keys, then a marker key, and returns the names of the keys the focused window
    // received up to the marker. The hotkey's events have arrived here by then too.
    QStringList typed(const QStringList &arguments)
    {
        const qsizetype mark = m_window->keys().size();
        xdotool(arguments + QStringList{u"key"_s, u"x"_s});
        if (!QTest::qWaitFor([&] { return m_window->keys().size() > mark && m_window->keys().last().key == u"X"; }, 10000))
            qWarning() << "the marker key never reached the window";
        QTest::qWait(200);
        QStringList names;
        for (const TextWindowProcess::Key &key : m_window->keys().mid(mark))
            names << key.key;
        return names;
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
        m_window = std::make_unique<TextWindowProcess>(m_desktop.environment());
        QVERIFY(m_window->start());
        m_preferences = std::make_unique<Preferences>(m_dir.filePath(u"preferences.json"_s));
    }

    void init()
    {
        m_downs = 0;
        m_ups = 0;
        startMonitor();
        QCOMPARE(m_monitor->backendName(), u"X11"_s);
        QVERIFY2(m_monitor->isActive(), qPrintable(m_monitor->conflict()));
    }

    void cleanup() { m_monitor.reset(); }

    void strokes_data()
    {
        QTest::addColumn<QString>("hotkey");
        QTest::addColumn<QStringList>("keys");
        QTest::addColumn<int>("downs");
        QTest::addColumn<int>("ups");
        QTest::addColumn<QString>("seen"); // what reached the window, or "" for neither key
        const QStringList ctrlAltSpace{u"key"_s, u"ctrl+alt+space"_s};
        QTest::newRow("the hotkey") << u"default"_s << hotkeyStroke << 1 << 1 << QString();
        // The press counts, the release does not (in hold-to-talk the recording goes on).
        QTest::newRow("modifiers let go first") << u"default"_s << ctrlAltSpace << 1 << 0 << QString();
        QTest::newRow("other combinations") << u"default"_s
                                            << QStringList{u"key"_s, u"alt+shift+space"_s, u"ctrl+space"_s, u"space"_s}
                                            << 0 << 0 << u"Space"_s;
        for (const QString &lock : {u"Num_Lock"_s, u"Caps_Lock"_s}) {
            QTest::addRow("with %s on", qPrintable(lock))
                << u"default"_s << QStringList{u"key"_s, lock} + hotkeyStroke + QStringList{u"key"_s, lock} << 1 << 1
                << QString();
        }
        QTest::newRow("with both locks on")
            << u"default"_s
            << QStringList{u"key"_s, u"Num_Lock"_s, u"Caps_Lock"_s} + hotkeyStroke
                   + QStringList{u"key"_s, u"Num_Lock"_s, u"Caps_Lock"_s}
            << 1 << 1 << QString();
        QTest::newRow("cleared") << u"none"_s << ctrlAltSpace << 0 << 0 << u"Space"_s;
        QTest::newRow("replaced: the old one is let go") << u"F1"_s << ctrlAltSpace << 0 << 0 << u"Space"_s;
        QTest::newRow("replaced: the new one") << u"F1"_s << QStringList{u"key"_s, u"F1"_s} << 1 << 1 << QString();
        QTest::newRow("replaced: with a modifier it is another")
            << u"F1"_s << QStringList{u"key"_s, u"shift+F1"_s} << 0 << 0 << u"F1"_s;
    }

    void strokes()
    {
        QFETCH(QString, hotkey);
        QFETCH(QStringList, keys);
        QFETCH(int, downs);
        QFETCH(int, ups);
        QFETCH(QString, seen);
        if (hotkey != u"default") {
            m_monitor->setShortcut(hotkey == u"F1" ? std::optional(Shortcut{59, 0, u"F1"_s}) : std::nullopt);
            QCOMPARE(m_monitor->isActive(), hotkey == u"F1");
        }
        const QStringList received = typed(keys);
        QCOMPARE(m_downs, downs);
        QCOMPARE(m_ups, ups);
        QVERIFY2(!received.contains(u"Space"_s) || seen == u"Space", qPrintable(received.join(u' ')));
        QVERIFY2(!received.contains(u"F1"_s) || seen == u"F1", qPrintable(received.join(u' ')));
        QVERIFY2(seen.isEmpty() || received.contains(seen), qPrintable(received.join(u' ')));
    }

    void holdingGivesOneKeyDown()
    {
        QSignalSpy events(m_backend, &HotkeyBackend::keyEvent);
        const qsizetype mark = m_window->keys().size();
        xdotool({u"keydown"_s, u"ctrl+alt+space"_s});
        QTRY_COMPARE(m_downs, 1);
        // Longer than the server's auto-repeat delay.
        QTest::qWait(1500);
        xdotool({u"keyup"_s, u"space"_s, u"keyup"_s, u"ctrl+alt"_s});
        QTRY_COMPARE(m_ups, 1);
        QCOMPARE(m_downs, 1);
        int repeats = 0;
        for (const QList<QVariant> &arguments : std::as_const(events))
            repeats += arguments.at(0).value<HotkeyEvent>().autoRepeat ? 1 : 0;
        QVERIFY2(repeats > 0, "the server sent no auto-repeat, so holding was not tested");
        const QStringList received = typed({});
        QVERIFY(m_window->keys().size() > mark && !received.contains(u"Space"_s));
    }

    void combinationHeldByAnotherClientIsAConflict()
    {
        m_monitor.reset();
        OtherClient other(m_desktop.display());
        QVERIFY(other.grab(true));
        startMonitor();
        QVERIFY(!m_monitor->isActive());
        QCOMPARE(m_monitor->conflict(), u"Another application already uses Ctrl+Alt+Space. Choose a different hotkey."_s);
        // Our half of the lock variants must not linger: with Caps Lock on, the other
        // client's exact grab does not match, so the key reaches the window.
        QVERIFY(typed({u"key"_s, u"Caps_Lock"_s, u"ctrl+alt+space"_s, u"Caps_Lock"_s}).contains(u"Space"_s));
        QCOMPARE(m_downs, 0);

        QVERIFY(other.grab(false));
        QSignalSpy conflictChanged(m_monitor.get(), &HotkeyMonitor::conflictChanged);
        m_monitor->ensureTap();
        QVERIFY(m_monitor->isActive());
        QVERIFY(m_monitor->conflict().isEmpty());
        QCOMPARE(conflictChanged.count(), 1);
        QVERIFY(!typed({u"key"_s, u"ctrl+alt+space"_s}).contains(u"Space"_s));
        QCOMPARE(m_downs, 1);
    }

    // Alt may move to another modifier (as xmodmap does it), and a mapping without Alt (a
    // keymap lent for typing under Wayland has none) takes the hotkey away until a mapping
    // with it comes back.
    void followsTheModifierMapping()
    {
        OtherClient other(m_desktop.display());
        const QList<xcb_keycode_t> saved = other.modifierMap();
        QVERIFY(!saved.isEmpty());
        const auto restore = qScopeGuard([&] { other.setModifierMap(saved); });
        const auto row = [&](int index) { return saved.mid(index * other.perModifier(), other.perModifier()); };
        QList<xcb_keycode_t> altOnMod3 = saved;
        std::copy(row(5).cbegin(), row(5).cend(), altOnMod3.begin() + 3 * other.perModifier());
        std::copy(row(3).cbegin(), row(3).cend(), altOnMod3.begin() + 5 * other.perModifier());
        QVERIFY(other.setModifierMap(altOnMod3));
        QTest::qWait(300);
        QVERIFY(!typed({u"key"_s, u"ctrl+alt+space"_s}).contains(u"Space"_s));
        QCOMPARE(m_downs, 1);

        QList<xcb_keycode_t> withoutAlt = saved;
        std::fill_n(withoutAlt.begin() + 3 * other.perModifier(), other.perModifier(), xcb_keycode_t(0));
        QVERIFY(other.setModifierMap(withoutAlt));
        QTRY_VERIFY(!m_monitor->isActive());
        QVERIFY(other.setModifierMap(saved));
        QTRY_VERIFY2(m_monitor->isActive(), qPrintable(m_monitor->conflict()));
        QVERIFY(!typed({u"key"_s, u"ctrl+alt+space"_s}).contains(u"Space"_s));
        QCOMPARE(m_downs, 2);
    }

    // Keys are named as the active layout shows them, and a new keymap keeps the grab.
    void layoutNamesTheKeys()
    {
        XkbKeyboardLayout layout;
        QCOMPARE(layout.characters(21), u"y"_s);
        QCOMPARE(layout.characters(2), u"1"_s); // level one only: Shift is not held
        QCOMPARE(layout.characters(29), QString()); // Control types nothing
        QCOMPARE(layout.characters(300), QString());
        const auto restore = qScopeGuard([this] {
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

        HotkeyRecorder recorder(*m_monitor, *m_preferences, &layout);
        recorder.toggle();
        QVERIFY(recorder.captureQtKey(39 + 8, int(Qt::ControlModifier)));
        QCOMPARE(recorder.display(), u"Ctrl+Ö"_s);
        QCOMPARE(m_monitor->shortcut(), (Shortcut{39, Shortcut::control, u"Ctrl+Ö"_s}));
        const QStringList received = typed(
            {u"keydown"_s, u"ctrl+odiaeresis"_s, u"keyup"_s, u"odiaeresis"_s, u"keyup"_s, u"ctrl"_s});
        QCOMPARE(m_downs, 1);
        QCOMPARE(m_ups, 1);
        QVERIFY2(!received.contains(u"Ö"_s), qPrintable(received.join(u' ')));
    }

    void notAvailableWithoutADisplay()
    {
        const QByteArray display = qgetenv("DISPLAY");
        const auto restore = qScopeGuard([&] { qputenv("DISPLAY", display); });
        qputenv("DISPLAY", ":9999");
        X11HotkeyBackend backend;
        QVERIFY(!backend.isAvailable());
        QSignalSpy conflict(&backend, &HotkeyBackend::conflict);
        QVERIFY(!backend.watch(HotkeyMonitor::defaultShortcut()));
        QCOMPARE(conflict.count(), 1);
        QVERIFY(!backend.isActive());
    }
};

QTEST_GUILESS_MAIN(TestX11Hotkey)
#include "tst_x11hotkey.moc"
