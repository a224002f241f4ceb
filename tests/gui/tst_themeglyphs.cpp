// The theme's shared glyphs from the compiled Murmel module without a display: each loads
// without a warning and takes the size it is given, the waveform marks what has been
// transcribed, reduced motion stops every clock, and the palette and level bars keep their
// numbers. What the effects draw is checked on a real display by tst_themerendering.
#include <QDateTime>
#include <QElapsedTimer>
#include "qmlprobe.h"

#include <QQmlComponent>
#include <QQmlEngine>
#include <QQmlExpression>
#include <QQmlListReference>
#include <QQuickItem>
#include <QSet>
#include <QSignalSpy>
#include <QTest>
#include <QTimeZone>
#include <QtQml/qqmlextensionplugin.h>

#include <cmath>
#include <functional>
#include <limits>
#include <memory>

using namespace Qt::StringLiterals;

Q_IMPORT_QML_PLUGIN(MurmelPlugin)

namespace {

QList<QQuickItem *> itemsNamed(QQuickItem *root, const QString &objectName)
{
    QList<QQuickItem *> found;
    std::function<void(QQuickItem *)> visit = [&](QQuickItem *item) {
        if (item->objectName() == objectName)
            found << item;
        for (QQuickItem *child : item->childItems())
            visit(child);
    };
    visit(root);
    return found;
}

QQuickItem *itemNamed(QQuickItem *root, const QString &objectName)
{
    const QList<QQuickItem *> found = itemsNamed(root, objectName);
    return found.isEmpty() ? nullptr : found.first();
}

QObject *childNamed(QObject *root, const QString &objectName)
{
    return root->findChild<QObject *>(objectName);
}

QVariantList envelopeOf(std::initializer_list<double> values)
{
    QVariantList list;
    for (double value : values)
        list << value;
    return list;
}

} // namespace

class TestThemeGlyphs final : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void init()
    {
        // Every file must load cleanly: a warning is a failure.
        QTest::failOnWarning(QRegularExpression(u".*"_s));
    }

    void cleanup()
    {
        if (QObject *theme = this->theme()) {
            theme->setProperty("highContrast", false);
            theme->setProperty("reduceMotion", false);
        }
    }

    void glyphsTakeTheirSize_data()
    {
        QTest::addColumn<QString>("source");
        QTest::addColumn<QSizeF>("size");
        QTest::newRow("glitch eye") << u"GlitchEye { size: 120 }"_s << QSizeF(120, 120);
        QTest::newRow("small still glitch eye") << u"GlitchEye { size: 22; glowing: false; reduceMotion: true }"_s
                                                << QSizeF(22, 22);
        QTest::newRow("nebula") << u"NebulaCore { size: 200 }"_s << QSizeF(200, 200);
        QTest::newRow("still nebula") << u"NebulaCore { size: 64; reduceMotion: true }"_s << QSizeF(64, 64);
        QTest::newRow("waveform") << u"WaveformView { envelope: [0.2, 0.9, 0.4]; progress: 0.5 }"_s
                                  << QSizeF(320, 56);
        QTest::newRow("empty waveform") << u"WaveformView {}"_s << QSizeF(320, 56);
    }

    void glyphsTakeTheirSize()
    {
        QFETCH(QString, source);
        QFETCH(QSizeF, size);
        std::unique_ptr<QObject> object = create(source);
        auto *item = qobject_cast<QQuickItem *>(object.get());
        QVERIFY(item);
        QCOMPARE(QSizeF(item->implicitWidth(), item->implicitHeight()), size);
        QCOMPARE(item->size(), size);
    }

    void chromeTextFollowsItsInputs()
    {
        std::unique_ptr<QObject> plain = create(u"ChromeText { text: \"MURMEL\"; pixelSize: 40 }"_s);
        std::unique_ptr<QObject> spaced =
            create(u"ChromeText { text: \"MURMEL\"; pixelSize: 40; letterSpacing: 8 }"_s);
        std::unique_ptr<QObject> large = create(u"ChromeText { text: \"MURMEL\"; pixelSize: 80 }"_s);
        auto *plainItem = qobject_cast<QQuickItem *>(plain.get());
        auto *spacedItem = qobject_cast<QQuickItem *>(spaced.get());
        auto *largeItem = qobject_cast<QQuickItem *>(large.get());
        QVERIFY(plainItem && spacedItem && largeItem);
        QVERIFY(plainItem->implicitWidth() > 40);
        QVERIFY(plainItem->implicitHeight() >= 40);
        // Six letters, each followed by the extra spacing.
        QVERIFY2(std::abs(spacedItem->implicitWidth() - plainItem->implicitWidth() - 6 * 8) <= 8.5,
                 qPrintable(u"%1 vs %2"_s.arg(spacedItem->implicitWidth()).arg(plainItem->implicitWidth())));
        QVERIFY(largeItem->implicitWidth() > plainItem->implicitWidth() * 1.7);
        QVERIFY(largeItem->implicitHeight() > plainItem->implicitHeight() * 1.7);
        QCOMPARE(evaluate(plainItem, u"Accessible.name"_s).toString(), u"MURMEL"_s);

        // The fill is the theme's chrome gradient, stop for stop, across the text.
        QObject *fill = childNamed(plainItem, u"chromeFill"_s);
        QVERIFY(fill);
        auto *gradient = fill->property("gradient").value<QObject *>();
        QVERIFY(gradient);
        QQmlListReference stops(gradient, "stops");
        const QVariantList expected = theme()->property("chromeStops").toList();
        QCOMPARE(stops.count(), expected.size());
        for (qsizetype i = 0; i < stops.count(); ++i) {
            const QVariantMap stop = expected.at(i).toMap();
            QCOMPARE(stops.at(i)->property("position").toDouble(), stop.value(u"position"_s).toDouble());
            QCOMPARE(stops.at(i)->property("color").value<QColor>(), QColor(stop.value(u"color"_s).toString()));
        }
        QCOMPARE(fill->property("start").toPointF(), QPointF(0, 0));
        QCOMPARE(fill->property("end").toPointF(), QPointF(plainItem->width(), 0));
    }

    void waveformMarksTheTranscribedPart_data()
    {
        QTest::addColumn<int>("values");
        QTest::addColumn<double>("width");
        QTest::addColumn<double>("progress");
        QTest::addColumn<int>("bars");
        QTest::addColumn<int>("marked");
        const double nan = std::numeric_limits<double>::quiet_NaN();
        // Bars are 3 wide with 2 between: 320 points hold 64 of them.
        QTest::newRow("not started") << 40 << 320.0 << 0.0 << 40 << 0;
        QTest::newRow("a quarter") << 40 << 320.0 << 0.25 << 40 << 10;
        QTest::newRow("between bars rounds to the nearer") << 40 << 320.0 << 0.26 << 40 << 10;
        QTest::newRow("done") << 40 << 320.0 << 1.0 << 40 << 40;
        QTest::newRow("past the end") << 40 << 320.0 << 1.7 << 40 << 40;
        QTest::newRow("negative") << 40 << 320.0 << -0.2 << 40 << 0;
        QTest::newRow("not a number") << 40 << 320.0 << nan << 40 << 0;
        QTest::newRow("more values than room") << 1000 << 320.0 << 0.5 << 64 << 32;
        QTest::newRow("narrow") << 1000 << 48.0 << 0.9 << 10 << 9;
        QTest::newRow("one value") << 1 << 320.0 << 0.6 << 1 << 1;
        QTest::newRow("no values") << 0 << 320.0 << 0.6 << 0 << 0;
    }

    void waveformMarksTheTranscribedPart()
    {
        QFETCH(int, values);
        QFETCH(double, width);
        QFETCH(double, progress);
        QFETCH(int, bars);
        QFETCH(int, marked);
        std::unique_ptr<QObject> object = create(u"WaveformView {}"_s);
        auto *view = qobject_cast<QQuickItem *>(object.get());
        QVERIFY(view);
        QVariantList envelope;
        for (int i = 0; i < values; ++i)
            envelope << 0.1 + 0.8 * ((i * 7) % 10) / 10.0;
        view->setWidth(width);
        view->setProperty("envelope", envelope);
        // From the far side first, so the marking must follow the change, not the start.
        view->setProperty("progress", progress > 0.5 ? 0.0 : 1.0);
        view->setProperty("progress", progress);

        const QList<QQuickItem *> drawn = itemsNamed(view, u"waveBar"_s);
        QCOMPARE(drawn.size(), bars);
        const QColor muted = theme()->property("muted").value<QColor>();
        for (int i = 0; i < drawn.size(); ++i) {
            const bool isMarked = drawn.at(i)->property("marked").toBool();
            QVERIFY2(isMarked == (i < marked), qPrintable(u"bar %1"_s.arg(i)));
            const QColor colour = drawn.at(i)->property("color").value<QColor>();
            QVERIFY2((colour == muted) == !isMarked, qPrintable(u"bar %1 is %2"_s.arg(i).arg(colour.name())));
            QVERIFY(drawn.at(i)->opacity() > (isMarked ? 0.5 : 0.2));
        }
        // Marked bars run through the accent hues: cyan at the start.
        if (marked > 0)
            QCOMPARE(drawn.first()->property("color").value<QColor>(), theme()->property("cyan").value<QColor>());
        if (marked == bars && bars > 1)
            QCOMPARE(drawn.last()->property("color").value<QColor>(), theme()->property("pink").value<QColor>());
    }

    void waveformBarsFollowTheEnvelope()
    {
        std::unique_ptr<QObject> object = create(u"WaveformView { width: 320; height: 50 }"_s);
        auto *view = qobject_cast<QQuickItem *>(object.get());
        QVERIFY(view);
        // A short loud burst among quiet values still shows when values are merged into bars.
        QVariantList envelope(256, 0.1);
        envelope[130] = 0.9;
        envelope[3] = -1.0;
        envelope[4] = 7.0;
        view->setProperty("envelope", envelope);
        const QList<QQuickItem *> drawn = itemsNamed(view, u"waveBar"_s);
        QCOMPARE(drawn.size(), 64);
        double tallest = 0;
        for (QQuickItem *bar : drawn) {
            // Mirrored about the middle line.
            QCOMPARE(bar->y() + bar->height() / 2, 25.0);
            QVERIFY(bar->height() >= 2);
            QVERIFY(bar->height() <= 50);
            tallest = std::max(tallest, bar->height());
        }
        QCOMPARE(drawn.at(32)->height(), 0.9 * 50);
        // Out-of-range values are clamped, not drawn beyond the view.
        QCOMPARE(drawn.at(1)->height(), 50.0);
        QCOMPARE(drawn.at(10)->height(), 0.1 * 50);
        QCOMPARE(tallest, 50.0);

        // A new envelope replaces the bars.
        view->setProperty("envelope", envelopeOf({0.5, 0.5}));
        const QList<QQuickItem *> redrawn = itemsNamed(view, u"waveBar"_s);
        QCOMPARE(redrawn.size(), 2);
        QCOMPARE(redrawn.first()->height(), 25.0);
    }

    void waveformFrontPulsesOnlyWithMotion()
    {
        std::unique_ptr<QObject> object =
            create(u"WaveformView { width: 200; envelope: [0.5, 0.5, 0.5, 0.5]; progress: 0.5 }"_s);
        auto *view = qobject_cast<QQuickItem *>(object.get());
        QVERIFY(view);
        const QList<QQuickItem *> drawn = itemsNamed(view, u"waveBar"_s);
        QCOMPARE(drawn.size(), 4);
        QSet<double> opacities;
        for (double t : {0.0, 0.2, 0.5, 0.9}) {
            view->setProperty("time", t);
            opacities << drawn.at(1)->opacity();
        }
        QVERIFY2(opacities.size() > 2, "the front bar does not pulse");
        QCOMPARE(drawn.at(0)->opacity(), 1.0);

        view->setProperty("reduceMotion", true);
        for (double t : {0.0, 0.2, 0.5, 0.9}) {
            view->setProperty("time", t);
            QCOMPARE(drawn.at(1)->opacity(), 1.0);
        }
    }

    void reducedMotionStopsTheClocks_data()
    {
        QTest::addColumn<QString>("source");
        QTest::addColumn<QString>("flag");
        QTest::newRow("nebula") << u"NebulaCore { size: 80 }"_s << u"animating"_s;
        QTest::newRow("chrome sheen") << u"ChromeText { text: \"MURMEL\" }"_s << u"sheenRunning"_s;
    }

    void reducedMotionStopsTheClocks()
    {
        QFETCH(QString, source);
        QFETCH(QString, flag);
        std::unique_ptr<QObject> object = create(source);
        QVERIFY(object);
        QVERIFY(object->property(flag.toLatin1()).toBool());
        // Through the theme, as the desktop's setting arrives.
        theme()->setProperty("reduceMotion", true);
        QVERIFY(!object->property(flag.toLatin1()).toBool());
        theme()->setProperty("reduceMotion", false);
        QVERIFY(object->property(flag.toLatin1()).toBool());
    }

    void stillNebulaHoldsItsPicture()
    {
        std::unique_ptr<QObject> object = create(u"NebulaCore { reduceMotion: true }"_s);
        QVERIFY(object);
        const double time = object->property("time").toDouble();
        QTest::qWait(100);
        QCOMPARE(object->property("time").toDouble(), time);
        QVERIFY(!object->property("animating").toBool());
    }

    void chromeSheenStaysAwayWithReducedMotion()
    {
        std::unique_ptr<QObject> object = create(u"ChromeText { text: \"MURMEL\"; sheenPosition: 0.5 }"_s);
        QVERIFY(object);
        QObject *sheen = childNamed(object.get(), u"sheen"_s);
        QVERIFY(sheen);
        QVERIFY(sheen->property("visible").toBool());
        object->setProperty("reduceMotion", true);
        QVERIFY(!sheen->property("visible").toBool());
        QVERIFY(!object->property("sheenRunning").toBool());
    }

    void glitchLastsItsTime_data()
    {
        QTest::addColumn<bool>("reduceMotion");
        QTest::addColumn<int>("stillGlitchingAtMs");
        QTest::addColumn<int>("overByMs");
        // The live glitch runs 0.55 s; the still one is a brief frame.
        QTest::newRow("moving") << false << 400 << 900;
        QTest::newRow("reduced motion") << true << 60 << 400;
    }

    void glitchLastsItsTime()
    {
        QFETCH(bool, reduceMotion);
        QFETCH(int, stillGlitchingAtMs);
        QFETCH(int, overByMs);
        std::unique_ptr<QObject> object = create(u"GlitchEye { size: 96 }"_s);
        QVERIFY(object);
        object->setProperty("reduceMotion", reduceMotion);
        QSignalSpy taps(object.get(), SIGNAL(tapped()));
        QVERIFY(!object->property("glitching").toBool());
        QVERIFY(!object->property("animating").toBool());

        QElapsedTimer clock;
        clock.start();
        QMetaObject::invokeMethod(object.get(), "tap");
        QCOMPARE(taps.size(), 1);
        QVERIFY(object->property("glitching").toBool());
        // Only the live glitch has a frame clock.
        QCOMPARE(object->property("animating").toBool(), !reduceMotion);

        QTest::qWait(stillGlitchingAtMs);
        if (clock.elapsed() < stillGlitchingAtMs + 80)
            QVERIFY(object->property("glitching").toBool());
        QTRY_VERIFY_WITH_TIMEOUT(!object->property("glitching").toBool(), overByMs);
        QVERIFY(!object->property("animating").toBool());

        // A second tap starts it again.
        QMetaObject::invokeMethod(object.get(), "tap");
        QCOMPARE(taps.size(), 2);
        QVERIFY(object->property("glitching").toBool());
    }

    void glitchPreviewIsAFixedMoment_data()
    {
        QTest::addColumn<double>("seconds");
        QTest::addColumn<bool>("glitching");
        QTest::newRow("live") << -1.0 << false;
        QTest::newRow("at the tap") << 0.0 << true;
        QTest::newRow("during") << 0.3 << true;
        QTest::newRow("after") << 0.55 << false;
    }

    void glitchPreviewIsAFixedMoment()
    {
        QFETCH(double, seconds);
        QFETCH(bool, glitching);
        std::unique_ptr<QObject> object = create(u"GlitchEye {}"_s);
        QVERIFY(object);
        object->setProperty("previewSeconds", seconds);
        QCOMPARE(object->property("glitching").toBool(), glitching);
        QVERIFY(!object->property("animating").toBool());
    }

    void emptyStatePicksItsIcon_data()
    {
        QTest::addColumn<QString>("asset");
        QTest::addColumn<QString>("fallback");
        QTest::addColumn<QString>("shown");
        QTest::newRow("drawn") << u"history"_s << u"clock"_s << u"history"_s;
        QTest::newRow("waveform") << u"waveform"_s << QString() << u"waveform"_s;
        QTest::newRow("missing asset, symbol fallback") << u"nothing-here"_s << u"clock.arrow.circlepath"_s
                                                        << u"history"_s;
        QTest::newRow("no asset, document symbol") << QString() << u"doc.text"_s << u"document"_s;
        QTest::newRow("fallback by drawing name") << u"nothing-here"_s << u"search"_s << u"search"_s;
        QTest::newRow("neither known") << u"nothing-here"_s << u"questionmark.folder"_s << u"mark"_s;
        QTest::newRow("nothing given") << QString() << QString() << u"mark"_s;
    }

    void emptyStatePicksItsIcon()
    {
        QFETCH(QString, asset);
        QFETCH(QString, fallback);
        QFETCH(QString, shown);
        std::unique_ptr<QObject> object = create(u"EmptyState { iconSize: 56; text: \"No transcripts yet\" }"_s);
        auto *state = qobject_cast<QQuickItem *>(object.get());
        QVERIFY(state);
        state->setProperty("asset", asset);
        state->setProperty("fallback", fallback);
        QCOMPARE(state->property("shownIcon").toString(), shown);

        QQuickItem *icon = itemNamed(state, u"icon"_s);
        QVERIFY(icon);
        QCOMPARE(icon->size(), QSizeF(56, 56));
        QQuickItem *caption = itemNamed(state, u"caption"_s);
        QVERIFY(caption);
        QCOMPARE(caption->property("text").toString(), u"No transcripts yet"_s);
        QVERIFY(state->implicitHeight() >= 56 + caption->implicitHeight());
        QVERIFY(state->implicitWidth() >= caption->implicitWidth() - 0.5);

        // The text is in the body colour, which follows the contrast setting.
        QCOMPARE(caption->property("color").value<QColor>(), QColor(u"#969AA4"_s));
        theme()->setProperty("highContrast", true);
        QCOMPARE(caption->property("color").value<QColor>(), QColor(u"#C4C8D0"_s));
    }

    void levelBarsAsDrawn_data()
    {
        QTest::addColumn<double>("level");
        QTest::addColumn<bool>("reduceMotion");
        QTest::addColumn<double>("lowest");
        QTest::addColumn<double>("highest");
        QTest::newRow("silence ripples between 4 and 6.5") << 0.0 << false << 4.0 << 6.5;
        QTest::newRow("full reaches at most 26") << 1.0 << false << 4.0 << 26.0;
        QTest::newRow("still quarter") << 0.25 << true << 9.5 << 9.5;
        QTest::newRow("still above full") << 4.0 << true << 26.0 << 26.0;
    }

    // The heights the bars are drawn with, across many moments, stay within the bounds.
    void levelBarsAsDrawn()
    {
        QFETCH(double, level);
        QFETCH(bool, reduceMotion);
        QFETCH(double, lowest);
        QFETCH(double, highest);
        std::unique_ptr<QObject> object = create(u"SoundWaveBars { count: 7 }"_s);
        auto *bars = qobject_cast<QQuickItem *>(object.get());
        QVERIFY(bars);
        bars->setProperty("reduceMotion", reduceMotion);
        bars->setProperty("level", level);
        QList<QQuickItem *> drawn;
        std::function<void(QQuickItem *)> collect = [&](QQuickItem *item) {
            if (item->inherits("QQuickRectangle"))
                drawn << item;
            for (QQuickItem *child : item->childItems())
                collect(child);
        };
        collect(bars);
        QCOMPARE(drawn.size(), 7);
        double seenHigh = 0;
        // Moments around now, in seconds since 2001-01-01.
        const double now = QDateTime::currentSecsSinceEpoch() - 978307200.0;
        for (int step = 0; step < 300; ++step) {
            bars->setProperty("time", now + step * 0.0037);
            for (QQuickItem *bar : drawn) {
                QVERIFY2(bar->height() >= lowest - 1e-9 && bar->height() <= highest + 1e-9,
                         qPrintable(QString::number(bar->height())));
                if (reduceMotion)
                    QCOMPARE(bar->height(), drawn.first()->height());
                seenHigh = std::max(seenHigh, bar->height());
            }
        }
        if (!reduceMotion)
            QVERIFY2(seenHigh > highest - 1.0, qPrintable(QString::number(seenHigh)));
    }

    void levelBarClockCountsFrom2001()
    {
        std::unique_ptr<QObject> object = create(u"SoundWaveBars { reduceMotion: true }"_s);
        QVERIFY(object);
        const double expected = QDateTime::currentMSecsSinceEpoch() / 1000.0
            - QDateTime(QDate(2001, 1, 1), QTime(0, 0), QTimeZone::utc()).toSecsSinceEpoch();
        QVERIFY(std::abs(object->property("time").toDouble() - expected) < 5);
    }

private:
    QObject *theme() { return m_probe.theme(); }
    std::unique_ptr<QObject> create(const QString &body) { return m_probe.create(body); }
    QVariant evaluate(QObject *scope, const QString &expression) { return m_probe.evaluate(scope, expression); }

    QmlProbe m_probe;
};

QTEST_MAIN(TestThemeGlyphs)
#include "tst_themeglyphs.moc"
