// Dictation on Wayland desktops end to end: the real murmel in a headless sway, KWin or mutter
// with XWayland, the parrot model and a PulseAudio virtual microphone. A dictation must land
// in a native Wayland window and in an XWayland one, leave the clipboard holding it, type
// without touching the clipboard when clipboard-safe insert is on, and never be reported as
// inserted when nothing has the focus.
#include "fixturemodels.h"
#include "murmelprocess.h"
#include "soundsession.h"
#include "waylandsession.h"

#include "platform/portal/portalkeyboardinjector.h"
#include "platform/wayland/fakeinputinjector.h"
#include "platform/wayland/virtualkeyboardinjector.h"
#include "platform/wayland/waylandconnection.h"

#include <QCoroTask>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QScopeGuard>
#include <QTemporaryDir>
#include <QTest>

#include <functional>

using namespace Qt::StringLiterals;

namespace {

using Compositor = WaylandSession::Compositor;
using Side = WaylandSession::Side;

const QString phrase = QStringLiteral("Hello from the parrot model.");

// The first of these programs that is installed, empty when none is (they moved between
// Debian 12's KDE 5 and Debian 13's KDE 6).
QString installed(const QStringList &candidates)
{
    for (const QString &program : candidates) {
        if (QFileInfo(program).isExecutable())
            return program;
    }
    return {};
}

} // namespace

class TestWaylandInsertion : public QObject
{
    Q_OBJECT

private:
    QProcessEnvironment m_environment;
    QProcess *m_murmel = nullptr;
    QString m_log;

    MurmelProcess::Result murmel(const QStringList &arguments) const
    {
        return MurmelProcess::murmel(arguments, m_environment);
    }

    void config(const QString &key, const QString &json) const
    {
        const MurmelProcess::Result set = murmel({QStringLiteral("config"), QStringLiteral("set"), key, json});
        QVERIFY2(set.exitCode == 0, qPrintable(set.err));
    }

    // What Murmel said about each dictation, in order.
    QStringList results() const
    {
        QStringList said;
        for (const QString &line : m_log.split(u'\n')) {
            static const QString marker = QStringLiteral("murmel.dictation: result: ");
            if (line.startsWith(marker))
                said << line.mid(marker.size()).trimmed();
        }
        return said;
    }

    // `whileRecording` runs between the start and the speech; false from it fails the dictation.
    bool dictate(SoundSession &sound, const QString &speech, const std::function<bool()> &whileRecording = {})
    {
        const qsizetype before = results().size();
        if (murmel({QStringLiteral("dictation"), QStringLiteral("start")}).exitCode != 0 ||
            (whileRecording && !whileRecording()) || !sound.play(speech) ||
            murmel({QStringLiteral("dictation"), QStringLiteral("stop")}).exitCode != 0)
            return false;
        return QTest::qWaitFor([&] { return results().size() > before; }, 60000);
    }

    // The desktop's grant through the stand-in portal, as the user would give it in the
    // onboarding's "Paste at your cursor" row; its restore token is Murmel's to keep.
    QString grantRemoteDesktop(const WaylandSession &session)
    {
        QDBusConnection bus = QDBusConnection::connectToBus(
            session.environment().value(QStringLiteral("DBUS_SESSION_BUS_ADDRESS")), QStringLiteral("portal"));
        QString token;
        {
            PortalKeyboardInjector keys(bus, {[&] { return token; }, [&](const QString &kept) { token = kept; }});
            if (!QCoro::waitFor(keys.openSession(true)))
                return {};
        }
        // Asked again with the token, the desktop shows no second dialog.
        PortalKeyboardInjector again(bus, {[&] { return token; }, [&](const QString &kept) { token = kept; }});
        if (!QCoro::waitFor(again.openSession(false)))
            return {};
        const QDBusMessage dialogs = bus.call(QDBusMessage::createMethodCall(
            QStringLiteral("org.freedesktop.portal.Desktop"), QStringLiteral("/org/freedesktop/portal/desktop"),
            QStringLiteral("org.freedesktop.DBus.Mock"), QStringLiteral("Dialogs")));
        return dialogs.arguments().value(0).toUInt() == 1 ? token : QString();
    }

private Q_SLOTS:
    void cleanup()
    {
        if (m_murmel) {
            m_murmel->terminate();
            if (!m_murmel->waitForFinished(10000))
                m_murmel->kill();
            delete m_murmel;
            m_murmel = nullptr;
        }
        if (QTest::currentTestFailed())
            qWarning().noquote() << "murmel said:\n" << m_log;
        m_log.clear();
    }

    void dictationLandsWhereTheUserTypes_data()
    {
        QTest::addColumn<Compositor>("compositor");
        QTest::newRow("sway") << Compositor::sway;
        QTest::newRow("kwin") << Compositor::kwin;
        QTest::newRow("mutter") << Compositor::mutter;
    }

    void dictationLandsWhereTheUserTypes()
    {
        QFETCH(Compositor, compositor);
        if (const QString missing = WaylandSession::missingProgram(compositor); !missing.isEmpty())
            QSKIP(qPrintable(missing + QStringLiteral(" is not installed")));
        WaylandSession session(compositor);
        QVERIFY2(session.start(), qPrintable(session.error()));
        SoundSession sound;
        QVERIFY2(sound.start(), qPrintable(sound.error()));
        QTemporaryDir folder;
        const QString speech = folder.filePath(QStringLiteral("speech.wav"));
        QCOMPARE(QProcess::execute(QStringLiteral("espeak-ng"), {QStringLiteral("-w"), speech,
                                                                 QStringLiteral("Please write this down.")}),
                 0);

        // The sound server is named outright; the runtime folder stays the desktop's.
        QProcessEnvironment extra = sound.environment();
        extra.remove(QStringLiteral("XDG_RUNTIME_DIR"));
        m_environment = session.environment();
        m_environment.insert(extra);
        m_environment.remove(QStringLiteral("QT_QTESTLIB_RUNNING"));
        const QString models = m_environment.value(QStringLiteral("XDG_DATA_HOME")) + QStringLiteral("/Murmel/Models");
        QVERIFY(QDir().mkpath(models));
        QVERIFY(FixtureModels::make(models + QStringLiteral("/ggml-base.en.bin")));
        const QString catalog = folder.filePath(QStringLiteral("catalog.json"));
        QVERIFY(FixtureModels::useCatalog(
            catalog, {{u"base.en"_s, FixtureModels::sha256Of(models + QStringLiteral("/ggml-base.en.bin"))}}));
        m_environment.insert(QStringLiteral("MURMEL_MODEL_CATALOG"), catalog);
        extra.insert(QStringLiteral("MURMEL_MODEL_CATALOG"), catalog);
        config(QStringLiteral("language"), QStringLiteral("\"en\""));
        config(QStringLiteral("hasOnboarded"), QStringLiteral("true"));

        if (compositor == Compositor::kwin) {
            // KWin lends its fake input to a program whose desktop entry asks for it, as the
            // installed one does.
            const QString applications = m_environment.value(QStringLiteral("XDG_DATA_HOME")) + u"/applications"_s;
            QVERIFY(QDir().mkpath(applications));
            QFile entry(applications + u"/app.murmel.Murmel.desktop"_s);
            QVERIFY(entry.open(QIODevice::WriteOnly));
            entry.write("[Desktop Entry]\nType=Application\nName=Murmel\nExec=" + MurmelProcess::binary().toUtf8() +
                        " %F\nX-KDE-Wayland-Interfaces=org_kde_kwin_fake_input,org_kde_plasma_window_management\n");
            entry.close();
            QTest::qWait(2500);
        }
        QProcess portal;
        QProcess accessibility;
        QProcess shortcuts;
        QProcess kdePortal;
        const auto stopHelpers = qScopeGuard([&] {
            for (QProcess *helper : {&portal, &accessibility, &shortcuts, &kdePortal}) {
                helper->terminate();
                helper->waitForFinished(5000);
            }
        });
        // KDE's path to the hotkey: the desktop's own portal over its global shortcuts service.
        const QString kdeShortcuts = installed({u"/usr/bin/kglobalaccel5"_s, u"/usr/bin/kglobalacceld"_s,
                                                u"/usr/libexec/kglobalacceld"_s});
        const QString kdePortalBackend =
            installed({u"/usr/lib/x86_64-linux-gnu/libexec/xdg-desktop-portal-kde"_s, u"/usr/libexec/xdg-desktop-portal-kde"_s});
        const QString portalFrontend = installed({u"/usr/libexec/xdg-desktop-portal"_s});
        const bool realKdePortal =
            compositor == Compositor::kwin && !kdePortalBackend.isEmpty() && !portalFrontend.isEmpty();
        if (realKdePortal) {
            // KWin 6 carries the shortcuts service itself; KWin 5 needs the daemon.
            if (!kdeShortcuts.isEmpty())
                session.launch(shortcuts, kdeShortcuts, {});
            QVERIFY2(session.waitForBusName(u"org.kde.kglobalaccel"_s), qPrintable(session.error()));
            session.launch(kdePortal, kdePortalBackend, {});
            QVERIFY2(session.waitForBusName(u"org.freedesktop.impl.portal.desktop.kde"_s), qPrintable(session.error()));
            session.launch(portal, portalFrontend, {});
            QVERIFY2(session.waitForBusName(u"org.freedesktop.portal.Desktop"_s), qPrintable(session.error()));
        }
        if (compositor == Compositor::mutter) {
            // GNOME's path: the RemoteDesktop portal, granted once; and the accessibility bus
            // that tells Murmel a text field has the focus.
            session.launch(portal, QStringLiteral("/usr/bin/python3"),
                           {QStringLiteral("-m"), QStringLiteral("dbusmock"), QStringLiteral("--template"),
                            qEnvironmentVariable("MURMEL_REMOTE_DESKTOP_MOCK")});
            session.launch(accessibility, QStringLiteral("/usr/libexec/at-spi-bus-launcher"),
                           {QStringLiteral("--launch-immediately")});
            const auto enable = [&] {
                int code = -1;
                session.run(QStringLiteral("busctl"),
                            {u"--user"_s, u"set-property"_s, u"org.a11y.Bus"_s, u"/org/a11y/bus"_s,
                             u"org.a11y.Status"_s, u"IsEnabled"_s, u"b"_s, u"true"_s},
                            &code);
                return code == 0;
            };
            QTRY_VERIFY_WITH_TIMEOUT(enable(), 10000);
            QVERIFY2(session.waitForBusName(u"org.freedesktop.portal.Desktop"_s), qPrintable(session.error()));
            const QString token = grantRemoteDesktop(session);
            QVERIFY(!token.isEmpty());
            config(QStringLiteral("remoteDesktopToken"), u"\""_s + token + u"\""_s);
        }

        m_murmel = new QProcess;
        m_murmel->setProcessChannelMode(QProcess::MergedChannels);
        connect(m_murmel, &QProcess::readyRead, this, [this] { m_log += QString::fromUtf8(m_murmel->readAll()); });
        session.launch(*m_murmel, MurmelProcess::binary(), {}, extra);
        QTRY_VERIFY_WITH_TIMEOUT(m_log.contains(u"session: Wayland"_s), 20000);
        QVERIFY2(session.waitForBusName(u"app.murmel.Murmel"_s), qPrintable(session.error()));
        // The windows open after Murmel's own, so the last one is the one the user types in;
        // on a busy machine Murmel's window maps well after its bus name, and takes the focus.
        QTRY_VERIFY_WITH_TIMEOUT(!session.managedX11Window(u"Murmel"_s).isEmpty(), 30000);

        TextWindow x11(session, QStringLiteral("xcb"), QStringLiteral("X window"));
        QVERIFY(x11.waitUntilActive());
        TextWindow native(session, QStringLiteral("wayland"), QStringLiteral("Native window"));
        QVERIFY(native.waitUntilActive());

        QVERIFY(dictate(sound, speech));
        QVERIFY2(native.waitForText(phrase), qPrintable(native.text() + u" / "_s + m_log));
        QCOMPARE(results().last(), QStringLiteral("Inserted"));
        QCOMPARE(session.clipboard(Side::wayland), phrase);

        // mutter may not list a window that has just lost the focus at once.
        QTRY_VERIFY2_WITH_TIMEOUT(session.focus(QStringLiteral("X window")), qPrintable(session.error()), 10000);
        // While the user speaks the display sits at the bottom centre, and what they type still
        // goes to their window: no X11 window manager ever focuses an unmanaged window.
        const auto displayStaysAside = [&] {
            const auto shown = [&] {
                const QString window =
                    session.run(u"xdotool"_s, {u"search"_s, u"--onlyvisible"_s, u"--name"_s, u"^Murmel dictation$"_s})
                        .trimmed();
                return !window.isEmpty() && session.run(u"xdotool"_s, {u"getwindowgeometry"_s, window})
                                                .contains(u"Position: 510,644"_s);
            };
            if (!QTest::qWaitFor(shown, 10000)) {
                qWarning() << "the display is not at the bottom centre";
                return false;
            }
            return session.typeText(u"typed "_s) && x11.waitForText(u"typed "_s) &&
                   session.activeX11Window() == x11.window();
        };
        QVERIFY(dictate(sound, speech, displayStaysAside));
        QVERIFY2(x11.waitForText(u"typed "_s + phrase), qPrintable(x11.text()));
        QCOMPARE(results().last(), QStringLiteral("Inserted"));
        QTRY_COMPARE(session.clipboard(Side::x11), phrase);
        QCOMPARE(session.clipboard(Side::wayland), phrase);

        // GNOME and KDE hold back a window that asks for the focus while the user types
        // elsewhere; a second launch hands Murmel the launcher's startup id, and its window
        // comes forward. (sway marks it urgent instead, unless its configuration says otherwise.)
        if (compositor != Compositor::sway) {
            QVERIFY(session.typeText(u"!"_s));
            QVERIFY(x11.waitForText(u"typed "_s + phrase + u"!"_s));
            const QString murmelWindow = session.managedX11Window(u"Murmel"_s);
            QProcessEnvironment launcher = m_environment;
            launcher.insert(u"DESKTOP_STARTUP_ID"_s, session.announceLaunch());
            QCOMPARE(MurmelProcess::murmel({}, launcher).exitCode, 0);
            QTRY_COMPARE_WITH_TIMEOUT(session.activeX11Window(), murmelWindow, 10000);
            // Out of the way again, as the user would put it, for the native window below.
            session.run(u"xdotool"_s, {u"windowminimize"_s, u"--sync"_s, murmelWindow});
            QVERIFY2(session.focus(QStringLiteral("X window")), qPrintable(session.error()));
        }

        // Clipboard-safe insert types into the native window and leaves the clipboard alone.
        config(QStringLiteral("clipboardSafeInsert"), QStringLiteral("true"));
        QVERIFY(session.setClipboard(Side::wayland, QStringLiteral("what the user copied")));
        if (compositor == Compositor::mutter) {
            // mutter focuses a native window only when the one above it goes.
            x11.close();
            QVERIFY(native.waitUntilActive());
        } else {
            QVERIFY2(session.focus(QStringLiteral("Native window")), qPrintable(session.error()));
        }
        QVERIFY(dictate(sound, speech));
        QCOMPARE(results().last(), QStringLiteral("Ready for clipboard safe insert"));
        const MurmelProcess::Result inserted = murmel({QStringLiteral("insert-last")});
        QVERIFY2(inserted.exitCode == 0, qPrintable(inserted.err));
        QVERIFY2(native.waitForText(phrase + phrase), qPrintable(native.text()));
        QCOMPARE(session.clipboard(Side::wayland), QStringLiteral("what the user copied"));

        // Typing what the layout lacks: sway's virtual keyboard lends itself the characters,
        // KWin's fake input refuses before sending anything.
        const QString foreign = QStringLiteral(" Grüße, 日本 ✓");
        const QByteArray display = m_environment.value(u"XDG_RUNTIME_DIR"_s).toUtf8() + '/' +
                                   m_environment.value(u"WAYLAND_DISPLAY"_s).toUtf8();
        WaylandConnection connection(display);
        if (compositor == Compositor::sway) {
            VirtualKeyboardInjector keys(connection);
            QVERIFY(QCoro::waitFor(keys.type(foreign)));
            QVERIFY2(native.waitForText(phrase + phrase + foreign), qPrintable(native.text()));
        } else if (compositor == Compositor::kwin) {
            FakeInputInjector keys(connection);
            QVERIFY(keys.isTrusted());
            QVERIFY(!QCoro::waitFor(keys.type(foreign)));
            QTest::qWait(500);
            QCOMPARE(native.text(), phrase + phrase);
        }

        // On KDE the hotkey itself, pressed on the keyboard, starts and stops a dictation: the
        // desktop's portal tells Murmel, whichever window has the focus.
        if (compositor == Compositor::kwin) {
            if (!realKdePortal)
                QSKIP("KDE's portal (xdg-desktop-portal, xdg-desktop-portal-kde) is not installed");
            config(QStringLiteral("clipboardSafeInsert"), QStringLiteral("false"));
            QTRY_VERIFY2_WITH_TIMEOUT(m_log.contains(u"Portal hotkey: bound"_s), qPrintable(m_log), 20000);
            const QList<quint32> hotkey = {29, 56, 57}; // Ctrl, Alt, Space
            const qsizetype before = results().size();
            QVERIFY2(session.pressChord(hotkey), qPrintable(session.error()));
            QTRY_VERIFY_WITH_TIMEOUT(!session.run(u"xdotool"_s, {u"search"_s, u"--onlyvisible"_s, u"--name"_s,
                                                                 u"^Murmel dictation$"_s})
                                          .trimmed()
                                          .isEmpty(),
                                     10000);
            QVERIFY(sound.play(speech));
            QVERIFY2(session.pressChord(hotkey), qPrintable(session.error()));
            QTRY_VERIFY_WITH_TIMEOUT(results().size() > before, 60000);
            QCOMPARE(results().last(), QStringLiteral("Inserted"));
            QVERIFY2(native.waitForText(phrase + phrase + phrase), qPrintable(native.text()));
        }

        // With nothing focused the words stay on the clipboard and in the history, and
        // Murmel does not claim to have inserted them.
        if (compositor == Compositor::sway) {
            config(QStringLiteral("clipboardSafeInsert"), QStringLiteral("false"));
            session.run(QStringLiteral("swaymsg"), {QStringLiteral("workspace 9")});
            QVERIFY(dictate(sound, speech));
            QCOMPARE(results().last(), QStringLiteral("Copied"));
            QCOMPARE(session.clipboard(Side::wayland), phrase);
            QCOMPARE(native.text(), phrase + phrase + foreign);
            const MurmelProcess::Result history = murmel({QStringLiteral("history"), QStringLiteral("--json")});
            const QJsonArray records = QJsonDocument::fromJson(history.out.toUtf8()).array();
            QCOMPARE(records.size(), 4);
            QCOMPARE(records.first().toObject().value(u"text").toString(), phrase);
        }
    }
};

QTEST_GUILESS_MAIN(TestWaylandInsertion)
#include "tst_waylandinsertion.moc"
