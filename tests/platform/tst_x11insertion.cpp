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

#include <csignal>
#include <memory>
#include <QCoroTask>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusVariant>
#include <QFile>
#include <QProcess>
#include <QClipboard>
#include <QGuiApplication>
#include <QScopeGuard>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <sys/prctl.h>
#include <xcb/xcb.h>

using Editable = FocusProbe::Editable;

namespace {

struct ToolResult
{
    int exitCode = -1;
    QString out;
};

} // namespace

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
    std::unique_ptr<Preferences> m_preferences;
    std::unique_ptr<X11KeyboardInjector> m_injector;
    std::unique_ptr<X11FocusProbe> m_focus;
    std::unique_ptr<QtClipboard> m_clipboard;
    std::unique_ptr<ClipboardSafeInsertService> m_safeInsert;
    std::unique_ptr<TextInserter> m_inserter;

    // Runs a harness tool with the event loop turning: this process owns the clipboard, and
    // xclip only gets an answer if Qt can serve the request meanwhile.
    ToolResult run(const QString &program, const QStringList &arguments) const
    {
        QProcess tool;
        tool.setProcessEnvironment(m_session.environment());
        ChildProcess::dieWithParent(tool);
        tool.start(program, arguments);
        QSignalSpy finished(&tool, &QProcess::finished);
        if (!tool.waitForStarted(5000) ||
            (!finished.wait(10000) && tool.state() != QProcess::NotRunning)) {
            ChildProcess::stop(tool);
            return {};
        }
        return {tool.exitStatus() == QProcess::NormalExit ? tool.exitCode() : -1,
                QString::fromUtf8(tool.readAllStandardOutput())};
    }

    QString clipboardAsOthersSeeIt() const
    {
        const ToolResult result =
            run(QStringLiteral("xclip"),
                {QStringLiteral("-o"), QStringLiteral("-selection"), QStringLiteral("clipboard")});
        return result.exitCode == 0 ? result.out : QStringLiteral("<xclip failed>");
    }

    bool waitForFocusedClass(const QString &windowClass)
    {
        return QTest::qWaitFor([&] { return m_focus->focusedTarget().windowClass == windowClass; },
                               10000);
    }

    TextInsertionResult insert(const QString &text)
    {
        return QCoro::waitFor(m_inserter->insert(text, TextInsertionMethod::automatic));
    }

private Q_SLOTS:
    void initTestCase()
    {
        QVERIFY(m_folder.isValid());
        QVERIFY2(QFile::exists(TextWindowProcess::program()), "MURMEL_TEXTWINDOW names no program");
        m_preferences =
            std::make_unique<Preferences>(m_folder.filePath(QStringLiteral("preferences.json")));
        QVERIFY(m_preferences->setBoolean(PreferenceKeys::clipboardSafeInsert, false));
        m_injector = std::make_unique<X11KeyboardInjector>();
        m_focus = std::make_unique<X11FocusProbe>();
        m_clipboard = std::make_unique<QtClipboard>();
        m_safeInsert = std::make_unique<ClipboardSafeInsertService>(*m_injector);
        m_inserter = std::make_unique<TextInserter>(*m_safeInsert, *m_clipboard, *m_injector,
                                                    *m_focus, *m_preferences);
        QVERIFY(m_injector->isTrusted());
    }

    void cleanupTestCase()
    {
        m_inserter.reset();
        m_safeInsert.reset();
        m_focus.reset();
        m_injector.reset();
    }

    // Runs first, before any window exists.
    void nothingFocusedIsCopied()
    {
        const FocusProbe::Target target = m_focus->focusedTarget();
        QVERIFY(!target.hasFocus());
        QVERIFY(!m_inserter->focusedElementIsEditable());
        QCOMPARE(insert(QStringLiteral("nowhere to go")), TextInsertionResult::copied);
        QCOMPARE(clipboardAsOthersSeeIt(), QStringLiteral("nowhere to go"));
    }

    void pasteIntoApplication()
    {
        TextWindowProcess window(m_session.environment());
        QVERIFY(window.start({QStringLiteral("--title"), QStringLiteral("Editor")}));
        QVERIFY(waitForFocusedClass(QStringLiteral("textwindow textwindow")));
        QVERIFY(m_inserter->focusedElementIsEditable());

        const QString text = QStringLiteral("  Dear team,\nthe build is green — ship it. ✓ ");
        QCOMPARE(insert(text), TextInsertionResult::inserted);
        QVERIFY2(window.waitForText(text), qPrintable(window.text()));
        QCOMPARE(clipboardAsOthersSeeIt(), text);
        QCOMPARE(window.keys().last().key, QStringLiteral("V"));
        QCOMPARE(window.keys().last().modifiers, QStringList{QStringLiteral("ctrl")});
    }

    void pasteIntoXterm()
    {
        QTemporaryDir folder;
        const QString output = folder.filePath(QStringLiteral("typed"));
        QProcess xterm;
        QProcessEnvironment environment = m_session.environment();
        environment.insert(QStringLiteral("LC_ALL"), QStringLiteral("C.UTF-8"));
        xterm.setProcessEnvironment(environment);
        ChildProcess::dieWithParent(xterm);
        // Without canonical mode cat sees every byte at once, with no line editing between.
        xterm.start(QStringLiteral("xterm"),
                    {QStringLiteral("-e"), QStringLiteral("sh"), QStringLiteral("-c"),
                     QStringLiteral("stty -icanon -echo; exec cat > \"$0\""), output});
        const auto stop = qScopeGuard([&] { ChildProcess::stop(xterm); });
        QVERIFY(waitForFocusedClass(QStringLiteral("xterm xterm")));
        // The shell inside must be reading before the paste arrives.
        QVERIFY(QTest::qWaitFor([&] { return QFile::exists(output); }, 10000));
        QTest::qWait(200);

        const QString text = QStringLiteral("echo pasted by Murmel: grüße");
        QCOMPARE(insert(text), TextInsertionResult::inserted);
        QFile typed(output);
        const bool arrived = QTest::qWaitFor(
            [&] {
                return typed.open(QIODevice::ReadOnly) && QString::fromUtf8(typed.readAll()) == text
                           ? true
                           : (typed.close(), false);
            },
            10000);
        QVERIFY2(arrived,
                 qPrintable(QStringLiteral("xterm got: ") + QString::fromUtf8(typed.readAll())));
        QCOMPARE(clipboardAsOthersSeeIt(), text);
    }

    void pasteIntoTerminalByClass()
    {
        TextWindowProcess terminal(m_session.environment());
        QVERIFY(terminal.start({QStringLiteral("--terminal")}));
        QVERIFY(waitForFocusedClass(QStringLiteral("gnome-terminal-server gnome-terminal-server")));

        const QString text =
            QStringLiteral("git commit -m 'Ctrl+V would be a control character here'");
        QCOMPARE(insert(text), TextInsertionResult::inserted);
        QVERIFY2(terminal.waitForText(text), qPrintable(terminal.text()));
        const TextWindowProcess::Key last = terminal.keys().last();
        QCOMPARE(last.key, QStringLiteral("V"));
        QCOMPARE(last.modifiers, (QStringList{QStringLiteral("ctrl"), QStringLiteral("shift")}));
    }

    void pasteWhileModifierIsHeld_data()
    {
        QTest::addColumn<int>("releaseAfterMs");
        QTest::newRow("Alt let go shortly after") << 300;
        QTest::newRow("Alt stuck down") << -1;
    }

    void pasteWhileModifierIsHeld()
    {
        QFETCH(int, releaseAfterMs);

        TextWindowProcess window(m_session.environment());
        QVERIFY(window.start());
        QVERIFY(waitForFocusedClass(QStringLiteral("textwindow textwindow")));

        QCOMPARE(run(QStringLiteral("xdotool"), {QStringLiteral("keydown"), QStringLiteral("alt")})
                     .exitCode,
                 0);
        const auto letGo = qScopeGuard([this] {
            run(QStringLiteral("xdotool"), {QStringLiteral("keyup"), QStringLiteral("alt")});
        });
        QProcess release;
        release.setProcessEnvironment(m_session.environment());
        ChildProcess::dieWithParent(release);
        const auto stopRelease = qScopeGuard([&] { ChildProcess::stop(release); });
        if (releaseAfterMs >= 0) {
            QTimer::singleShot(releaseAfterMs, &release, [&release] {
                release.start(QStringLiteral("xdotool"),
                              {QStringLiteral("keyup"), QStringLiteral("alt")});
            });
        }

        const QString text = QStringLiteral("plain text, not Ctrl+Alt+V");
        QCOMPARE(insert(text), TextInsertionResult::inserted);
        QVERIFY2(window.waitForText(text), qPrintable(window.text()));
        const TextWindowProcess::Key last = window.keys().last();
        QCOMPARE(last.key, QStringLiteral("V"));
        QCOMPARE(last.modifiers, QStringList{QStringLiteral("ctrl")});
    }

    void typeLeavesClipboardAlone_data()
    {
        QTest::addColumn<QString>("text");

        QTest::newRow("accents, CJK, dash, check mark") << QStringLiteral("Grüße, 東京 — naïve ✓");
        QTest::newRow("ASCII punctuation")
            << QStringLiteral("Hello, World! 1+1=2 (ok) ~/x_{y}|\"q\" 'a' `b` <c> @#$%^&*;:?");
        QTest::newRow("lines and tabs") << QStringLiteral("first line\n\tindented second\nthird");
        QTest::newRow("outside the basic plane") << QStringLiteral("rocket 🚀 and 𝄞 clef");
        // More distinct characters than the keyboard has free keys: lent in several rounds.
        QString many;
        for (int i = 0; i < 80; ++i)
            many.append(QChar(char16_t(0x4e00 + i * 37)));
        QTest::newRow("many distinct characters") << many;
    }

    void typeLeavesClipboardAlone()
    {
        QFETCH(QString, text);

        TextWindowProcess window(m_session.environment());
        QVERIFY(window.start());
        QVERIFY(waitForFocusedClass(QStringLiteral("textwindow textwindow")));
        m_clipboard->setText(QStringLiteral("what the user copied"));
        QCOMPARE(clipboardAsOthersSeeIt(), QStringLiteral("what the user copied"));

        QVERIFY(QCoro::waitFor(m_injector->type(text)));
        QVERIFY2(window.waitForText(text), qPrintable(window.text()));
        QCOMPARE(clipboardAsOthersSeeIt(), QStringLiteral("what the user copied"));
        QCOMPARE(QGuiApplication::clipboard()->text(), QStringLiteral("what the user copied"));
        // Whatever keys were lent are given back.
        QVERIFY(QCoro::waitFor(m_injector->type(QStringLiteral("!"))));
        QVERIFY2(window.waitForText(text + u'!'), qPrintable(window.text()));
    }

    void typeWithCapsLockOn()
    {
        TextWindowProcess window(m_session.environment());
        QVERIFY(window.start());
        QVERIFY(waitForFocusedClass(QStringLiteral("textwindow textwindow")));
        QCOMPARE(
            run(QStringLiteral("xdotool"), {QStringLiteral("key"), QStringLiteral("Caps_Lock")})
                .exitCode,
            0);
        const auto unlock = qScopeGuard([this] {
            run(QStringLiteral("xdotool"), {QStringLiteral("key"), QStringLiteral("Caps_Lock")});
        });

        const QString text = QStringLiteral("Hello World, über 42");
        QVERIFY(QCoro::waitFor(m_injector->type(text)));
        QVERIFY2(window.waitForText(text), qPrintable(window.text()));
    }

    void withoutXTestTextIsCopied()
    {
        DesktopSession bare(DesktopSession::WindowManager::none,
                            {QStringLiteral("-extension"), QStringLiteral("XTEST")});
        QVERIFY2(bare.start(), qPrintable(bare.error()));
        X11KeyboardInjector injector(bare.display().toLocal8Bit());
        QVERIFY(!injector.isTrusted());
        QVERIFY(!QCoro::waitFor(injector.type(QStringLiteral("cannot type"))));

        X11FocusProbe focus(nullptr, bare.display().toLocal8Bit());
        FakeClipboard clipboard;
        ClipboardSafeInsertService safeInsert(injector);
        TextInserter inserter(safeInsert, clipboard, injector, focus, *m_preferences);
        QCOMPARE(QCoro::waitFor(inserter.insert(QStringLiteral("paste it yourself"),
                                                TextInsertionMethod::automatic)),
                 TextInsertionResult::copied);
        QCOMPARE(clipboard.text(), QStringLiteral("paste it yourself"));
    }

    void withoutDisplayNothingIsSent()
    {
        X11KeyboardInjector injector(QByteArrayLiteral(":65000"));
        QVERIFY(!injector.isTrusted());
        QVERIFY(!QCoro::waitFor(injector.type(QStringLiteral("x"))));
        QVERIFY(!QCoro::waitFor(injector.paste(KeyboardInjector::PasteKeys::ctrlV)));
        const X11FocusProbe focus(nullptr, QByteArrayLiteral(":65000"));
        QVERIFY(!focus.focusedTarget().hasFocus());
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
                          XCB_WINDOW_CLASS_INPUT_OUTPUT, screen->root_visual, XCB_CW_OVERRIDE_REDIRECT,
                          &overrideRedirect);
        xcb_map_window(connection, placeholder);
        xcb_set_input_focus(connection, XCB_INPUT_FOCUS_NONE, placeholder, XCB_CURRENT_TIME);
        free(xcb_get_input_focus_reply(connection, xcb_get_input_focus(connection), nullptr));
        const auto destroy = qScopeGuard([&] {
            xcb_destroy_window(connection, placeholder);
            xcb_flush(connection);
        });

        const QByteArray display = m_session.display().toLocal8Bit();
        QCOMPARE(X11FocusProbe(nullptr, display, true).focusedTarget().window, FocusProbe::Window::none);
        QCOMPARE(X11FocusProbe(nullptr, display, false).focusedTarget().window, FocusProbe::Window::x11);
    }

    void accessibilityHint()
    {
        SecretServiceSession bus(SecretServiceSession::Keyring::none);
        QVERIFY2(bus.start(), qPrintable(bus.error()));
        QProcessEnvironment environment = m_session.environment();
        environment.insert(bus.environment());

        QProcess launcher;
        QProcessEnvironment launcherEnvironment = environment;
        // The launcher keeps its switch in GSettings, which on this private bus has no dconf
        // service to write to.
        launcherEnvironment.insert(QStringLiteral("GSETTINGS_BACKEND"), QStringLiteral("memory"));
        launcher.setProcessEnvironment(launcherEnvironment);
        // SIGTERM, so the launcher takes its own accessibility bus down with it.
        ChildProcess::dieWithParent(launcher, SIGTERM);
        launcher.start(QStringLiteral("/usr/libexec/at-spi-bus-launcher"),
                       {QStringLiteral("--launch-immediately")});
        const auto stopLauncher = qScopeGuard([&] { ChildProcess::stop(launcher); });
        QVERIFY2(launcher.waitForStarted(), qPrintable(launcher.errorString()));
        QVERIFY(
            QTest::qWaitFor([&] { return bus.hasName(QStringLiteral("org.a11y.Bus")); }, 10000));

        const QString connectionName = QStringLiteral("accessibility-test");
        const auto disconnect =
            qScopeGuard([&] { QDBusConnection::disconnectFromBus(connectionName); });
        QDBusConnection session = QDBusConnection::connectToBus(bus.busAddress(), connectionName);
        // Applications expose their widgets only once assistive technology is said to run.
        QDBusMessage enable = QDBusMessage::createMethodCall(
            QStringLiteral("org.a11y.Bus"), QStringLiteral("/org/a11y/bus"),
            QStringLiteral("org.freedesktop.DBus.Properties"), QStringLiteral("Set"));
        enable << QStringLiteral("org.a11y.Status") << QStringLiteral("IsEnabled")
               << QVariant::fromValue(QDBusVariant(true));
        QCOMPARE(session.call(enable).type(), QDBusMessage::ReplyMessage);

        AtspiFocusTracker tracker(session);
        QSignalSpy started(&tracker, &AtspiFocusTracker::started);
        tracker.start();
        QVERIFY(started.wait(10000));
        QVERIFY(tracker.isTracking());
        X11FocusProbe focus(&tracker);
        const auto editable = [&] { return focus.focusedTarget().editable; };

        TextWindowProcess field(environment);
        QVERIFY(field.start({QStringLiteral("--title"), QStringLiteral("Field")}));
        QVERIFY2(QTest::qWaitFor([&] { return editable() == Editable::yes; }, 10000),
                 "the text field was not seen");

        TextWindowProcess button(environment);
        QVERIFY(button.start({QStringLiteral("--focus"), QStringLiteral("button")}));
        QVERIFY2(QTest::qWaitFor([&] { return editable() == Editable::no; }, 10000),
                 "the button was not seen");

        // xterm tells the accessibility bus nothing; what the button said must not stick to it.
        QProcess xterm;
        xterm.setProcessEnvironment(environment);
        ChildProcess::dieWithParent(xterm);
        xterm.start(QStringLiteral("xterm"),
                    {QStringLiteral("-e"), QStringLiteral("sleep"), QStringLiteral("60")});
        const auto stopXterm = qScopeGuard([&] { ChildProcess::stop(xterm); });
        QVERIFY(waitForFocusedClass(QStringLiteral("xterm xterm")));
        QCOMPARE(editable(), Editable::unknown);
        // And a paste still goes there.
        QVERIFY(m_inserter->focusedElementIsEditable());
    }

    // Where the desktop copies the clipboard over to other clients (mutter, from XWayland to
    // Wayland), keys must not paste before it has: another client reading the text is the
    // sign. A wait with no reader ends all the same.
    void clipboardCountsAsSharedOnceRead()
    {
        X11Clipboard clipboard;
        QVERIFY(clipboard.setText(QStringLiteral("shared")));
        bool shared = false;
        const auto wait = [](X11Clipboard &from, bool &done) -> QCoro::Task<> {
            co_await from.whenShared();
            done = true;
        };
        auto waiting = wait(clipboard, shared);
        QTest::qWait(300);
        QVERIFY(!shared);
        QProcess reader;
        reader.start(QStringLiteral("xclip"), {QStringLiteral("-o"), QStringLiteral("-selection"), QStringLiteral("clipboard")});
        QTRY_VERIFY(shared);
        QTRY_COMPARE(reader.state(), QProcess::NotRunning);
        QCOMPARE(reader.readAllStandardOutput(), QByteArray("shared"));
        auto read = clipboard.whenShared();
        QVERIFY(read.isReady());
        QVERIFY(QCoro::waitFor(std::move(read)));

        QVERIFY(clipboard.setText(QStringLiteral("again")));
        auto unread = clipboard.whenShared();
        QVERIFY(!unread.isReady());
        QVERIFY(!QCoro::waitFor(std::move(unread)));
    }
};

int main(int argc, char **argv)
{
    DesktopSession session;
    if (!session.start()) {
        qCritical("%s", qPrintable(session.error()));
        return 1;
    }
    session.enter();
    // This process owns the clipboard on the test display, like Murmel does on a desktop.
    qputenv("QT_QPA_PLATFORM", "xcb");
    // The accessibility test brings its own bus; nothing here should reach the user's.
    qunsetenv("DBUS_SESSION_BUS_ADDRESS");
    QGuiApplication app(argc, argv);
    TestX11Insertion test(session);
    return QTest::qExec(&test, argc, argv);
}

#include "tst_x11insertion.moc"
