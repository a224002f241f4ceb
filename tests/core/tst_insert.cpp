// Inserting text: the paste and its fallbacks, the held dictation and click-to-insert, against
// fakes where the desktop would be.
#include "core/base/preferencekeys.h"
#include "core/insert/keyboardroutes.h"
#include "dictationrig.h"
#include "testenvironment.h"

#include <QCoroTask>
#include <QSignalSpy>
#include <QTest>
#include <QTimeZone>

using namespace Qt::StringLiterals;
using PasteKeys = KeyboardInjector::PasteKeys;
using Window = FocusProbe::Window;
using Result = TextInsertionResult;
using Error = ClipboardSafeInsertService::Error;
using MaybeError = std::optional<Error>;

namespace {

const QDateTime start(QDate(2026, 3, 1), QTime(9, 30), QTimeZone::utc());

// One insertion's circumstances; a row says only what differs from a dictation pasted into
// a focused editor.
struct Case
{
    bool safeInsert = false, trusted = true;
    Window window = Window::x11;
    FocusProbe::Editable editable = FocusProbe::Editable::yes;
    QString windowClass = u"kate kate"_s;
    bool x11Only = false, sends = true, refuses = false, refusesPrimary = false, notShared = false;
};

} // namespace

Q_DECLARE_METATYPE(Case)

class TestInsert final : public QObject
{
    Q_OBJECT

    TestEnvironment m_environment; // before anything reads the preferences
    Preferences m_preferences{m_environment.home() + u"/preferences.json"_s};
    std::unique_ptr<DictationRig> m_rig;

    // The inserters wired as in the application, afresh for each test and each case of a loop.
    DictationRig &freshRig(int clickTimeoutMs = 5000, int clickDelayMs = 0)
    {
        m_rig.reset();
        QFile::remove(m_preferences.filePath());
        m_rig = std::make_unique<DictationRig>(m_preferences, m_environment.home() + u"/history.json"_s, m_environment.home() + u"/Models"_s);
        m_rig->clickInserter.setDelays(clickTimeoutMs, clickDelayMs);
        return *m_rig;
    }

private Q_SLOTS:
    void init() { freshRig(); }

    void insert_data()
    {
        QTest::addColumn<Case>("given");
        QTest::addColumn<Result>("result");
        QTest::addColumn<QList<PasteKeys>>("pastes");
        const QList<PasteKeys> ctrlV{PasteKeys::ctrlV}, none;
        QTest::newRow("pasted") << Case{} << Result::inserted << ctrlV;
        QTest::newRow("clipboard-safe holds, keys or not") << Case{.safeInsert = true, .trusted = false} << Result::heldForSafeInsert << none;
        QTest::newRow("no synthetic keys") << Case{.trusted = false} << Result::copied << none;
        QTest::newRow("XTEST only, native window") << Case{.window = Window::wayland, .x11Only = true} << Result::copied << none;
        // Keys sent while nobody can say what has the focus may have gone nowhere.
        QTest::newRow("focus unknown") << Case{.window = Window::unknown, .editable = FocusProbe::Editable::unknown} << Result::copied << ctrlV;
        QTest::newRow("focus unknown, a text field") << Case{.window = Window::unknown} << Result::inserted << ctrlV;
        QTest::newRow("keys not sent") << Case{.sends = false} << Result::copied << none;
        QTest::newRow("clipboard not shared in time") << Case{.notShared = true} << Result::copied << none;
        QTest::newRow("xterm") << Case{.windowClass = u"xterm"_s} << Result::inserted << QList{PasteKeys::shiftInsert};
        // A paste after a refused write would paste whatever the clipboard held before.
        QTest::newRow("clipboard refuses") << Case{.refuses = true} << Result::notDelivered << none;
        QTest::newRow("primary refuses") << Case{.windowClass = u"xterm"_s, .refusesPrimary = true} << Result::copied << none;
    }

    void insert()
    {
        QFETCH(Case, given);
        QFETCH(Result, result);
        QFETCH(QList<PasteKeys>, pastes);
        DictationRig &rig = *m_rig;
        // Set after the inserter was made: it reads the preference at each insertion.
        QVERIFY(m_preferences.setBoolean(PreferenceKeys::clipboardSafeInsert, given.safeInsert));
        rig.clipboard.setText(u"copied before"_s);
        rig.clipboard.writes = 0;
        std::tie(rig.clipboard.refuses, rig.clipboard.refusesPrimary, rig.clipboard.notShared)
            = std::tuple(given.refuses, given.refusesPrimary, given.notShared);
        std::tie(rig.keyboard.trusted, rig.keyboard.sends, rig.keyboard.x11Only) = std::tuple(given.trusted, given.sends, given.x11Only);
        rig.focus.target = {given.window, given.windowClass, given.editable};
        const QString text = u"  Grüße,\nsee you at 10.  "_s;
        QCOMPARE(QCoro::waitFor(rig.inserter.insert(text, TextInsertionMethod::automatic)), result);
        QCOMPARE(rig.keyboard.pastes, pastes);
        const bool kept = result == Result::heldForSafeInsert || result == Result::notDelivered;
        QCOMPARE(rig.clipboard.writes, result == Result::heldForSafeInsert ? 0 : 1);
        QCOMPARE(rig.clipboard.text(), kept ? u"copied before"_s : text);
        QCOMPARE(rig.safeInsert.pending() ? rig.safeInsert.pending()->text : QString(), kept ? text : QString());
        QCOMPARE(rig.clipboard.primary, pastes == QList{PasteKeys::shiftInsert} ? text : QString());
        // Whole names only: an application merely named like a terminal is not one.
        QCOMPARE(TextInserter::pasteKeysFor(u"xtermcontrol steam"_s), PasteKeys::ctrlV);
    }

    // On Wayland the compositor's keys come first; XTEST reaches XWayland windows only.
    void routes()
    {
        FakeKeyboardInjector compositor, xtest;
        xtest.x11Only = true;
        FakeFocusProbe focus;
        KeyboardRoutes routes(focus, {&compositor, &xtest}, Window::wayland);
        QVERIFY(QCoro::waitFor(routes.paste(PasteKeys::ctrlV)));
        compositor.trusted = false;
        QVERIFY(!routes.isTrusted());
        QVERIFY(QCoro::waitFor(routes.type(u"ü"_s)));
        focus.target.window = Window::wayland;
        QVERIFY(!QCoro::waitFor(routes.paste(PasteKeys::ctrlV)));
        QCOMPARE(compositor.pastes.size(), 1);
        QCOMPARE(xtest.typed, QStringList{u"ü"_s});
    }

    void heldDictation()
    {
        const QList<std::tuple<qint64, bool, MaybeError>> requests{{0, true, {}}, {119999, true, {}}, {120000, true, Error::notReady},
                                                                   {0, false, Error::notReturned}}; // typing fails: still held
        for (const auto &[elapsedMs, types, error] : requests) {
            FakeKeyboardInjector keyboard;
            QDateTime now = start;
            ClipboardSafeInsertService safeInsert(keyboard, [&now] { return now; });
            safeInsert.hold(u"old"_s);
            now = start.addSecs(60);
            safeInsert.hold(u"Ship it."_s); // replaces the older one, with a clock of its own
            now = now.addMSecs(elapsedMs);
            keyboard.typing = [types](const QString &) { return types; };
            QCOMPARE(QCoro::waitFor(safeInsert.insertLastDictation()), error);
            QCOMPARE(keyboard.typed, error ? QStringList() : QStringList{u"Ship it."_s});
            QCOMPARE(bool(safeInsert.pending()), error == Error::notReturned); // each dictation comes back once
        }
        // While one request types, a second finds nothing, and a failed one never brings an
        // older dictation back over one held meanwhile.
        DictationRig &rig = *m_rig;
        rig.keyboard.delay = std::chrono::milliseconds(100);
        rig.keyboard.typing = [](const QString &) { return false; };
        rig.safeInsert.hold(u"old"_s);
        auto typing = rig.safeInsert.insertLastDictation();
        QCOMPARE(QCoro::waitFor(rig.safeInsert.insertLastDictation()), MaybeError(Error::notReady));
        rig.safeInsert.hold(u"new"_s);
        QCOMPARE(QCoro::waitFor(std::move(typing)), MaybeError(Error::notReturned));
        QCOMPARE(rig.safeInsert.pending()->text, u"new"_s);
        QCOMPARE(rig.keyboard.typeCalls, QStringList{u"old"_s});
        rig.safeInsert.hold(QString());
        QCOMPARE(QCoro::waitFor(rig.safeInsert.insertLastDictation()), MaybeError(Error::notReady));
    }

    void clickInserts()
    {
        const QList<std::tuple<Window, bool, QString>> cases{
            {Window::x11, false, u"Inserted"_s}, {Window::none, false, u"Copied"_s}, {Window::x11, true, notDeliveredText()}};
        for (const auto &[focused, refuses, confirmation] : cases) {
            DictationRig &rig = freshRig(5000, 300);
            rig.focus.target.window = focused;
            rig.clipboard.refuses = refuses;
            // Click-to-insert pastes even while dictations are held for insert-last.
            QVERIFY(m_preferences.setBoolean(PreferenceKeys::clipboardSafeInsert, true));
            const QString text = u"  the whole transcript,\nuntrimmed  "_s;
            rig.clickInserter.arm(text);
            QVERIFY(rig.clicks.watching && rig.panel.visible && rig.hud.model().state() == HUDModel::State::aiming);
            QSignalSpy inserted(&rig.clickInserter, &ClickInserter::inserted);
            Q_EMIT rig.clicks.outsideClick();
            Q_EMIT rig.clicks.outsideClick(); // a second quick click finds the mode over
            QVERIFY(!rig.clickInserter.isArmed() && !rig.clicks.watching);
            QTest::qWait(150);
            QCOMPARE(rig.clipboard.writes, 0); // the insertion waits for the click to land
            QVERIFY(inserted.wait(2000));
            QTest::qWait(100);
            QCOMPARE(inserted.size(), 1);
            QCOMPARE(inserted.first().first().toBool(), confirmation == u"Inserted");
            QCOMPARE(rig.clipboard.text(), refuses ? QString() : text);
            QCOMPARE(bool(rig.safeInsert.pending()), refuses); // a refused clipboard costs nothing
            QCOMPARE(rig.player.played, QStringList{u"Morse"_s});
            QCOMPARE(rig.announcer.announced, (QStringList{u"Click a text field to insert · Esc cancels"_s, confirmation}));
            QTRY_VERIFY_WITH_TIMEOUT(!rig.panel.visible, HUDController::confirmHideMs + 1000);
        }
    }

    void clickModeEnds()
    {
        for (const QString &event : {u"escape"_s, u"own window"_s, u"timeout"_s, u"no synthetic keys"_s}) {
            DictationRig &rig = freshRig(250, 30);
            rig.keyboard.trusted = event != u"no synthetic keys";
            rig.clickInserter.arm(u"never inserted"_s);
            if (event == u"escape")
                Q_EMIT rig.clicks.escapePressed();
            else if (event == u"own window")
                Q_EMIT rig.clicks.ownWindowClick();
            QTRY_VERIFY_WITH_TIMEOUT(!rig.clickInserter.isArmed() && !rig.clicks.watching, 2000);
            if (rig.keyboard.trusted)
                QTRY_VERIFY_WITH_TIMEOUT(!rig.panel.visible, 200);
            else
                QCOMPARE(rig.hud.model().confirmText(), u"Grant Accessibility, then try again"_s);
            Q_EMIT rig.clicks.outsideClick();
            QTest::qWait(100);
            QCOMPARE(rig.clipboard.writes, 0);
        }
    }

    void clickInserterDestroyed()
    {
        DictationRig &rig = *m_rig;
        // One of its own beside the rig's, which stays idle, so that it can be destroyed.
        auto click = std::make_unique<ClickInserter>(rig.clicks, rig.keyboard, rig.inserter, rig.hud, rig.sounds);
        click->arm(u"armed"_s);
        click.reset();
        QVERIFY(!rig.clicks.watching);
        // Gone while its paste waits for keys: the paste ends, and nothing touches it after.
        click = std::make_unique<ClickInserter>(rig.clicks, rig.keyboard, rig.inserter, rig.hud, rig.sounds);
        click->setDelays(5000, 20);
        rig.keyboard.delay = std::chrono::milliseconds(200);
        click->arm(u"pasted after all"_s);
        Q_EMIT rig.clicks.outsideClick();
        QTRY_COMPARE_WITH_TIMEOUT(rig.clipboard.writes, 1, 1000);
        click.reset();
        QTRY_COMPARE_WITH_TIMEOUT(rig.keyboard.pastes.size(), 1, 1000);
        QTest::qWait(50);
        QVERIFY(rig.player.played.isEmpty());
    }

};

QTEST_GUILESS_MAIN(TestInsert)
#include "tst_insert.moc"
