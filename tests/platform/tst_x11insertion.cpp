// Pasting and typing into real applications on a private display: the paste keys each kind of
// window wants, a modifier still held from the hotkey, typing any text with Caps Lock on while
// the user's clipboard stays as it was, and the ways there is nobody to send keys to.
#include "childprocess.h"
#include "core/base/preferencekeys.h"
#include "core/base/preferences.h"
#include "core/insert/clipboardsafeinsertservice.h"
#include "core/insert/textinserter.h"
#include "desktopsession.h"
#include "fakes/fakeclipboard.h"
#include "platform/session/atspifocustracker.h"
#include "platform/session/qtclipboard.h"
#include "platform/x11/x11clipboard.h"
#include "platform/x11/x11focusprobe.h"
#include "platform/x11/x11keyboardinjector.h"
#include "secretservicesession.h"
#include "textwindowprocess.h"

#include <QClipboard>
#include <QCoroTask>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusVariant>
#include <QGuiApplication>
#include <QScopeGuard>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <xcb/xcb.h>

using namespace Qt::StringLiterals;
using Editable = FocusProbe::Editable;

class TestX11Insertion final : public QObject
{
    Q_OBJECT

public:
    explicit TestX11Insertion(const DesktopSession &session)
        : m_session(session)
    {}

private:
    const DesktopSession &m_session;
    QTemporaryDir m_folder;
    Preferences m_preferences{m_folder.filePath(u"preferences.json"_s)};
    X11KeyboardInjector m_injector;
    X11FocusProbe m_focus;
    QtClipboard m_clipboard;
    ClipboardSafeInsertService m_safeInsert{m_injector};
    TextInserter m_inserter{m_safeInsert, m_clipboard, m_injector, m_focus, m_preferences};

    // A selection as other clients see it. This process owns it, so xclip only gets an answer
    // while the event loop turns.
    QString selection(const QString &which = u"clipboard"_s) const
    {
        QProcess xclip;
        m_session.launch(xclip, u"xclip"_s, {u"-o"_s, u"-selection"_s, which});
        if (!QTest::qWaitFor([&] { return xclip.state() == QProcess::NotRunning; }, 10000))
            return u"<xclip hung>"_s;
        return xclip.exitCode() == 0 ? QString::fromUtf8(xclip.readAllStandardOutput()) : u"<xclip failed>"_s;
    }

    bool waitForFocusedClass(const QString &windowClass)
    {
        return QTest::qWaitFor([&] { return m_focus.focusedTarget().windowClass == windowClass; }, 10000);
    }

    // The keyboard mapping, as every client reads it.
    QString keymap() const { return m_session.run(u"xkbcomp"_s, {u"-xkb"_s, m_session.display(), u"-"_s}); }

    TextInsertionResult insert(const QString &text)
    {
        return QCoro::waitFor(m_inserter.insert(text, TextInsertionMethod::automatic));
    }

private Q_SLOTS:
    void initTestCase()
    {
        QVERIFY2(QFile::exists(TextWindowProcess::program()), "MURMEL_TEXTWINDOW names no program");
        QVERIFY(m_preferences.setBoolean(PreferenceKeys::clipboardSafeInsert, false));
        QVERIFY(m_injector.isTrusted());
    }

    // Runs first, before any window exists.
    void nothingFocusedIsCopied()
    {
        QVERIFY(!m_inserter.focusedElementIsEditable());
        QCOMPARE(insert(u"nowhere to go"_s), TextInsertionResult::copied);
        QCOMPARE(selection(), u"nowhere to go"_s);
    }

    // A synthetic Ctrl+V while the user still holds Alt from the hotkey would be Ctrl+Alt+V.
    void pasteKeysFitTheWindow_data()
    {
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<int>("altUpAfterMs"); // -1: Alt stays down; 0: not pressed
        QTest::addColumn<QString>("key");
        QTest::addColumn<QStringList>("modifiers");
        QTest::addColumn<QString>("selection");
        QTest::newRow("application, Alt let go shortly after")
            << QStringList() << 300 << u"V"_s << QStringList{u"ctrl"_s} << u"clipboard"_s;
        // Ctrl+V would reach the shell as a control character.
        QTest::newRow("terminal, Alt stuck down")
            << QStringList{u"--terminal"_s} << -1 << u"V"_s << QStringList{u"ctrl"_s, u"shift"_s} << u"clipboard"_s;
        // xterm ignores Ctrl+Shift+V and pastes the primary selection.
        QTest::newRow("xterm") << QStringList{u"--terminal"_s, u"--class"_s, u"xterm"_s} << 0 << u"Ins"_s
                               << QStringList{u"shift"_s} << u"primary"_s;
    }

    void pasteKeysFitTheWindow()
    {
        QFETCH(QStringList, arguments);
        QFETCH(int, altUpAfterMs);
        QFETCH(QString, key);
        QFETCH(QStringList, modifiers);
        QFETCH(QString, selection);
        TextWindowProcess window(m_session.environment());
        QVERIFY(window.start(arguments));
        QVERIFY(QTest::qWaitFor([&] { return m_inserter.focusedElementIsEditable(); }, 10000));
        QProcess release;
        const auto letGo = qScopeGuard([&] {
            ChildProcess::stop(release);
            m_session.xdotool({u"keyup"_s, u"alt"_s});
        });
        if (altUpAfterMs != 0)
            QVERIFY(m_session.xdotool({u"keydown"_s, u"alt"_s}));
        if (altUpAfterMs > 0)
            m_session.launch(release, u"xdotool"_s,
                             {u"sleep"_s, QString::number(altUpAfterMs / 1000.0), u"keyup"_s, u"alt"_s});

        const QString text = u"  Dear team,\nthe build is green — ship it. ✓ "_s;
        QCOMPARE(insert(text), TextInsertionResult::inserted);
        QVERIFY2(window.waitForText(text), qPrintable(window.text()));
        QCOMPARE(this->selection(selection), text);
        QCOMPARE(window.keys().last().key, key);
        QCOMPARE(window.keys().last().modifiers, modifiers);
    }

    void typingLeavesTheClipboardAlone_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<bool>("capsLock");
        QTest::addColumn<int>("slowMs"); // what the window takes over each key press
        QTest::newRow("ASCII and accents, Caps Lock on")
            << u"Hello, World! 1+1=2 (ok) ~/x_{y}|\"q\" `b` <c> @#$%^&*;:? Grüße über 42"_s << true << 0;
        QTest::newRow("CJK, astral, lines and tabs") << u"東京 — naïve ✓\n\trocket 🚀 and 𝄞 clef"_s << false << 0;
        // More distinct characters than the keyboard has free keys: lent in several rounds,
        // each given to the next only once the window has read its keys with it.
        QString many;
        for (int i = 0; i < 80; ++i)
            many.append(QChar(char16_t(0x4e00 + i * 37)));
        QTest::newRow("many distinct characters") << many << false << 0;
        QTest::newRow("many distinct characters, busy window") << many << false << 25;
    }

    void typingLeavesTheClipboardAlone()
    {
        QFETCH(QString, text);
        QFETCH(bool, capsLock);
        QFETCH(int, slowMs);
        TextWindowProcess window(m_session.environment());
        QVERIFY(window.start({u"--slow"_s, QString::number(slowMs)}));
        QVERIFY(waitForFocusedClass(u"textwindow textwindow"_s));
        if (capsLock)
            QVERIFY(m_session.xdotool({u"key"_s, u"Caps_Lock"_s}));
        const auto unlock = qScopeGuard([&] {
            if (capsLock)
                m_session.xdotool({u"key"_s, u"Caps_Lock"_s});
        });
        m_clipboard.setText(u"what the user copied"_s);
        const QString before = keymap();
        QVERIFY(before.contains(u"xkb_symbols"));

        QVERIFY(QCoro::waitFor(m_injector.type(text)));
        QVERIFY2(window.waitForText(text, 10000 + slowMs * int(text.size()) * 2), qPrintable(window.text()));
        QCOMPARE(selection(), u"what the user copied"_s);
        QCOMPARE(QGuiApplication::clipboard()->text(), u"what the user copied"_s);
        // The keys lent for the run are given back, and Caps Lock is as it was.
        QCOMPARE(keymap(), before);
        QVERIFY(m_session.xdotool({u"key"_s, u"a"_s}));
        QVERIFY2(window.waitForText(text + (capsLock ? u"A"_s : u"a"_s)), qPrintable(window.text()));
    }

    void withoutXTestOrDisplayTextIsCopied()
    {
        DesktopSession bare(DesktopSession::WindowManager::none, {u"-extension"_s, u"XTEST"_s});
        QVERIFY2(bare.start(), qPrintable(bare.error()));
        for (const QString &display : {bare.display(), u":65000"_s}) {
            X11KeyboardInjector injector(display.toLocal8Bit());
            QVERIFY(!injector.isTrusted());
            QVERIFY(!QCoro::waitFor(injector.type(u"cannot type"_s)));
            QVERIFY(!QCoro::waitFor(injector.paste(KeyboardInjector::PasteKeys::ctrlV)));
            X11FocusProbe focus(nullptr, display.toLocal8Bit());
            FakeClipboard clipboard;
            ClipboardSafeInsertService safeInsert(injector);
            TextInserter inserter(safeInsert, clipboard, injector, focus, m_preferences);
            QCOMPARE(QCoro::waitFor(inserter.insert(u"paste it yourself"_s, TextInsertionMethod::automatic)),
                     TextInsertionResult::copied);
            QCOMPARE(clipboard.text(), u"paste it yourself"_s);
        }
    }

    // Under Wayland the X focus rests on a window of the compositor's own (KWin's is 1×1,
    // without WM_CLASS) while a native window is active; XTEST keys sent there go nowhere.
    void focusWithoutWindowClass()
    {
        xcb_connection_t *connection = xcb_connect(m_session.display().toLocal8Bit().constData(), nullptr);
        const auto disconnect = qScopeGuard([connection] { xcb_disconnect(connection); });
        const xcb_screen_t *screen = xcb_setup_roots_iterator(xcb_get_setup(connection)).data;
        const xcb_window_t placeholder = xcb_generate_id(connection);
        const uint32_t overrideRedirect = 1;
        xcb_create_window(connection, XCB_COPY_FROM_PARENT, placeholder, screen->root, 0, 0, 1, 1, 0,
                          XCB_WINDOW_CLASS_INPUT_OUTPUT, screen->root_visual, XCB_CW_OVERRIDE_REDIRECT, &overrideRedirect);
        xcb_map_window(connection, placeholder);
        xcb_set_input_focus(connection, XCB_INPUT_FOCUS_NONE, placeholder, XCB_CURRENT_TIME);
        free(xcb_get_input_focus_reply(connection, xcb_get_input_focus(connection), nullptr));
        const QByteArray display = m_session.display().toLocal8Bit();
        QCOMPARE(X11FocusProbe(nullptr, display, true).focusedTarget().window, FocusProbe::Window::none);
        QCOMPARE(X11FocusProbe(nullptr, display, false).focusedTarget().window, FocusProbe::Window::x11);
        xcb_destroy_window(connection, placeholder);
        xcb_flush(connection);
    }

    // The accessibility bus tells a text field from a button; a window that says nothing
    // (xterm) gets no stale answer, and a paste still goes there.
    void accessibilityHint()
    {
        SecretServiceSession bus(SecretServiceSession::Keyring::none);
        QVERIFY2(bus.start(), qPrintable(bus.error()));
        QProcessEnvironment environment = m_session.environment();
        environment.insert(bus.environment());
        QProcess launcher;
        const auto stopLauncher = qScopeGuard([&] { ChildProcess::stop(launcher); });
        QVERIFY(bus.startAccessibilityBus(launcher));

        const auto disconnect = qScopeGuard([] { QDBusConnection::disconnectFromBus(u"accessibility-test"_s); });
        QDBusConnection session = QDBusConnection::connectToBus(bus.busAddress(), u"accessibility-test"_s);
        // Applications expose their widgets only once assistive technology is said to run.
        QDBusMessage enable = QDBusMessage::createMethodCall(u"org.a11y.Bus"_s, u"/org/a11y/bus"_s,
                                                             u"org.freedesktop.DBus.Properties"_s, u"Set"_s);
        enable << u"org.a11y.Status"_s << u"IsEnabled"_s << QVariant::fromValue(QDBusVariant(true));
        QCOMPARE(session.call(enable).type(), QDBusMessage::ReplyMessage);
        AtspiFocusTracker tracker(session);
        QSignalSpy started(&tracker, &AtspiFocusTracker::started);
        tracker.start();
        QVERIFY(started.wait(10000));
        X11FocusProbe focus(&tracker);
        const auto editable = [&] { return focus.focusedTarget().editable; };

        TextWindowProcess field(environment);
        QVERIFY(field.start({u"--title"_s, u"Field"_s}));
        QVERIFY2(QTest::qWaitFor([&] { return editable() == Editable::yes; }, 10000), "the text field was not seen");
        TextWindowProcess button(environment);
        QVERIFY(button.start({u"--focus"_s, u"button"_s}));
        QVERIFY2(QTest::qWaitFor([&] { return editable() == Editable::no; }, 10000), "the button was not seen");
        QProcess xterm;
        m_session.launch(xterm, u"xterm"_s, {u"-e"_s, u"sleep"_s, u"60"_s}, bus.environment());
        const auto stopXterm = qScopeGuard([&] { ChildProcess::stop(xterm); });
        QVERIFY(waitForFocusedClass(u"xterm xterm"_s));
        QCOMPARE(editable(), Editable::unknown);
        QVERIFY(m_inserter.focusedElementIsEditable());
    }

    // Where the desktop copies the clipboard over to other clients (mutter, from XWayland to
    // Wayland), keys must not paste before it has: another client reading the text is the
    // sign. A wait with no reader ends all the same.
    void clipboardCountsAsSharedOnceRead()
    {
        X11Clipboard clipboard;
        QVERIFY(clipboard.setText(u"shared"_s));
        bool shared = false;
        const auto wait = [](X11Clipboard &from, bool &done) -> QCoro::Task<> {
            done = co_await from.whenShared();
        };
        auto waiting = wait(clipboard, shared);
        QTest::qWait(300);
        QVERIFY(!shared);
        QCOMPARE(selection(), u"shared"_s);
        QTRY_VERIFY(shared);

        QVERIFY(clipboard.setText(u"again"_s));
        QVERIFY(!QCoro::waitFor(clipboard.whenShared()));
    }
};

int main(int argc, char **argv)
{
    return DesktopSession::exec<TestX11Insertion>(argc, argv);
}

#include "tst_x11insertion.moc"
