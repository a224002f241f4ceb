#include "app/preferencekeys.h"
#include "app/preferences.h"
#include "fakes/fakeclipboard.h"
#include "fakes/fakefocusprobe.h"
#include "fakes/fakekeyboardinjector.h"
#include "insert/clipboardsafeinsertservice.h"
#include "insert/textinserter.h"

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

namespace {

const QDateTime start = QDateTime(QDate(2026, 3, 1), QTime(9, 30), QTimeZone::utc());

} // namespace

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
        QTest::addColumn<bool>("safeInsert");
        QTest::addColumn<TextInsertionMethod>("method");
        QTest::addColumn<bool>("trusted");
        QTest::addColumn<bool>("hasFocus");
        QTest::addColumn<Editable>("editable");
        QTest::addColumn<QString>("windowClass");
        QTest::addColumn<QString>("text");
        QTest::addColumn<TextInsertionResult>("result");
        QTest::addColumn<QList<PasteKeys>>("pastes");

        const auto automatic = TextInsertionMethod::automatic;
        const auto direct = TextInsertionMethod::direct;
        const QString text = QStringLiteral("  Grüße, dear team.\nSee you at 10.  ");
        const QString editor = QStringLiteral("kate kate");
        const QList<PasteKeys> ctrlV{PasteKeys::ctrlV};
        const QList<PasteKeys> none;

        QTest::newRow("dictation is pasted")
            << false << automatic << true << true << Editable::yes << editor << text
            << TextInsertionResult::inserted << ctrlV;
        QTest::newRow("clipboard-safe dictation is held")
            << true << automatic << true << true << Editable::yes << editor << text
            << TextInsertionResult::heldForSafeInsert << none;
        QTest::newRow("clipboard-safe hold ignores missing trust")
            << true << automatic << false << false << Editable::no << editor << text
            << TextInsertionResult::heldForSafeInsert << none;
        QTest::newRow("direct insert ignores clipboard-safe")
            << true << direct << true << true << Editable::yes << editor << text
            << TextInsertionResult::inserted << ctrlV;
        QTest::newRow("no synthetic keys: copied")
            << false << automatic << false << true << Editable::yes << editor << text
            << TextInsertionResult::copied << none;
        QTest::newRow("direct without synthetic keys: copied")
            << true << direct << false << true << Editable::yes << editor << text
            << TextInsertionResult::copied << none;
        QTest::newRow("no focused window: copied")
            << false << automatic << true << false << Editable::unknown << QString() << text
            << TextInsertionResult::copied << none;
        QTest::newRow("accessibility says no: still pasted")
            << false << automatic << true << true << Editable::no << editor << text
            << TextInsertionResult::inserted << ctrlV;
        QTest::newRow("accessibility silent: pasted")
            << false << automatic << true << true << Editable::unknown << editor << text
            << TextInsertionResult::inserted << ctrlV;
        QTest::newRow("terminal gets Ctrl+Shift+V")
            << false << automatic << true << true << Editable::unknown
            << QStringLiteral("gnome-terminal-server gnome-terminal") << text
            << TextInsertionResult::inserted << QList<PasteKeys>{PasteKeys::ctrlShiftV};
        QTest::newRow("xterm gets Shift+Insert")
            << false << direct << true << true << Editable::unknown << QStringLiteral("xterm xterm")
            << text << TextInsertionResult::inserted << QList<PasteKeys>{PasteKeys::shiftInsert};
        QTest::newRow("empty text is still written and pasted")
            << false << automatic << true << true << Editable::yes << editor << QString()
            << TextInsertionResult::inserted << ctrlV;
    }

    void insert()
    {
        QFETCH(bool, safeInsert);
        QFETCH(TextInsertionMethod, method);
        QFETCH(bool, trusted);
        QFETCH(bool, hasFocus);
        QFETCH(Editable, editable);
        QFETCH(QString, windowClass);
        QFETCH(QString, text);
        QFETCH(TextInsertionResult, result);
        QFETCH(QList<PasteKeys>, pastes);

        Preferences stored = preferences(safeInsert);
        FakeClipboard clipboard;
        clipboard.setText(QStringLiteral("what the user copied before"));
        clipboard.writes = 0;
        FakeKeyboardInjector injector;
        injector.trusted = trusted;
        FakeFocusProbe focus;
        focus.target = {hasFocus, windowClass, editable};
        ClipboardSafeInsertService service(injector, [] { return start; });
        TextInserter inserter(service, clipboard, injector, focus, stored);

        QCOMPARE(QCoro::waitFor(inserter.insert(text, method)), result);
        QCOMPARE(injector.pastes, pastes);
        QVERIFY(injector.typeCalls.isEmpty());

        if (result == TextInsertionResult::heldForSafeInsert) {
            QCOMPARE(clipboard.writes, 0);
            QCOMPARE(clipboard.text(), QStringLiteral("what the user copied before"));
            QVERIFY(service.pending());
            QCOMPARE(service.pending()->text, text);
            QCOMPARE(service.pending()->expiresAt, start.addSecs(120));
        } else {
            QCOMPARE(clipboard.writes, 1);
            QCOMPARE(clipboard.text(), text);
            QVERIFY(!service.pending());
        }
        // Only the terminals that paste the primary selection get it set as well.
        const bool primary = pastes == QList<PasteKeys>{PasteKeys::shiftInsert};
        QCOMPARE(clipboard.primaryWrites, primary ? 1 : 0);
        QCOMPARE(clipboard.primary, primary ? text : QString());
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
        QTest::addColumn<bool>("hasFocus");
        QTest::addColumn<Editable>("editable");
        QTest::addColumn<bool>("expected");

        QTest::newRow("focused, accessibility no") << true << Editable::no << true;
        QTest::newRow("focused, accessibility unknown") << true << Editable::unknown << true;
        QTest::newRow("nothing focused, stale accessibility yes")
            << false << Editable::yes << false;
    }

    void focusedElementIsEditable()
    {
        QFETCH(bool, hasFocus);
        QFETCH(Editable, editable);
        QFETCH(bool, expected);

        Preferences stored = preferences(false);
        FakeClipboard clipboard;
        FakeKeyboardInjector injector;
        FakeFocusProbe focus;
        focus.target = {hasFocus, QStringLiteral("kate kate"), editable};
        ClipboardSafeInsertService service(injector);
        const TextInserter inserter(service, clipboard, injector, focus, stored);
        QCOMPARE(inserter.focusedElementIsEditable(), expected);
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
