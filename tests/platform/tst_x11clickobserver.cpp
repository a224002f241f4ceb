// The X11 click observer on a private display with a window manager: clicks and Escape in
// another application are seen and still reach it; our own windows are told apart; and
// click-to-insert end to end pastes into the field that was clicked.
#include "core/base/preferencekeys.h"
#include "core/base/preferences.h"
#include "core/hud/hudcontroller.h"
#include "core/hud/sounds.h"
#include "core/insert/clickinserter.h"
#include "core/insert/clipboardsafeinsertservice.h"
#include "core/insert/textinserter.h"
#include "desktopsession.h"
#include "fakes/fakeannouncer.h"
#include "fakes/fakehudpanel.h"
#include "fakes/fakesoundplayer.h"
#include "platform/session/qtclipboard.h"
#include "platform/x11/x11clickobserver.h"
#include "platform/x11/x11focusprobe.h"
#include "platform/x11/x11keyboardinjector.h"
#include "testenvironment.h"
#include "textwindowprocess.h"

#include <memory>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QRasterWindow>
#include <QScopeGuard>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

namespace {

// One of "our own" windows: it counts what reaches it.
class OwnWindow final : public QRasterWindow
{
public:
    int presses = 0;
    QList<int> keys;

protected:
    void mousePressEvent(QMouseEvent *event) override
    {
        if (event->button() == Qt::LeftButton)
            ++presses;
    }
    void keyPressEvent(QKeyEvent *event) override { keys.append(event->key()); }
};

// Long enough for any event of this display to have been read and handled.
constexpr int settleMs = 400;

} // namespace

class TestX11ClickObserver final : public QObject
{
    Q_OBJECT

public:
    explicit TestX11ClickObserver(const DesktopSession &session)
        : m_session(session)
    {}

private:
    const DesktopSession &m_session;
    TestEnvironment m_environment; // before anything reads the preferences
    std::unique_ptr<X11ClickObserver> m_observer;

    bool xdotool(const QStringList &arguments) const
    {
        int exitCode = -1;
        m_session.run(QStringLiteral("xdotool"), arguments, &exitCode);
        return exitCode == 0;
    }

    // Clicks at (x, y) inside `window`, whoever it belongs to. (No --sync: it waits for a
    // motion that never comes when the pointer is already there; the server keeps the
    // motion and the click in order anyway.)
    bool clickInWindow(quint64 window, int x, int y, int button = 1) const
    {
        return xdotool({QStringLiteral("mousemove"), QStringLiteral("--window"),
                        QString::number(window), QString::number(x), QString::number(y), QStringLiteral("click"),
                        QString::number(button)});
    }

    bool clickAt(int x, int y) const
    {
        return xdotool({QStringLiteral("mousemove"), QString::number(x),
                        QString::number(y), QStringLiteral("click"), QStringLiteral("1")});
    }

    bool key(const QString &name) const { return xdotool({QStringLiteral("key"), name}); }

    // A text window whose focus is on its button, so that only a click that really reached
    // it puts the keyboard focus into its text field.
    bool startTextWindow(TextWindowProcess &window) const
    {
        if (!window.start({QStringLiteral("--focus"), QStringLiteral("button")}))
            return false;
        return xdotool({QStringLiteral("windowmove"), QStringLiteral("--sync"), QString::number(window.window()),
                        QStringLiteral("400"), QStringLiteral("200")});
    }

    // Typing proves where the keyboard focus is: the field only reports text it received.
    bool typeReachesField(TextWindowProcess &window, const QString &text) const
    {
        return xdotool({QStringLiteral("type"), QStringLiteral("--delay"), QStringLiteral("20"), text})
            && window.waitForText(text, 5000);
    }

    std::unique_ptr<OwnWindow> showOwnWindow() const
    {
        auto window = std::make_unique<OwnWindow>();
        window->setTitle(QStringLiteral("Murmel"));
        window->setGeometry(60, 60, 240, 160);
        window->show();
        window->requestActivate();
        return window;
    }

private Q_SLOTS:
    void initTestCase()
    {
        QVERIFY2(QFile::exists(TextWindowProcess::program()), "MURMEL_TEXTWINDOW names no program");
        QCOMPARE(QGuiApplication::platformName(), QStringLiteral("xcb"));
    }

    void init() { m_observer = std::make_unique<X11ClickObserver>(); }
    void cleanup() { m_observer.reset(); }

    void clickInAnotherApplication_data()
    {
        QTest::addColumn<int>("button");
        QTest::newRow("left button") << 1;
        QTest::newRow("right button") << 3;
    }

    void clickInAnotherApplication()
    {
        QFETCH(int, button);
        TextWindowProcess window(m_session.environment());
        QVERIFY(startTextWindow(window));
        QSignalSpy outside(m_observer.get(), &ClickObserver::outsideClick);
        QSignalSpy own(m_observer.get(), &ClickObserver::ownWindowClick);
        QVERIFY(m_observer->start());
        QVERIFY(m_observer->isWatching());

        QVERIFY(clickInWindow(window.window(), 60, 40, button));
        if (button == 1) {
            QVERIFY(outside.wait(5000));
            // The click was only watched: the window got it and moved its focus to the field.
            QVERIFY(typeReachesField(window, QStringLiteral("clicked")));
        }
        QTest::qWait(settleMs);
        QCOMPARE(outside.size(), button == 1 ? 1 : 0);
        QCOMPARE(own.size(), 0);
    }

    void escapeInAnotherApplication()
    {
        TextWindowProcess window(m_session.environment());
        QVERIFY(window.start());
        QSignalSpy escape(m_observer.get(), &ClickObserver::escapePressed);
        QSignalSpy outside(m_observer.get(), &ClickObserver::outsideClick);
        QVERIFY(m_observer->start());

        // Other keys are none of our business.
        QVERIFY(key(QStringLiteral("a")));
        QVERIFY(window.waitForText(QStringLiteral("a")));
        QCOMPARE(escape.size(), 0);

        QVERIFY(key(QStringLiteral("Escape")));
        QVERIFY(escape.wait(5000));
        QVERIFY(QTest::qWaitFor(
            [&] {
                const auto keys = window.keys();
                return !keys.isEmpty() && keys.last().key == u"Esc";
            },
            5000));
        QTest::qWait(settleMs);
        QCOMPARE(escape.size(), 1);
        QCOMPARE(outside.size(), 0);
    }

    void clickInOwnWindow_data()
    {
        QTest::addColumn<bool>("titleBar");
        QTest::newRow("inside") << false;
        QTest::newRow("title bar") << true;
    }

    void clickInOwnWindow()
    {
        QFETCH(bool, titleBar);
        const auto ownWindow = showOwnWindow();
        QVERIFY(QTest::qWaitForWindowExposed(ownWindow.get()));
        QSignalSpy outside(m_observer.get(), &ClickObserver::outsideClick);
        QSignalSpy own(m_observer.get(), &ClickObserver::ownWindowClick);
        QVERIFY(m_observer->start());

        if (titleBar) {
            QTRY_VERIFY_WITH_TIMEOUT(ownWindow->frameGeometry().top() < ownWindow->geometry().top(), 5000);
            const QRect frame = ownWindow->frameGeometry();
            const QRect inner = ownWindow->geometry();
            QVERIFY(clickAt(inner.left() + inner.width() / 2, (frame.top() + inner.top()) / 2));
        } else {
            QVERIFY(clickInWindow(ownWindow->winId(), 50, 50));
        }
        QVERIFY(own.wait(5000));
        QTest::qWait(settleMs);
        QCOMPARE(own.size(), 1);
        QCOMPARE(outside.size(), 0);
        // The click reached the window as usual.
        QCOMPARE(ownWindow->presses, titleBar ? 0 : 1);
    }

    void escapeInOwnWindowIsSwallowed()
    {
        const auto ownWindow = showOwnWindow();
        QVERIFY(QTest::qWaitForWindowActive(ownWindow.get()));
        QSignalSpy escape(m_observer.get(), &ClickObserver::escapePressed);
        QVERIFY(m_observer->start());

        QVERIFY(key(QStringLiteral("Escape")));
        QVERIFY(escape.wait(5000));
        QVERIFY(key(QStringLiteral("b")));
        QTRY_VERIFY_WITH_TIMEOUT(ownWindow->keys.contains(Qt::Key_B), 5000);
        QTest::qWait(settleMs);
        // Seen once, by the filter; the raw copy of the same press is left to it.
        QCOMPARE(escape.size(), 1);
        QVERIFY(!ownWindow->keys.contains(Qt::Key_Escape));

        // Once stopped, Escape is the window's again.
        m_observer->stop();
        QVERIFY(key(QStringLiteral("Escape")));
        QTRY_VERIFY_WITH_TIMEOUT(ownWindow->keys.contains(Qt::Key_Escape), 5000);
        QCOMPARE(escape.size(), 1);
    }

    void nothingWhileStopped()
    {
        TextWindowProcess window(m_session.environment());
        QVERIFY(startTextWindow(window));
        QSignalSpy outside(m_observer.get(), &ClickObserver::outsideClick);
        QSignalSpy escape(m_observer.get(), &ClickObserver::escapePressed);
        QVERIFY(m_observer->start());
        m_observer->stop();
        QVERIFY(!m_observer->isWatching());
        QVERIFY(clickInWindow(window.window(), 60, 40));
        QVERIFY(key(QStringLiteral("Escape")));
        QTest::qWait(settleMs);
        QCOMPARE(outside.size(), 0);
        QCOMPARE(escape.size(), 0);
    }

    void clicksBeforeAStopDoNotCountAfterTheNextStart()
    {
        TextWindowProcess window(m_session.environment());
        QVERIFY(startTextWindow(window));
        QSignalSpy outside(m_observer.get(), &ClickObserver::outsideClick);
        QVERIFY(m_observer->start());
        QCoreApplication::processEvents();
        // Two quick clicks; the first is handled, which stops the observer, while the
        // second is still waiting to be read.
        connect(m_observer.get(), &ClickObserver::outsideClick, m_observer.get(), [this] { m_observer->stop(); });
        QVERIFY(xdotool({QStringLiteral("mousemove"), QStringLiteral("--window"),
                         QString::number(window.window()), QStringLiteral("60"), QStringLiteral("40"),
                         QStringLiteral("click"), QStringLiteral("--repeat"), QStringLiteral("2"),
                         QStringLiteral("--delay"), QStringLiteral("10"), QStringLiteral("1")}));
        QVERIFY(outside.wait(5000));
        QVERIFY(m_observer->start());
        QTest::qWait(settleMs);
        QCOMPARE(outside.size(), 1);
    }

    void withoutDisplayOnlyOwnWindowsAreWatched()
    {
        const auto ownWindow = showOwnWindow();
        QVERIFY(QTest::qWaitForWindowExposed(ownWindow.get()));
        X11ClickObserver observer(QByteArrayLiteral(":65000"));
        QSignalSpy own(&observer, &ClickObserver::ownWindowClick);
        QVERIFY(!observer.start());
        QVERIFY(!observer.isWatching());
        QVERIFY(clickInWindow(ownWindow->winId(), 50, 50));
        QVERIFY(own.wait(5000));
        observer.stop();
    }

    void clickToInsertEndToEnd()
    {
        QTemporaryDir folder;
        Preferences preferences(folder.filePath(QStringLiteral("preferences.json")));
        X11KeyboardInjector injector;
        QVERIFY(injector.isTrusted());
        X11FocusProbe focus;
        QtClipboard clipboard;
        ClipboardSafeInsertService safeInsert(injector);
        TextInserter textInserter(safeInsert, clipboard, injector, focus, preferences);
        FakeHUDPanel panel;
        FakeAnnouncer announcer;
        HUDController hud(panel, announcer);
        FakeSoundPlayer player;
        Sounds sounds(player);
        ClickInserter inserter(*m_observer, injector, textInserter, hud, sounds);

        // Escape cancels, and a click afterwards inserts nothing.
        {
            TextWindowProcess window(m_session.environment());
            QVERIFY(startTextWindow(window));
            inserter.arm(QStringLiteral("not this"));
            QVERIFY(inserter.isArmed());
            QVERIFY(key(QStringLiteral("Escape")));
            QTRY_VERIFY_WITH_TIMEOUT(!inserter.isArmed(), 5000);
            QVERIFY(clickInWindow(window.window(), 60, 40));
            QTest::qWait(ClickInserter::insertDelayMs + 600);
            QCOMPARE(window.text(), QString());
            QVERIFY(player.played.isEmpty());
            QTRY_VERIFY_WITH_TIMEOUT(!panel.visible, 1000);
        }

        // The field has to get the focus from the click itself.
        TextWindowProcess window(m_session.environment());
        QVERIFY(startTextWindow(window));
        QSignalSpy inserted(&inserter, &ClickInserter::inserted);
        const QString text = QStringLiteral("The whole transcript,\nsecond line — grüße.");
        inserter.arm(text);
        QVERIFY(clickInWindow(window.window(), 60, 40));
        QTRY_VERIFY_WITH_TIMEOUT(!inserter.isArmed(), 5000);
        QVERIFY(inserted.wait(5000));
        QCOMPARE(inserted.first().first().toBool(), true);
        QVERIFY2(window.waitForText(text), qPrintable(window.text()));
        QCOMPARE(hud.model().confirmText(), QStringLiteral("Inserted"));
        QCOMPARE(player.played, QStringList{QStringLiteral("Morse")});
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
    // Our own windows have to be real windows on the test display.
    qputenv("QT_QPA_PLATFORM", "xcb");
    qunsetenv("DBUS_SESSION_BUS_ADDRESS");
    QGuiApplication app(argc, argv);
    TestX11ClickObserver test(session);
    return QTest::qExec(&test, argc, argv);
}

#include "tst_x11clickobserver.moc"
