// Dictation on Wayland desktops end to end: the real murmel in a headless sway, KWin or mutter
// with XWayland, the parrot model and a PulseAudio virtual microphone. A dictation must land
// in a native Wayland window and in an XWayland one, leave the clipboard holding it, type
// without touching the clipboard when clipboard-safe insert is on, and never be reported as
// inserted when nothing has the focus.
#include "fixturemodels.h"
#include "murmelprocess.h"
#include "soundsession.h"
#include "testenvironment.h"
#include "waylandsession.h"

#include "platform/portal/portalkeyboardinjector.h"
#include "platform/wayland/fakeinputinjector.h"
#include "platform/wayland/virtualkeyboardinjector.h"
#include "platform/wayland/waylandconnection.h"

#include <QCoroTask>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>

#include <functional>

using namespace Qt::StringLiterals;

namespace {

using Compositor = WaylandSession::Compositor;
using Side = WaylandSession::Side;

const QString phrase = u"Hello from the parrot model."_s;
const QStringList libexec{u"/usr/lib/x86_64-linux-gnu/libexec"_s, u"/usr/libexec"_s};

} // namespace

class TestWaylandInsertion : public QObject
{
    Q_OBJECT

private:
    SoundSession m_sound;
    QTemporaryDir m_folder;
    const QString m_speech = m_folder.filePath(u"speech.wav"_s);
    const QString m_model = m_folder.filePath(u"ggml-base.en.bin"_s);
    QProcessEnvironment m_soundVariables; // the sound server's, named outright
    QProcessEnvironment m_environment;    // a client's of the row's desktop
    QString m_log; // what the running Murmel said

    MurmelProcess::Result murmel(const QStringList &arguments) const
    {
        return MurmelProcess::murmel(arguments, m_environment);
    }

    void config(const QString &key, const QString &json) const
    {
        const MurmelProcess::Result set = murmel({u"config"_s, u"set"_s, key, json});
        QVERIFY2(set.exitCode == 0, qPrintable(set.err));
    }

    // What Murmel said about each dictation, in order.
    QStringList results() const
    {
        static const QString marker = u"murmel.dictation: result: "_s;
        QStringList said;
        for (const QString &line : m_log.split(u'\n')) {
            if (line.startsWith(marker))
                said << line.mid(marker.size()).trimmed();
        }
        return said;
    }

    // One dictation, started and stopped by `toggle` (by default `murmel dictation start` and
    // `stop`), with `whileRecording` run before the speech; what Murmel said about it, empty
    // when a step failed.
    QString dictate(const std::function<bool()> &whileRecording = {}, const std::function<bool()> &toggle = {})
    {
        const qsizetype before = results().size();
        const auto press = [&](const QString &command) {
            return toggle ? toggle() : murmel({u"dictation"_s, command}).exitCode == 0;
        };
        const bool said = press(u"start"_s) && (!whileRecording || whileRecording()) && m_sound.play(m_speech)
            && press(u"stop"_s) && QTest::qWaitFor([&] { return results().size() > before; }, 60000);
        return said ? results().last() : QString();
    }

    // The desktop's grant through the stand-in portal, as the user gives it in the
    // onboarding; asked again with its restore token, the desktop shows no second dialog.
    static QString grantRemoteDesktop(const WaylandSession &session)
    {
        QDBusConnection bus = QDBusConnection::connectToBus(
            session.environment().value(u"DBUS_SESSION_BUS_ADDRESS"_s), u"portal"_s);
        QString token;
        const PortalKeyboardInjector::Grant grant{[&] { return token; }, [&](const QString &kept) { token = kept; }};
        if (!QCoro::waitFor(PortalKeyboardInjector(bus, grant).openSession(true))
            || !QCoro::waitFor(PortalKeyboardInjector(bus, grant).openSession(false)))
            return {};
        const QDBusMessage dialogs = bus.call(QDBusMessage::createMethodCall(
            u"org.freedesktop.portal.Desktop"_s, u"/org/freedesktop/portal/desktop"_s, u"org.freedesktop.DBus.Mock"_s,
            u"Dialogs"_s));
        return dialogs.arguments().value(0).toUInt() == 1 ? token : QString();
    }

    // The dictation display's X window while it shows, else empty.
    static QString display(const WaylandSession &session)
    {
        return session.run(u"xdotool"_s, {u"search"_s, u"--onlyvisible"_s, u"--name"_s, u"^Murmel dictation$"_s})
            .trimmed();
    }

private Q_SLOTS:
    // One sound server, spoken words and model for every desktop; the catalog that admits the
    // model reaches each desktop's clients through this process's environment.
    void initTestCase()
    {
        QVERIFY2(m_sound.start(), qPrintable(m_sound.error()));
        m_soundVariables = m_sound.environment();
        m_soundVariables.remove(u"XDG_RUNTIME_DIR"_s);
        QCOMPARE(QProcess::execute(u"espeak-ng"_s, {u"-w"_s, m_speech, u"Please write this down."_s}), 0);
        QVERIFY(FixtureModels::make(m_model));
        QVERIFY(FixtureModels::useCatalog(m_folder.filePath(u"catalog.json"_s),
                                          {{u"base.en"_s, FixtureModels::sha256Of(m_model)}}));
    }

    void cleanup()
    {
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
        WaylandSession session(compositor);
        const QString data = session.environment().value(u"XDG_DATA_HOME"_s);
        if (compositor == Compositor::kwin) {
            // KWin lends its fake input to a program whose desktop entry asks for it, as the
            // installed one does; the entry is there before KWin first looks.
            QVERIFY(TestFiles::write(data + u"/applications/app.murmel.Murmel.desktop"_s,
                                     "[Desktop Entry]\nType=Application\nName=Murmel\nExec=" + MurmelProcess::binary().toUtf8()
                                         + " %F\nX-KDE-Wayland-Interfaces=org_kde_kwin_fake_input,org_kde_plasma_window_management\n"));
        }
        QVERIFY2(session.start(), qPrintable(session.error()));
        QVERIFY(TestFiles::write(data + u"/Murmel/Models/ggml-base.en.bin"_s, TestFiles::read(m_model)));
        m_environment = session.environment();
        m_environment.insert(m_soundVariables);
        config(u"language"_s, u"\"en\""_s);
        config(u"hasOnboarded"_s, u"true"_s);
        if (compositor == Compositor::kwin) {
            // KDE's path to the hotkey: the desktop's own portal over its global shortcuts
            // service, which KWin 6 carries itself and KWin 5 leaves to a daemon.
            QString daemon = QStandardPaths::findExecutable(u"kglobalaccel5"_s);
            if (daemon.isEmpty())
                daemon = QStandardPaths::findExecutable(u"kglobalacceld"_s, libexec + QStringList{u"/usr/bin"_s});
            const bool shortcuts = daemon.isEmpty() ? session.waitForBusName(u"org.kde.kglobalaccel"_s)
                                                    : session.startService(daemon, {}, u"org.kde.kglobalaccel"_s) != nullptr;
            QVERIFY2(shortcuts
                         && session.startService(QStandardPaths::findExecutable(u"xdg-desktop-portal-kde"_s, libexec), {},
                                                 u"org.freedesktop.impl.portal.desktop.kde"_s)
                         && session.startService(QStandardPaths::findExecutable(u"xdg-desktop-portal"_s, libexec), {},
                                                 u"org.freedesktop.portal.Desktop"_s),
                     qPrintable(session.error()));
        }
        if (compositor == Compositor::mutter) {
            // GNOME's path: the RemoteDesktop portal, granted once; and the accessibility bus
            // that tells Murmel a text field has the focus.
            QVERIFY2(session.startService(u"/usr/bin/python3"_s,
                                          {u"-m"_s, u"dbusmock"_s, u"--template"_s,
                                           qEnvironmentVariable("MURMEL_REMOTE_DESKTOP_MOCK")},
                                          u"org.freedesktop.portal.Desktop"_s)
                         && session.startService(u"/usr/libexec/at-spi-bus-launcher"_s, {u"--launch-immediately"_s},
                                                 u"org.a11y.Bus"_s),
                     qPrintable(session.error()));
            const QString token = grantRemoteDesktop(session);
            QVERIFY(!token.isEmpty());
            config(u"remoteDesktopToken"_s, u"\""_s + token + u"\""_s);
        }

        QProcess *murmelProcess = session.startService(MurmelProcess::binary(), {}, u"app.murmel.Murmel"_s, m_soundVariables);
        QVERIFY2(murmelProcess, qPrintable(session.error()));
        const auto readLog = [this, murmelProcess] { m_log += QString::fromUtf8(murmelProcess->readAll()); };
        connect(murmelProcess, &QProcess::readyRead, this, readLog);
        readLog();
        QTRY_VERIFY_WITH_TIMEOUT(m_log.contains(u"session: Wayland"_s), 20000);
        // The windows open after Murmel's own, so the last one is the one the user types in;
        // on a busy machine Murmel's window maps well after its bus name, and takes the focus.
        // Waited for with one look at a time: a window being framed is briefly unmapped, and a
        // QTRY macro that looks twice fails on the flicker.
        QVERIFY(QTest::qWaitFor([&] { return !session.managedX11Window(u"Murmel"_s).isEmpty(); }, 30000));

        TextWindow x11(session, u"xcb"_s, u"X window"_s);
        QVERIFY(x11.waitUntilActive());
        TextWindow native(session, u"wayland"_s, u"Native window"_s);
        QVERIFY(native.waitUntilActive());

        QCOMPARE(dictate(), u"Inserted"_s);
        QVERIFY2(native.waitForText(phrase), qPrintable(native.text()));
        QCOMPARE(session.clipboard(Side::wayland), phrase);

        // mutter may not list a window that has just lost the focus at once.
        QVERIFY2(QTest::qWaitFor([&] { return session.focus(u"X window"_s); }, 10000), qPrintable(session.error()));
        // While the user speaks the display sits at the bottom centre, and what they type still
        // goes to their window: no X11 window manager ever focuses an unmanaged window.
        const auto displayStaysAside = [&] {
            const auto atBottomCentre = [&] {
                const QString window = display(session);
                return !window.isEmpty()
                    && session.run(u"xdotool"_s, {u"getwindowgeometry"_s, window}).contains(u"Position: 510,644"_s);
            };
            if (!QTest::qWaitFor(atBottomCentre, 10000)) {
                qWarning() << "the display is not at the bottom centre";
                return false;
            }
            return session.xdotool({u"type"_s, u"typed "_s}) && x11.waitForText(u"typed "_s)
                && session.activeX11Window() == x11.window();
        };
        QCOMPARE(dictate(displayStaysAside), u"Inserted"_s);
        QVERIFY2(x11.waitForText(u"typed "_s + phrase), qPrintable(x11.text()));
        QTRY_COMPARE(session.clipboard(Side::x11), phrase);
        QCOMPARE(session.clipboard(Side::wayland), phrase);

        // GNOME and KDE hold back a window that asks for the focus while the user types
        // elsewhere; a second launch hands Murmel the launcher's startup id, and its window
        // comes forward. (sway marks it urgent instead, unless its configuration says otherwise.)
        if (compositor != Compositor::sway) {
            QVERIFY(session.xdotool({u"type"_s, u"!"_s}));
            QVERIFY(x11.waitForText(u"typed "_s + phrase + u"!"_s));
            const QString murmelWindow = session.managedX11Window(u"Murmel"_s);
            QProcessEnvironment launcher = m_environment;
            launcher.insert(u"DESKTOP_STARTUP_ID"_s, session.announceLaunch());
            QCOMPARE(MurmelProcess::murmel({}, launcher).exitCode, 0);
            QTRY_COMPARE_WITH_TIMEOUT(session.activeX11Window(), murmelWindow, 10000);
            session.run(u"xdotool"_s, {u"windowminimize"_s, u"--sync"_s, murmelWindow});
        }

        // Clipboard-safe insert types into the native window and leaves the clipboard alone.
        // The X window goes, and the native one under it gets the focus back, as on every
        // desktop (mutter activates no native window on request).
        config(u"clipboardSafeInsert"_s, u"true"_s);
        QVERIFY(session.setClipboard(u"what the user copied"_s));
        x11.stop();
        QVERIFY(native.waitUntilActive());
        QCOMPARE(dictate(), u"Ready for clipboard safe insert"_s);
        const MurmelProcess::Result inserted = murmel({u"insert-last"_s});
        QVERIFY2(inserted.exitCode == 0, qPrintable(inserted.err));
        QVERIFY2(native.waitForText(phrase + phrase), qPrintable(native.text()));
        QCOMPARE(session.clipboard(Side::wayland), u"what the user copied"_s);
        config(u"clipboardSafeInsert"_s, u"false"_s);

        // Typing what the layout lacks: sway's virtual keyboard lends itself the characters,
        // KWin's fake input refuses before sending anything.
        const QString foreign = u" Grüße, 日本 ✓"_s;
        WaylandConnection connection(
            (m_environment.value(u"XDG_RUNTIME_DIR"_s) + u'/' + m_environment.value(u"WAYLAND_DISPLAY"_s)).toUtf8());
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
            QTRY_VERIFY2_WITH_TIMEOUT(m_log.contains(u"Portal hotkey: bound"_s), qPrintable(m_log), 20000);
            const auto hotkey = [&] { return session.pressChord({29, 56, 57}); }; // Ctrl, Alt, Space
            const auto displayShows = [&] { return QTest::qWaitFor([&] { return !display(session).isEmpty(); }, 10000); };
            QCOMPARE(dictate(displayShows, hotkey), u"Inserted"_s);
            QVERIFY2(native.waitForText(phrase + phrase + phrase), qPrintable(native.text()));
        }

        // With nothing focused the words stay on the clipboard and in the history, and
        // Murmel does not claim to have inserted them.
        if (compositor == Compositor::sway) {
            session.run(u"swaymsg"_s, {u"workspace 9"_s});
            QCOMPARE(dictate(), u"Copied"_s);
            QCOMPARE(session.clipboard(Side::wayland), phrase);
            QCOMPARE(native.text(), phrase + phrase + foreign);
            const QJsonArray records
                = QJsonDocument::fromJson(murmel({u"history"_s, u"--json"_s}).out.toUtf8()).array();
            QCOMPARE(records.size(), 4);
            QCOMPARE(records.first().toObject().value(u"text").toString(), phrase);
        }
    }
};

QTEST_GUILESS_MAIN(TestWaylandInsertion)
#include "tst_waylandinsertion.moc"
