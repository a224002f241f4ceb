#include "core/base/preferencekeys.h"
#include "core/base/preferences.h"
#include "core/dictation/hotkeymonitor.h"
#include "fakes/fakehotkeybackend.h"

#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

#include <memory>

using namespace Qt::StringLiterals;

Q_DECLARE_METATYPE(Shortcut)

namespace {

const int ctrl = Shortcut::control;
const int alt = Shortcut::alt;
const int shift = Shortcut::shift;
const int super = Shortcut::super;
constexpr int space = 57;

const Shortcut f1{59, 0, u"F1"_s};
const Shortcut superEsc{1, Shortcut::super, u"Super+Esc"_s};

} // namespace

char *toString(const Shortcut &shortcut)
{
    return QTest::toString(QStringLiteral("{%1, %2, \"%3\"}")
                               .arg(shortcut.keyCode)
                               .arg(shortcut.modifiers, 0, 16)
                               .arg(shortcut.display));
}

char *toString(const std::optional<Shortcut> &shortcut)
{
    return shortcut ? toString(*shortcut) : qstrdup("none");
}

class TestHotkeyMonitor final : public QObject
{
    Q_OBJECT

private:
    std::unique_ptr<QTemporaryDir> m_dir;
    std::unique_ptr<Preferences> m_preferences;
    std::unique_ptr<FakeHotkeyBackend> m_backend;
    std::unique_ptr<HotkeyMonitor> m_monitor;
    int m_downs = 0;
    int m_ups = 0;

    // A started monitor over the fake backend, counting its callbacks.
    HotkeyMonitor &started()
    {
        m_monitor = std::make_unique<HotkeyMonitor>(*m_preferences, QList<HotkeyBackend *>{m_backend.get()});
        m_monitor->onKeyDown = [this] { ++m_downs; };
        m_monitor->onKeyUp = [this] { ++m_ups; };
        m_monitor->start();
        return *m_monitor;
    }

private Q_SLOTS:
    void init()
    {
        m_dir = std::make_unique<QTemporaryDir>();
        m_preferences = std::make_unique<Preferences>(m_dir->filePath(u"preferences.json"_s));
        m_backend = std::make_unique<FakeHotkeyBackend>();
        m_downs = 0;
        m_ups = 0;
    }

    void cleanup()
    {
        m_monitor.reset();
        m_backend.reset();
    }

    void defaultIsCtrlAltSpace()
    {
        const Shortcut expected{space, ctrl | alt, u"Ctrl+Alt+Space"_s};
        QCOMPARE(HotkeyMonitor::defaultShortcut(), expected);
        QCOMPARE(Shortcut::modifierMask, 0x1E0000);
    }

    void exactModifiers_data()
    {
        QTest::addColumn<int>("keyCode");
        QTest::addColumn<int>("modifiers");
        QTest::addColumn<int>("downs");
        QTest::newRow("the combination") << space << (ctrl | alt) << 1;
        QTest::newRow("with shift too") << space << (ctrl | alt | shift) << 0;
        QTest::newRow("with super too") << space << (ctrl | alt | super) << 0;
        QTest::newRow("without ctrl") << space << alt << 0;
        QTest::newRow("no modifiers") << space << 0 << 0;
        QTest::newRow("another key") << 30 << (ctrl | alt) << 0;
        // Lock and keypad flags are not part of the combination.
        QTest::newRow("other flag bits") << space << (ctrl | alt | 0x10000 | 0x200000) << 1;
    }

    void exactModifiers()
    {
        QFETCH(int, keyCode);
        QFETCH(int, modifiers);
        QFETCH(int, downs);
        started();
        m_backend->press(keyCode, modifiers);
        m_backend->release(keyCode, modifiers);
        QCOMPARE(m_downs, downs);
        QCOMPARE(m_ups, downs);
    }

    void holdingCallsKeyDownOnce()
    {
        started();
        m_backend->press(space, ctrl | alt);
        for (int i = 0; i < 5; ++i)
            m_backend->press(space, ctrl | alt, true);
        QCOMPARE(m_downs, 1);
        QCOMPARE(m_ups, 0);
        m_backend->release(space, ctrl | alt);
        QCOMPARE(m_downs, 1);
        QCOMPARE(m_ups, 1);
    }

    // Letting go of a modifier before the key is no release of the combination: in
    // hold-to-talk mode the recording goes on until a matching release.
    void releaseNeedsTheSameModifiers()
    {
        started();
        m_backend->press(space, ctrl | alt);
        m_backend->release(space, ctrl);
        QCOMPARE(m_ups, 0);
        m_backend->press(space, ctrl | alt);
        m_backend->release(space, ctrl | alt);
        QCOMPARE(m_downs, 2);
        QCOMPARE(m_ups, 1);
    }

    void unsetCallbacksDoNothing()
    {
        m_monitor = std::make_unique<HotkeyMonitor>(*m_preferences, QList<HotkeyBackend *>{m_backend.get()});
        m_monitor->start();
        QVERIFY(m_monitor->isActive());
        m_backend->press(space, ctrl | alt);
        m_backend->release(space, ctrl | alt);
        // Still watched (swallowed by the backend), and callbacks set later work.
        QCOMPARE(m_backend->watched(), HotkeyMonitor::defaultShortcut());
        m_monitor->onKeyDown = [this] { ++m_downs; };
        m_backend->press(space, ctrl | alt);
        m_backend->release(space, ctrl | alt);
        QCOMPARE(m_downs, 1);
        QCOMPARE(m_ups, 0);
    }

    void callbackMayReplaceItself()
    {
        HotkeyMonitor &monitor = started();
        monitor.onKeyDown = [this, &monitor] {
            ++m_downs;
            monitor.onKeyDown = nullptr;
            monitor.setShortcut(f1);
        };
        m_backend->press(space, ctrl | alt);
        QCOMPARE(m_downs, 1);
        QCOMPARE(m_backend->watched(), f1);
        m_backend->press(59, 0);
        QCOMPARE(m_downs, 1);
    }

    void startUsesTheStoredHotkey()
    {
        QVERIFY(HotkeyMonitor::save(*m_preferences, f1));
        HotkeyMonitor &monitor = started();
        QCOMPARE(monitor.shortcut(), f1);
        QCOMPARE(m_backend->watched(), f1);
        m_backend->press(59, 0);
        m_backend->press(space, ctrl | alt);
        QCOMPARE(m_downs, 1);
    }

    void startUsesTheDefaultWithNothingStored()
    {
        HotkeyMonitor &monitor = started();
        QCOMPARE(monitor.shortcut(), HotkeyMonitor::defaultShortcut());
        QCOMPARE(m_backend->watched(), HotkeyMonitor::defaultShortcut());
        QVERIFY(monitor.isActive());
        QVERIFY(monitor.conflict().isEmpty());
        // Starting writes nothing: the default stays a default.
        QVERIFY(!m_preferences->stored().contains(PreferenceKeys::dictateHotkey));
    }

    void shortcutSetBeforeStartIsKept()
    {
        HotkeyMonitor monitor(*m_preferences, {m_backend.get()});
        QSignalSpy changed(&monitor, &HotkeyMonitor::shortcutChanged);
        monitor.setShortcut(superEsc);
        QCOMPARE(changed.count(), 1);
        // Nothing is grabbed before start.
        QVERIFY(m_backend->watchRequests.isEmpty());
        monitor.start();
        QCOMPARE(m_backend->watched(), superEsc);
        QCOMPARE(changed.count(), 1);
    }

    void newShortcutTakesEffectAtOnce()
    {
        HotkeyMonitor &monitor = started();
        QSignalSpy changed(&monitor, &HotkeyMonitor::shortcutChanged);
        monitor.setShortcut(superEsc);
        QCOMPARE(changed.count(), 1);
        QCOMPARE(m_backend->watched(), superEsc);
        m_backend->press(space, ctrl | alt);
        QCOMPARE(m_downs, 0);
        m_backend->press(1, super);
        QCOMPARE(m_downs, 1);
        // The same shortcut again changes nothing and asks the desktop for nothing.
        const qsizetype requests = m_backend->watchRequests.size();
        monitor.setShortcut(superEsc);
        QCOMPARE(changed.count(), 1);
        QCOMPARE(m_backend->watchRequests.size(), requests);
    }

    void clearingStopsIt()
    {
        HotkeyMonitor &monitor = started();
        QSignalSpy active(&monitor, &HotkeyMonitor::activeChanged);
        monitor.setShortcut(std::nullopt);
        QCOMPARE(monitor.shortcut(), std::nullopt);
        QCOMPARE(m_backend->watched(), std::nullopt);
        QVERIFY(!monitor.isActive());
        QCOMPARE(active.count(), 1);
        m_backend->press(space, ctrl | alt);
        m_backend->release(space, ctrl | alt);
        QCOMPARE(m_downs, 0);
        QCOMPARE(m_ups, 0);
        // ensureTap (the application becoming active) does not bring it back.
        monitor.ensureTap();
        QCOMPARE(m_backend->watched(), std::nullopt);
    }

    void conflictIsSurfaced()
    {
        m_backend->refused = HotkeyMonitor::defaultShortcut();
        HotkeyMonitor &monitor = started();
        QVERIFY(!monitor.isActive());
        QCOMPARE(monitor.conflict(), u"Another application already uses Ctrl+Alt+Space. Choose a different hotkey."_s);

        // The other application let go; the next ensureTap takes the combination.
        QSignalSpy conflictChanged(&monitor, &HotkeyMonitor::conflictChanged);
        QSignalSpy activeChanged(&monitor, &HotkeyMonitor::activeChanged);
        m_backend->refused.reset();
        monitor.ensureTap();
        QVERIFY(monitor.isActive());
        QVERIFY(monitor.conflict().isEmpty());
        QCOMPARE(conflictChanged.count(), 1);
        QCOMPARE(activeChanged.count(), 1);
        m_backend->press(space, ctrl | alt);
        QCOMPARE(m_downs, 1);
    }

    void choosingAnotherHotkeyClearsTheConflict()
    {
        m_backend->refused = HotkeyMonitor::defaultShortcut();
        HotkeyMonitor &monitor = started();
        QVERIFY(!monitor.conflict().isEmpty());
        monitor.setShortcut(f1);
        QVERIFY(monitor.conflict().isEmpty());
        QVERIFY(monitor.isActive());
        monitor.setShortcut(HotkeyMonitor::defaultShortcut());
        QVERIFY(!monitor.conflict().isEmpty());
        monitor.setShortcut(std::nullopt);
        QVERIFY(monitor.conflict().isEmpty());
    }

    void asynchronousBind()
    {
        m_backend->bindsLater = true;
        HotkeyMonitor &monitor = started();
        QVERIFY(!monitor.isActive());
        QSignalSpy active(&monitor, &HotkeyMonitor::activeChanged);
        // Asking again while the bind is under way must not start another one.
        monitor.ensureTap();
        m_backend->setActive(true);
        QVERIFY(monitor.isActive());
        QCOMPARE(active.count(), 1);

        // The desktop ends the session: the hotkey is gone until ensureTap binds again.
        m_backend->setActive(false);
        QVERIFY(!monitor.isActive());
        QCOMPARE(active.count(), 2);
        const qsizetype requests = m_backend->watchRequests.size();
        monitor.ensureTap();
        QCOMPARE(m_backend->watchRequests.size(), requests + 1);
        QCOMPARE(m_backend->watchRequests.constLast(), HotkeyMonitor::defaultShortcut());
    }

    void ensureTapLeavesAWorkingHotkeyAlone()
    {
        HotkeyMonitor &monitor = started();
        QCOMPARE(m_backend->watchRequests.size(), 1);
        monitor.ensureTap();
        monitor.start();
        QCOMPARE(m_backend->watchRequests.size(), 1);
    }

    void firstAvailableBackendIsUsed()
    {
        FakeHotkeyBackend unavailable(u"Missing"_s, false);
        FakeHotkeyBackend chosen(u"Chosen"_s, true);
        FakeHotkeyBackend spare(u"Spare"_s, true);
        HotkeyMonitor monitor(*m_preferences, {&unavailable, &chosen, &spare});
        QCOMPARE(monitor.backendName(), u"Chosen"_s);
        QCOMPARE(unavailable.availabilityQueries, 1);
        QCOMPARE(spare.availabilityQueries, 0);
        monitor.start();
        QCOMPARE(chosen.watched(), HotkeyMonitor::defaultShortcut());
        QVERIFY(unavailable.watchRequests.isEmpty());
        QVERIFY(spare.watchRequests.isEmpty());
        // Only the chosen backend's events count.
        int downs = 0;
        monitor.onKeyDown = [&downs] { ++downs; };
        spare.press(space, ctrl | alt);
        QCOMPARE(downs, 0);
        chosen.press(space, ctrl | alt);
        QCOMPARE(downs, 1);

        // A backend that turns out unusable hands the hotkey to the next one.
        Q_EMIT chosen.unusable(u"The desktop did not open a shortcut session."_s);
        QCOMPARE(monitor.backendName(), u"Spare"_s);
        QCOMPARE(chosen.watched(), std::nullopt);
        QCOMPARE(spare.watched(), HotkeyMonitor::defaultShortcut());
        QVERIFY(monitor.isActive());
        QVERIFY(monitor.conflict().isEmpty());
        chosen.press(space, ctrl | alt);
        spare.press(space, ctrl | alt);
        QCOMPARE(downs, 2);
        // With none left, the reason is the conflict shown.
        Q_EMIT spare.unusable(u"No display."_s);
        QVERIFY(monitor.backendName().isEmpty());
        QVERIFY(!monitor.isActive());
        QCOMPARE(monitor.conflict(), u"No display."_s);
    }

    void noBackendAvailable()
    {
        FakeHotkeyBackend unavailable(u"Missing"_s, false);
        HotkeyMonitor monitor(*m_preferences, {&unavailable, nullptr});
        QVERIFY(monitor.backendName().isEmpty());
        monitor.start();
        monitor.setShortcut(f1);
        monitor.ensureTap();
        QVERIFY(!monitor.isActive());
        QCOMPARE(monitor.shortcut(), f1);
        QVERIFY(unavailable.watchRequests.isEmpty());
    }

    void destroyingTheMonitorReleasesTheCombination()
    {
        started();
        QCOMPARE(m_backend->watched(), HotkeyMonitor::defaultShortcut());
        m_monitor.reset();
        QCOMPARE(m_backend->watched(), std::nullopt);
    }

    void loadValidity_data()
    {
        QTest::addColumn<QJsonValue>("stored");
        QTest::addColumn<bool>("valid");
        const auto entry = [](QJsonValue keyCode, QJsonValue modifiers, QJsonValue display) {
            QJsonObject object;
            if (!keyCode.isUndefined())
                object.insert(u"keyCode"_s, keyCode);
            if (!modifiers.isUndefined())
                object.insert(u"modifiers"_s, modifiers);
            if (!display.isUndefined())
                object.insert(u"display"_s, display);
            return QJsonValue(object);
        };
        QTest::newRow("valid") << entry(59, 0, u"F1"_s) << true;
        QTest::newRow("valid with all modifiers") << entry(30, 0x1E0000, u"Ctrl+Alt+Shift+Super+A"_s) << true;
        QTest::newRow("extra entries are ignored")
            << QJsonValue(QJsonObject{{u"keyCode"_s, 59}, {u"modifiers"_s, 0}, {u"display"_s, u"F1"_s},
                                      {u"comment"_s, true}})
            << true;
        QTest::newRow("key code as string") << entry(u"59"_s, 0, u"F1"_s) << false;
        QTest::newRow("key code as boolean") << entry(true, 0, u"F1"_s) << false;
        QTest::newRow("key code fractional") << entry(59.5, 0, u"F1"_s) << false;
        QTest::newRow("modifiers as string") << entry(59, u"0"_s, u"F1"_s) << false;
        QTest::newRow("modifiers as null") << entry(59, QJsonValue::Null, u"F1"_s) << false;
        QTest::newRow("display as number") << entry(59, 0, 59) << false;
        QTest::newRow("display as object") << entry(59, 0, QJsonObject{}) << false;
        QTest::newRow("key code missing") << entry(QJsonValue::Undefined, 0, u"F1"_s) << false;
        QTest::newRow("modifiers missing") << entry(59, QJsonValue::Undefined, u"F1"_s) << false;
        QTest::newRow("display missing") << entry(59, 0, QJsonValue::Undefined) << false;
        QTest::newRow("empty dictionary") << QJsonValue(QJsonObject{}) << false;
        // Values of the right type that no keyboard can send or the exact match could never meet.
        QTest::newRow("key code zero") << entry(0, 0, u"Key 0"_s) << false;
        QTest::newRow("key code negative") << entry(-4, 0, u"Key -4"_s) << false;
        QTest::newRow("key code beyond the last key") << entry(0x300, 0, u"Key 768"_s) << false;
        QTest::newRow("key code beyond int") << entry(1e12, 0, u"F1"_s) << false;
        QTest::newRow("unknown modifier bit") << entry(59, 0x10000, u"F1"_s) << false;
        QTest::newRow("negative modifiers") << entry(59, -0x20000, u"F1"_s) << false;
        QTest::newRow("a string instead of a dictionary") << QJsonValue(u"Ctrl+Alt+Space"_s) << false;
        QTest::newRow("an array instead of a dictionary") << QJsonValue(QJsonArray{59, 0, u"F1"_s}) << false;
    }

    void loadValidity()
    {
        QFETCH(QJsonValue, stored);
        QFETCH(bool, valid);
        // Written as another program (or an older version) might have left it.
        {
            QFile file(m_preferences->filePath());
            QVERIFY(file.open(QIODevice::WriteOnly));
            file.write(QJsonDocument(QJsonObject{{PreferenceKeys::dictateHotkey, stored}}).toJson());
        }
        const std::optional<Shortcut> loaded = HotkeyMonitor::load(*m_preferences);
        QCOMPARE(loaded.has_value(), valid);
        if (valid) {
            const QJsonObject object = stored.toObject();
            QCOMPARE(loaded->keyCode, object.value(u"keyCode"_s).toInt());
            QCOMPARE(loaded->modifiers, object.value(u"modifiers"_s).toInt());
            QCOMPARE(loaded->display, object.value(u"display"_s).toString());
        }
        // What start() does with it: the stored hotkey, or the default in its place.
        HotkeyMonitor &monitor = started();
        QCOMPARE(monitor.shortcut(), valid ? loaded : HotkeyMonitor::defaultShortcut());
        // A bad value is ignored, not repaired behind the user's back.
        QCOMPARE(m_preferences->stored().value(PreferenceKeys::dictateHotkey), stored);
    }

    void saveRoundTrip_data()
    {
        QTest::addColumn<Shortcut>("shortcut");
        QTest::newRow("default") << HotkeyMonitor::defaultShortcut();
        QTest::newRow("single key") << f1;
        QTest::newRow("super esc") << superEsc;
        QTest::newRow("layout character") << Shortcut{39, ctrl, u"Ctrl+Ö"_s};
    }

    void saveRoundTrip()
    {
        QFETCH(Shortcut, shortcut);
        QVERIFY(HotkeyMonitor::save(*m_preferences, shortcut));
        const QJsonObject stored = m_preferences->stored().value(PreferenceKeys::dictateHotkey).toObject();
        QCOMPARE(stored.size(), 3);
        QVERIFY(stored.value(u"keyCode"_s).isDouble());
        QVERIFY(stored.value(u"modifiers"_s).isDouble());
        QVERIFY(stored.value(u"display"_s).isString());
        QCOMPARE(HotkeyMonitor::load(*m_preferences), shortcut);
    }

    void savingNoneRemovesTheKey()
    {
        QVERIFY(m_preferences->setBoolean(PreferenceKeys::holdToTalk, true));
        QVERIFY(HotkeyMonitor::save(*m_preferences, f1));
        QVERIFY(HotkeyMonitor::save(*m_preferences, std::nullopt));
        QVERIFY(!m_preferences->stored().contains(PreferenceKeys::dictateHotkey));
        QCOMPARE(m_preferences->boolean(PreferenceKeys::holdToTalk), true);
        QCOMPARE(HotkeyMonitor::load(*m_preferences), std::nullopt);
    }

    void saveFailureIsReported()
    {
        // A file where the folder should be: nothing can be written.
        QFile obstacle(m_dir->filePath(u"obstacle"_s));
        QVERIFY(obstacle.open(QIODevice::WriteOnly));
        obstacle.close();
        Preferences blocked(m_dir->filePath(u"obstacle/preferences.json"_s));
        QVERIFY(!HotkeyMonitor::save(blocked, f1));
    }
};

QTEST_GUILESS_MAIN(TestHotkeyMonitor)
#include "tst_hotkeymonitor.moc"
