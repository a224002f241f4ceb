// The tray icon as a panel sees it, over a private X display and session bus with a stand-in
// watcher: the menu mirrors the actions (a disabled one does nothing), a middle click gives
// dictation, a left click asks for the menu window, the eye has an image per scale. The
// application's own tray, its labels and colours, is tst_shell's.
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

public:
    explicit TestTrayIcon(StatusNotifierWatcher &watcher)
        : m_watcher(watcher)
    {}

private:
    StatusNotifierWatcher &m_watcher;
    MurAction m_toggle{u"Start Dictation"_s};
    MurAction m_file{u"Transcribe a File…"_s};
    MurAction m_settings{u"Settings…"_s};
    MurAction m_quit{u"Quit Murmel"_s};
    std::unique_ptr<TrayIcon> m_tray;

    // Reads the item until `done` holds for it, as a panel rereads on each change signal.
    StatusNotifierWatcher::Item readUntil(const std::function<bool(const StatusNotifierWatcher::Item &)> &done)
    {
        StatusNotifierWatcher::Item item;
        static_cast<void>(QTest::qWaitFor([&] { return (item = m_watcher.readItem()).isValid() && done(item); }, 5000));
        return item;
    }

private Q_SLOTS:
    void initTestCase()
    {
        QVERIFY(TrayIcon::isTrayAvailable());
        m_tray = std::make_unique<TrayIcon>(TrayIcon::Menu{m_toggle, m_file, m_settings, m_quit});
        m_tray->show();
        QVERIFY(m_watcher.waitForItem());
    }

    void menuFollowsTheActions()
    {
        QSignalSpy toggled(&m_toggle, &MurAction::triggered);
        QSignalSpy file(&m_file, &MurAction::triggered);
        StatusNotifierWatcher::Item item = m_watcher.readItem();
        QVERIFY2(item.isValid(), qPrintable(item.error));
        QCOMPARE(item.menuLabels(), (QStringList{u"Start Dictation"_s, u"Transcribe a File…"_s, u"Settings…"_s, u"-"_s,
                                                 u"Quit Murmel"_s}));
        QString error;
        QVERIFY2(m_watcher.clickMenuItem(u"Transcribe a File…"_s, &error), qPrintable(error));
        QTRY_COMPARE(file.count(), 1);

        // While a dictation is worked on the first entry is off, and a click on it does nothing.
        m_toggle.setText(u"Stop Dictation"_s);
        m_toggle.setEnabled(false);
        item = readUntil([](const auto &read) { return !read.menu.value(0).enabled; });
        QVERIFY(!item.menu.value(0).enabled);
        QCOMPARE(item.menu.value(0).label, u"Stop Dictation"_s);
        QVERIFY(m_watcher.clickMenuItem(u"Stop Dictation"_s, &error));
        QVERIFY(m_watcher.activate(StatusNotifierWatcher::Click::middle));
        QTest::qWait(300);
        QCOMPARE(toggled.count(), 0);
        m_toggle.setEnabled(true);
        QVERIFY(readUntil([](const auto &read) { return read.menu.value(0).enabled; }).isValid());
        QVERIFY(m_watcher.clickMenuItem(u"Stop Dictation"_s, &error));
        QTRY_COMPARE(toggled.count(), 1);
        QVERIFY(m_watcher.activate(StatusNotifierWatcher::Click::middle));
        QTRY_COMPARE(toggled.count(), 2);
        // A left click asks for the menu window, and nothing else.
        QSignalSpy menuWindow(m_tray.get(), &TrayIcon::menuWindowRequested);
        QVERIFY(m_watcher.activate());
        QTRY_COMPARE(menuWindow.count(), 1);
        QCOMPARE(toggled.count() + file.count(), 3);
    }

    void eyeAndToolTip()
    {
        // One image per scale, so a panel on a high-density screen draws a sharp one.
        QCOMPARE(m_watcher.readItem().iconSizes, (QList<QSize>{QSize(18, 18), QSize(36, 36), QSize(54, 54)}));
        m_tray->setRecording(true);
        QVERIFY(readUntil([](const auto &read) { return read.toolTipTitle == u"Murmel, recording"; }).isValid());
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
    StatusNotifierWatcher watcher(bus.busAddress());
    if (!watcher.start()) {
        std::fprintf(stderr, "FAIL: no status notifier watcher: %s\n", qPrintable(watcher.error()));
        return 1;
    }
    TestTrayIcon test(watcher);
    return QTest::qExec(&test, argc, argv);
}

#include "tst_trayicon.moc"
