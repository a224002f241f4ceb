// The tray icon as a panel sees it: on a private X display and session bus, with a stand-in
// StatusNotifierWatcher, everything is read and clicked over D-Bus the way KDE Plasma or
// GNOME's AppIndicator extension would: the item's tooltip and pixmap, its dbusmenu, and the
// requests that clicks on them turn into. A child copy of the test checks the icon on a
// desktop without any tray.
#include "childprocess.h"
#include "desktopsession.h"
#include "secretservicesession.h"
#include "shell/tray/trayicon.h"
#include "statusnotifierwatcher.h"

#include <QApplication>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusVariant>
#include <QProcess>
#include <QSignalSpy>
#include <QTest>

#include <cstdio>
#include <functional>
#include <memory>
#include <optional>

namespace {

constexpr char withoutTrayVariable[] = "MURMEL_TEST_TRAY_WITHOUT_PANEL";

const QStringList idleMenu{QStringLiteral("Start Dictation"), QStringLiteral("Transcribe a File…"),
                           QStringLiteral("Settings…"), QStringLiteral("-"),
                           QStringLiteral("Quit Murmel")};

// Every visible pixel grey (red = green = blue), and some visible.
bool isMonochrome(const QImage &image)
{
    int visible = 0;
    const QImage argb = image.convertToFormat(QImage::Format_ARGB32);
    for (int y = 0; y < argb.height(); ++y) {
        for (int x = 0; x < argb.width(); ++x) {
            const QRgb value = argb.pixel(x, y);
            if (qAlpha(value) == 0)
                continue;
            ++visible;
            if (qRed(value) != qGreen(value) || qGreen(value) != qBlue(value))
                return false;
        }
    }
    return visible > 0;
}

// How many opaque pixels are within a few steps of `colour`.
int pixelsNear(const QImage &image, QColor colour, int tolerance = 6)
{
    int count = 0;
    const QImage argb = image.convertToFormat(QImage::Format_ARGB32);
    for (int y = 0; y < argb.height(); ++y) {
        for (int x = 0; x < argb.width(); ++x) {
            const QRgb value = argb.pixel(x, y);
            if (qAlpha(value) == 255 && std::abs(qRed(value) - colour.red()) <= tolerance &&
                std::abs(qGreen(value) - colour.green()) <= tolerance &&
                std::abs(qBlue(value) - colour.blue()) <= tolerance)
                ++count;
        }
    }
    return count;
}

const QColor violetRing(140, 112, 232);

// The signals of one tray icon, by what the user asked for.
struct Requests
{
    explicit Requests(TrayIcon &tray)
        : toggle(&tray, &TrayIcon::toggleDictationRequested)
        , transcribeFile(&tray, &TrayIcon::transcribeFileRequested)
        , settings(&tray, &TrayIcon::settingsRequested)
        , quit(&tray, &TrayIcon::quitRequested)
        , menuWindow(&tray, &TrayIcon::menuWindowRequested)
    {}

    QSignalSpy *byName(const QString &name)
    {
        if (name == u"toggle")
            return &toggle;
        if (name == u"transcribeFile")
            return &transcribeFile;
        if (name == u"settings")
            return &settings;
        if (name == u"quit")
            return &quit;
        return &menuWindow;
    }

    int total() const
    {
        return int(toggle.size() + transcribeFile.size() + settings.size() + quit.size() +
                   menuWindow.size());
    }

    QSignalSpy toggle;
    QSignalSpy transcribeFile;
    QSignalSpy settings;
    QSignalSpy quit;
    QSignalSpy menuWindow;
};

} // namespace

class TestTrayIcon final : public QObject
{
    Q_OBJECT

public:
    TestTrayIcon(const DesktopSession &desktop, StatusNotifierWatcher &watcher)
        : m_desktop(desktop)
        , m_watcher(watcher)
    {}

private:
    // Reads the item until `done` holds for it, as a panel rereads on each change signal.
    StatusNotifierWatcher::Item
    readUntil(const std::function<bool(const StatusNotifierWatcher::Item &)> &done)
    {
        StatusNotifierWatcher::Item item;
        // The caller checks what it got, with a message that says what is wrong.
        static_cast<void>(QTest::qWaitFor(
            [&] {
                item = m_watcher.readItem();
                return item.isValid() && done(item);
            },
            5000));
        return item;
    }

private Q_SLOTS:
    void initTestCase()
    {
        QCOMPARE(QGuiApplication::platformName(), QStringLiteral("xcb"));
        QVERIFY(TrayIcon::isTrayAvailable());
    }

    // Each case has a tray icon of its own, registered afresh with the watcher.
    void init()
    {
        QSignalSpy registered(&m_watcher, &StatusNotifierWatcher::itemRegistered);
        m_tray = std::make_unique<TrayIcon>();
        QCOMPARE(m_tray->state(), TrayIcon::State::idle);
        m_tray->show();
        QVERIFY(registered.wait(10000));
        m_item = registered.first().first().toString();
    }

    void cleanup()
    {
        QSignalSpy unregistered(&m_watcher, &StatusNotifierWatcher::itemUnregistered);
        m_tray.reset();
        // Gone from the panel with the object, so the next case's item is the only one.
        QTRY_VERIFY_WITH_TIMEOUT(unregistered.contains(QVariantList{m_item}), 10000);
        QVERIFY(!m_watcher.registeredItems().contains(m_item));
    }

    void registersIdle()
    {
        QVERIFY(m_tray->isVisible());
        QVERIFY2(m_item.startsWith(u':'), qPrintable(m_item));
        QVERIFY(m_watcher.registeredItems().contains(m_item));

        const StatusNotifierWatcher::Item item = m_watcher.readItem(m_item);
        QVERIFY2(item.isValid(), qPrintable(item.error));
        QCOMPARE(item.toolTipTitle, QStringLiteral("Murmel"));
        QCOMPARE(item.status, QStringLiteral("Active"));
        // Drawn, not named: a bare desktop has no theme with the eye.
        QVERIFY(item.iconName.isEmpty());
        QVERIFY(!item.icon.isNull());
        // One image per scale, so a panel on a high-density screen draws a sharp one.
        QCOMPARE(item.iconSizes, (QList<QSize>{QSize(18, 18), QSize(36, 36), QSize(54, 54)}));
        QCOMPARE(item.icon.size(), QSize(54, 54));
        QVERIFY(isMonochrome(item.icon));

        QCOMPARE(item.menuLabels(), idleMenu);
        for (const StatusNotifierWatcher::MenuEntry &entry : item.menu) {
            QVERIFY2(entry.enabled, qPrintable(entry.label));
            QVERIFY2(entry.visible, qPrintable(entry.label));
        }
    }

    void followsTheState()
    {
        QSignalSpy changes(&m_watcher, &StatusNotifierWatcher::itemChanged);
        m_tray->setState(TrayIcon::State::recording);
        QCOMPARE(m_tray->state(), TrayIcon::State::recording);
        // The panel hears of the change and rereads.
        QTRY_VERIFY_WITH_TIMEOUT(changes.contains(QVariantList{QStringLiteral("NewIcon")}), 5000);
        QTRY_VERIFY_WITH_TIMEOUT(changes.contains(QVariantList{QStringLiteral("NewToolTip")}),
                                 5000);

        StatusNotifierWatcher::Item item =
            readUntil([](const auto &read) { return read.toolTipTitle == u"Murmel, recording"; });
        QCOMPARE(item.toolTipTitle, QStringLiteral("Murmel, recording"));
        QVERIFY(!isMonochrome(item.icon));
        QVERIFY2(pixelsNear(item.icon, violetRing) > 20, "the recording ring is not violet");
        QCOMPARE(item.menu.value(0).label, QStringLiteral("Stop Dictation"));
        QVERIFY(item.menu.value(0).enabled);
        QCOMPARE(item.menuLabels().mid(1), idleMenu.mid(1));

        // Working: the eye is idle again and dictation cannot be started until it is done.
        m_tray->setState(TrayIcon::State::working);
        item = readUntil([](const auto &read) { return read.toolTipTitle == u"Murmel"; });
        QCOMPARE(item.toolTipTitle, QStringLiteral("Murmel"));
        QVERIFY(isMonochrome(item.icon));
        QCOMPARE(item.menuLabels(), idleMenu);
        QVERIFY(!item.menu.value(0).enabled);
        for (const StatusNotifierWatcher::MenuEntry &entry : item.menu.mid(1))
            QVERIFY2(entry.enabled, qPrintable(entry.label));

        m_tray->setState(TrayIcon::State::idle);
        item = readUntil([](const auto &read) { return read.menu.value(0).enabled; });
        QVERIFY(item.menu.value(0).enabled);
        QCOMPARE(item.menuLabels(), idleMenu);
        QCOMPARE(item.toolTipTitle, QStringLiteral("Murmel"));
        QVERIFY(isMonochrome(item.icon));
    }

    void sameStateChangesNothing_data()
    {
        QTest::addColumn<TrayIcon::State>("state");
        QTest::newRow("idle") << TrayIcon::State::idle;
        QTest::newRow("recording") << TrayIcon::State::recording;
        QTest::newRow("working") << TrayIcon::State::working;
    }

    void sameStateChangesNothing()
    {
        QFETCH(TrayIcon::State, state);
        Requests requests(*m_tray);
        m_tray->setState(state);
        // Let every change of getting there reach the panel before counting.
        QVERIFY(m_watcher.readItem().isValid());
        QTest::qWait(300);

        QSignalSpy changes(&m_watcher, &StatusNotifierWatcher::itemChanged);
        m_tray->setState(state);
        m_tray->setState(state);
        QVERIFY(m_watcher.readItem().isValid());
        QTest::qWait(300);
        QVERIFY2(changes.isEmpty(),
                 qPrintable(changes.isEmpty() ? QString() : changes.first().first().toString()));
        QCOMPARE(requests.total(), 0);
        QCOMPARE(m_tray->state(), state);
    }

    void menuItemsRequest_data()
    {
        QTest::addColumn<TrayIcon::State>("state");
        QTest::addColumn<QString>("label");
        QTest::addColumn<QString>("request");
        QTest::newRow("start") << TrayIcon::State::idle << QStringLiteral("Start Dictation")
                               << QStringLiteral("toggle");
        QTest::newRow("stop") << TrayIcon::State::recording << QStringLiteral("Stop Dictation")
                              << QStringLiteral("toggle");
        QTest::newRow("transcribe") << TrayIcon::State::idle << QStringLiteral("Transcribe a File…")
                                    << QStringLiteral("transcribeFile");
        QTest::newRow("settings") << TrayIcon::State::idle << QStringLiteral("Settings…")
                                  << QStringLiteral("settings");
        QTest::newRow("quit") << TrayIcon::State::idle << QStringLiteral("Quit Murmel")
                              << QStringLiteral("quit");
        // While working only the first item is off.
        QTest::newRow("transcribe while working")
            << TrayIcon::State::working << QStringLiteral("Transcribe a File…")
            << QStringLiteral("transcribeFile");
        QTest::newRow("quit while recording")
            << TrayIcon::State::recording << QStringLiteral("Quit Murmel")
            << QStringLiteral("quit");
    }

    void menuItemsRequest()
    {
        QFETCH(TrayIcon::State, state);
        QFETCH(QString, label);
        QFETCH(QString, request);
        m_tray->setState(state);
        QVERIFY(readUntil([&](const auto &item) {
                    return item.menuLabels().contains(label);
                }).isValid());

        Requests requests(*m_tray);
        QString error;
        QVERIFY2(m_watcher.clickMenuItem(label, &error), qPrintable(error));
        QSignalSpy *expected = requests.byName(request);
        QVERIFY(expected->size() == 1 || expected->wait(5000));
        QTest::qWait(100);
        QCOMPARE(expected->size(), 1);
        QCOMPARE(requests.total(), 1);
        // A request only; the state is the application's to change.
        QCOMPARE(m_tray->state(), state);
    }

    void disabledToggleDoesNothing()
    {
        m_tray->setState(TrayIcon::State::working);
        QVERIFY(readUntil([](const auto &item) { return !item.menu.value(0).enabled; }).isValid());
        Requests requests(*m_tray);
        QString error;
        QVERIFY2(m_watcher.clickMenuItem(QStringLiteral("Start Dictation"), &error),
                 qPrintable(error));
        QVERIFY(!requests.toggle.wait(500));
        QCOMPARE(requests.total(), 0);
        // Nor does a middle click start one.
        QVERIFY(m_watcher.secondaryActivate());
        QVERIFY(!requests.toggle.wait(500));
        QCOMPARE(requests.total(), 0);
    }

    void clicksOnTheIcon()
    {
        Requests requests(*m_tray);
        // A left click opens the menu window.
        QVERIFY(m_watcher.activate(640, 10));
        QVERIFY(requests.menuWindow.size() == 1 || requests.menuWindow.wait(5000));
        QCOMPARE(requests.total(), 1);

        // A right click is the panel's own business: it shows the menu it read.
        QVERIFY(m_watcher.contextMenu(640, 10));
        QTest::qWait(300);
        QCOMPARE(requests.total(), 1);

        // A middle click toggles dictation, in either direction.
        QVERIFY(m_watcher.secondaryActivate(640, 10));
        QVERIFY(requests.toggle.size() == 1 || requests.toggle.wait(5000));
        m_tray->setState(TrayIcon::State::recording);
        QVERIFY(m_watcher.secondaryActivate(640, 10));
        QTRY_COMPARE_WITH_TIMEOUT(requests.toggle.size(), 2, 5000);
        QCOMPARE(requests.total(), 3);
        QCOMPARE(requests.menuWindow.size(), 1);
    }

    // Libraries other than Qt register an object path; the item is then that path under
    // the caller's name, and it leaves the panel when its connection goes.
    void pathRegistrationsAreReachedUnderTheirSender()
    {
        const QString name = QStringLiteral("tray-test-path-registrant");
        // The connection closes once its name and the last handle to it are gone.
        auto registrantHandle = std::make_optional(
            QDBusConnection::connectToBus(qEnvironmentVariable("DBUS_SESSION_BUS_ADDRESS"), name));
        QDBusConnection &registrant = *registrantHandle;
        const auto disconnect = qScopeGuard([&] {
            registrantHandle.reset();
            QDBusConnection::disconnectFromBus(name);
        });
        QVERIFY(registrant.isConnected());
        const QString expected =
            registrant.baseService() + QStringLiteral("/org/ayatana/NotificationItem/murmel");

        QSignalSpy registered(&m_watcher, &StatusNotifierWatcher::itemRegistered);
        QSignalSpy unregistered(&m_watcher, &StatusNotifierWatcher::itemUnregistered);
        QDBusMessage call =
            QDBusMessage::createMethodCall(QStringLiteral("org.kde.StatusNotifierWatcher"),
                                           QStringLiteral("/StatusNotifierWatcher"),
                                           QStringLiteral("org.kde.StatusNotifierWatcher"),
                                           QStringLiteral("RegisterStatusNotifierItem"));
        call << QStringLiteral("/org/ayatana/NotificationItem/murmel");
        // The watcher answers from its own thread, so this thread may wait for it.
        QCOMPARE(registrant.call(call).type(), QDBusMessage::ReplyMessage);
        QTRY_VERIFY_WITH_TIMEOUT(registered.contains(QVariantList{expected}), 5000);

        // As another panel would read the list.
        QDBusMessage get = QDBusMessage::createMethodCall(
            QStringLiteral("org.kde.StatusNotifierWatcher"),
            QStringLiteral("/StatusNotifierWatcher"),
            QStringLiteral("org.freedesktop.DBus.Properties"), QStringLiteral("Get"));
        get << QStringLiteral("org.kde.StatusNotifierWatcher")
            << QStringLiteral("RegisteredStatusNotifierItems");
        const QDBusMessage items = registrant.call(get);
        QCOMPARE(items.type(), QDBusMessage::ReplyMessage);
        const QStringList listed =
            items.arguments().value(0).value<QDBusVariant>().variant().toStringList();
        QVERIFY2(listed.contains(expected) && listed.contains(m_item),
                 qPrintable(listed.join(u' ')));

        registrantHandle.reset();
        QDBusConnection::disconnectFromBus(name);
        QTRY_VERIFY_WITH_TIMEOUT(unregistered.contains(QVariantList{expected}), 5000);
        QVERIFY(!m_watcher.registeredItems().contains(expected));
        QVERIFY(m_watcher.registeredItems().contains(m_item));
    }

    // No tray anywhere: no watcher on the bus (or one without a panel behind it) and no
    // XEmbed tray on the display. The icon is shown nowhere, and nothing breaks. Qt decides
    // once per process whether the D-Bus tray exists, so each case runs in a child copy of
    // the test with a bus of its own.
    void withoutAnyTray_data()
    {
        QTest::addColumn<QString>("bus");
        QTest::newRow("no watcher") << QStringLiteral("empty");
        QTest::newRow("watcher without a host") << QStringLiteral("watcher-without-host");
    }

    void withoutAnyTray()
    {
        QFETCH(QString, bus);
        SecretServiceSession emptyBus(SecretServiceSession::Keyring::none);
        QVERIFY2(emptyBus.start(), qPrintable(emptyBus.error()));
        QProcessEnvironment environment = m_desktop.environment();
        environment.insert(emptyBus.environment());
        environment.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("xcb"));
        environment.insert(QString::fromLatin1(withoutTrayVariable), bus);
        QProcess child;
        child.setProcessEnvironment(environment);
        ChildProcess::dieWithParent(child);
        child.start(QCoreApplication::applicationFilePath(), {});
        const auto stop = qScopeGuard([&] { ChildProcess::stop(child); });
        QVERIFY(child.waitForStarted(10000));
        QVERIFY(child.waitForFinished(30000));
        const QString output =
            QString::fromLocal8Bit(child.readAllStandardOutput() + child.readAllStandardError());
        QVERIFY2(child.exitStatus() == QProcess::NormalExit && child.exitCode() == 0,
                 qPrintable(output));
        QVERIFY2(output.contains(QStringLiteral("verdict: no tray, no crash")), qPrintable(output));
        // Said once, however often the icon is shown.
        QCOMPARE(output.count(QStringLiteral("No system tray")), 1);
    }

private:
    const DesktopSession &m_desktop;
    StatusNotifierWatcher &m_watcher;
    std::unique_ptr<TrayIcon> m_tray;
    QString m_item;
};

namespace {

// The child of withoutAnyTray(): its own checks, reported through the exit code.
int runWithoutPanel(int argc, char **argv)
{
    QApplication app(argc, argv);
    std::unique_ptr<StatusNotifierWatcher> watcher;
    if (qEnvironmentVariable(withoutTrayVariable) == u"watcher-without-host") {
        watcher =
            std::make_unique<StatusNotifierWatcher>(QString(), StatusNotifierWatcher::Host::absent);
        if (!watcher->start()) {
            std::fprintf(stderr, "no watcher: %s\n", qPrintable(watcher->error()));
            return 1;
        }
    }
    if (QGuiApplication::platformName() != u"xcb" || TrayIcon::isTrayAvailable()) {
        std::fprintf(stderr, "a tray where none should be\n");
        return 1;
    }
    TrayIcon tray;
    QSignalSpy requests(&tray, &TrayIcon::menuWindowRequested);
    tray.show();
    tray.setState(TrayIcon::State::recording);
    tray.show();
    QTest::qWait(300);
    tray.setState(TrayIcon::State::working);
    tray.setState(TrayIcon::State::idle);
    QTest::qWait(100);
    if (!requests.isEmpty()) {
        std::fprintf(stderr, "a request nobody made\n");
        return 1;
    }
    if (watcher && !watcher->registeredItems().isEmpty()) {
        std::fprintf(stderr, "an item registered with no panel to show it\n");
        return 1;
    }
#if QT_VERSION >= QT_VERSION_CHECK(6, 8, 0)
    // A panel that starts after Murmel gets the icon. (Qt 6.4 settles on XEmbed at the first
    // icon for the life of the process, so there the icon cannot move to a later panel.)
    if (watcher) {
        QDBusMessage registerHost = QDBusMessage::createMethodCall(
            QStringLiteral("org.kde.StatusNotifierWatcher"), QStringLiteral("/StatusNotifierWatcher"),
            QStringLiteral("org.kde.StatusNotifierWatcher"), QStringLiteral("RegisterStatusNotifierHost"));
        registerHost << QString();
        QDBusConnection::sessionBus().call(registerHost);
        if (!QTest::qWaitFor([&] { return !watcher->registeredItems().isEmpty(); }, 10000)) {
            std::fprintf(stderr, "no icon once a panel registered as the host\n");
            return 1;
        }
    }
#endif
    std::fprintf(stdout, "verdict: no tray, no crash\n");
    std::fflush(stdout);
    return 0;
}

} // namespace

int main(int argc, char **argv)
{
    if (qEnvironmentVariableIsSet(withoutTrayVariable))
        return runWithoutPanel(argc, argv);

    // The display and the bus come first: Qt reads both when the application starts. No
    // window manager, since nothing here needs focus.
    DesktopSession desktop(DesktopSession::WindowManager::none);
    if (!desktop.start()) {
        std::fprintf(stderr, "FAIL: no test display: %s\n", qPrintable(desktop.error()));
        return 1;
    }
    SecretServiceSession bus(SecretServiceSession::Keyring::none);
    if (!bus.start()) {
        std::fprintf(stderr, "FAIL: no test bus: %s\n", qPrintable(bus.error()));
        return 1;
    }
    desktop.enter();
    bus.enter();
    // The suite runs everything offscreen, which has no tray at all.
    qputenv("QT_QPA_PLATFORM", "xcb");

    QApplication app(argc, argv);
    // Qt looks for the watcher once, when the first tray icon is made, so it must be on the
    // bus before that and stay there.
    StatusNotifierWatcher watcher(bus.busAddress());
    if (!watcher.start()) {
        std::fprintf(stderr, "FAIL: no status notifier watcher: %s\n", qPrintable(watcher.error()));
        return 1;
    }
    TestTrayIcon test(desktop, watcher);
    return QTest::qExec(&test, argc, argv);
}

#include "tst_trayicon.moc"
