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

#include <QGuiApplication>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QRasterWindow>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <memory>

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


    // Clicks inside `window`, whoever it belongs to. (No --sync: it waits for a motion that
    // never comes when the pointer is already there; the server keeps the motion and the
    // click in order anyway.)
    bool clickInWindow(quint64 window, int button = 1, int times = 1) const
    {
        return m_session.xdotool({u"mousemove"_s, u"--window"_s, QString::number(window), u"60"_s, u"40"_s, u"click"_s,
                        u"--repeat"_s, QString::number(times), u"--delay"_s, u"10"_s, QString::number(button)});
    }

    // A text window whose focus is on its button, so that only a click that really reached
    // it puts the keyboard focus into its text field.
    bool startTextWindow(TextWindowProcess &window) const
    {
        return window.start({u"--focus"_s, u"button"_s})
            && m_session.xdotool({u"windowmove"_s, u"--sync"_s, QString::number(window.window()), u"400"_s, u"200"_s});
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

    // Another application's input is only watched: it still reaches the application.
    void inAnotherApplication_data()
    {
        QTest::addColumn<QString>("input"); // a mouse button's number, or a key
        QTest::addColumn<int>("clicks");
        QTest::addColumn<int>("escapes");
        QTest::newRow("left button") << u"1"_s << 1 << 0;
        QTest::newRow("right button") << u"3"_s << 0 << 0;
        QTest::newRow("Escape") << u"Escape"_s << 0 << 1;
        QTest::newRow("another key") << u"a"_s << 0 << 0;
    }

    void inAnotherApplication()
    {
        QFETCH(QString, input);
        QFETCH(int, clicks);
        QFETCH(int, escapes);
        TextWindowProcess window(m_session.environment());
        QVERIFY(startTextWindow(window));
        QSignalSpy outside(m_observer.get(), &ClickObserver::outsideClick);
        QSignalSpy own(m_observer.get(), &ClickObserver::ownWindowClick);
        QSignalSpy escape(m_observer.get(), &ClickObserver::escapePressed);
        QVERIFY(m_observer->start());
        QVERIFY(m_observer->isWatching());
        const bool click = input.size() == 1 && input.at(0).isDigit();
        QVERIFY(click ? clickInWindow(window.window(), input.toInt()) : m_session.xdotool({u"key"_s, input}));
        QTest::qWait(settleMs);
        QTRY_COMPARE(outside.size(), clicks);
        QTRY_COMPARE(escape.size(), escapes);
        QCOMPARE(own.size(), 0);
        if (input == u"1") {
            // The click moved the window's focus to the field.
            QVERIFY(m_session.xdotool({u"type"_s, u"--delay"_s, u"20"_s, u"clicked"_s}));
            QVERIFY(window.waitForText(u"clicked"_s, 5000));
        } else if (!click) {
            QTRY_COMPARE(window.keys().value(0).key, input == u"a" ? u"A"_s : u"Esc"_s);
        }
    }

    // Without a display to watch (XInput missing), our own windows are still told apart.
    void clickInOwnWindow_data()
    {
        QTest::addColumn<bool>("titleBar");
        QTest::addColumn<QByteArray>("display");
        QTest::newRow("inside") << false << QByteArray();
        QTest::newRow("title bar") << true << QByteArray();
        QTest::newRow("inside, nothing else watched") << false << QByteArray(":65000");
    }

    void clickInOwnWindow()
    {
        QFETCH(bool, titleBar);
        QFETCH(QByteArray, display);
        const auto ownWindow = showOwnWindow();
        QVERIFY(QTest::qWaitForWindowExposed(ownWindow.get()));
        X11ClickObserver observer(display);
        QSignalSpy outside(&observer, &ClickObserver::outsideClick);
        QSignalSpy own(&observer, &ClickObserver::ownWindowClick);
        QCOMPARE(observer.start(), display.isEmpty());
        QCOMPARE(observer.isWatching(), display.isEmpty());
        if (titleBar) {
            QTRY_VERIFY(ownWindow->frameGeometry().top() < ownWindow->geometry().top());
            const QRect inner = ownWindow->geometry();
            QVERIFY(m_session.xdotool({u"mousemove"_s, QString::number(inner.center().x()),
                                       QString::number((ownWindow->frameGeometry().top() + inner.top()) / 2),
                                       u"click"_s, u"1"_s}));
        } else {
            QVERIFY(clickInWindow(ownWindow->winId()));
        }
        QVERIFY(own.wait(5000));
        QTest::qWait(settleMs);
        QCOMPARE(own.size(), 1);
        QCOMPARE(outside.size(), 0);
        QCOMPARE(ownWindow->presses, titleBar ? 0 : 1); // the click reached the window as usual
    }

    void escapeInOwnWindowIsSwallowed()
    {
        const auto ownWindow = showOwnWindow();
        QVERIFY(QTest::qWaitForWindowActive(ownWindow.get()));
        QSignalSpy escape(m_observer.get(), &ClickObserver::escapePressed);
        QVERIFY(m_observer->start());
        QVERIFY(m_session.xdotool({u"key"_s, u"Escape"_s, u"b"_s}));
        QTRY_VERIFY(ownWindow->keys.contains(Qt::Key_B));
        QTest::qWait(settleMs);
        // Seen once, by the filter; the raw copy of the same press is left to it.
        QCOMPARE(escape.size(), 1);
        QVERIFY(!ownWindow->keys.contains(Qt::Key_Escape));
        // Once stopped, Escape is the window's again.
        m_observer->stop();
        QVERIFY(m_session.xdotool({u"key"_s, u"Escape"_s}));
        QTRY_VERIFY(ownWindow->keys.contains(Qt::Key_Escape));
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
        QVERIFY(m_session.xdotool({u"key"_s, u"Escape"_s}));
        QTest::qWait(settleMs);
        QVERIFY(m_observer->start());
        QTest::qWait(settleMs);
        QCOMPARE(outside.size(), 1);
        QCOMPARE(escape.size(), 0);
    }

    // What click-to-insert does with the click is the logic's own test's business; here the
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
    return DesktopSession::exec<TestX11ClickObserver>(argc, argv);
}

#include "tst_x11clickobserver.moc"
