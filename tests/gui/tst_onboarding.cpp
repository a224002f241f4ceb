// The first-run flow's model and the eye's game, over real preferences and a real model
// store in a private folder.
#include "core/base/preferencekeys.h"
#include "core/base/preferences.h"
#include "core/speech/modelstore.h"
#include "gui/viewmodels/eyeegg.h"
#include "gui/viewmodels/onboarding.h"
#include "gui/viewmodels/permissions.h"
#include "gui/viewmodels/settingsmodel.h"
#include "testenvironment.h"

#include <QDir>
#include <QFile>
#include <QSignalSpy>
#include <QTest>

using namespace Qt::StringLiterals;

class TestOnboarding final : public QObject
{
    Q_OBJECT

private:
    struct Rig
    {
        explicit Rig(const QString &root, bool onboarded)
            : preferences(root + u"/config/preferences.json"_s)
            , onboardedWritten(preferences.setBoolean(PreferenceKeys::hasOnboarded, onboarded))
            , models(root + u"/models"_s)
        {
        }

        Preferences preferences;
        // Written before the flow below reads it.
        bool onboardedWritten;
        ModelStore models;
        bool microphone = false;
        bool hotkey = false;
        int hotkeyRequests = 0;
        int announcements = 0;
        Permissions permissions{{[this] { return microphone; }, [] { return true; }, [this] { return hotkey; }}};
        SettingsModel settings{{preferences}};
        Onboarding onboarding{{preferences, permissions, settings, models, [this] { ++hotkeyRequests; },
                               [this] { ++announcements; }}};

        void placeModel(const WhisperModel &model)
        {
            QDir().mkpath(QFileInfo(models.path(model)).absolutePath());
            QFile file(models.path(model));
            QVERIFY(file.open(QIODevice::WriteOnly));
            file.write("model");
        }
    };

    TestEnvironment m_environment;
    int m_run = 0;

    std::unique_ptr<Rig> rig(bool onboarded = false)
    {
        return std::make_unique<Rig>(m_environment.dataHome() + u"/run"_s + QString::number(++m_run), onboarded);
    }

private Q_SLOTS:
    void showsOnlyUntilDone()
    {
        QVERIFY(rig(false)->onboarding.isShowing());
        QVERIFY(!rig(true)->onboarding.isShowing());
    }

    void stepsGoBackAndForthWithinTheFlow()
    {
        auto r = rig();
        QSignalSpy changed(&r->onboarding, &Onboarding::stepChanged);
        r->onboarding.back();
        QCOMPARE(r->onboarding.step(), 0);
        r->onboarding.next();
        r->onboarding.next();
        r->onboarding.next();
        QCOMPARE(r->onboarding.step(), Onboarding::lastStep);
        r->onboarding.back();
        QCOMPARE(r->onboarding.step(), 1);
        QCOMPARE(changed.count(), 3);
    }

    // A grant made on the desktop shows within one poll, and the hotkey is armed then.
    void thePollPicksUpGrantsAndArmsTheHotkey()
    {
        auto r = rig();
        QVERIFY(!r->permissions.microphoneAvailable());
        QSignalSpy microphone(&r->permissions, &Permissions::microphoneAvailableChanged);
        r->microphone = true;
        QVERIFY(microphone.wait(Onboarding::pollMilliseconds + 1000));
        QVERIFY(r->permissions.microphoneAvailable());
        QVERIFY(r->hotkeyRequests >= 1);

        const int requests = r->hotkeyRequests;
        r->hotkey = true;
        QSignalSpy hotkey(&r->permissions, &Permissions::hotkeyActiveChanged);
        QVERIFY(hotkey.wait(Onboarding::pollMilliseconds + 1000));
        // Once the hotkey is watched the poll stops asking for it.
        QTest::qWait(Onboarding::pollMilliseconds + 200);
        QCOMPARE(r->hotkeyRequests, requests);
    }

    void theLastButtonSaysWhetherTheChosenModelIsThere()
    {
        auto r = rig();
        r->settings.setWhisperModel(u"base.en"_s);
        QCOMPARE(r->onboarding.finishTitle(), u"Skip for now"_s);
        r->placeModel(*WhisperModel::fromRawValue(u"small"));
        QSignalSpy title(&r->onboarding, &Onboarding::finishTitleChanged);
        r->settings.setWhisperModel(u"small"_s);
        QCOMPARE(title.count(), 1);
        QCOMPARE(r->onboarding.finishTitle(), u"Finish"_s);
        r->settings.setWhisperModel(u"large-v3"_s);
        QCOMPARE(r->onboarding.finishTitle(), u"Skip for now"_s);
    }

    void finishingAndSkippingBothEndIt_data()
    {
        QTest::addColumn<bool>("modelPresent");
        QTest::addColumn<bool>("fromOutside");
        QTest::newRow("finish") << true << false;
        QTest::newRow("skip for now") << false << false;
        QTest::newRow("a file opened meanwhile") << false << true;
    }

    void finishingAndSkippingBothEndIt()
    {
        QFETCH(bool, modelPresent);
        QFETCH(bool, fromOutside);
        auto r = rig();
        if (modelPresent)
            r->placeModel(*WhisperModel::fromRawValue(r->settings.whisperModel()));
        QSignalSpy done(&r->onboarding, &Onboarding::done);
        if (fromOutside)
            r->onboarding.dismiss();
        else
            r->onboarding.finish();
        QVERIFY(!r->onboarding.isShowing());
        QCOMPARE(done.count(), 1);
        QVERIFY(r->preferences.booleanOrDefault(PreferenceKeys::hasOnboarded));
        // Only the button says it is ready; a file opened from outside goes straight on.
        QCOMPARE(r->announcements, fromOutside ? 0 : 1);
        // Done once: neither way ends it a second time.
        r->onboarding.finish();
        r->onboarding.dismiss();
        QCOMPARE(done.count(), 1);
        QCOMPARE(r->announcements, fromOutside ? 0 : 1);
        // No more polling once it is over.
        const int requests = r->hotkeyRequests;
        QTest::qWait(Onboarding::pollMilliseconds + 200);
        QCOMPARE(r->hotkeyRequests, requests);
    }

    void theSeventhTapOnTheEyeSaysStop()
    {
        QStringList spoken;
        int sounds = 0;
        EyeEgg egg({[&spoken](const QString &phrase) { spoken << phrase; }, [&sounds] { ++sounds; }});
        for (int i = 0; i < EyeEgg::tapsToAnnoy - 1; ++i)
            egg.tap();
        QCOMPARE(spoken, QStringList(6, u"Talk to me."_s));
        QVERIFY(egg.message().isEmpty());
        egg.tap();
        QCOMPARE(egg.message(), u"Stop poking me."_s);
        QCOMPARE(spoken.last(), u"Stop poking me."_s);
        QCOMPARE(sounds, 7);
        QCOMPARE(egg.taps(), 0);
        QSignalSpy cleared(&egg, &EyeEgg::messageChanged);
        QVERIFY(cleared.wait(EyeEgg::messageMilliseconds + 2000));
        QVERIFY(egg.message().isEmpty());
        // The count starts over: the next tap is the first again.
        egg.tap();
        QCOMPARE(spoken.last(), u"Talk to me."_s);
        QVERIFY(egg.message().isEmpty());
    }
};

QTEST_GUILESS_MAIN(TestOnboarding)
#include "tst_onboarding.moc"
