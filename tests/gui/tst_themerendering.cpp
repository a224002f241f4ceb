// What the theme's glyphs draw, on a private X display where Qt Quick renders through
// OpenGL (Mesa's llvmpipe) and shader effects really run: the chrome gradient's colours
// where they belong in a title, the glitch that comes and goes with a tap, the glow that
// evolves or holds still, and the waveform's marked part.
//
// The test process owns the display and runs the checks in a child copy of itself with
// the xcb platform, so the checks never see the offscreen platform the suite sets.
#include "childprocess.h"
#include "desktopsession.h"

#include <QDir>
#include <QElapsedTimer>
#include <QGuiApplication>
#include <QImage>
#include <QProcess>
#include <QQmlComponent>
#include <QQmlEngine>
#include <QQuickItem>
#include <QQuickWindow>
#include <QTest>
#include <QtQml/qqmlextensionplugin.h>

#include <cstdio>
#include <functional>
#include <memory>

using namespace Qt::StringLiterals;

Q_IMPORT_QML_PLUGIN(MurmelPlugin)

namespace {

constexpr char onDisplayVariable[] = "MURMEL_TEST_THEME_ON_DISPLAY";

const QColor background(1, 1, 2);
const QColor cyan(125, 226, 255);
const QColor violet(201, 184, 255);
const QColor pink(255, 123, 188);

bool near(QRgb pixel, const QColor &colour, int tolerance)
{
    return std::abs(qRed(pixel) - colour.red()) <= tolerance && std::abs(qGreen(pixel) - colour.green()) <= tolerance
        && std::abs(qBlue(pixel) - colour.blue()) <= tolerance;
}

// How many pixels of `area` in `image` satisfy `test`.
int count(const QImage &image, const QRect &area, const std::function<bool(QRgb)> &test)
{
    const QImage rgb = image.convertToFormat(QImage::Format_RGB32);
    int found = 0;
    const QRect inside = area.intersected(rgb.rect());
    for (int y = inside.top(); y <= inside.bottom(); ++y) {
        const auto *line = reinterpret_cast<const QRgb *>(rgb.constScanLine(y));
        for (int x = inside.left(); x <= inside.right(); ++x)
            found += test(line[x]) ? 1 : 0;
    }
    return found;
}

int countNear(const QImage &image, const QRect &area, const QColor &colour, int tolerance = 16)
{
    return count(image, area, [&](QRgb pixel) { return near(pixel, colour, tolerance); });
}

int differingPixels(const QImage &a, const QImage &b)
{
    if (a.size() != b.size())
        return a.width() * a.height();
    const QImage left = a.convertToFormat(QImage::Format_RGB32);
    const QImage right = b.convertToFormat(QImage::Format_RGB32);
    int differing = 0;
    for (int y = 0; y < left.height(); ++y) {
        const auto *l = reinterpret_cast<const QRgb *>(left.constScanLine(y));
        const auto *r = reinterpret_cast<const QRgb *>(right.constScanLine(y));
        for (int x = 0; x < left.width(); ++x)
            differing += near(l[x], QColor::fromRgb(r[x]), 3) ? 0 : 1;
    }
    return differing;
}

QString saved(const QImage &image, const QString &name)
{
    const QString path = QDir::tempPath() + u"/tst_themerendering-" + name + u".png";
    image.save(path);
    return path;
}

} // namespace

class TestThemeRendering final : public QObject
{
    Q_OBJECT

private:
    QQmlEngine m_engine;
    std::unique_ptr<QQuickWindow> m_window;
    QQuickItem *m_glyph = nullptr;

    // A dark window of `size` with `glyph` (QML, given the object name "glyph") in its middle.
    bool show(const QString &glyph, QSize size)
    {
        m_window.reset();
        const QString source = u"import QtQuick\nWindow {\n color: Theme.bg\n width: %1\n height: %2\n visible: true\n"_s
                                   .arg(size.width())
                                   .arg(size.height())
            + glyph + u"\n}\n"_s;
        QQmlComponent component(&m_engine);
        component.setData(source.toUtf8(), QUrl(u"qrc:/Murmel/RenderProbe.qml"_s));
        m_window.reset(qobject_cast<QQuickWindow *>(component.create()));
        if (!m_window) {
            qWarning("%s", qPrintable(component.errorString()));
            return false;
        }
        m_glyph = m_window->findChild<QQuickItem *>(u"glyph"_s);
        return m_glyph && QTest::qWaitForWindowExposed(m_window.get());
    }

    QImage grab()
    {
        // A grab renders a fresh frame; the second makes sure any texture the first frame
        // only requested (a layer, an effect's source) is in place.
        m_window->grabWindow();
        return m_window->grabWindow();
    }

    // The eye once its canvases have painted, which can take a frame or two after the window
    // first shows; a null image when it never does.
    QImage stillEye()
    {
        QImage picture;
        const QRect eye = glyphRect();
        const bool drawn = QTest::qWaitFor(
            [&] {
                picture = grab();
                return count(picture, eye, [](QRgb p) { return qGray(p) > 40; }) > 1000;
            },
            5000);
        if (!drawn) {
            saved(picture, u"eye"_s);
            return {};
        }
        return picture;
    }

    QRect glyphRect() const
    {
        return m_glyph->mapRectToScene(QRectF(0, 0, m_glyph->width(), m_glyph->height())).toAlignedRect();
    }

private Q_SLOTS:
    void initTestCase() { QCOMPARE(QGuiApplication::platformName(), u"xcb"_s); }

    void init() { QTest::failOnWarning(QRegularExpression(u".*"_s)); }

    void cleanup() { m_window.reset(); }

    void chromeTitleHasItsColoursInPlace()
    {
        QVERIFY(show(u"ChromeText { objectName: \"glyph\"; anchors.centerIn: parent; text: \"MURMEL\"; "
                     u"pixelSize: 80; reduceMotion: true }"_s,
                     {640, 160}));
        const QImage picture = grab();
        const QRect text = glyphRect();
        QVERIFY(text.width() > 200);
        const QRect left(text.left(), text.top(), text.width() / 2, text.height());
        const QRect right(text.center().x() + 1, text.top(), text.width() / 2, text.height());
        const int cyanRight = countNear(picture, right, cyan);
        const int violetRight = countNear(picture, right, violet);
        const int cyanLeft = countNear(picture, left, cyan);
        const int violetLeft = countNear(picture, left, violet);
        const int brightLeft = count(picture, left, [](QRgb p) { return qGray(p) > 150; });
        const QString counts = u"cyan %1|%2 violet %3|%4 bright left %5"_s.arg(cyanLeft)
                                   .arg(cyanRight)
                                   .arg(violetLeft)
                                   .arg(violetRight)
                                   .arg(brightLeft);
        QVERIFY2(cyanRight > 40 && violetRight > 40 && cyanLeft == 0 && violetLeft == 0 && brightLeft > 200,
                 qPrintable(counts + u", saved as "_s + saved(picture, u"chrome"_s)));
        // Cyan stands left of violet, as their stops do.
        const QRect cyanBand(text.left() + int(text.width() * 0.62), text.top(), int(text.width() * 0.06),
                             text.height());
        const QRect violetBand(text.left() + int(text.width() * 0.72), text.top(), int(text.width() * 0.06),
                               text.height());
        QVERIFY2(countNear(picture, cyanBand, cyan) > countNear(picture, cyanBand, violet), qPrintable(counts));
        QVERIFY2(countNear(picture, violetBand, violet) > countNear(picture, violetBand, cyan), qPrintable(counts));
        // Nothing outside the letters: the gradient is masked by them.
        QCOMPARE(countNear(picture, QRect(0, 0, 640, 20), background, 2), 640 * 20);
    }

    void chromeSheenBrightensTheText()
    {
        QVERIFY(show(u"ChromeText { objectName: \"glyph\"; anchors.centerIn: parent; text: \"MURMEL\"; "
                     u"pixelSize: 80; sheenPosition: -1 }"_s,
                     {640, 160}));
        // The sweep waits a moment after the title appears: both frames are chosen here.
        const QImage plain = grab();
        m_glyph->setProperty("sheenPosition", 0.5);
        const QImage shining = grab();
        const QRect text = glyphRect();
        const QRect middle(text.center().x() - text.width() / 8, text.top(), text.width() / 4, text.height());
        const auto brightness = [&](const QImage &image) {
            qint64 sum = 0;
            count(image, middle, [&](QRgb p) {
                sum += qGray(p);
                return true;
            });
            return sum;
        };
        QVERIFY2(brightness(shining) > brightness(plain), qPrintable(saved(shining, u"sheen"_s)));
        // Only the letters brighten.
        QCOMPARE(countNear(shining, QRect(0, 0, 640, 20), background, 2), 640 * 20);
    }

    void glitchComesAndGoesWithATap()
    {
        QVERIFY(show(u"GlitchEye { objectName: \"glyph\"; anchors.centerIn: parent; size: 160; glowing: false }"_s,
                     {220, 220}));
        const QImage still = stillEye();
        QVERIFY2(!still.isNull(), "the eye was never drawn");

        QElapsedTimer clock;
        clock.start();
        QMetaObject::invokeMethod(m_glyph, "tap");
        QTest::qWait(80);
        const QImage glitched = grab();
        const qint64 grabbedAt = clock.elapsed();
        if (grabbedAt < 500) {
            QVERIFY2(differingPixels(still, glitched) > 200,
                     qPrintable(u"%1 pixels differ, saved as "_s.arg(differingPixels(still, glitched))
                                + saved(glitched, u"glitched"_s)));
        }
        // Over after 0.55 s, and the eye is drawn exactly as before the tap.
        QTRY_VERIFY_WITH_TIMEOUT(!m_glyph->property("glitching").toBool(), 1000);
        QVERIFY(clock.elapsed() >= 540);
        const QImage after = grab();
        QVERIFY2(differingPixels(still, after) == 0,
                 qPrintable(u"%1 pixels differ, saved as "_s.arg(differingPixels(still, after))
                            + saved(after, u"after"_s)));
    }

    void glitchFramesAtFixedMoments_data()
    {
        QTest::addColumn<bool>("reduceMotion");
        QTest::newRow("moving") << false;
        QTest::newRow("reduced motion") << true;
    }

    void glitchFramesAtFixedMoments()
    {
        QFETCH(bool, reduceMotion);
        QVERIFY(show(u"GlitchEye { objectName: \"glyph\"; anchors.centerIn: parent; size: 160; glowing: false; "
                     u"reduceMotion: %1 }"_s.arg(reduceMotion ? u"true"_s : u"false"_s),
                     {220, 220}));
        const QImage still = stillEye();
        QVERIFY2(!still.isNull(), "the eye was never drawn");
        QList<QImage> during;
        for (double seconds : {0.05, 0.2, 0.45}) {
            m_glyph->setProperty("previewSeconds", seconds);
            during << grab();
            QVERIFY2(differingPixels(still, during.last()) > 200,
                     qPrintable(saved(during.last(), u"glitch-%1"_s.arg(seconds))));
        }
        // The live glitch changes as it goes; the reduced one is one still frame.
        if (reduceMotion) {
            QCOMPARE(differingPixels(during.at(0), during.at(1)), 0);
            QCOMPARE(differingPixels(during.at(1), during.at(2)), 0);
        } else {
            QVERIFY(differingPixels(during.at(0), during.at(1)) > 0);
            QVERIFY(differingPixels(during.at(1), during.at(2)) > 0);
        }
        m_glyph->setProperty("previewSeconds", 0.6);
        QCOMPARE(differingPixels(still, grab()), 0);
    }

    void nebulaGlowsAndEvolves_data()
    {
        QTest::addColumn<bool>("reduceMotion");
        QTest::newRow("moving") << false;
        QTest::newRow("reduced motion") << true;
    }

    void nebulaGlowsAndEvolves()
    {
        QFETCH(bool, reduceMotion);
        QVERIFY(show(u"NebulaCore { objectName: \"glyph\"; anchors.centerIn: parent; size: 180; reduceMotion: %1 }"_s
                         .arg(reduceMotion ? u"true"_s : u"false"_s),
                     {240, 240}));
        const QImage first = grab();
        const QRect glow = glyphRect();
        // A bright, pale heart; nothing at the corners of its square.
        const QRect heart(glow.center() - QPoint(6, 6), QSize(12, 12));
        QVERIFY2(count(first, heart, [](QRgb p) { return qGray(p) > 170 && qBlue(p) > 200; }) > 100,
                 qPrintable(saved(first, u"nebula"_s)));
        const QRect corner(glow.topLeft(), QSize(20, 20));
        QCOMPARE(countNear(first, corner, background, 3), 400);
        // The clouds carry both hues: cyan (green over red) and violet (blue well over green,
        // red at least as strong).
        const int cyanish = count(first, glow, [](QRgb p) { return qGreen(p) > qRed(p) + 25 && qBlue(p) > 60; });
        const int violetish = count(first, glow, [](QRgb p) { return qBlue(p) > qGreen(p) + 30 && qRed(p) >= qGreen(p); });
        QVERIFY2(cyanish > 100 && violetish > 100,
                 qPrintable(u"cyan %1 violet %2, saved as "_s.arg(cyanish).arg(violetish) + saved(first, u"nebula"_s)));

        QTest::qWait(600);
        const QImage later = grab();
        if (reduceMotion)
            QCOMPARE(differingPixels(first, later), 0);
        else
            QVERIFY2(differingPixels(first, later) > 50, qPrintable(saved(later, u"nebula-later"_s)));
    }

    void waveformMarksInColour()
    {
        QVERIFY(show(u"WaveformView { objectName: \"glyph\"; anchors.centerIn: parent; width: 320; height: 60; "
                     u"progress: 0.5; reduceMotion: true; "
                     u"envelope: Array.from({length: 64}, (_, i) => 0.5 + 0.4 * Math.sin(i)) }"_s,
                     {360, 100}));
        const QImage picture = grab();
        const QRect wave = glyphRect();
        const QRect marked(wave.left(), wave.top(), wave.width() / 2 - 4, wave.height());
        const QRect rest(wave.center().x() + 4, wave.top(), wave.width() / 2 - 4, wave.height());
        const auto accent = [](QRgb p) {
            return near(p, cyan, 24) || near(p, violet, 24) || near(p, pink, 24);
        };
        const int markedAccent = count(picture, marked, accent);
        const int restAccent = count(picture, rest, accent);
        const int restDrawn = count(picture, rest, [](QRgb p) { return qGray(p) > 25; });
        QVERIFY2(markedAccent > 150 && restAccent == 0 && restDrawn > 150,
                 qPrintable(u"accent %1|%2, muted bars %3, saved as "_s.arg(markedAccent).arg(restAccent).arg(restDrawn)
                            + saved(picture, u"waveform"_s)));
    }

    void emptyStateDrawsItsIcon()
    {
        QVERIFY(show(u"EmptyState { objectName: \"glyph\"; anchors.centerIn: parent; asset: \"history\"; "
                     u"text: \"No transcripts yet\"; iconSize: 64 }"_s,
                     {320, 200}));
        const QImage picture = grab();
        const QQuickItem *icon = nullptr;
        for (QQuickItem *child : m_glyph->findChildren<QQuickItem *>()) {
            if (child->objectName() == u"icon")
                icon = child;
        }
        QVERIFY(icon);
        const QRect iconArea = icon->mapRectToScene(QRectF(0, 0, icon->width(), icon->height())).toAlignedRect();
        const QColor muted(0x78, 0x7c, 0x87);
        QVERIFY2(countNear(picture, iconArea, muted, 10) > 60, qPrintable(saved(picture, u"empty"_s)));
    }
};

int main(int argc, char **argv)
{
    if (qEnvironmentVariableIsSet(onDisplayVariable)) {
        QGuiApplication app(argc, argv);
        TestThemeRendering test;
        return QTest::qExec(&test, argc, argv);
    }

    QCoreApplication app(argc, argv);
    DesktopSession desktop(DesktopSession::WindowManager::none);
    if (!desktop.start()) {
        std::fprintf(stderr, "FAIL: no test display: %s\n", qPrintable(desktop.error()));
        return 1;
    }
    QProcessEnvironment environment = desktop.environment();
    environment.insert(u"QT_QPA_PLATFORM"_s, u"xcb"_s);
    environment.insert(QString::fromLatin1(onDisplayVariable), u"1"_s);
    QProcess checks;
    checks.setProcessEnvironment(environment);
    checks.setProcessChannelMode(QProcess::ForwardedChannels);
    ChildProcess::dieWithParent(checks);
    checks.start(QCoreApplication::applicationFilePath(), app.arguments().mid(1));
    if (!checks.waitForStarted()) {
        std::fprintf(stderr, "FAIL: the checks did not start: %s\n", qPrintable(checks.errorString()));
        return 1;
    }
    // Well inside the test's own timeout, so a hung child is reported here and not lost.
    if (!checks.waitForFinished(150000)) {
        std::fprintf(stderr, "FAIL: the checks did not finish within 150 s\n");
        checks.kill();
        checks.waitForFinished();
        desktop.stop();
        return 1;
    }
    const int result = checks.exitStatus() == QProcess::NormalExit ? checks.exitCode() : 1;
    desktop.stop();
    return result;
}

#include "tst_themerendering.moc"
