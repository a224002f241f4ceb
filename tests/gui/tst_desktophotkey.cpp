// What the screens say about the hotkey on each desktop.
#include "core/base/preferences.h"
#include "core/dictation/hotkeymonitor.h"
#include "fakes/fakehotkeybackend.h"
#include "gui/viewmodels/desktophotkey.h"

#include <QTemporaryDir>
#include <QTest>

using namespace Qt::StringLiterals;

namespace {

using Desktop = DesktopHotkey::Desktop;
using Way = DesktopHotkey::Way;

} // namespace

class TestDesktopHotkey final : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    // Whether the hotkey counts as working, what the screens offer instead, and whether hold
    // to talk can work: an X11 grab another client holds has no desktop way round it, a KDE
    // portal that failed has the desktop's settings.
    void screensTellTheTruth_data()
    {
        QTest::addColumn<Desktop>("desktop");
        QTest::addColumn<bool>("active");
        QTest::addColumn<bool>("everywhere");
        QTest::addColumn<Way>("way");
        QTest::newRow("X11 grab") << Desktop::x11 << true << true << Way::none;
        QTest::newRow("X11, keys taken") << Desktop::x11 << false << true << Way::none;
        QTest::newRow("KDE portal") << Desktop::kde << true << true << Way::none;
        QTest::newRow("KDE, portal failed") << Desktop::kde << false << true << Way::other;
        QTest::newRow("sway, XWayland grab") << Desktop::wlroots << true << false << Way::wlroots;
    }

    void screensTellTheTruth()
    {
        QFETCH(Desktop, desktop);
        QFETCH(bool, active);
        QFETCH(bool, everywhere);
        QFETCH(Way, way);
        QTemporaryDir folder;
        Preferences preferences(folder.filePath(u"preferences.json"_s));
        FakeHotkeyBackend backend;
        backend.reachesEverywhere = everywhere;
        if (!active)
            backend.refused = HotkeyMonitor::defaultShortcut();
        HotkeyMonitor hotkeys(preferences, {&backend});
        hotkeys.start();
        DesktopHotkey screen(hotkeys, desktop, nullptr);
        const bool works = active && everywhere;
        QCOMPARE(screen.works(), works);
        QCOMPARE(screen.holdToTalkPossible(), works);
        QCOMPARE(screen.way(), way);
        QCOMPARE(screen.problem().isEmpty(), works);
        if (active && !everywhere)
            QVERIFY2(screen.problem().contains(u"only while an X11 application has the focus"_s),
                     qPrintable(screen.problem()));
    }

};

QTEST_GUILESS_MAIN(TestDesktopHotkey)
#include "tst_desktophotkey.moc"
