// The X11 click observer on a private display with a window manager: clicks and Escape in
// another application are seen and still reach it; our own windows are told apart; and
// click-to-insert end to end pastes into the field that was clicked.
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
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

using namespace Qt::StringLiterals;

namespace {

// One of "our own" windows: it counts what reaches it.
class OwnWindow final : public QRasterWindow
{
public:
    int presses = 0;
    QList<int> keys;

protected:
    void mousePressEvent(QMouseEvent *event) override { presses += event->button() == Qt::LeftButton; }
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
        m_session.run(u"xdotool"_s, arguments, &exitCode);
        return exitCode == 0;
    }

    // Clicks inside `window`, whoever it belongs to. (No --sync: it waits for a motion that
    // never comes when the pointer is already there; the server keeps the motion and the
    // click in order anyway.)
    bool clickInWindow(quint64 window, int button = 1, int times = 1) const
    {
        return xdotool({u"mousemove"_s, u"--window"_s, QString::number(window), u"60"_s, u"40"_s, u"click"_s,
                        u"--repeat"_s, QString::number(times), u"--delay"_s, u"10"_s, QString::number(button)});
    }

    bool key(const QString &name) const { return xdotool({u"key"_s, name}); }

    // A text window whose focus is on its button, so that only a click that really reached
    // it puts the keyboard focus into its text field.
    bool startTextWindow(TextWindowProcess &window) const
    {
        return window.start({u"--focus"_s, u"button"_s})
            && xdotool({u"windowmove"_s, u"--sync"_s, QString::number(window.window()), u"400"_s, u"200"_s});
    }

    std::unique_ptr<OwnWindow> showOwnWindow() const
    {
        auto window = std::make_unique<OwnWindow>();
        window->setTitle(u"Murmel"_s);
        window->setGeometry(60, 60, 240, 160);
        window->show();
        window->requestActivate();
        return window;
    }

private Q_SLOTS:
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
        QVERIFY(clickInWindow(window.window(), button));
        if (button == 1) {
            QVERIFY(outside.wait(5000));
            // The click was only watched: the window got it and moved its focus to the field.
            QVERIFY(xdotool({u"type"_s, u"--delay"_s, u"20"_s, u"clicked"_s}));
            QVERIFY(window.waitForText(u"clicked"_s, 5000));
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
        QVERIFY(key(u"a"_s));
        QVERIFY(window.waitForText(u"a"_s));
        QCOMPARE(escape.size(), 0);
        QVERIFY(key(u"Escape"_s));
        QVERIFY(escape.wait(5000));
        QTRY_COMPARE_WITH_TIMEOUT(window.keys().last().key, u"Esc"_s, 5000);
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
            const QRect inner = ownWindow->geometry();
            QVERIFY(xdotool({u"mousemove"_s, QString::number(inner.center().x()),
                             QString::number((ownWindow->frameGeometry().top() + inner.top()) / 2), u"click"_s, u"1"_s}));
        } else {
            QVERIFY(clickInWindow(ownWindow->winId()));
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
        QVERIFY(key(u"Escape"_s));
        QVERIFY(escape.wait(5000));
        QVERIFY(key(u"b"_s));
        QTRY_VERIFY_WITH_TIMEOUT(ownWindow->keys.contains(Qt::Key_B), 5000);
        QTest::qWait(settleMs);
        // Seen once, by the filter; the raw copy of the same press is left to it.
        QCOMPARE(escape.size(), 1);
        QVERIFY(!ownWindow->keys.contains(Qt::Key_Escape));
        // Once stopped, Escape is the window's again.
        m_observer->stop();
        QVERIFY(key(u"Escape"_s));
        QTRY_VERIFY_WITH_TIMEOUT(ownWindow->keys.contains(Qt::Key_Escape), 5000);
        QCOMPARE(escape.size(), 1);
    }

    // Two quick clicks: the first is handled, which stops the observer, while the second is
    // still waiting to be read; neither it nor anything while stopped counts after a new start.
    void nothingCountsWhileStopped()
    {
        TextWindowProcess window(m_session.environment());
        QVERIFY(startTextWindow(window));
        QSignalSpy outside(m_observer.get(), &ClickObserver::outsideClick);
        QSignalSpy escape(m_observer.get(), &ClickObserver::escapePressed);
        QVERIFY(m_observer->start());
        QCoreApplication::processEvents();
        connect(m_observer.get(), &ClickObserver::outsideClick, m_observer.get(), [this] { m_observer->stop(); });
        QVERIFY(clickInWindow(window.window(), 1, 2));
        QVERIFY(outside.wait(5000));
        QVERIFY(!m_observer->isWatching());
        QVERIFY(key(u"Escape"_s));
        QTest::qWait(settleMs);
        QVERIFY(m_observer->start());
        QTest::qWait(settleMs);
        QCOMPARE(outside.size(), 1);
        QCOMPARE(escape.size(), 0);
    }

    void withoutDisplayOnlyOwnWindowsAreWatched()
    {
        const auto ownWindow = showOwnWindow();
        QVERIFY(QTest::qWaitForWindowExposed(ownWindow.get()));
        X11ClickObserver observer(QByteArrayLiteral(":65000"));
        QSignalSpy own(&observer, &ClickObserver::ownWindowClick);
        QVERIFY(!observer.start());
        QVERIFY(!observer.isWatching());
        QVERIFY(clickInWindow(ownWindow->winId()));
        QVERIFY(own.wait(5000));
    }

    // What the click-to-insert logic does with the click is its own test's business; here the
    // real click reaches the field and the real paste lands in it.
    void clickToInsertEndToEnd()
    {
        QTemporaryDir folder;
        Preferences preferences(folder.filePath(u"preferences.json"_s));
        X11KeyboardInjector injector;
        X11FocusProbe focus;
        QtClipboard clipboard;
        ClipboardSafeInsertService safeInsert(injector);
        TextInserter textInserter(safeInsert, clipboard, injector, focus, preferences);
        FakeHUDPanel panel;
        FakeAnnouncer announcer;
        HUDController hud(panel, announcer);
        FakeSoundPlayer player;
        Sounds sounds(player, preferences);
        ClickInserter inserter(*m_observer, injector, textInserter, hud, sounds);

        // The field has to get the focus from the click itself.
        TextWindowProcess field(m_session.environment());
        QVERIFY(startTextWindow(field));
        QSignalSpy inserted(&inserter, &ClickInserter::inserted);
        const QString text = u"The whole transcript,\nsecond line — grüße."_s;
        inserter.arm(text);
        QVERIFY(clickInWindow(field.window()));
        QVERIFY(inserted.wait(5000));
        QCOMPARE(inserted.first().first().toBool(), true);
        QVERIFY2(field.waitForText(text), qPrintable(field.text()));
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
