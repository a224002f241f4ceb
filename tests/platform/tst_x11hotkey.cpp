// The X11 global hotkey on a private display, with a text window focused that reports every
// key it gets: the combination reaches the callbacks and not the window, in every lock state,
// held down, against another client's grab, across modifier mapping and keymap changes.
#include "core/base/preferences.h"
#include "core/dictation/hotkeymonitor.h"
#include "desktopsession.h"
#include "platform/x11/x11hotkeybackend.h"
#include "platform/x11/xcbreply.h"
#include "textwindowprocess.h"

#include <QScopeGuard>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

#include <memory>

using namespace Qt::StringLiterals;

namespace {

constexpr int xSpace = 65; // X key code of Space (evdev code + 8)
// Ctrl+Alt+Space let go the way people do: the key first, then the modifiers. (xdotool's
// own "key ctrl+alt+space" lets go of the modifiers first.)
const QStringList hotkeyStroke{u"keydown"_s, u"ctrl+alt+space"_s, u"keyup"_s, u"space"_s, u"keyup"_s, u"ctrl+alt"_s};

// Another X client: it holds a combination of its own, changes the keyboard mapping, or
// reads the lock state.
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
        return !Xcb::Reply<xcb_generic_error_t>(xcb_request_check(m_connection, cookie));
    }

    // Ctrl+Alt+Space, exactly.
    bool grab(bool on)
    {
        const uint16_t ctrlAlt = XCB_MOD_MASK_CONTROL | XCB_MOD_MASK_1;
        return succeeded(on ? xcb_grab_key_checked(m_connection, 1, m_root, ctrlAlt, xSpace, XCB_GRAB_MODE_ASYNC,
                                                   XCB_GRAB_MODE_ASYNC)
                            : xcb_ungrab_key_checked(m_connection, xSpace, m_root, ctrlAlt));
    }

    // The modifier state bits the server holds now (Lock, Mod2 for Num Lock, …).
    uint16_t state()
    {
        const Xcb::Reply<xcb_query_pointer_reply_t> reply(
            xcb_query_pointer_reply(m_connection, xcb_query_pointer(m_connection, m_root), nullptr));
        return reply ? reply->mask : 0xffff;
    }

    // Eight rows (Shift, Lock, Control, Mod1…Mod5) of equally many keys.
    QList<xcb_keycode_t> modifierMap()
    {
        const Xcb::Reply<xcb_get_modifier_mapping_reply_t> reply(
            xcb_get_modifier_mapping_reply(m_connection, xcb_get_modifier_mapping(m_connection), nullptr));
        if (!reply)
            return {};
        const xcb_keycode_t *keyCodes = xcb_get_modifier_mapping_keycodes(reply.get());
        return QList<xcb_keycode_t>(keyCodes, keyCodes + 8 * reply->keycodes_per_modifier);
    }

    bool setModifierMap(const QList<xcb_keycode_t> &keyCodes)
    {
        const uint8_t perModifier = uint8_t(keyCodes.size() / 8);
        const Xcb::Reply<xcb_set_modifier_mapping_reply_t> reply(xcb_set_modifier_mapping_reply(
            m_connection, xcb_set_modifier_mapping(m_connection, perModifier, keyCodes.data()), nullptr));
        return reply && reply->status == XCB_MAPPING_STATUS_SUCCESS;
    }

private:
    xcb_connection_t *m_connection;
    xcb_window_t m_root;
};

} // namespace

class TestX11Hotkey final : public QObject
{
    Q_OBJECT

private:
    DesktopSession m_desktop;
    std::unique_ptr<TextWindowProcess> m_window;
    QTemporaryDir m_dir;
    Preferences m_preferences{m_dir.filePath(u"preferences.json"_s)};
    X11HotkeyBackend *m_backend = nullptr;
    std::unique_ptr<HotkeyMonitor> m_monitor;
    int m_downs = 0;
    int m_ups = 0;

    // Presses keys, then a marker key, and returns the keys other than modifiers that the
    // focused window received before the marker, with their modifiers ("ctrl+alt+Space").
    // The hotkey's events have arrived here by then too.
    QStringList typed(const QStringList &arguments)
    {
        const qsizetype mark = m_window->keys().size();
        const bool arrived = m_desktop.xdotool(arguments + QStringList{u"key"_s, u"x"_s}) && QTest::qWaitFor([&] {
            return m_window->keys().size() > mark && m_window->keys().last().key == u"X";
        });
        if (!arrived)
            return {u"(the marker key never arrived)"_s};
        QTest::qWait(200);
        static const QStringList modifierKeys{u"Control"_s, u"Alt"_s, u"Shift"_s, u"CapsLock"_s, u"NumLock"_s};
        QStringList names;
        for (const TextWindowProcess::Key &key : m_window->keys().mid(mark, m_window->keys().size() - mark - 1)) {
            if (!modifierKeys.contains(key.key))
                names << (key.modifiers + QStringList{key.key}).join(u'+');
        }
        return names;
    }

    void startMonitor()
    {
        m_backend = new X11HotkeyBackend;
        m_monitor = std::make_unique<HotkeyMonitor>(m_preferences, QList<HotkeyBackend *>{m_backend});
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
    }

    void init()
    {
        m_downs = 0;
        m_ups = 0;
        startMonitor();
        QVERIFY2(m_monitor->isActive(), qPrintable(m_monitor->conflict()));
    }

    void cleanup() { m_monitor.reset(); }

    void strokes_data()
    {
        QTest::addColumn<QString>("hotkey");
        QTest::addColumn<QStringList>("locks");
        QTest::addColumn<QStringList>("keys");
        QTest::addColumn<int>("downs");
        QTest::addColumn<int>("ups");
        QTest::addColumn<QStringList>("reached"); // the keys that reached the window, marker aside
        const QStringList ctrlAltSpace{u"key"_s, u"ctrl+alt+space"_s};
        const QStringList none;
        QTest::newRow("the hotkey") << u"default"_s << none << hotkeyStroke << 1 << 1 << none;
        // The press counts, the release does not (in hold-to-talk the recording goes on).
        QTest::newRow("modifiers let go first") << u"default"_s << none << ctrlAltSpace << 1 << 0 << none;
        QTest::newRow("other combinations")
            << u"default"_s << none << QStringList{u"key"_s, u"alt+shift+space"_s, u"ctrl+space"_s, u"space"_s} << 0
            << 0 << QStringList{u"alt+shift+Space"_s, u"ctrl+Space"_s, u"Space"_s};
        // Held longer than the server's auto-repeat delay: one press all the same.
        QTest::newRow("held") << u"default"_s << none
                              << QStringList{u"keydown"_s, u"ctrl+alt+space"_s, u"sleep"_s, u"1.5"_s} + hotkeyStroke.mid(2)
                              << 1 << 1 << none;
        QTest::newRow("both locks on") << u"default"_s << QStringList{u"Num_Lock"_s, u"Caps_Lock"_s} << hotkeyStroke
                                       << 1 << 1 << none;
        QTest::newRow("cleared") << u"none"_s << none << ctrlAltSpace << 0 << 0 << QStringList{u"ctrl+alt+Space"_s};
        QTest::newRow("replaced: the old one is let go")
            << u"F1"_s << QStringList{u"Caps_Lock"_s} << ctrlAltSpace << 0 << 0 << QStringList{u"ctrl+alt+Space"_s};
        QTest::newRow("replaced: the new one") << u"F1"_s << QStringList{u"Caps_Lock"_s}
                                               << QStringList{u"key"_s, u"F1"_s} << 1 << 1 << none;
        QTest::newRow("replaced: with a modifier it is another")
            << u"F1"_s << none << QStringList{u"key"_s, u"shift+F1"_s} << 0 << 0 << QStringList{u"shift+F1"_s};
    }

    void strokes()
    {
        QFETCH(QString, hotkey);
        QFETCH(QStringList, locks);
        QFETCH(QStringList, keys);
        QFETCH(int, downs);
        QFETCH(int, ups);
        QFETCH(QStringList, reached);
        if (hotkey != u"default") {
            m_monitor->setShortcut(hotkey == u"F1" ? std::optional(Shortcut{59, 0, u"F1"_s}) : std::nullopt);
            QCOMPARE(m_monitor->isActive(), hotkey == u"F1");
        }
        OtherClient other(m_desktop.display());
        const uint16_t lockBits = (locks.contains(u"Caps_Lock"_s) ? XCB_MOD_MASK_LOCK : 0)
            | (locks.contains(u"Num_Lock"_s) ? XCB_MOD_MASK_2 : 0);
        const auto unlock = qScopeGuard([&] {
            for (const QString &lock : std::as_const(locks))
                m_desktop.xdotool({u"key"_s, lock});
        });
        for (const QString &lock : std::as_const(locks))
            QVERIFY(m_desktop.xdotool({u"key"_s, lock}));
        QTRY_COMPARE(int(other.state() & (XCB_MOD_MASK_LOCK | XCB_MOD_MASK_2)), int(lockBits));

        QSignalSpy events(m_backend, &HotkeyBackend::keyEvent);
        QCOMPARE(typed(keys), reached);
        QCOMPARE(m_downs, downs);
        QCOMPARE(m_ups, ups);
        const bool repeated = std::any_of(events.cbegin(), events.cend(), [](const QList<QVariant> &arguments) {
            return arguments.at(0).value<HotkeyEvent>().autoRepeat;
        });
        QCOMPARE(repeated, keys.contains(u"sleep"_s)); // else holding was not tested
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
        QCOMPARE(typed({u"key"_s, u"Caps_Lock"_s, u"ctrl+alt+space"_s, u"Caps_Lock"_s}), QStringList{u"ctrl+alt+Space"_s});
        QCOMPARE(m_downs, 0);

        QVERIFY(other.grab(false));
        QSignalSpy conflictChanged(m_monitor.get(), &HotkeyMonitor::conflictChanged);
        m_monitor->ensureTap();
        QVERIFY(m_monitor->isActive());
        QVERIFY(m_monitor->conflict().isEmpty());
        QCOMPARE(conflictChanged.count(), 1);
        QCOMPARE(typed({u"key"_s, u"ctrl+alt+space"_s}), QStringList());
        QCOMPARE(m_downs, 1);
    }

    // Alt may move to another modifier (as xmodmap does it), and a mapping without Alt (a
    // keymap lent for typing under Wayland has none) takes the hotkey away until a keymap
    // with it comes back.
    void followsTheModifierMapping()
    {
        OtherClient other(m_desktop.display());
        const QList<xcb_keycode_t> saved = other.modifierMap();
        QVERIFY(!saved.isEmpty());
        const auto restore = qScopeGuard([&] { other.setModifierMap(saved); });
        const qsizetype perModifier = saved.size() / 8;
        const auto row = [&](QList<xcb_keycode_t> &map, int index) { return map.begin() + index * perModifier; };
        QList<xcb_keycode_t> altOnMod3 = saved;
        std::swap_ranges(row(altOnMod3, 3), row(altOnMod3, 4), row(altOnMod3, 5));
        QVERIFY(other.setModifierMap(altOnMod3));
        QTest::qWait(300);
        QCOMPARE(typed({u"key"_s, u"ctrl+alt+space"_s}), QStringList());
        QCOMPARE(m_downs, 1);

        QList<xcb_keycode_t> withoutAlt = saved;
        std::fill(row(withoutAlt, 3), row(withoutAlt, 4), xcb_keycode_t(0));
        QVERIFY(other.setModifierMap(withoutAlt));
        QTRY_VERIFY(!m_monitor->isActive());
        // Given back as a whole new keymap, which only XKB's own notices announce.
        int code = -1;
        m_desktop.run(u"setxkbmap"_s, {u"us"_s}, &code);
        QCOMPARE(code, 0);
        QTRY_VERIFY2(m_monitor->isActive(), qPrintable(m_monitor->conflict()));
        QCOMPARE(typed({u"key"_s, u"ctrl+alt+space"_s}), QStringList());
        QCOMPARE(m_downs, 2);
    }
};

QTEST_GUILESS_MAIN(TestX11Hotkey)
#include "tst_x11hotkey.moc"
