// The dictation display's real window on a private desktop. On X with openbox: it never takes
// the focus from the application the user types in while its stop button still works. There
// and, with MURMEL_HUD_DESKTOP=sway, on headless sway with Qt's Wayland platform: it survives
// coming and going hundreds of times, then comes up where it belongs and draws.
#include "core/hud/hudcontroller.h"
#include "desktopsession.h"
#include "fakes/fakeannouncer.h"
#include "shell/windows/quickhudpanel.h"
#include "textwindowprocess.h"
#include "waylandsession.h"

#include <QApplication>
#include <QQuickItem>
#include <QQuickWindow>
#include <QRandomGenerator>
#include <QScreen>
#include <QSignalSpy>
#include <QTest>
#include <QtQml/qqmlextensionplugin.h>

#include <cstdio>

using namespace Qt::StringLiterals;

Q_IMPORT_QML_PLUGIN(MurmelPlugin)

namespace {

// How many pixels are within `tolerance` of `colour` in every channel.
int pixelsNear(const QImage &image, QColor colour, int tolerance)
{
    int count = 0;
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x) {
            const QColor pixel = image.pixelColor(x, y);
            count += std::abs(pixel.red() - colour.red()) <= tolerance && std::abs(pixel.green() - colour.green()) <= tolerance
                     && std::abs(pixel.blue() - colour.blue()) <= tolerance;
        }
    return count;
}

struct HUDUnderTest
{
    HUDUnderTest() { panel.setController(&hud); }

    // Set up as Murmel sets it up in a Wayland session.
    QuickHUDPanel panel{qEnvironmentVariableIsSet("WAYLAND_DISPLAY")};
    FakeAnnouncer announcer;
    HUDController hud{panel, announcer};
};

} // namespace

class TestHUDWindow final : public QObject
{
    Q_OBJECT

public:
    explicit TestHUDWindow(const PrivateSession &session)
        : m_session(session)
    {}

private:
    QString xdotool(const QStringList &arguments) const { return m_session.run(u"xdotool"_s, arguments).trimmed(); }

    QRect xGeometry(WId window) const
    {
        QHash<QString, int> values;
        for (const QString &line : xdotool({u"getwindowgeometry"_s, u"--shell"_s, QString::number(window)}).split(u'\n'))
            values.insert(line.section(u'=', 0, 0), line.section(u'=', 1).toInt());
        return {values.value(u"X"_s), values.value(u"Y"_s), values.value(u"WIDTH"_s), values.value(u"HEIGHT"_s)};
    }

    const PrivateSession &m_session;

private Q_SLOTS:
    // Any warning fails, except two that newer Qt's Wayland platform prints on a headless
    // seat: a seat with no keyboard sends no keymap, and a frame that was still on its way when
    // the display hid finds its surface gone (Qt drops it; the next show draws afresh).
    void init()
    {
        QTest::failOnWarning(QRegularExpression(u"^(?!unknown keymap format|eglSwapBuffers failed with 0x300d)"_s));
    }

    // The user types on while the display shows, clicks its stop button (its help text showing
    // by then), and types on.
    void neverTakesTheFocus()
    {
        TextWindowProcess text(m_session.environment());
        QVERIFY2(text.start(), "the text window did not come up");
        QTRY_COMPARE_WITH_TIMEOUT(xdotool({u"getactivewindow"_s}).toULongLong(), text.window(), 5000);
        HUDUnderTest display;
        QSignalSpy stops(&display.hud, &HUDController::stopRequested);
        for (const QString &typed : {u"ab"_s, u"cd"_s}) {
            display.hud.show();
            QQuickWindow *window = display.panel.window();
            QVERIFY(QTest::qWaitForWindowExposed(window));
            QTest::qWait(200);
            QCOMPARE(xdotool({u"getactivewindow"_s}).toULongLong(), text.window());
            xdotool({u"type"_s, u"--delay"_s, u"30"_s, typed});
            QVERIFY2(text.waitForText(typed == u"ab" ? u"ab"_s : u"abcd"_s), qPrintable(text.text()));
            const auto *button = window->contentItem()->findChild<QQuickItem *>(u"stopButton"_s);
            const QPoint at = xGeometry(window->winId()).topLeft()
                              + button->mapToScene({button->width() / 2, button->height() / 2}).toPoint();
            // No --sync: xdotool waits for a motion that never comes when the pointer is there.
            // Long enough on the button for its help text to show, which must not take the click.
            xdotool({u"mousemove"_s, QString::number(at.x()), QString::number(at.y())});
            QTest::qWait(1000);
            xdotool({u"click"_s, u"1"_s});
            QTRY_COMPARE(stops.count(), typed == u"ab" ? 1 : 2);
            QCOMPARE(xdotool({u"getactivewindow"_s}).toULongLong(), text.window());
            display.hud.hide(0);
            QTRY_VERIFY(!window->isVisible());
        }
    }

    // Mesa's renderer on Qt Quick's render thread once took Murmel down as the display came
    // and went (on Wayland, shown again before its hide came through, it drew into a surface
    // sway had not configured): hundreds of quick dictations must leave it up, and as the last
    // call left it.
    void survivesComingAndGoing()
    {
        HUDUnderTest display;
        QRandomGenerator random(20261208);
        for (int cycle = 0; cycle < 300; ++cycle) {
            display.hud.show();
            for (int level = random.bounded(0, 8); level > 0; --level) {
                display.hud.setLevel(float(random.generateDouble()));
                QTest::qWait(random.bounded(8));
            }
            if (cycle % 3 == 0) {
                display.panel.dismiss(); // and shown again before the hide has come through
            } else if (cycle % 3 == 1) {
                display.hud.showWorking();
                display.hud.hide(random.bounded(20));
            } else {
                display.hud.confirm(u"Inserted"_s); // the next dictation starts while it shows
            }
        }
        display.hud.show();
        QQuickWindow *window = display.panel.window();
        // Ended and started again in one go, it comes up at the bottom centre and draws.
        display.panel.dismiss();
        display.hud.show();
        QTRY_VERIFY(window->isVisible() && window->isExposed());
        // A Wayland window has no position of its own to read back.
        if (QGuiApplication::platformName() == u"xcb") {
            const QRect available = QGuiApplication::primaryScreen()->availableGeometry();
            const QRect expected(available.center().x() - 130 + 1, available.bottom() + 1 - 96 - 60, 260, 60);
            QTRY_COMPARE_WITH_TIMEOUT(xGeometry(window->winId()), expected, 5000);
        }
        QTRY_VERIFY(pixelsNear(window->grabWindow(), QColor(9, 10, 12), 2) > 5000); // the plate
        // Ended, started and ended, it stays down.
        display.panel.dismiss();
        display.hud.show();
        display.panel.dismiss();
        QVERIFY(!display.hud.isVisible());
        QTRY_VERIFY(!window->isExposed());
    }
};

int main(int argc, char **argv)
{
    // Mesa's software renderer on Qt Quick's render thread, as on a desktop without a GPU.
    qputenv("LIBGL_ALWAYS_SOFTWARE", "1");
    qputenv("QSG_RENDER_LOOP", "threaded");
    const bool onSway = qEnvironmentVariable("MURMEL_HUD_DESKTOP") == u"sway";
    DesktopSession x11;
    WaylandSession sway(WaylandSession::Compositor::sway);
    PrivateSession &desktop = onSway ? static_cast<PrivateSession &>(sway) : x11;
    if (!(onSway ? sway.start() : x11.start())) {
        std::fprintf(stderr, "FAIL: no test desktop: %s\n", qPrintable(desktop.error()));
        return 1;
    }
    desktop.enter();
    if (!onSway)
        qunsetenv("DBUS_SESSION_BUS_ADDRESS"); // nothing may reach the user's bus
    qputenv("QT_QPA_PLATFORM", onSway ? "wayland" : "xcb");
    QApplication app(argc, argv);
    TestHUDWindow test(desktop);
    return QTest::qExec(&test, argc, argv);
}

#include "tst_hudwindow.moc"
