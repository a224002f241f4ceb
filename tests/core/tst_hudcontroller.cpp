// The dictation display's timing and announcements, against a fake panel and announcer.
#include "core/hud/hudcontroller.h"
#include "fakes/fakeannouncer.h"
#include "fakes/fakehudpanel.h"

#include <QSignalSpy>
#include <QTest>

using namespace Qt::StringLiterals;

namespace {

// Qt may fire a coarse timer up to 5 % early; waits that must end before the confirmation's
// hide stay well below that.
constexpr int beforeConfirmHideMs = 800;
// Long enough for a hide that should not happen to have happened.
constexpr int afterConfirmHideMs = HUDController::confirmHideMs + 600;

// A controller on a fresh fake panel and announcer.
struct Fixture
{
    FakeHUDPanel panel;
    FakeAnnouncer announcer;
    HUDController hud{panel, announcer};
};

} // namespace

class TestHUDController final : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void showPresentsListeningAtLevelZero()
    {
        Fixture f;
        auto &hud = f.hud;
        hud.model().setLevel(0.8f);
        hud.model().setState(HUDModel::State::done);
        hud.show();
        QCOMPARE(hud.model().state(), HUDModel::State::listening);
        QCOMPARE(hud.model().stateName(), u"listening"_s);
        QCOMPARE(hud.model().level(), 0.0f);
        QCOMPARE(f.panel.presented, 1);
        QCOMPARE(f.panel.lastModel, &hud.model());
        QVERIFY(hud.isVisible());
    }

    void confirmHidesAfterItsDelay()
    {
        Fixture f;
        auto &hud = f.hud;
        hud.show();
        hud.confirm(u"Inserted"_s);
        QCOMPARE(hud.model().state(), HUDModel::State::done);
        QCOMPARE(hud.model().confirmText(), u"Inserted"_s);
        QTest::qWait(beforeConfirmHideMs);
        QVERIFY(f.panel.visible);
        QCOMPARE(f.panel.dismissed, 0);
        QTRY_VERIFY_WITH_TIMEOUT(!f.panel.visible, 2000);
        QCOMPARE(f.panel.dismissed, 1);
        // Hiding leaves the state alone.
        QCOMPARE(hud.model().state(), HUDModel::State::done);
    }

    void aNewDictationCancelsThePendingHide()
    {
        Fixture f;
        auto &hud = f.hud;
        hud.show();
        hud.confirm(u"Copied"_s);
        QTest::qWait(400);
        hud.show();
        QTest::qWait(afterConfirmHideMs);
        QVERIFY(f.panel.visible);
        QCOMPARE(f.panel.dismissed, 0);
        QCOMPARE(hud.model().state(), HUDModel::State::listening);
    }

    void onlyTheLastHideCounts_data()
    {
        QTest::addColumn<int>("first");
        QTest::addColumn<int>("second");
        QTest::addColumn<int>("stillVisibleAt");
        QTest::newRow("short then long") << 200 << 1200 << 700;
        QTest::newRow("long then short") << 5000 << 100 << -1;
        QTest::newRow("confirm then long") << HUDController::confirmHideMs << 2000 << 1500;
    }

    void onlyTheLastHideCounts()
    {
        QFETCH(int, first);
        QFETCH(int, second);
        QFETCH(int, stillVisibleAt);
        Fixture f;
        auto &hud = f.hud;
        hud.show();
        if (first == HUDController::confirmHideMs)
            hud.confirm(u"Inserted"_s);
        else
            hud.hide(first);
        hud.hide(second);
        if (stillVisibleAt >= 0) {
            QTest::qWait(stillVisibleAt);
            QVERIFY2(f.panel.visible, "an earlier, replaced hide took effect");
        }
        QTRY_VERIFY_WITH_TIMEOUT(!f.panel.visible, second + 1000);
        // The replaced request does not fire on top.
        QTest::qWait(200);
        QCOMPARE(f.panel.dismissed, 1);
    }

    void hideAtOnceDuringAConfirmation()
    {
        Fixture f;
        auto &hud = f.hud;
        hud.show();
        hud.confirm(u"Inserted"_s);
        hud.hide(0);
        // At the next turn of the event loop, not inside the caller's sequence.
        QVERIFY(f.panel.visible);
        QCoreApplication::processEvents();
        QTRY_VERIFY_WITH_TIMEOUT(!f.panel.visible, 200);
        QCOMPARE(f.panel.dismissed, 1);
        // The confirmation's own hide was cancelled: a new show survives its moment.
        hud.show();
        QTest::qWait(afterConfirmHideMs);
        QVERIFY(f.panel.visible);
        QCOMPARE(f.panel.dismissed, 1);
    }

    void negativeDelayHidesAtOnce()
    {
        Fixture f;
        auto &hud = f.hud;
        hud.show();
        hud.hide(-500);
        QTRY_VERIFY_WITH_TIMEOUT(!f.panel.visible, 200);
    }

    void levelIsKeptOnlyWhileVisible()
    {
        Fixture f;
        auto &hud = f.hud;
        QSignalSpy levelChanges(&hud.model(), &HUDModel::levelChanged);
        hud.setLevel(0.7f);
        QCOMPARE(hud.model().level(), 0.0f);
        QCOMPARE(levelChanges.size(), 0);

        hud.show();
        hud.setLevel(0.5f);
        QCOMPARE(hud.model().level(), 0.5f);
        hud.setLevel(0.5f);
        QCOMPARE(levelChanges.size(), 1);

        hud.hide(0);
        QTRY_VERIFY_WITH_TIMEOUT(!f.panel.visible, 200);
        hud.setLevel(0.9f);
        QCOMPARE(hud.model().level(), 0.5f);

        hud.show();
        QCOMPARE(hud.model().level(), 0.0f);
    }

    void announcesEveryChange()
    {
        Fixture f;
        auto &hud = f.hud;
        hud.show();
        hud.showWorking();
        hud.confirm(u"Ready for clipboard safe insert"_s);
        hud.aim(u"Click where the text should go"_s);
        hud.hide(0);
        hud.setLevel(0.3f);
        QCOMPARE(f.announcer.announced,
                 (QStringList{u"Listening"_s, u"Transcribing"_s, u"Ready for clipboard safe insert"_s,
                              u"Click where the text should go"_s}));
    }

    void workingUpdatesWhatIsOnScreen()
    {
        Fixture f;
        auto &hud = f.hud;
        hud.showWorking();
        QCOMPARE(hud.model().state(), HUDModel::State::working);
        QCOMPARE(f.panel.presented, 0);
        QVERIFY(!f.panel.visible);
    }

    void aimStaysUntilHidden()
    {
        Fixture f;
        auto &hud = f.hud;
        hud.show();
        hud.confirm(u"Inserted"_s);
        hud.aim(u"Click to insert"_s);
        QCOMPARE(hud.model().state(), HUDModel::State::aiming);
        QCOMPARE(hud.model().confirmText(), u"Click to insert"_s);
        QCOMPARE(f.panel.presented, 2);
        QTest::qWait(afterConfirmHideMs);
        QVERIFY2(f.panel.visible, "aim must cancel the confirmation's hide");
        QCOMPARE(f.panel.dismissed, 0);
        hud.hide(0);
        QTRY_VERIFY_WITH_TIMEOUT(!f.panel.visible, 200);
    }

    void aimBringsUpAHiddenPanel()
    {
        Fixture f;
        auto &hud = f.hud;
        hud.aim(u"Click to insert"_s);
        QCOMPARE(f.panel.presented, 1);
        QCOMPARE(f.panel.lastModel, &hud.model());
        QVERIFY(hud.isVisible());
    }

    void confirmDoesNotPresentThePanel()
    {
        Fixture f;
        auto &hud = f.hud;
        hud.confirm(u"Copied"_s);
        QCOMPARE(f.panel.presented, 0);
        QVERIFY(!hud.isVisible());
        QCOMPARE(hud.model().state(), HUDModel::State::done);
        QCOMPARE(hud.model().confirmText(), u"Copied"_s);
        QCOMPARE(f.announcer.announced, QStringList{u"Copied"_s});
    }

    void aDestroyedControllerLeavesNoPendingHide()
    {
        FakeHUDPanel panel;
        FakeAnnouncer announcer;
        {
            HUDController hud(panel, announcer);
            hud.show();
            hud.confirm(u"Inserted"_s);
        }
        QTest::qWait(afterConfirmHideMs);
        QCOMPARE(panel.dismissed, 0);
    }

    void stopButtonRequestsAStop()
    {
        Fixture f;
        auto &hud = f.hud;
        QSignalSpy stops(&hud, &HUDController::stopRequested);
        QVERIFY(QMetaObject::invokeMethod(&hud, "requestStop"));
        QCOMPARE(stops.size(), 1);
    }

    void modelSignalsOnlyRealChanges()
    {
        HUDModel model;
        QSignalSpy states(&model, &HUDModel::stateChanged);
        QSignalSpy texts(&model, &HUDModel::confirmTextChanged);
        QCOMPARE(model.confirmText(), u"Inserted"_s);
        model.setState(HUDModel::State::listening);
        model.setConfirmText(u"Inserted"_s);
        QCOMPARE(states.size(), 0);
        QCOMPARE(texts.size(), 0);

        const QList<QPair<HUDModel::State, QString>> names{{HUDModel::State::working, u"working"_s},
                                                           {HUDModel::State::done, u"done"_s},
                                                           {HUDModel::State::aiming, u"aiming"_s},
                                                           {HUDModel::State::listening, u"listening"_s}};
        for (const auto &[state, name] : names) {
            model.setState(state);
            QCOMPARE(model.stateName(), name);
            QCOMPARE(model.property("stateName").toString(), name);
        }
        QCOMPARE(states.size(), names.size());
    }
};

QTEST_GUILESS_MAIN(TestHUDController)
#include "tst_hudcontroller.moc"
