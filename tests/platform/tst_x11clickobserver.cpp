// The X11 click observer on a private display with a window manager: clicks and Escape in
// another application are seen and still reach it, and our own windows are told apart.
#include "desktopsession.h"
#include "platform/x11/x11clickobserver.h"
#include "textwindowprocess.h"

#include <QKeyEvent>
#include <QMouseEvent>
#include <QRasterWindow>
#include <QSignalSpy>
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

private Q_SLOTS:
    // Another application's input is only watched: it still reaches the application. A click
    // that stops the observer (as click-to-insert does) may leave the second of a double click
    // unread: neither it nor anything while stopped counts after a new start.
    void inAnotherApplication()
    {
        TextWindowProcess window(m_session.environment());
        QVERIFY(startTextWindow(window));
        X11ClickObserver observer;
        QSignalSpy outside(&observer, &ClickObserver::outsideClick);
        QSignalSpy own(&observer, &ClickObserver::ownWindowClick);
        QSignalSpy escape(&observer, &ClickObserver::escapePressed);
        QVERIFY(observer.start());
        QVERIFY(observer.isWatching());
        QVERIFY(m_session.xdotool({u"key"_s, u"a"_s, u"Escape"_s}));
        QTRY_COMPARE(window.keys().size(), 2);
        QCOMPARE(window.keys().at(0).key, u"A"_s);
        QCOMPARE(window.keys().at(1).key, u"Esc"_s);
        QTRY_COMPARE(escape.size(), 1);
        // The click moves the window's focus from its button to its field.
        QVERIFY(clickInWindow(window.window()));
        QTRY_COMPARE(outside.size(), 1);
        QVERIFY(m_session.xdotool({u"type"_s, u"--delay"_s, u"20"_s, u"clicked"_s}));
        QVERIFY(window.waitForText(u"clicked"_s));

        connect(&observer, &ClickObserver::outsideClick, &observer, [&observer] { observer.stop(); });
        QVERIFY(clickInWindow(window.window(), 1, 2));
        QTRY_COMPARE(outside.size(), 2);
        QVERIFY(!observer.isWatching());
        QVERIFY(m_session.xdotool({u"key"_s, u"Escape"_s}));
        QTest::qWait(settleMs);
        QVERIFY(observer.start());
        QTest::qWait(settleMs);
        QCOMPARE(outside.size(), 2);
        QCOMPARE(escape.size(), 1);
        QCOMPARE(own.size(), 0);
    }

    // Without a display to watch (XInput missing), our own windows are still told apart. Escape
    // in them is seen once, by the filter (the raw copy of the same press is left to it), and
    // kept from the window until the observer stops.
    void inOwnWindow_data()
    {
        QTest::addColumn<QByteArray>("display");
        QTest::newRow("other applications watched") << QByteArray();
        QTest::newRow("nothing else watched") << QByteArray(":65000");
    }

    void inOwnWindow()
    {
        QFETCH(QByteArray, display);
        const auto ownWindow = std::make_unique<OwnWindow>();
        ownWindow->setGeometry(60, 60, 240, 160);
        ownWindow->show();
        QVERIFY(QTest::qWaitForWindowExposed(ownWindow.get()));
        X11ClickObserver observer(display);
        QSignalSpy outside(&observer, &ClickObserver::outsideClick);
        QSignalSpy own(&observer, &ClickObserver::ownWindowClick);
        QSignalSpy escape(&observer, &ClickObserver::escapePressed);
        QCOMPARE(observer.start(), display.isEmpty());
        QCOMPARE(observer.isWatching(), display.isEmpty());
        QVERIFY(clickInWindow(ownWindow->winId()));
        QVERIFY(own.wait(5000));
        QVERIFY(QTest::qWaitForWindowActive(ownWindow.get()));
        QVERIFY(m_session.xdotool({u"key"_s, u"Escape"_s, u"b"_s}));
        QTRY_VERIFY(ownWindow->keys.contains(Qt::Key_B));
        QTest::qWait(settleMs);
        QCOMPARE(own.size(), 1);
        QCOMPARE(outside.size(), 0);
        QCOMPARE(ownWindow->presses, 1); // the click reached the window as usual
        QCOMPARE(escape.size(), 1);
        QVERIFY(!ownWindow->keys.contains(Qt::Key_Escape));
        observer.stop();
        QVERIFY(m_session.xdotool({u"key"_s, u"Escape"_s}));
        QTRY_VERIFY(ownWindow->keys.contains(Qt::Key_Escape));
        QCOMPARE(escape.size(), 1);
    }

};

int main(int argc, char **argv)
{
    return DesktopSession::exec<TestX11ClickObserver>(argc, argv);
}

#include "tst_x11clickobserver.moc"
