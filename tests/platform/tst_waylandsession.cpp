// The Wayland test desktops themselves: on each compositor a native Wayland window and an
// XWayland window open with the focus, take typed text, can be focused, and share the
// clipboard, so that tests built on WaylandSession fail for Murmel's faults, not the rig's.
#include "waylandsession.h"

#include <QTest>

namespace {

using Compositor = WaylandSession::Compositor;
using Side = WaylandSession::Side;

} // namespace

class TestWaylandSession : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void windowsTakeKeysFocusAndClipboard_data()
    {
        QTest::addColumn<Compositor>("compositor");
        QTest::newRow("sway") << Compositor::sway;
        QTest::newRow("kwin") << Compositor::kwin;
        QTest::newRow("mutter") << Compositor::mutter;
    }

    void windowsTakeKeysFocusAndClipboard()
    {
        QFETCH(Compositor, compositor);
        if (const QString missing = WaylandSession::missingProgram(compositor); !missing.isEmpty())
            QSKIP(qPrintable(missing + QStringLiteral(" is not installed")));
        if (qEnvironmentVariable("MURMEL_TEXTWINDOW").isEmpty())
            QSKIP("MURMEL_TEXTWINDOW does not name the text window");
        WaylandSession session(compositor);
        QVERIFY2(session.start(), qPrintable(session.error()));

        // Every compositor gives a window the focus when it opens.
        TextWindow x11(session, QStringLiteral("xcb"), QStringLiteral("X window"));
        QVERIFY(x11.waitUntilActive());
        TextWindow native(session, QStringLiteral("wayland"), QStringLiteral("Native window"));
        QVERIFY(native.waitUntilActive());
        QVERIFY2(session.typeText(QStringLiteral("Native 1")), qPrintable(session.error()));
        QTRY_COMPARE_WITH_TIMEOUT(native.text(), QStringLiteral("Native 1"), 10000);
        QCOMPARE(session.activeX11Window(), QString());

        QVERIFY(!session.focus(QStringLiteral("No such window")));
        QVERIFY2(session.focus(QStringLiteral("X window")), qPrintable(session.error()));
        QCOMPARE(session.activeX11Window(), x11.window());
        QVERIFY2(session.typeText(QStringLiteral("Hello, X!")), qPrintable(session.error()));
        QTRY_COMPARE_WITH_TIMEOUT(x11.text(), QStringLiteral("Hello, X!"), 10000);
        QCOMPARE(native.text(), QStringLiteral("Native 1"));

        // With an X window active the two clipboards are one on every compositor (sway and
        // KWin join them only then).
        for (const Side from : {Side::wayland, Side::x11}) {
            const Side to = from == Side::wayland ? Side::x11 : Side::wayland;
            const QString text = from == Side::wayland ? QStringLiteral("copied on Wayland ✓")
                                                       : QStringLiteral("copied on X ✓");
            QVERIFY(session.setClipboard(from, text));
            QTRY_COMPARE(session.clipboard(to), text);
        }

        if (compositor == Compositor::mutter) {
            // mutter activates only X windows from outside, and the harness must say so; the
            // native window gets the focus back when the X one closes, and keys sent before
            // mutter has let the X window go are lost.
            QVERIFY(!session.focus(QStringLiteral("Native window")));
            x11.close();
            QVERIFY(native.waitUntilActive());
        } else {
            QVERIFY2(session.focus(QStringLiteral("Native window")), qPrintable(session.error()));
        }
        QVERIFY2(session.typeText(QStringLiteral(" & 2")), qPrintable(session.error()));
        QTRY_COMPARE_WITH_TIMEOUT(native.text(), QStringLiteral("Native 1 & 2"), 10000);
        QCOMPARE(x11.text(), QStringLiteral("Hello, X!"));
    }
};

QTEST_GUILESS_MAIN(TestWaylandSession)
#include "tst_waylandsession.moc"
