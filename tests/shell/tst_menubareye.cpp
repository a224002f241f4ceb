// The panel eye drawn offscreen: its sizes, the monochrome idle glyph, the colours and the
// direction of the recording one, and the installed symbolic icon taking the idle eye's place.
#include "shell/tray/menubareye.h"

#include <QDir>
#include <QFile>
#include <QIcon>
#include <QPixmap>
#include <QTemporaryDir>
#include <QTest>

#include <cmath>
#include <numbers>

namespace {

// The device pixel under a point given in logical pixels from the centre, at `angle`
// degrees (0 to the right, positive clockwise, y pointing down).
QPoint pixelAt(qreal ratio, qreal angleDegrees, qreal radius)
{
    const qreal radians = angleDegrees * std::numbers::pi / 180.0;
    const qreal centre = MenuBarEye::logicalSize / 2.0;
    const qreal x = (centre + radius * std::cos(radians)) * ratio;
    const qreal y = (centre + radius * std::sin(radians)) * ratio;
    return {int(std::floor(x)), int(std::floor(y))};
}

QRgb pixel(const QImage &image, QPoint at)
{
    return image.convertToFormat(QImage::Format_ARGB32).pixel(at);
}

QColor mix(QColor from, QColor to, qreal t)
{
    return QColor::fromRgbF(float(from.redF() + (to.redF() - from.redF()) * t),
                            float(from.greenF() + (to.greenF() - from.greenF()) * t),
                            float(from.blueF() + (to.blueF() - from.blueF()) * t));
}

bool near(QRgb actual, QColor expected, int tolerance)
{
    return qAlpha(actual) == 255 && std::abs(qRed(actual) - expected.red()) <= tolerance &&
           std::abs(qGreen(actual) - expected.green()) <= tolerance &&
           std::abs(qBlue(actual) - expected.blue()) <= tolerance;
}

QString describe(QRgb value)
{
    return QStringLiteral("(%1, %2, %3, alpha %4)")
        .arg(qRed(value))
        .arg(qGreen(value))
        .arg(qBlue(value))
        .arg(qAlpha(value));
}

const QColor discFrom = QColor::fromRgbF(0.49f, 0.886f, 1.0f);
const QColor discTo = QColor::fromRgbF(1.0f, 0.48f, 0.74f);
// Half-way between the disc (radius 2.75) and the ring's inner edge (7.0).
constexpr qreal gapRadius = 4.875;
constexpr qreal ringRadius = 7.75;
constexpr qreal discRadius = 2.75;

} // namespace

class TestMenuBarEye final : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void sizes_data()
    {
        QTest::addColumn<bool>("recording");
        QTest::addColumn<qreal>("ratio");
        QTest::addColumn<int>("pixels");
        for (const bool recording : {false, true}) {
            const char *state = recording ? "recording" : "idle";
            QTest::addRow("%s 1x", state) << recording << 1.0 << 18;
            QTest::addRow("%s 2x", state) << recording << 2.0 << 36;
            QTest::addRow("%s 3x", state) << recording << 3.0 << 54;
            QTest::addRow("%s 1.5x", state) << recording << 1.5 << 27;
        }
    }

    void sizes()
    {
        QFETCH(bool, recording);
        QFETCH(qreal, ratio);
        QFETCH(int, pixels);
        const QImage image = MenuBarEye::image(recording, ratio);
        QCOMPARE(image.size(), QSize(pixels, pixels));
        QCOMPARE(image.devicePixelRatio(), ratio);
        QVERIFY(image.hasAlphaChannel());
        // Drawn once and handed out again.
        QCOMPARE(MenuBarEye::image(recording, ratio).cacheKey(), image.cacheKey());
        QVERIFY(MenuBarEye::image(!recording, ratio).cacheKey() != image.cacheKey());
    }

    void idleIsMonochromeAndSymmetric_data()
    {
        QTest::addColumn<qreal>("ratio");
        QTest::newRow("1x") << 1.0;
        QTest::newRow("2x") << 2.0;
        QTest::newRow("3x") << 3.0;
    }

    void idleIsMonochromeAndSymmetric()
    {
        QFETCH(qreal, ratio);
        const QImage image = MenuBarEye::image(false, ratio).convertToFormat(QImage::Format_ARGB32);
        const int last = image.width() - 1;
        int opaque = 0;
        for (int y = 0; y <= last; ++y) {
            for (int x = 0; x <= last; ++x) {
                const QRgb value = image.pixel(x, y);
                if (qAlpha(value) == 0)
                    continue;
                QVERIFY2(qRed(value) == qGreen(value) && qGreen(value) == qBlue(value),
                         qPrintable(
                             QStringLiteral("(%1, %2) is %3").arg(x).arg(y).arg(describe(value))));
                opaque += qAlpha(value) == 255;
                // Mirrored left to right, top to bottom and across the diagonal; the
                // rasteriser may round an edge pixel's coverage differently.
                for (const QPoint mirror :
                     {QPoint(last - x, y), QPoint(x, last - y), QPoint(y, x)}) {
                    QVERIFY2(std::abs(qAlpha(image.pixel(mirror)) - qAlpha(value)) <= 2,
                             qPrintable(QStringLiteral("(%1, %2) %3 against (%4, %5) %6")
                                            .arg(x)
                                            .arg(y)
                                            .arg(describe(value))
                                            .arg(mirror.x())
                                            .arg(mirror.y())
                                            .arg(describe(image.pixel(mirror)))));
                }
            }
        }
        // A light colour, not a dark one the panel would swallow.
        QVERIFY(qRed(image.pixel(image.width() / 2, image.height() / 2)) > 200);
        QVERIFY(opaque > 0);

        for (const QPoint corner :
             {QPoint(0, 0), QPoint(last, 0), QPoint(0, last), QPoint(last, last)})
            QCOMPARE(qAlpha(image.pixel(corner)), 0);
        for (int angle = 0; angle < 360; angle += 45) {
            const QPoint gap = pixelAt(ratio, angle, gapRadius);
            QVERIFY2(qAlpha(image.pixel(gap)) == 0,
                     qPrintable(QStringLiteral("gap at %1°").arg(angle)));
        }
        for (int angle = 0; angle < 360; angle += 90) {
            // A hair beside the axis, so the point never sits on a pixel boundary.
            const QPoint ring = pixelAt(ratio, angle + 1, ringRadius);
            QVERIFY2(
                qAlpha(image.pixel(ring)) >= 240,
                qPrintable(
                    QStringLiteral("ring at %1°: %2").arg(angle).arg(describe(image.pixel(ring)))));
        }
        const QPoint centre = pixelAt(ratio, 45, 0.25);
        QCOMPARE(qAlpha(image.pixel(centre)), 255);
    }

    void recordingColours_data()
    {
        QTest::addColumn<qreal>("ratio");
        QTest::newRow("2x") << 2.0;
        QTest::newRow("3x") << 3.0;
    }

    void recordingColours()
    {
        QFETCH(qreal, ratio);
        const QImage image = MenuBarEye::image(true, ratio);
        const QColor ring(140, 112, 232);
        for (int angle = 0; angle < 360; angle += 90) {
            const QRgb value = pixel(image, pixelAt(ratio, angle + 1, ringRadius));
            QVERIFY2(near(value, ring, 3),
                     qPrintable(QStringLiteral("ring at %1°: %2").arg(angle).arg(describe(value))));
        }
        QCOMPARE(qAlpha(pixel(image, pixelAt(ratio, 30, gapRadius))), 0);

        // Along the −60° axis (up and to the right) the disc runs from cyan to pink: seven
        // tenths of the radius out on either side the colour is 15 % and 85 % of the way.
        const qreal along = 0.7 * discRadius;
        const QRgb lowerLeft = pixel(image, pixelAt(ratio, 120, along));
        const QRgb upperRight = pixel(image, pixelAt(ratio, -60, along));
        QVERIFY2(near(lowerLeft, mix(discFrom, discTo, 0.15), 14), qPrintable(describe(lowerLeft)));
        QVERIFY2(near(upperRight, mix(discFrom, discTo, 0.85), 14),
                 qPrintable(describe(upperRight)));
        QVERIFY(qBlue(lowerLeft) > qRed(lowerLeft));
        QVERIFY(qRed(upperRight) > qBlue(upperRight));
        // Across the axis the colour does not change: both sides are half-way.
        const QRgb upperLeft = pixel(image, pixelAt(ratio, -150, along));
        const QRgb lowerRight = pixel(image, pixelAt(ratio, 30, along));
        QVERIFY2(near(upperLeft, mix(discFrom, discTo, 0.5), 14), qPrintable(describe(upperLeft)));
        QVERIFY2(near(lowerRight, mix(discFrom, discTo, 0.5), 14),
                 qPrintable(describe(lowerRight)));
    }

    void iconCarriesEachScale_data()
    {
        QTest::addColumn<bool>("recording");
        QTest::newRow("idle") << false;
        QTest::newRow("recording") << true;
    }

    void iconCarriesEachScale()
    {
        QFETCH(bool, recording);
        const QIcon icon = MenuBarEye::icon(recording);
        QVERIFY(!icon.isNull());
        // No icon theme here has the symbolic eye, so the drawn one is used.
        QVERIFY(icon.name().isEmpty());
        for (const qreal ratio : {1.0, 2.0, 3.0}) {
            const QImage drawn =
                icon.pixmap(QSize(18, 18), ratio).toImage().convertToFormat(QImage::Format_ARGB32);
            const QImage expected =
                MenuBarEye::image(recording, ratio).convertToFormat(QImage::Format_ARGB32);
            QCOMPARE(drawn.size(), expected.size());
            QVERIFY2(drawn == expected, qPrintable(QStringLiteral("at %1x").arg(ratio)));
        }
    }

    void installedSymbolicIconIsPreferredWhenIdle()
    {
        QTemporaryDir themes;
        QVERIFY(themes.isValid());
        const QString folder = themes.filePath(QStringLiteral("eyetest/symbolic/apps"));
        QVERIFY(QDir().mkpath(folder));
        QFile index(themes.filePath(QStringLiteral("eyetest/index.theme")));
        QVERIFY(index.open(QIODevice::WriteOnly));
        index.write("[Icon Theme]\nName=Eye test\nDirectories=symbolic/apps\n\n"
                    "[symbolic/apps]\nSize=16\nMinSize=8\nMaxSize=512\nType=Scalable\n");
        index.close();
        QImage glyph(16, 16, QImage::Format_ARGB32);
        glyph.fill(Qt::black);
        QVERIFY(
            glyph.save(folder + u'/' + MenuBarEye::symbolicIconName() + QStringLiteral(".png")));

        const QStringList searchPaths = QIcon::themeSearchPaths();
        const QString themeName = QIcon::themeName();
        const auto restore = qScopeGuard([&] {
            QIcon::setThemeSearchPaths(searchPaths);
            QIcon::setThemeName(themeName);
        });
        QIcon::setThemeSearchPaths({themes.path()});
        QIcon::setThemeName(QStringLiteral("eyetest"));

        QCOMPARE(MenuBarEye::icon(false).name(), MenuBarEye::symbolicIconName());
        // The recording eye keeps its colours whatever the theme.
        QVERIFY(MenuBarEye::icon(true).name().isEmpty());
    }
};

QTEST_MAIN(TestMenuBarEye)

#include "tst_menubareye.moc"
