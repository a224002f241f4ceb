// The dictation display's real window on a private X display with openbox, in a child copy
// of the test: where it appears, that it never takes the focus from the application the user
// types in while its stop button still works, that it draws, and that it survives coming and
// going hundreds of times.
#include "childprocess.h"
#include "core/hud/hudcontroller.h"
#include "desktopsession.h"
#include "fakes/fakeannouncer.h"
#include "shell/windows/quickhudpanel.h"
#include "textwindowprocess.h"

#include <QGuiApplication>
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

constexpr char onDisplayVariable[] = "MURMEL_TEST_HUD_ON_DISPLAY";

QString xdotool(const QStringList &arguments)
{
    return QString::fromUtf8(ChildProcess::run(u"xdotool"_s, arguments)).trimmed();
}

QRect xGeometry(WId window)
{
    QHash<QString, int> values;
    for (const QString &line : xdotool({u"getwindowgeometry"_s, u"--shell"_s, QString::number(window)}).split(u'\n'))
        values.insert(line.section(u'=', 0, 0), line.section(u'=', 1).toInt());
    return {values.value(u"X"_s), values.value(u"Y"_s), values.value(u"WIDTH"_s), values.value(u"HEIGHT"_s)};
}

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

const QColor plate(9, 10, 12);

struct HUDUnderTest
{
    HUDUnderTest() { panel.setController(&hud); }

    QuickHUDPanel panel;
    FakeAnnouncer announcer;
    HUDController hud{panel, announcer};
};

} // namespace

class TestHUDWindow final : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void init() { QTest::failOnWarning(QRegularExpression(u".*"_s)); }

    void appearsBottomCentreAboveAndDraws()
    {
        HUDUnderTest display;
        display.hud.show();
        display.hud.setLevel(0.6f);
        QQuickWindow *window = display.panel.window();
        QVERIFY(window && QTest::qWaitForWindowExposed(window));
        const QRect available = QGuiApplication::primaryScreen()->availableGeometry();
        const QRect expected(available.center().x() - 130 + 1, available.bottom() + 1 - 96 - 60, 260, 60);
        QCOMPARE(QuickHUDPanel::placement(available), expected);
        QTRY_COMPARE_WITH_TIMEOUT(xGeometry(window->winId()), expected, 5000);
        // Listening: the plate, the violet ring of the eye and the cyan of the level bars.
        QVERIFY(QTest::qWaitFor([&] {
            const QImage picture = window->grabWindow();
            return pixelsNear(picture, plate, 2) > 5000 && pixelsNear(picture, QColor(140, 112, 232), 20) > 4
                   && pixelsNear(picture, QColor(125, 226, 255), 12) > 4;
        }, 5000));

    }

    // The user types on while the display shows, clicks its stop button, and types on.
    void neverTakesTheFocus()
    {
        TextWindowProcess text(QProcessEnvironment::systemEnvironment());
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
            xdotool({u"mousemove"_s, QString::number(at.x()), QString::number(at.y())});
            QTest::qWait(100);
            xdotool({u"click"_s, u"1"_s});
            QTRY_COMPARE(stops.count(), typed == u"ab" ? 1 : 2);
            QCOMPARE(xdotool({u"getactivewindow"_s}).toULongLong(), text.window());
            display.hud.hide(0);
            QTRY_VERIFY(!window->isVisible());
        }
    }

    // Mesa's renderer on Qt Quick's render thread once took Murmel down as the display came
    // and went: hundreds of quick dictations must leave it up, and as the last call left it.
    void survivesComingAndGoing()
    {
        HUDUnderTest display;
        QRandomGenerator random(20261208);
        for (int cycle = 0; cycle < 300; ++cycle) {
            display.hud.show();
            for (int level = random.bounded(6); level > 0; --level) {
                display.hud.setLevel(float(random.generateDouble()));
                QTest::qWait(random.bounded(8));
            }
            switch (cycle % 4) {
            case 0:
                display.panel.dismiss();
                break;
            case 1:
                display.panel.dismiss();
                display.hud.show();
                display.hud.hide(0);
                break;
            case 2:
                display.hud.showWorking();
                QTest::qWait(random.bounded(30));
                display.hud.hide(random.bounded(20));
                break;
            case 3:
                display.hud.confirm(u"Inserted"_s);
                break;
            }
        }
        display.hud.show();
        QQuickWindow *window = display.panel.window();
        // Ended and started again in one go, it draws; ended, started and ended, it stays down.
        display.panel.dismiss();
        display.hud.show();
        QTRY_VERIFY(window->isVisible() && window->isExposed());
        QTRY_VERIFY(pixelsNear(window->grabWindow(), plate, 2) > 5000);
        display.panel.dismiss();
        display.hud.show();
        display.panel.dismiss();
        QVERIFY(!display.hud.isVisible());
        QTRY_VERIFY(!window->isExposed());
    }

};

int main(int argc, char **argv)
{
    if (qEnvironmentVariableIsSet(onDisplayVariable)) {
        QGuiApplication app(argc, argv);
        TestHUDWindow test;
        return QTest::qExec(&test, argc, argv);
    }
    QCoreApplication app(argc, argv);
    DesktopSession desktop;
    if (!desktop.start()) {
        std::fprintf(stderr, "FAIL: no test display: %s\n", qPrintable(desktop.error()));
        return 1;
    }
    QProcessEnvironment environment = desktop.environment();
    environment.insert(u"QT_QPA_PLATFORM"_s, u"xcb"_s);
    environment.insert(QString::fromLatin1(onDisplayVariable), u"xcb"_s);
    environment.insert(u"LIBGL_ALWAYS_SOFTWARE"_s, u"1"_s);
    environment.insert(u"QSG_RENDER_LOOP"_s, u"threaded"_s);
    QProcess checks;
    checks.setProcessEnvironment(environment);
    checks.setProcessChannelMode(QProcess::ForwardedChannels);
    ChildProcess::dieWithParent(checks);
    checks.start(QCoreApplication::applicationFilePath(), app.arguments().mid(1));
    const bool finished = checks.waitForFinished(150000);
    if (!finished)
        std::fprintf(stderr, "FAIL: the checks did not finish within 150 s\n");
    ChildProcess::stop(checks);
    desktop.stop();
    return finished && checks.exitStatus() == QProcess::NormalExit ? checks.exitCode() : 1;
}

#include "tst_hudwindow.moc"
