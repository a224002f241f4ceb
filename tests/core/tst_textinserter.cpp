#include "core/base/preferencekeys.h"
#include "core/base/preferences.h"
#include "core/insert/clipboardsafeinsertservice.h"
#include "core/insert/keyboardroutes.h"
#include "core/insert/textinserter.h"
#include "fakes/fakeclipboard.h"
#include "fakes/fakefocusprobe.h"
#include "fakes/fakekeyboardinjector.h"

#include <QCoroTask>
#include <QTemporaryDir>
#include <QTest>
#include <QTimeZone>

using PasteKeys = KeyboardInjector::PasteKeys;
using Editable = FocusProbe::Editable;

Q_DECLARE_METATYPE(TextInsertionMethod)
Q_DECLARE_METATYPE(TextInsertionResult)
Q_DECLARE_METATYPE(PasteKeys)
Q_DECLARE_METATYPE(Editable)
Q_DECLARE_METATYPE(FocusProbe::Window)

namespace {

using Window = FocusProbe::Window;

const QDateTime start = QDateTime(QDate(2026, 3, 1), QTime(9, 30), QTimeZone::utc());

// One insertion's circumstances; each row says only what differs from a plain dictation
// pasted into a focused editor.
struct Case
{
    bool safeInsert = false;
    TextInsertionMethod method = TextInsertionMethod::automatic;
    bool trusted = true;
    Window window = Window::x11;
    Editable editable = Editable::yes;
    QString windowClass = QStringLiteral("kate kate");
    QString text = QStringLiteral("  Grüße, dear team.\nSee you at 10.  ");
    bool x11Only = false;
    bool sends = true;
    bool refuses = false;
    bool refusesPrimary = false;
};

} // namespace

Q_DECLARE_METATYPE(Case)

class TestTextInserter final : public QObject
{
    Q_OBJECT

private:
    QTemporaryDir m_folder;

    Preferences preferences(bool clipboardSafeInsert) const
    {
        Preferences stored(m_folder.filePath(QStringLiteral("preferences.json")));
        stored.setBoolean(PreferenceKeys::clipboardSafeInsert, clipboardSafeInsert);
        return stored;
    }

private Q_SLOTS:
    void insert_data()
    {
        QTest::addColumn<Case>("given");
        QTest::addColumn<TextInsertionResult>("result");
        QTest::addColumn<QList<PasteKeys>>("pastes");

        const auto direct = TextInsertionMethod::direct;
        const QString xterm = QStringLiteral("xterm xterm");
        const QList<PasteKeys> ctrlV{PasteKeys::ctrlV};
        const QList<PasteKeys> none;
        const auto inserted = TextInsertionResult::inserted;
        const auto copied = TextInsertionResult::copied;
        const auto held = TextInsertionResult::heldForSafeInsert;
        const auto notDelivered = TextInsertionResult::notDelivered;

        QTest::newRow("dictation is pasted") << Case{} << inserted << ctrlV;
        QTest::newRow("clipboard-safe dictation is held") << Case{.safeInsert = true} << held << none;
        QTest::newRow("clipboard-safe hold ignores missing keys")
            << Case{.safeInsert = true, .trusted = false, .window = Window::none} << held << none;
        QTest::newRow("direct insert ignores clipboard-safe")
            << Case{.safeInsert = true, .method = direct} << inserted << ctrlV;
        QTest::newRow("no synthetic keys: copied") << Case{.trusted = false} << copied << none;
        QTest::newRow("no focused window: copied") << Case{.window = Window::none} << copied << none;
        QTest::newRow("keys reach only X11, a native window has the focus")
            << Case{.window = Window::wayland, .x11Only = true} << copied << none;
        QTest::newRow("native window reached") << Case{.window = Window::wayland} << inserted << ctrlV;
        // Keys sent while nobody can say what has the focus may have gone nowhere.
        QTest::newRow("focus not known: pasted, said copied")
            << Case{.window = Window::unknown, .editable = Editable::unknown} << copied << ctrlV;
        QTest::newRow("focus not known, accessibility names a text field")
            << Case{.window = Window::unknown, .editable = Editable::yes} << inserted << ctrlV;
        QTest::newRow("keys could not be sent: copied") << Case{.sends = false} << copied << none;
        QTest::newRow("accessibility says no: still pasted") << Case{.editable = Editable::no} << inserted << ctrlV;
        QTest::newRow("terminal gets Ctrl+Shift+V")
            << Case{.windowClass = QStringLiteral("gnome-terminal-server gnome-terminal")} << inserted
            << QList<PasteKeys>{PasteKeys::ctrlShiftV};
        QTest::newRow("xterm gets Shift+Insert")
            << Case{.method = direct, .windowClass = xterm} << inserted << QList<PasteKeys>{PasteKeys::shiftInsert};
        QTest::newRow("empty text is still written and pasted") << Case{.text = QString()} << inserted << ctrlV;
        // A paste after a refused write would paste whatever the clipboard held before.
        QTest::newRow("clipboard refuses: kept, nothing pasted") << Case{.refuses = true} << notDelivered << none;
        QTest::newRow("clipboard refuses a direct insert") << Case{.method = direct, .refuses = true} << notDelivered
                                                           << none;
        QTest::newRow("primary selection refuses: no Shift+Insert")
            << Case{.windowClass = xterm, .refusesPrimary = true} << copied << none;
    }

    void insert()
    {
        QFETCH(Case, given);
        QFETCH(TextInsertionResult, result);
        QFETCH(QList<PasteKeys>, pastes);

        Preferences stored = preferences(given.safeInsert);
        FakeClipboard clipboard;
        clipboard.setText(QStringLiteral("what the user copied before"));
        clipboard.writes = 0;
        clipboard.refuses = given.refuses;
        clipboard.refusesPrimary = given.refusesPrimary;
        FakeKeyboardInjector injector;
        injector.trusted = given.trusted;
        injector.sends = given.sends;
        injector.x11Only = given.x11Only;
        FakeFocusProbe focus;
        focus.target = {given.window, given.windowClass, given.editable};
        ClipboardSafeInsertService service(injector, [] { return start; });
        TextInserter inserter(service, clipboard, injector, focus, stored);

        QCOMPARE(QCoro::waitFor(inserter.insert(given.text, given.method)), result);
        QCOMPARE(injector.pastes, pastes);
        QVERIFY(injector.typeCalls.isEmpty());

        const bool kept = result == TextInsertionResult::heldForSafeInsert || result == TextInsertionResult::notDelivered;
        QCOMPARE(clipboard.writes, result == TextInsertionResult::heldForSafeInsert ? 0 : 1);
        QCOMPARE(clipboard.text(), kept ? QStringLiteral("what the user copied before") : given.text);
        QCOMPARE(bool(service.pending()), kept);
        if (kept) {
            QCOMPARE(service.pending()->text, given.text);
            QCOMPARE(service.pending()->expiresAt, start.addSecs(120));
        }
        // Only the terminals that paste the primary selection get it set as well.
        QCOMPARE(clipboard.primary, pastes == QList<PasteKeys>{PasteKeys::shiftInsert} ? given.text : QString());
    }

    void heldDictationIsReplacedByTheNextOne()
    {
        Preferences stored = preferences(true);
        FakeClipboard clipboard;
        FakeKeyboardInjector injector;
        FakeFocusProbe focus;
        QDateTime now = start;
        ClipboardSafeInsertService service(injector, [&now] { return now; });
        TextInserter inserter(service, clipboard, injector, focus, stored);

        QCOMPARE(QCoro::waitFor(
                     inserter.insert(QStringLiteral("first"), TextInsertionMethod::automatic)),
                 TextInsertionResult::heldForSafeInsert);
        now = start.addSecs(90);
        QCOMPARE(QCoro::waitFor(
                     inserter.insert(QStringLiteral("second"), TextInsertionMethod::automatic)),
                 TextInsertionResult::heldForSafeInsert);
        QCOMPARE(service.pending()->text, QStringLiteral("second"));
        // The new hold has its own two minutes.
        QCOMPARE(service.pending()->expiresAt, start.addSecs(90 + 120));
        QCOMPARE(clipboard.writes, 0);
    }

    void preferenceIsReadAtEachInsert()
    {
        Preferences stored = preferences(false);
        FakeClipboard clipboard;
        FakeKeyboardInjector injector;
        FakeFocusProbe focus;
        ClipboardSafeInsertService service(injector);
        TextInserter inserter(service, clipboard, injector, focus, stored);

        QCOMPARE(
            QCoro::waitFor(inserter.insert(QStringLiteral("one"), TextInsertionMethod::automatic)),
            TextInsertionResult::inserted);
        QVERIFY(stored.setBoolean(PreferenceKeys::clipboardSafeInsert, true));
        QCOMPARE(
            QCoro::waitFor(inserter.insert(QStringLiteral("two"), TextInsertionMethod::automatic)),
            TextInsertionResult::heldForSafeInsert);
        // A value of the wrong type reads as the default, off.
        QVERIFY(stored.setString(PreferenceKeys::clipboardSafeInsert, QStringLiteral("true")));
        QCOMPARE(QCoro::waitFor(
                     inserter.insert(QStringLiteral("three"), TextInsertionMethod::automatic)),
                 TextInsertionResult::inserted);
        QCOMPARE(clipboard.text(), QStringLiteral("three"));
        QCOMPARE(service.pending()->text, QStringLiteral("two"));
    }

    void insertedOnlyOnceThePasteWasSent()
    {
        Preferences stored = preferences(false);
        FakeClipboard clipboard;
        FakeKeyboardInjector injector;
        injector.delay = std::chrono::milliseconds(50);
        FakeFocusProbe focus;
        ClipboardSafeInsertService service(injector);
        TextInserter inserter(service, clipboard, injector, focus, stored);

        auto task = inserter.insert(QStringLiteral("later"), TextInsertionMethod::direct);
        // The text is on the clipboard at once; the paste waits for the keys.
        QCOMPARE(clipboard.text(), QStringLiteral("later"));
        QVERIFY(injector.pastes.isEmpty());
        QCOMPARE(QCoro::waitFor(std::move(task)), TextInsertionResult::inserted);
        QCOMPARE(injector.pastes.size(), 1);
    }

    void focusedElementIsEditable_data()
    {
        QTest::addColumn<Window>("window");
        QTest::addColumn<Editable>("editable");
        QTest::addColumn<bool>("expected");

        QTest::newRow("focused, accessibility no") << Window::x11 << Editable::no << true;
        QTest::newRow("focused, accessibility unknown") << Window::x11 << Editable::unknown << true;
        QTest::newRow("nothing focused, stale accessibility yes") << Window::none << Editable::yes << false;
    }

    void focusedElementIsEditable()
    {
        QFETCH(Window, window);
        QFETCH(Editable, editable);
        QFETCH(bool, expected);

        Preferences stored = preferences(false);
        FakeClipboard clipboard;
        FakeKeyboardInjector injector;
        FakeFocusProbe focus;
        focus.target = {window, QStringLiteral("kate kate"), editable};
        ClipboardSafeInsertService service(injector);
        const TextInserter inserter(service, clipboard, injector, focus, stored);
        QCOMPARE(inserter.focusedElementIsEditable(), expected);
    }

    void routesTakeTheFirstWayThatReaches_data()
    {
        QTest::addColumn<Window>("focused");
        QTest::addColumn<bool>("compositorTrusted");
        QTest::addColumn<bool>("xtestTrusted");
        QTest::addColumn<int>("chosen"); // 0 the compositor's keys, 1 XTEST, -1 none

        QTest::newRow("native window") << Window::wayland << true << true << 0;
        QTest::newRow("XWayland window, compositor first") << Window::x11 << true << true << 0;
        QTest::newRow("XWayland window, only XTEST") << Window::x11 << false << true << 1;
        QTest::newRow("native window, only XTEST") << Window::wayland << false << true << -1;
        QTest::newRow("focus not known") << Window::unknown << true << true << 0;
        QTest::newRow("nothing focused") << Window::none << true << true << -1;
    }

    void routesTakeTheFirstWayThatReaches()
    {
        QFETCH(Window, focused);
        QFETCH(bool, compositorTrusted);
        QFETCH(bool, xtestTrusted);
        QFETCH(int, chosen);

        FakeKeyboardInjector compositor;
        compositor.trusted = compositorTrusted;
        FakeKeyboardInjector xtest;
        xtest.trusted = xtestTrusted;
        xtest.x11Only = true;
        FakeFocusProbe focus;
        focus.target.window = focused;
        KeyboardRoutes routes(focus, {&compositor, &xtest}, Window::wayland);

        // Being able to paste on Wayland means reaching native windows: XTEST alone is not.
        QCOMPARE(routes.isTrusted(), compositorTrusted);
        QCOMPARE(QCoro::waitFor(routes.paste(PasteKeys::ctrlV)), chosen >= 0);
        QCOMPARE(QCoro::waitFor(routes.type(QStringLiteral("ü"))), chosen >= 0);
        QCOMPARE(compositor.pastes.size(), chosen == 0 ? 1 : 0);
        QCOMPARE(xtest.pastes.size(), chosen == 1 ? 1 : 0);
        QCOMPARE(compositor.typed.size() + xtest.typed.size(), chosen >= 0 ? 1 : 0);
    }

    void pasteKeysFor_data()
    {
        QTest::addColumn<QString>("windowClass");
        QTest::addColumn<PasteKeys>("keys");

        QTest::newRow("editor") << QStringLiteral("kate kate") << PasteKeys::ctrlV;
        QTest::newRow("browser") << QStringLiteral("navigator firefox-esr") << PasteKeys::ctrlV;
        QTest::newRow("no class") << QString() << PasteKeys::ctrlV;
        QTest::newRow("xterm, as set") << QStringLiteral("XTerm XTerm") << PasteKeys::shiftInsert;
        QTest::newRow("urxvt") << QStringLiteral("urxvt urxvt") << PasteKeys::shiftInsert;
        QTest::newRow("gnome-terminal")
            << QStringLiteral("gnome-terminal-server gnome-terminal") << PasteKeys::ctrlShiftV;
        QTest::newRow("konsole") << QStringLiteral("konsole konsole") << PasteKeys::ctrlShiftV;
        QTest::newRow("st") << QStringLiteral("st-256color st-256color") << PasteKeys::ctrlShiftV;
        QTest::newRow("wezterm") << QStringLiteral("org.wezfurlong.wezterm org.wezfurlong.wezterm")
                                 << PasteKeys::ctrlShiftV;
        QTest::newRow("gnome console")
            << QStringLiteral("kgx org.gnome.console") << PasteKeys::ctrlShiftV;
        // Wayland application ids, as the window lists give them (lower-cased by the probe).
        QTest::newRow("GNOME Terminal on Wayland") << QStringLiteral("org.gnome.terminal") << PasteKeys::ctrlShiftV;
        QTest::newRow("Konsole on Wayland") << QStringLiteral("org.kde.konsole") << PasteKeys::ctrlShiftV;
        // Whole names only: an application merely named like a terminal is not one.
        QTest::newRow("name containing xterm")
            << QStringLiteral("xtermcontrol xtermcontrol") << PasteKeys::ctrlV;
        QTest::newRow("name containing st") << QStringLiteral("steam steam") << PasteKeys::ctrlV;
    }

    void pasteKeysFor()
    {
        QFETCH(QString, windowClass);
        QFETCH(PasteKeys, keys);
        QCOMPARE(TextInserter::pasteKeysFor(windowClass), keys);
    }
};

QTEST_GUILESS_MAIN(TestTextInserter)
#include "tst_textinserter.moc"
