#include "shell/tray/menubareye.h"

#include <QHash>
#include <QLinearGradient>
#include <QPainter>
#include <QPixmap>

#include <cmath>
#include <numbers>

namespace MenuBarEye {

namespace {

// The theme's ink is 231, 233, 239; a panel should read the idle eye as a monochrome glyph,
// so it is drawn in the grey of the same lightness (its relative luminance, 233) instead,
// and every pixel keeps red = green = blue.
const QColor idleColour(233, 233, 233);

const QColor ringColour = QColor::fromRgbF(0.55f, 0.44f, 0.91f);
const QColor discFrom = QColor::fromRgbF(0.49f, 0.886f, 1.0f);
const QColor discTo = QColor::fromRgbF(1.0f, 0.48f, 0.74f);

constexpr qreal ringWidth = 1.5;
constexpr qreal ringInset = 1.25;
constexpr qreal discInset = 6.25;

// The disc's gradient runs at −60° in the convention of a toolkit's angle gradients: 0°
// points left to right and positive angles turn clockwise on the y-down screen, so −60°
// turns counter-clockwise and points up and to the right. It therefore starts (cyan) at the
// disc's lower left and ends (pink) at its upper right, matching the large eye of the
// welcome screen, which is drawn the same way.
constexpr qreal gradientDegrees = -60.0;

QImage draw(bool recording, qreal ratio)
{
    const int pixels = int(std::ceil(logicalSize * ratio - 1e-9));
    QImage image(pixels, pixels, QImage::Format_ARGB32_Premultiplied);
    image.setDevicePixelRatio(ratio);
    image.fill(Qt::transparent);

    QPainter painter(&image);
    painter.setRenderHint(QPainter::Antialiasing);
    const QRectF bounds(0, 0, logicalSize, logicalSize);

    // The pen is centred on the inset rectangle's outline, as a stroked circle is.
    painter.setPen(QPen(recording ? ringColour : idleColour, ringWidth));
    painter.setBrush(Qt::NoBrush);
    painter.drawEllipse(bounds.adjusted(ringInset, ringInset, -ringInset, -ringInset));

    const QRectF disc = bounds.adjusted(discInset, discInset, -discInset, -discInset);
    painter.setPen(Qt::NoPen);
    if (recording) {
        const qreal radians = gradientDegrees * std::numbers::pi / 180.0;
        const QPointF towards(std::cos(radians), std::sin(radians));
        const qreal radius = disc.width() / 2;
        QLinearGradient gradient(disc.center() - towards * radius,
                                 disc.center() + towards * radius);
        gradient.setColorAt(0, discFrom);
        gradient.setColorAt(1, discTo);
        painter.setBrush(gradient);
    } else {
        painter.setBrush(idleColour);
    }
    painter.drawEllipse(disc);
    return image;
}

} // namespace

QString symbolicIconName()
{
    return QStringLiteral("app.murmel.Murmel-symbolic");
}

QImage image(bool recording, qreal devicePixelRatio)
{
    if (!(devicePixelRatio > 0))
        devicePixelRatio = 1;
    // Keyed by hundredths, so ratios that differ only by rounding share one image.
    static QHash<int, QImage> cache[2];
    const int key = qRound(devicePixelRatio * 100);
    QImage &cached = cache[recording ? 1 : 0][key];
    if (cached.isNull())
        cached = draw(recording, devicePixelRatio);
    return cached;
}

QIcon icon(bool recording)
{
    if (!recording && QIcon::hasThemeIcon(symbolicIconName()))
        return QIcon::fromTheme(symbolicIconName());
    // Qt hands an icon to a StatusNotifier panel as one image per available size, and the
    // sizes of pixmaps that carry a device pixel ratio count as logical, all 18. Added at
    // ratio 1 the three stay apart as 18, 36 and 54 pixels, so a panel on a high-density
    // screen gets a sharp one; Qt's own painting still picks the one that fits its ratio.
    QIcon eye;
    for (const qreal ratio : {1.0, 2.0, 3.0}) {
        QPixmap pixmap = QPixmap::fromImage(image(recording, ratio));
        pixmap.setDevicePixelRatio(1);
        eye.addPixmap(pixmap);
    }
    return eye;
}

} // namespace MenuBarEye
