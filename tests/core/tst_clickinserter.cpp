// Click-to-insert's rules against fakes at the platform edge and the real display timing.
#include "core/base/preferencekeys.h"
#include "core/base/preferences.h"
#include "core/hud/hudcontroller.h"
#include "core/hud/sounds.h"
#include "core/insert/clickinserter.h"
#include "core/insert/clipboardsafeinsertservice.h"
#include "core/insert/textinserter.h"
#include "fakes/fakeannouncer.h"
#include "fakes/fakeclickobserver.h"
#include "fakes/fakeclipboard.h"
#include "fakes/fakefocusprobe.h"
#include "fakes/fakehudpanel.h"
#include "fakes/fakekeyboardinjector.h"
#include "fakes/fakesoundplayer.h"
#include "testenvironment.h"

#include <memory>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

using PasteKeys = KeyboardInjector::PasteKeys;
using State = HUDModel::State;

namespace {

const QString aimText = QStringLiteral("Click a text field to insert · Esc cancels");
const QString grantText = QStringLiteral("Grant Accessibility, then try again");

// Everything a ClickInserter talks to, wired as in the application but with fakes where the
// desktop would be.
struct Rig
{
    explicit Rig(const QString &preferencesFile)
        : preferences(preferencesFile)
    {
        // Click-to-insert pastes even when dictations are held for insert-last.
        preferences.setBoolean(PreferenceKeys::clipboardSafeInsert, true);
        inserter = std::make_unique<ClickInserter>(observer, injector, textInserter, hud, sounds);
    }

    HUDModel &model() { return hud.model(); }

    Preferences preferences;
    FakeClickObserver observer;
    FakeKeyboardInjector injector;
    FakeClipboard clipboard;
    FakeFocusProbe focus;
    ClipboardSafeInsertService safeInsert{injector};
    TextInserter textInserter{safeInsert, clipboard, injector, focus, preferences};
    FakeHUDPanel panel;
    FakeAnnouncer announcer;
    HUDController hud{panel, announcer};
    FakeSoundPlayer player;
    Sounds sounds{player};
    std::unique_ptr<ClickInserter> inserter;
};

} // namespace

class TestClickInserter final : public QObject
{
    Q_OBJECT

private:
    TestEnvironment m_environment; // before anything reads the preferences
    QTemporaryDir m_folder;
    std::unique_ptr<Rig> m_rig;

    Rig &rig() { return *m_rig; }
    ClickInserter &inserter() { return *m_rig->inserter; }

    // Short waits so the timing rules can be seen without waiting 25 s.
    void shortenDelays(int timeoutMs = 300, int insertDelayMs = 30)
    {
        inserter().setDelays(timeoutMs, insertDelayMs);
    }

    void setSounds(bool on) { QVERIFY(Preferences::shared().setBoolean(PreferenceKeys::soundsEnabled, on)); }

    void verifyIdleAndUnwatched()
    {
        QVERIFY(!inserter().isArmed());
        QVERIFY(!rig().observer.watching);
    }

private Q_SLOTS:
    void init()
    {
        QVERIFY(m_folder.isValid());
        QFile::remove(m_folder.filePath(QStringLiteral("preferences.json")));
        m_rig = std::make_unique<Rig>(m_folder.filePath(QStringLiteral("preferences.json")));
        setSounds(true);
    }

    void cleanup() { m_rig.reset(); }

    void productionTimings()
    {
        QCOMPARE(ClickInserter::timeoutMs, 25000);
        QCOMPARE(ClickInserter::insertDelayMs, 350);
        QCOMPARE(inserter().timeout(), 25000);
        QCOMPARE(inserter().insertDelay(), 350);
    }

    void armingAimsAndWatches()
    {
        QSignalSpy armedChanged(&inserter(), &ClickInserter::armedChanged);
        inserter().arm(QStringLiteral("The whole transcript."));

        QVERIFY(inserter().isArmed());
        QCOMPARE(armedChanged.size(), 1);
        QCOMPARE(inserter().text(), QStringLiteral("The whole transcript."));
        QCOMPARE(rig().observer.started, 1);
        QVERIFY(rig().observer.watching);
        QCOMPARE(rig().model().state(), State::aiming);
        QCOMPARE(rig().model().confirmText(), aimText);
        QVERIFY(rig().panel.visible);
        QCOMPARE(rig().announcer.announced, QStringList{aimText});
        // Aiming waits for the user: no hide is pending.
        QTest::qWait(HUDController::confirmHideMs + 200);
        QVERIFY(rig().panel.visible);
        QCOMPARE(rig().clipboard.writes, 0);
    }

    void armingWithoutObserverStillArms()
    {
        // Where other applications' clicks cannot be seen, Escape, our own windows and the
        // timeout still end the mode.
        rig().observer.available = false;
        shortenDelays();
        inserter().arm(QStringLiteral("text"));
        QVERIFY(inserter().isArmed());
        QTRY_VERIFY_WITH_TIMEOUT(!inserter().isArmed(), 2000);
        QVERIFY(!rig().observer.watching);
    }

    void armingWithoutTrust_data()
    {
        QTest::addColumn<bool>("armedBefore");
        QTest::newRow("idle before") << false;
        QTest::newRow("armed before") << true;
    }

    void armingWithoutTrust()
    {
        QFETCH(bool, armedBefore);
        shortenDelays();
        if (armedBefore) {
            inserter().arm(QStringLiteral("earlier text"));
            QVERIFY(inserter().isArmed());
        } else {
            // A text from an earlier, finished round.
            inserter().arm(QStringLiteral("earlier text"));
            inserter().cancel(false);
        }
        rig().injector.trusted = false;
        const int presentedBefore = rig().panel.presented;

        inserter().arm(QStringLiteral("new text"));

        verifyIdleAndUnwatched();
        QCOMPARE(inserter().text(), QStringLiteral("earlier text"));
        QCOMPARE(rig().model().state(), State::done);
        QCOMPARE(rig().model().confirmText(), grantText);
        QCOMPARE(rig().announcer.announced.last(), grantText);
        // The confirmation updates whatever is on screen; it does not bring the panel up.
        QCOMPARE(rig().panel.presented, presentedBefore);

        // Nothing is armed, so a click inserts nothing.
        Q_EMIT rig().observer.outsideClick();
        QTest::qWait(150);
        QCOMPARE(rig().clipboard.writes, 0);
        QVERIFY(rig().player.played.isEmpty());
    }

    void outsideClickInsertsAfterTheDelay_data()
    {
        QTest::addColumn<bool>("focused");
        QTest::addColumn<bool>("trustedAtPaste");
        QTest::addColumn<bool>("sounds");
        QTest::addColumn<bool>("clipboardRefuses");
        QTest::addColumn<QString>("confirmation");

        QTest::newRow("field focused") << true << true << true << false << QStringLiteral("Inserted");
        QTest::newRow("field focused, sounds off") << true << true << false << false << QStringLiteral("Inserted");
        QTest::newRow("nothing focused") << false << true << true << false << QStringLiteral("Copied");
        QTest::newRow("trust gone meanwhile") << true << false << true << false << QStringLiteral("Copied");
        QTest::newRow("nothing focused, sounds off") << false << true << false << false << QStringLiteral("Copied");
        QTest::newRow("clipboard refuses") << true << true << true << true << notDeliveredText();
    }

    void outsideClickInsertsAfterTheDelay()
    {
        QFETCH(bool, focused);
        QFETCH(bool, trustedAtPaste);
        QFETCH(bool, sounds);
        QFETCH(bool, clipboardRefuses);
        QFETCH(QString, confirmation);
        setSounds(sounds);
        rig().focus.target.window = focused ? FocusProbe::Window::x11 : FocusProbe::Window::none;
        rig().clipboard.refuses = clipboardRefuses;

        const QString text = QStringLiteral("  Grüße —\nthe whole transcript, untrimmed.  ");
        inserter().arm(text);
        QSignalSpy inserted(&inserter(), &ClickInserter::inserted);
        rig().injector.trusted = trustedAtPaste;

        Q_EMIT rig().observer.outsideClick();
        // The mode ends with the click, before the insertion.
        verifyIdleAndUnwatched();
        // The production delay: a timer cannot fire early by more than a few percent.
        QTest::qWait(250);
        QCOMPARE(rig().clipboard.writes, 0);
        QCOMPARE(rig().model().state(), State::aiming);

        QVERIFY(inserted.wait(2000));
        const bool pasted = confirmation == u"Inserted";
        QCOMPARE(inserted.size(), 1);
        QCOMPARE(inserted.first().first().toBool(), pasted);
        QCOMPARE(rig().clipboard.text(), clipboardRefuses ? QString() : text);
        QCOMPARE(rig().clipboard.writes, 1);
        // A refused clipboard does not cost the user the transcript.
        QCOMPARE(rig().safeInsert.pending().has_value(), clipboardRefuses);
        QCOMPARE(rig().injector.pastes, pasted ? QList<PasteKeys>{PasteKeys::ctrlV} : QList<PasteKeys>{});
        QCOMPARE(rig().player.played, sounds ? QStringList{QStringLiteral("Morse")} : QStringList{});
        QCOMPARE(rig().model().state(), State::done);
        QCOMPARE(rig().model().confirmText(), confirmation);
        QCOMPARE(rig().announcer.announced.last(), confirmation);
        // The confirmation goes away by itself.
        QTRY_VERIFY_WITH_TIMEOUT(!rig().panel.visible, HUDController::confirmHideMs + 1000);
    }

    void cancellingEvents_data()
    {
        QTest::addColumn<QString>("event");
        QTest::newRow("Escape") << QStringLiteral("escape");
        QTest::newRow("click in our window") << QStringLiteral("own");
        QTest::newRow("timeout") << QStringLiteral("timeout");
    }

    void cancellingEvents()
    {
        QFETCH(QString, event);
        shortenDelays(250, 30);
        inserter().arm(QStringLiteral("never inserted"));
        QVERIFY(rig().panel.visible);

        if (event == u"escape")
            Q_EMIT rig().observer.escapePressed();
        else if (event == u"own")
            Q_EMIT rig().observer.ownWindowClick();
        else
            QTRY_VERIFY_WITH_TIMEOUT(!inserter().isArmed(), 2000);

        verifyIdleAndUnwatched();
        // Hidden at once, at the next turn of the event loop.
        QTRY_VERIFY_WITH_TIMEOUT(!rig().panel.visible, 200);
        QCOMPARE(rig().model().state(), State::aiming);

        // A click arriving after the cancel finds the mode idle.
        Q_EMIT rig().observer.outsideClick();
        QTest::qWait(150);
        QCOMPARE(rig().clipboard.writes, 0);
        QVERIFY(rig().player.played.isEmpty());
    }

    void theTimeoutCountsFromTheLastArm()
    {
        shortenDelays(400, 30);
        inserter().arm(QStringLiteral("first"));
        QTest::qWait(250);
        inserter().arm(QStringLiteral("second"));
        QCOMPARE(inserter().text(), QStringLiteral("second"));
        // The first arm's timeout would have ended the mode by now.
        QTest::qWait(250);
        QVERIFY(inserter().isArmed());
        QVERIFY(rig().observer.watching);
        QTRY_VERIFY_WITH_TIMEOUT(!inserter().isArmed(), 1000);
        QTRY_VERIFY_WITH_TIMEOUT(!rig().panel.visible, 200);
    }

    void rearmingReplacesTheText()
    {
        shortenDelays();
        QSignalSpy armedChanged(&inserter(), &ClickInserter::armedChanged);
        inserter().arm(QStringLiteral("first"));
        inserter().arm(QStringLiteral("second"));
        // Staying armed is no change.
        QCOMPARE(armedChanged.size(), 1);
        QCOMPARE(rig().observer.started, 2);

        QSignalSpy inserted(&inserter(), &ClickInserter::inserted);
        Q_EMIT rig().observer.outsideClick();
        QVERIFY(inserted.wait(2000));
        QCOMPARE(rig().clipboard.text(), QStringLiteral("second"));
        QCOMPARE(rig().clipboard.writes, 1);
    }

    void twoQuickClicksInsertOnce()
    {
        shortenDelays();
        inserter().arm(QStringLiteral("once"));
        QSignalSpy inserted(&inserter(), &ClickInserter::inserted);
        Q_EMIT rig().observer.outsideClick();
        Q_EMIT rig().observer.outsideClick();
        QVERIFY(inserted.wait(2000));
        QTest::qWait(200);
        QCOMPARE(inserted.size(), 1);
        QCOMPARE(rig().clipboard.writes, 1);
        QCOMPARE(rig().injector.pastes.size(), 1);
        QCOMPARE(rig().player.played, QStringList{QStringLiteral("Morse")});
    }

    void afterTheClick_data()
    {
        QTest::addColumn<QString>("then");
        QTest::newRow("cancel hiding the display") << QStringLiteral("cancel");
        QTest::newRow("dictation starts") << QStringLiteral("cancel quietly");
        QTest::newRow("armed again") << QStringLiteral("arm");
    }

    void afterTheClick()
    {
        QFETCH(QString, then);
        shortenDelays(5000, 100);
        inserter().arm(QStringLiteral("clicked text"));
        QSignalSpy inserted(&inserter(), &ClickInserter::inserted);
        Q_EMIT rig().observer.outsideClick();

        // The insertion is under way and nothing that follows stops it.
        if (then == u"cancel")
            inserter().cancel(true);
        else if (then == u"cancel quietly")
            inserter().cancel(false);
        else
            inserter().arm(QStringLiteral("next text"));
        QVERIFY(inserted.wait(2000));
        QCOMPARE(rig().clipboard.text(), QStringLiteral("clicked text"));
        QCOMPARE(rig().model().state(), State::done);
        QCOMPARE(rig().model().confirmText(), QStringLiteral("Inserted"));
        QCOMPARE(inserter().isArmed(), then == u"arm");

        // A cancel now, with the mode idle, leaves the confirmation on screen.
        if (then != u"arm") {
            const int dismissed = rig().panel.dismissed;
            inserter().cancel(true);
            QTest::qWait(100);
            QVERIFY(rig().panel.visible);
            QCOMPARE(rig().panel.dismissed, dismissed);
        }
    }

    void cancelWhileIdleLeavesTheDisplayAlone()
    {
        // A dictation's display is up; click-to-insert was never armed.
        rig().hud.show();
        inserter().cancel(true);
        Q_EMIT rig().observer.escapePressed();
        Q_EMIT rig().observer.ownWindowClick();
        QTest::qWait(100);
        QVERIFY(rig().panel.visible);
        QCOMPARE(rig().panel.dismissed, 0);
        QCOMPARE(rig().model().state(), State::listening);
    }

    void dictationStartingLeavesTheDisplayAlone()
    {
        shortenDelays();
        inserter().arm(QStringLiteral("text"));
        inserter().cancel(false);
        verifyIdleAndUnwatched();
        rig().hud.show();
        // Not even the timeout comes back to hide the dictation's display.
        QTest::qWait(500);
        QVERIFY(rig().panel.visible);
        QCOMPARE(rig().panel.dismissed, 0);
    }

    void destroyedBeforeTheInsertion()
    {
        shortenDelays(5000, 100);
        inserter().arm(QStringLiteral("dropped"));
        Q_EMIT rig().observer.outsideClick();
        rig().inserter.reset();
        QTest::qWait(300);
        QCOMPARE(rig().clipboard.writes, 0);
        QVERIFY(rig().player.played.isEmpty());
    }

    void destroyedWhilePasting()
    {
        // The paste waits, as the real one does while keys are held; the inserter goes away
        // meanwhile and must not be touched when the paste resolves.
        shortenDelays(5000, 20);
        rig().injector.delay = std::chrono::milliseconds(200);
        inserter().arm(QStringLiteral("pasted after all"));
        Q_EMIT rig().observer.outsideClick();
        QTRY_COMPARE_WITH_TIMEOUT(rig().clipboard.writes, 1, 1000);
        rig().inserter.reset();
        QTRY_COMPARE_WITH_TIMEOUT(rig().injector.pastes.size(), 1, 1000);
        QTest::qWait(50);
        QVERIFY(rig().player.played.isEmpty());
        QCOMPARE(rig().model().state(), State::aiming);
    }

    void destroyedWhileArmedStopsWatching()
    {
        inserter().arm(QStringLiteral("text"));
        QVERIFY(rig().observer.watching);
        rig().inserter.reset();
        QVERIFY(!rig().observer.watching);
    }
};

QTEST_GUILESS_MAIN(TestClickInserter)

#include "tst_clickinserter.moc"
