// The first-run flow's model and the permission flags it polls, over real
// preferences and a real model store.
#include "core/base/preferencekeys.h"
#include "core/base/preferences.h"
#include "core/speech/modelstore.h"
#include "gui/viewmodels/onboarding.h"
#include "gui/viewmodels/permissions.h"
#include "gui/viewmodels/settingsmodel.h"
#include "testenvironment.h"

#include <QSignalSpy>
#include <QTest>

using namespace Qt::StringLiterals;

class TestOnboarding final : public QObject
{
    Q_OBJECT

    struct Rig
    {
        explicit Rig(const QString &root, bool onboarded)
            : preferences(root + u"/config/preferences.json"_s)
            , onboardedWritten(preferences.setBoolean(PreferenceKeys::hasOnboarded, onboarded))
            , models(root + u"/models"_s)
        {
        }

        Preferences preferences;
        bool onboardedWritten; // before the flow below reads it
        ModelStore models;
        bool microphone = false;
        bool hotkey = false;
        int hotkeyRequests = 0;
        int announcements = 0;
        Permissions permissions{{[this] { return microphone; }, [] { return true; }, [this] { return hotkey; }}};
        SettingsModel settings{{preferences}};
        Onboarding onboarding{{preferences, permissions, settings, models, [this] { ++hotkeyRequests; },
                               [this] { ++announcements; }}};
    };

    TestEnvironment m_environment;
    int m_run = 0;

    std::unique_ptr<Rig> rig(bool onboarded = false)
    {
        return std::make_unique<Rig>(m_environment.dataHome() + u"/run"_s + QString::number(++m_run), onboarded);
    }

private Q_SLOTS:
    // A grant made on the desktop shows within one poll while the view is on screen, and the
    // hotkey is armed then; a closed window polls nothing.
    void thePollPicksUpGrantsAndArmsTheHotkey()
    {
        auto r = rig();
        QSignalSpy microphone(&r->permissions, &Permissions::microphoneAvailableChanged);
        r->microphone = true;
        r->onboarding.setOnScreen(false);
        QVERIFY(!microphone.wait(Onboarding::pollMilliseconds + 200));
        r->onboarding.setOnScreen(true);
        QVERIFY(microphone.wait(Onboarding::pollMilliseconds + 1000));
        QVERIFY(r->hotkeyRequests >= 1);
        r->hotkey = true;
        QSignalSpy hotkey(&r->permissions, &Permissions::hotkeyActiveChanged);
        QVERIFY(hotkey.wait(Onboarding::pollMilliseconds + 1000));
        // Once the hotkey is watched the poll stops asking for it.
        const int requests = r->hotkeyRequests;
        QTest::qWait(Onboarding::pollMilliseconds + 200);
        QCOMPARE(r->hotkeyRequests, requests);
    }

    void finishingAndSkippingBothEndIt_data()
    {
        QTest::addColumn<bool>("modelPresent");
        QTest::addColumn<bool>("fromOutside");
        QTest::newRow("finish") << true << false;
        QTest::newRow("a file opened meanwhile") << false << true;
    }

    void finishingAndSkippingBothEndIt()
    {
        QFETCH(bool, modelPresent);
        QFETCH(bool, fromOutside);
        auto r = rig();
        // The last button follows the chosen model, and signals only a change.
        QSignalSpy title(&r->onboarding, &Onboarding::finishTitleChanged);
        if (modelPresent)
            QVERIFY(TestFiles::write(r->models.path(WhisperModel::largeV3), {}));
        r->settings.setWhisperModel(u"large-v3"_s);
        QCOMPARE(r->onboarding.finishTitle(), modelPresent ? u"Finish"_s : u"Skip for now"_s);
        QCOMPARE(title.count(), modelPresent ? 1 : 0);
        QSignalSpy done(&r->onboarding, &Onboarding::done);
        if (fromOutside)
            r->onboarding.dismiss();
        else
            r->onboarding.finish();
        QVERIFY(!r->onboarding.isShowing());
        QVERIFY(r->preferences.booleanOrDefault(PreferenceKeys::hasOnboarded));
        // Done once; only the button says it is ready, a file opened from outside goes on.
        r->onboarding.finish();
        r->onboarding.dismiss();
        QCOMPARE(done.count(), 1);
        QCOMPARE(r->announcements, fromOutside ? 0 : 1);
        const int requests = r->hotkeyRequests;
        QTest::qWait(Onboarding::pollMilliseconds + 200);
        QCOMPARE(r->hotkeyRequests, requests);
    }
};

QTEST_GUILESS_MAIN(TestOnboarding)
#include "tst_onboarding.moc"
