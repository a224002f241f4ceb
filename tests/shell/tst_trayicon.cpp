// The tray icon as a panel sees it, over a private X display and session bus with a stand-in
// watcher: the menu mirrors the actions (a disabled one does nothing), a middle click gives
// dictation, a left click asks for the menu window. The application's own tray is tst_shell's.
#include "desktopsession.h"
#include "secretservicesession.h"
#include "shell/muraction.h"
#include "shell/tray/trayicon.h"
#include "statusnotifierwatcher.h"

#include <QApplication>
#include <QSignalSpy>
#include <QTest>

#include <cstdio>

using namespace Qt::StringLiterals;

class TestTrayIcon final : public QObject
{
    Q_OBJECT

    StatusNotifierWatcher m_panel; // on the session bus that main() points this process at

    // Rereads the item, as a panel does on each change signal, until `done` holds for it.
    bool readUntil(const std::function<bool(const StatusNotifierWatcher::Item &)> &done)
    {
        return QTest::qWaitFor([&] {
            const StatusNotifierWatcher::Item item = m_panel.readItem();
            return item.isValid() && done(item);
        }, 5000);
    }

private Q_SLOTS:
    void menuFollowsTheActions()
    {
        MurAction toggle(u"Start Dictation"_s);
        MurAction file(u"Transcribe a File…"_s);
        MurAction settings(u"Settings…"_s);
        MurAction quit(u"Quit Murmel"_s);
        QVERIFY2(m_panel.start(), qPrintable(m_panel.error()));
        QVERIFY(TrayIcon::isTrayAvailable());
        TrayIcon tray(TrayIcon::Menu{toggle, file, settings, quit});
        tray.show();
        QVERIFY(m_panel.waitForItem());
        QSignalSpy toggled(&toggle, &MurAction::triggered);
        QSignalSpy fileTriggered(&file, &MurAction::triggered);
        const StatusNotifierWatcher::Item item = m_panel.readItem();
        QVERIFY2(item.isValid(), qPrintable(item.error));
        // One image per scale, so a panel on a high-density screen draws a sharp one.
        QCOMPARE(item.iconSizes, (QList<QSize>{QSize(18, 18), QSize(36, 36), QSize(54, 54)}));
        QCOMPARE(item.menuLabels(), (QStringList{u"Start Dictation"_s, u"Transcribe a File…"_s, u"Settings…"_s, u"-"_s,
                                                 u"Quit Murmel"_s}));
        QString error;
        QVERIFY2(m_panel.clickMenuItem(u"Transcribe a File…"_s, &error), qPrintable(error));
        QTRY_COMPARE(fileTriggered.count(), 1);

        // While a dictation is worked on the first entry is off, and a click on it does nothing.
        toggle.setText(u"Stop Dictation"_s);
        toggle.setEnabled(false);
        QVERIFY(readUntil([](const auto &read) {
            return !read.menu.value(0).enabled && read.menu.value(0).label == u"Stop Dictation";
        }));
        QVERIFY(m_panel.clickMenuItem(u"Stop Dictation"_s));
        QVERIFY(m_panel.activate(StatusNotifierWatcher::Click::middle));
        QTest::qWait(300);
        QCOMPARE(toggled.count(), 0);
        toggle.setEnabled(true);
        QVERIFY(readUntil([](const auto &read) { return read.menu.value(0).enabled; }));
        QVERIFY(m_panel.clickMenuItem(u"Stop Dictation"_s));
        QTRY_COMPARE(toggled.count(), 1);
        QVERIFY(m_panel.activate(StatusNotifierWatcher::Click::middle));
        QTRY_COMPARE(toggled.count(), 2);
        // A left click asks for the menu window, and nothing else.
        QSignalSpy menuWindow(&tray, &TrayIcon::menuWindowRequested);
        QVERIFY(m_panel.activate());
        QTRY_COMPARE(menuWindow.count(), 1);
        QCOMPARE(toggled.count() + fileTriggered.count(), 3);
        tray.setRecording(true);
        QVERIFY(readUntil([](const auto &read) { return read.toolTipTitle == u"Murmel, recording"; }));
    }
};

int main(int argc, char **argv)
{
    DesktopSession desktop(DesktopSession::WindowManager::none);
    SecretServiceSession bus(SecretServiceSession::Keyring::none);
    if (!desktop.start() || !bus.start()) {
        std::fprintf(stderr, "FAIL: no test display or bus: %s%s\n", qPrintable(desktop.error()), qPrintable(bus.error()));
        return 1;
    }
    desktop.enter();
    bus.enter();
    qputenv("QT_QPA_PLATFORM", "xcb");
    QApplication app(argc, argv);
    TestTrayIcon test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_trayicon.moc"
