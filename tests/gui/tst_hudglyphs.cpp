// The theme's palette and curve, the level-bar formula and the display's content per state,
// from the compiled Murmel module without a display.
#include "core/hud/hudmodel.h"

#include "qmlprobe.h"

#include <QQmlComponent>
#include <QQmlContext>
#include <QQmlExpression>
#include <QQmlEngine>
#include <QQuickItem>
#include <QTest>
#include <QtQml/qqmlextensionplugin.h>

#include <cmath>
#include <limits>
#include <memory>

using namespace Qt::StringLiterals;

Q_IMPORT_QML_PLUGIN(MurmelPlugin)

namespace {

QColor opaque(int red, int green, int blue)
{
    return QColor::fromRgb(red, green, blue);
}

QQuickItem *findItem(QQuickItem *root, const QString &objectName)
{
    if (root->objectName() == objectName)
        return root;
    for (QQuickItem *child : root->childItems()) {
        if (QQuickItem *found = findItem(child, objectName))
            return found;
    }
    return nullptr;
}

} // namespace

class TestHUDGlyphs final : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void init()
    {
        // Every file of the module must load cleanly: a warning is a failure.
        QTest::failOnWarning(QRegularExpression(u".*"_s));
    }

    void paletteHasTheThemeColours_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<bool>("highContrast");
        QTest::addColumn<QColor>("expected");
        const auto add = [](const char *name, bool highContrast, QColor expected) {
            QTest::addRow("%s%s", name, highContrast ? " high contrast" : "")
                << QString::fromLatin1(name) << highContrast << expected;
        };
        add("bg", false, opaque(1, 1, 2));
        add("panel", false, opaque(9, 10, 12));
        add("ink", false, opaque(231, 233, 239));
        add("accent", false, opaque(182, 189, 204));
        add("accentSoft", false, opaque(216, 220, 230));
        add("onChrome", false, opaque(10, 11, 13));
        add("cyan", false, opaque(125, 226, 255));
        add("violet", false, opaque(201, 184, 255));
        add("pink", false, opaque(255, 123, 188));
        add("confirm", false, opaque(74, 246, 38));
        add("confirm", true, opaque(74, 246, 38));
        add("body", false, QColor(u"#969AA4"_s));
        add("body", true, QColor(u"#C4C8D0"_s));
        add("muted", false, QColor(u"#787C87"_s));
        add("muted", true, QColor(u"#AAAEB8"_s));
        add("line", false, QColor::fromRgbF(200 / 255.0f, 206 / 255.0f, 222 / 255.0f, 0.1f));
        add("line", true, QColor::fromRgbF(200 / 255.0f, 206 / 255.0f, 222 / 255.0f, 0.28f));
        add("lineStrong", false, QColor::fromRgbF(200 / 255.0f, 206 / 255.0f, 222 / 255.0f, 0.2f));
        add("lineStrong", true, QColor::fromRgbF(200 / 255.0f, 206 / 255.0f, 222 / 255.0f, 0.45f));
    }

    void paletteHasTheThemeColours()
    {
        QFETCH(QString, name);
        QFETCH(bool, highContrast);
        QFETCH(QColor, expected);
        QObject *theme = this->theme();
        QVERIFY(theme);
        theme->setProperty("highContrast", highContrast);
        const QColor actual = theme->property(name.toLatin1()).value<QColor>();
        theme->setProperty("highContrast", false);
        QCOMPARE(actual.rgb(), expected.rgb());
        QVERIFY2(std::abs(actual.alphaF() - expected.alphaF()) < 0.003f,
                 qPrintable(u"alpha %1, expected %2"_s.arg(actual.alphaF()).arg(expected.alphaF())));
    }

    void chromeStopsAndEase()
    {
        QObject *theme = this->theme();
        QVERIFY(theme);
        const QVariantList stops = theme->property("chromeStops").toList();
        const QList<QPair<double, QString>> expected{
            {0.0, u"#5b5e68"_s},  {0.16, u"#e7e9ef"_s}, {0.30, u"#9aa0ad"_s},
            {0.44, u"#ffffff"_s}, {0.54, u"#b8bdcc"_s}, {0.66, u"#7de2ff"_s},
            {0.74, u"#c9b8ff"_s}, {0.86, u"#e7e9ef"_s}, {1.0, u"#5b5e68"_s}};
        QCOMPARE(stops.size(), expected.size());
        for (qsizetype i = 0; i < stops.size(); ++i) {
            const QVariantMap stop = stops.at(i).toMap();
            QCOMPARE(stop.value(u"position"_s).toDouble(), expected.at(i).first);
            QCOMPARE(QColor(stop.value(u"color"_s).toString()), QColor(expected.at(i).second));
        }

        QCOMPARE(theme->property("easeDuration").toInt(), 350);
        QVariantList curve = theme->property("easeCurve").toList();
        const QList<double> points{0.16, 1.0, 0.3, 1.0, 1.0, 1.0};
        QCOMPARE(curve.size(), points.size());
        for (qsizetype i = 0; i < curve.size(); ++i)
            QCOMPARE(curve.at(i).toDouble(), points.at(i));
    }

    void barsStayWithinTheirBounds_data()
    {
        QTest::addColumn<double>("level");
        QTest::addColumn<double>("lowest");
        QTest::addColumn<double>("highest");
        const double nan = std::numeric_limits<double>::quiet_NaN();
        // Silence ripples between the 4-point floor and 26 × 0.25 = 6.5 points.
        QTest::newRow("silence") << 0.0 << 4.0 << 6.5;
        QTest::newRow("below zero counts as silence") << -3.0 << 4.0 << 6.5;
        QTest::newRow("not a number counts as silence") << nan << 4.0 << 6.5;
        QTest::newRow("full") << 1.0 << 4.0 << 26.0;
        QTest::newRow("above one is clamped") << 7.5 << 4.0 << 26.0;
        QTest::newRow("half") << 0.5 << 4.0 << 26.0 * 0.625;
    }

    void barsStayWithinTheirBounds()
    {
        QFETCH(double, level);
        QFETCH(double, lowest);
        QFETCH(double, highest);
        std::unique_ptr<QObject> bars = create(u"SoundWaveBars {}"_s);
        QVERIFY(bars);
        double seenLow = 1e9;
        double seenHigh = 0;
        for (int count : {1, 5, 7}) {
            for (int index = 0; index < count; ++index) {
                for (int step = 0; step < 400; ++step) {
                    const double h = barHeight(bars.get(), index, count, 7.6e8 + step * 0.0031, level);
                    QVERIFY2(h >= lowest - 1e-9 && h <= highest + 1e-9,
                             qPrintable(u"bar %1 of %2: %3"_s.arg(index).arg(count).arg(h)));
                    seenLow = std::min(seenLow, h);
                    seenHigh = std::max(seenHigh, h);
                }
            }
        }
        // The bars ripple over the whole allowed range, not a fixed height.
        QVERIFY2(seenHigh > highest - 0.5, qPrintable(QString::number(seenHigh)));
        QVERIFY2(seenLow < std::max(lowest, highest * 0.4) + 0.5, qPrintable(QString::number(seenLow)));
    }

    void middleBarsAreTaller()
    {
        std::unique_ptr<QObject> bars = create(u"SoundWaveBars {}"_s);
        QVERIFY(bars);
        const int count = 7;
        QList<double> tallest(count, 0);
        for (int index = 0; index < count; ++index) {
            for (int step = 0; step < 600; ++step)
                tallest[index] = std::max(tallest[index], barHeight(bars.get(), index, count, step * 0.005, 1.0));
        }
        QVERIFY(tallest[3] > tallest[2]);
        QVERIFY(tallest[2] > tallest[1]);
        QVERIFY(tallest[1] > tallest[0]);
        QVERIFY(std::abs(tallest[0] - tallest[6]) < 0.05);
    }

    void reducedMotionGivesOneStillHeight_data()
    {
        QTest::addColumn<double>("level");
        QTest::addColumn<double>("expected");
        QTest::newRow("silence") << 0.0 << 4.0;
        QTest::newRow("quarter") << 0.25 << 9.5;
        QTest::newRow("full") << 1.0 << 26.0;
        QTest::newRow("clamped") << 3.0 << 26.0;
    }

    void reducedMotionGivesOneStillHeight()
    {
        QFETCH(double, level);
        QFETCH(double, expected);
        std::unique_ptr<QObject> bars = create(u"SoundWaveBars { reduceMotion: true }"_s);
        QVERIFY(bars);
        for (int index = 0; index < 5; ++index) {
            for (double t : {0.0, 0.1, 123.456, 7.6e8})
                QCOMPARE(barHeight(bars.get(), index, 5, t, level), expected);
        }
    }

    void barsFollowTheirLevel()
    {
        std::unique_ptr<QObject> object = create(u"SoundWaveBars { reduceMotion: true; count: 4 }"_s);
        auto *bars = qobject_cast<QQuickItem *>(object.get());
        QVERIFY(bars);
        bars->setProperty("level", 0.5);
        QList<QQuickItem *> drawn;
        std::function<void(QQuickItem *)> collect = [&](QQuickItem *item) {
            if (item->inherits("QQuickRectangle"))
                drawn << item;
            for (QQuickItem *child : item->childItems())
                collect(child);
        };
        collect(bars);
        QCOMPARE(drawn.size(), 4);
        for (QQuickItem *bar : drawn)
            QCOMPARE(bar->height(), 15.0);
        QCOMPARE(drawn.first()->property("color").value<QColor>(), QColor(u"#7de2ff"_s));
        QCOMPARE(drawn.last()->property("color").value<QColor>(), QColor(u"#ff7bbc"_s));
    }

    void glyphsLoad_data()
    {
        QTest::addColumn<QString>("source");
        QTest::newRow("eye") << u"MUREye { size: 22; glowing: true }"_s;
        QTest::newRow("still eye") << u"MUREye { size: 64; glowing: true; reduceMotion: true }"_s;
        QTest::newRow("check") << u"CheckGlyph { color: Theme.confirm }"_s;
        QTest::newRow("pointer") << u"CursorClickGlyph {}"_s;
    }

    void glyphsLoad()
    {
        QFETCH(QString, source);
        std::unique_ptr<QObject> glyph = create(source);
        auto *item = qobject_cast<QQuickItem *>(glyph.get());
        QVERIFY(item);
        QVERIFY(item->implicitWidth() > 0);
        QCOMPARE(item->implicitWidth(), item->implicitHeight());
    }

    void displayShowsEachState_data()
    {
        QTest::addColumn<HUDModel::State>("state");
        QTest::addColumn<QString>("visibleItem");
        QTest::addColumn<QString>("caption");
        QTest::addColumn<QString>("captionColour");
        QTest::newRow("listening") << HUDModel::State::listening << u"stopButton"_s << u"Listening"_s << u"muted"_s;
        QTest::newRow("working") << HUDModel::State::working << u"spinner"_s << u"Transcribing"_s << u"muted"_s;
        QTest::newRow("done") << HUDModel::State::done << u"checkMark"_s << u"Copied"_s << u"confirm"_s;
        QTest::newRow("aiming") << HUDModel::State::aiming << u"clickPointer"_s << u"Copied"_s << u"ink"_s;
    }

    void displayShowsEachState()
    {
        QFETCH(HUDModel::State, state);
        QFETCH(QString, visibleItem);
        QFETCH(QString, caption);
        QFETCH(QString, captionColour);
        HUDModel model;
        model.setConfirmText(u"Copied"_s);
        model.setState(state);
        QQmlComponent component(&m_probe.engine(), QUrl(u"qrc:/Murmel/HUD.qml"_s));
        std::unique_ptr<QObject> object(component.createWithInitialProperties(
            {{u"hudModel"_s, QVariant::fromValue<QObject *>(&model)},
             {u"controller"_s, QVariant::fromValue<QObject *>(nullptr)}}));
        QVERIFY2(object, qPrintable(component.errorString()));
        auto *root = qobject_cast<QQuickItem *>(object.get());
        QVERIFY(root);
        QCOMPARE(root->implicitWidth(), 260.0);
        QCOMPARE(root->implicitHeight(), 60.0);

        const QStringList stateItems{u"stopButton"_s, u"levelBars"_s, u"spinner"_s, u"checkMark"_s,
                                     u"clickPointer"_s};
        for (const QString &name : stateItems) {
            QQuickItem *item = findItem(root, name);
            QVERIFY2(item, qPrintable(name));
            const bool expected = name == visibleItem || (visibleItem == u"stopButton" && name == u"levelBars");
            QVERIFY2(item->isVisible() == expected, qPrintable(name));
        }
        QQuickItem *label = findItem(root, u"caption"_s);
        QVERIFY(label);
        QCOMPARE(label->property("text").toString(), caption);
        QVERIFY(theme());
        QCOMPARE(label->property("color").value<QColor>(), theme()->property(captionColour.toLatin1()).value<QColor>());

        QQuickItem *plate = findItem(root, u"plate"_s);
        QVERIFY(plate);
        QVERIFY(plate->width() >= 210);
        QCOMPARE(plate->property("color").value<QColor>(), QColor(u"#090a0c"_s));

        if (state == HUDModel::State::listening) {
            QQuickItem *button = findItem(root, u"stopButton"_s);
            QVERIFY(button);
            // The attached accessibility name and tool tip are read back through QML.
            QCOMPARE(evaluate(button, u"Accessible.name"_s).toString(), u"Stop dictation"_s);
            QCOMPARE(evaluate(button, u"ToolTip.text"_s).toString(), u"Stop dictation"_s);
        }

        // The content follows the model as it changes.
        model.setState(HUDModel::State::done);
        model.setConfirmText(u"Ready for clipboard safe insert"_s);
        QCOMPARE(label->property("text").toString(), u"Ready for clipboard safe insert"_s);
        QVERIFY(plate->width() <= 252);
    }

    void longConfirmationsShowWhole_data()
    {
        QTest::addColumn<QString>("text");
        QTest::newRow("short") << u"Inserted"_s;
        QTest::newRow("clipboard safe") << u"Ready for clipboard safe insert"_s;
        QTest::newRow("permission") << u"Grant Accessibility, then try again"_s;
        QTest::newRow("aiming") << u"Click a text field to insert · Esc cancels"_s;
    }

    void longConfirmationsShowWhole()
    {
        QFETCH(QString, text);
        HUDModel model;
        model.setState(HUDModel::State::aiming);
        model.setConfirmText(text);
        QQmlComponent component(&m_probe.engine(), QUrl(u"qrc:/Murmel/HUD.qml"_s));
        std::unique_ptr<QObject> object(component.createWithInitialProperties(
            {{u"hudModel"_s, QVariant::fromValue<QObject *>(&model)},
             {u"controller"_s, QVariant::fromValue<QObject *>(nullptr)}}));
        QVERIFY2(object, qPrintable(component.errorString()));
        auto *root = qobject_cast<QQuickItem *>(object.get());
        root->setSize({260, 60});
        QQuickItem *label = findItem(root, u"caption"_s);
        QQuickItem *plate = findItem(root, u"plate"_s);
        QVERIFY(label && plate);
        QCOMPARE(label->property("text").toString(), text);
        QVERIFY2(!label->property("truncated").toBool(), "the confirmation lost its end");
        // Inside the plate, which stays inside the window.
        const QRectF inPlate = label->mapRectToItem(plate, QRectF(0, 0, label->width(), label->height()));
        QVERIFY2(QRectF(0, 0, plate->width(), plate->height()).contains(inPlate),
                 qPrintable(u"label %1,%2 %3×%4 in a plate of %5×%6"_s.arg(inPlate.x()).arg(inPlate.y())
                                .arg(inPlate.width()).arg(inPlate.height()).arg(plate->width()).arg(plate->height())));
        QVERIFY(plate->width() <= 252);
    }

private:
    QObject *theme() { return m_probe.theme(); }
    std::unique_ptr<QObject> create(const QString &body) { return m_probe.create(body); }
    QVariant evaluate(QObject *scope, const QString &expression) { return m_probe.evaluate(scope, expression); }

    double barHeight(QObject *bars, int index, int count, double t, double level)
    {
        QVariant result;
        QMetaObject::invokeMethod(bars, "barHeight", Q_RETURN_ARG(QVariant, result), Q_ARG(QVariant, index),
                                  Q_ARG(QVariant, count), Q_ARG(QVariant, t), Q_ARG(QVariant, level));
        return result.toDouble();
    }

    QmlProbe m_probe;
};

QTEST_MAIN(TestHUDGlyphs)
#include "tst_hudglyphs.moc"
