#include "core/desktop/shortcut.h"
#include "core/dictation/keynames.h"

#include <QTest>

using namespace Qt::StringLiterals;

class TestKeyNames final : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void specialKeys_data()
    {
        QTest::addColumn<int>("keyCode");
        QTest::addColumn<QString>("name");
        // A sample of the table: keys people pick, the two deletes and the function keys on
        // both sides of the gaps in the evdev codes (F11, F12, F13).
        const QList<std::pair<int, QString>> keys{
            {57, u"Space"_s}, {28, u"Return"_s}, {96, u"Enter"_s},  {1, u"Esc"_s},    {14, u"Delete"_s},
            {111, u"Fwd Del"_s}, {104, u"Page Up"_s}, {105, u"←"_s}, {355, u"Clear"_s}, {68, u"F10"_s},
            {87, u"F11"_s},   {88, u"F12"_s},    {183, u"F13"_s},   {186, u"F16"_s},
        };
        for (const auto &[code, name] : keys)
            QTest::addRow("%d %s", code, qPrintable(name)) << code << name;
    }

    // The name wins over whatever the key types: Space types " ", Return "\r".
    void specialKeys()
    {
        QFETCH(int, keyCode);
        QFETCH(QString, name);
        QCOMPARE(KeyNames::specialKeyName(keyCode), name);
        QCOMPARE(KeyNames::keyName(keyCode, u"x"_s), name);
        QCOMPARE(KeyNames::keyName(keyCode, QString()), name);
    }

    void otherKeys_data()
    {
        QTest::addColumn<int>("keyCode");
        QTest::addColumn<QString>("characters");
        QTest::addColumn<QString>("name");
        QTest::newRow("letter in upper case") << 37 << u"k"_s << u"K"_s;
        QTest::newRow("digit") << 2 << u"1"_s << u"1"_s;
        QTest::newRow("punctuation") << 39 << u";"_s << u";"_s;
        QTest::newRow("layout letter") << 39 << u"ö"_s << u"Ö"_s;
        QTest::newRow("only the first character") << 30 << u"ab"_s << u"A"_s;
        QTest::newRow("outside the basic plane") << 30 << u"𝒶"_s << u"𝒶"_s;
        QTest::newRow("no characters") << 240 << QString() << u"Key 240"_s;
        QTest::newRow("a space") << 30 << u" "_s << u"Key 30"_s;
        QTest::newRow("line feed") << 30 << u"\n"_s << u"Key 30"_s;
        QTest::newRow("vertical tab") << 30 << u"\u000B"_s << u"Key 30"_s;
        QTest::newRow("form feed") << 30 << u"\u000C"_s << u"Key 30"_s;
        QTest::newRow("carriage return") << 30 << u"\r"_s << u"Key 30"_s;
        QTest::newRow("next line") << 30 << u"\u0085"_s << u"Key 30"_s;
        QTest::newRow("line separator") << 30 << u"\u2028"_s << u"Key 30"_s;
        QTest::newRow("paragraph separator") << 30 << u"\u2029"_s << u"Key 30"_s;
        QTest::newRow("space before a letter") << 30 << u" a"_s << u"Key 30"_s;
        QTest::newRow("no-break space") << 30 << u"\u00A0"_s << u"Key 30"_s;
        QTest::newRow("escape control character") << 142 << u"\u001B"_s << u"Key 142"_s;
        QTest::newRow("delete control character") << 142 << u"\u007F"_s << u"Key 142"_s;
        QTest::newRow("lone surrogate") << 30 << QString(QChar(0xD800)) << u"Key 30"_s;
        QTest::newRow("code zero") << 0 << QString() << u"Key 0"_s;
    }

    void otherKeys()
    {
        QFETCH(int, keyCode);
        QFETCH(QString, characters);
        QFETCH(QString, name);
        QCOMPARE(KeyNames::specialKeyName(keyCode), std::nullopt);
        QCOMPARE(KeyNames::keyName(keyCode, characters), name);
    }

    void display_data()
    {
        QTest::addColumn<int>("keyCode");
        QTest::addColumn<int>("modifiers");
        QTest::addColumn<QString>("characters");
        QTest::addColumn<QString>("display");
        const int ctrl = Shortcut::control;
        const int alt = Shortcut::alt;
        const int shift = Shortcut::shift;
        const int super = Shortcut::super;
        QTest::newRow("default") << 57 << (ctrl | alt) << u" "_s << u"Ctrl+Alt+Space"_s;
        QTest::newRow("ctrl shift letter") << 37 << (shift | ctrl) << u"k"_s << u"Ctrl+Shift+K"_s;
        QTest::newRow("single page up") << 104 << 0 << QString() << u"Page Up"_s;
        QTest::newRow("all four in order") << 59 << (super | shift | alt | ctrl) << QString()
                                           << u"Ctrl+Alt+Shift+Super+F1"_s;
        QTest::newRow("super esc") << 1 << super << u"\u001B"_s << u"Super+Esc"_s;
        QTest::newRow("alt shift") << 57 << (shift | alt) << QString() << u"Alt+Shift+Space"_s;
        QTest::newRow("shift super") << 30 << (super | shift) << u"a"_s << u"Shift+Super+A"_s;
        // Bits beyond the four are not modifiers the hotkey knows.
        QTest::newRow("other bits ignored") << 30 << (0x10000 | 0x800000 | alt) << u"a"_s << u"Alt+A"_s;
        QTest::newRow("unnamed key with modifier") << 240 << ctrl << QString() << u"Ctrl+Key 240"_s;
    }

    void display()
    {
        QFETCH(int, keyCode);
        QFETCH(int, modifiers);
        QFETCH(QString, characters);
        QFETCH(QString, display);
        QCOMPARE(KeyNames::display(keyCode, modifiers, characters), display);
    }

    void modifiersFromQt_data()
    {
        QTest::addColumn<int>("qtModifiers");
        QTest::addColumn<int>("bits");
        QTest::newRow("none") << int(Qt::NoModifier) << 0;
        QTest::newRow("shift") << int(Qt::ShiftModifier) << Shortcut::shift;
        QTest::newRow("control") << int(Qt::ControlModifier) << Shortcut::control;
        QTest::newRow("alt") << int(Qt::AltModifier) << Shortcut::alt;
        QTest::newRow("meta is super") << int(Qt::MetaModifier) << Shortcut::super;
        QTest::newRow("all") << int(Qt::ShiftModifier | Qt::ControlModifier | Qt::AltModifier | Qt::MetaModifier)
                             << Shortcut::modifierMask;
        QTest::newRow("keypad dropped") << int(Qt::KeypadModifier | Qt::ControlModifier) << Shortcut::control;
        QTest::newRow("group switch dropped") << int(Qt::GroupSwitchModifier) << 0;
    }

    void modifiersFromQt()
    {
        QFETCH(int, qtModifiers);
        QFETCH(int, bits);
        QCOMPARE(KeyNames::modifiersFrom(Qt::KeyboardModifiers::fromInt(qtModifiers)), bits);
    }

    void modifierKeys_data()
    {
        QTest::addColumn<int>("keyCode");
        QTest::addColumn<bool>("modifier");
        for (const int code : {29, 97, 42, 54, 56, 100, 125, 126, 58, 69, 464})
            QTest::addRow("modifier %d", code) << code << true;
        for (const int code : {57, 1, 30, 59, 127, 104})
            QTest::addRow("key %d", code) << code << false;
    }

    void modifierKeys()
    {
        QFETCH(int, keyCode);
        QFETCH(bool, modifier);
        QCOMPARE(KeyNames::isModifierKey(keyCode), modifier);
    }
};

QTEST_GUILESS_MAIN(TestKeyNames)
#include "tst_keynames.moc"
