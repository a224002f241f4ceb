// The GNOME shortcut Murmel writes where GNOME passes no global hotkey on: through the real
// gsettings on a private keyfile, so nothing of the machine's own settings is touched.
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
