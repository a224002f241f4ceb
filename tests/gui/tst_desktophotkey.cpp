// What the screens say about the hotkey on each desktop, and the GNOME shortcut Murmel writes
// where GNOME passes no global hotkey on: through the real gsettings on a private keyfile, so
// nothing of the machine's own settings is touched.
#include "childprocess.h"
#include "core/base/preferences.h"
#include "core/dictation/hotkeymonitor.h"
#include "fakes/fakehotkeybackend.h"
#include "gui/viewmodels/desktophotkey.h"
#include "platform/session/gnomecustomshortcut.h"

#include <QCoroTask>
#include <QTemporaryDir>
#include <QTest>

using namespace Qt::StringLiterals;

namespace {

using Desktop = DesktopHotkey::Desktop;
using Way = DesktopHotkey::Way;

// Murmel's entry as gsettings itself reads it back, empty when GNOME has none.
QString gnomeBinding()
{
    const QString path = u"/org/gnome/settings-daemon/plugins/media-keys/custom-keybindings/murmel/"_s;
    const QString list = QString::fromUtf8(
        ChildProcess::run(u"gsettings"_s, {u"get"_s, u"org.gnome.settings-daemon.plugins.media-keys"_s, u"custom-keybindings"_s}));
    const QString schema = u"org.gnome.settings-daemon.plugins.media-keys.custom-keybinding:"_s + path;
    return list.contains(path) ? QString::fromUtf8(ChildProcess::run(u"gsettings"_s, {u"get"_s, schema, u"binding"_s})).trimmed()
                               : QString();
}

} // namespace

class TestDesktopHotkey final : public QObject
{
    Q_OBJECT

    QTemporaryDir m_home;

private Q_SLOTS:
    void initTestCase()
    {
        qputenv("XDG_CONFIG_HOME", QFile::encodeName(m_home.path()));
        qputenv("GSETTINGS_BACKEND", "keyfile");
    }

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

    // On GNOME without a way of its own, Murmel writes the shortcut when asked; it follows the
    // hotkey to other keys and goes with it.
    void gnomeShortcutFollowsTheHotkey()
    {
        GnomeCustomShortcut gnome;
        if (!QCoro::waitFor(gnome.isSupported()))
            QSKIP("GNOME's media-keys schema is not installed (gnome-settings-daemon-common)");
        QTemporaryDir folder;
        Preferences preferences(folder.filePath(u"preferences.json"_s));
        FakeHotkeyBackend grab;
        grab.reachesEverywhere = false;
        HotkeyMonitor hotkeys(preferences, {&grab});
        hotkeys.start();
        DesktopHotkey screen(hotkeys, DesktopHotkey::Desktop::gnome, &gnome);
        screen.refresh();
        QTRY_COMPARE(screen.way(), DesktopHotkey::Way::gnome);
        QVERIFY(!screen.works());

        screen.addGnomeShortcut();
        QTRY_VERIFY(screen.gnomeShortcutSet());
        QVERIFY(screen.works());
        QVERIFY(screen.problem().isEmpty());
        QVERIFY(!screen.holdToTalkPossible());
        QCOMPARE(gnomeBinding(), u"'<Control><Alt>space'"_s);

        hotkeys.setShortcut(Shortcut{67, Shortcut::super, u"Super+F9"_s});
        QTRY_COMPARE(gnomeBinding(), u"'<Super>F9'"_s);
        // Removed while GNOME is still being written: the last word wins.
        hotkeys.setShortcut(Shortcut{57, Shortcut::control, u"Ctrl+Space"_s});
        hotkeys.setShortcut(std::nullopt);
        QTRY_VERIFY(!screen.busy() && !screen.gnomeShortcutSet());
        QCOMPARE(gnomeBinding(), QString());
        QVERIFY(!screen.works());
    }
};

QTEST_GUILESS_MAIN(TestDesktopHotkey)
#include "tst_desktophotkey.moc"
