#include "dictation/keynames.h"
#include "dictation/shortcut.h"

#include <QTest>

class TestKeyNames final : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void specialKeys_data()
    {
        QTest::addColumn<int>("keyCode");
        QTest::addColumn<QString>("name");
        const QList<std::pair<int, QString>> keys{
            {57, u"Space"_qs},     {28, u"Return"_qs},   {96, u"Enter"_qs},  {15, u"Tab"_qs},  {1, u"Esc"_qs},
            {14, u"Delete"_qs},    {111, u"Fwd Del"_qs}, {104, u"Page Up"_qs}, {109, u"Page Down"_qs},
            {102, u"Home"_qs},     {107, u"End"_qs},     {105, u"←"_qs},     {106, u"→"_qs},   {108, u"↓"_qs},
            {103, u"↑"_qs},        {355, u"Clear"_qs},   {59, u"F1"_qs},     {60, u"F2"_qs},   {61, u"F3"_qs},
            {62, u"F4"_qs},        {63, u"F5"_qs},       {64, u"F6"_qs},     {65, u"F7"_qs},   {66, u"F8"_qs},
            {67, u"F9"_qs},        {68, u"F10"_qs},      {87, u"F11"_qs},    {88, u"F12"_qs},  {183, u"F13"_qs},
            {184, u"F14"_qs},      {185, u"F15"_qs},     {186, u"F16"_qs},
        };
        QCOMPARE(keys.size(), 32);
        for (const auto &[code, name] : keys)
            QTest::addRow("%d %s", code, qPrintable(name)) << code << name;
    }

    // The name wins over whatever the key types: Space types " ", Return "\r", Tab "\t".
    void specialKeys()
    {
        QFETCH(int, keyCode);
        QFETCH(QString, name);
        QCOMPARE(KeyNames::specialKeyName(keyCode), name);
        QCOMPARE(KeyNames::keyName(keyCode, u"x"_qs), name);
        QCOMPARE(KeyNames::keyName(keyCode, QString()), name);
    }

    void otherKeys_data()
    {
        QTest::addColumn<int>("keyCode");
        QTest::addColumn<QString>("characters");
        QTest::addColumn<QString>("name");
        QTest::newRow("letter in upper case") << 37 << u"k"_qs << u"K"_qs;
        QTest::newRow("digit") << 2 << u"1"_qs << u"1"_qs;
        QTest::newRow("punctuation") << 39 << u";"_qs << u";"_qs;
        QTest::newRow("layout letter") << 39 << u"ö"_qs << u"Ö"_qs;
        QTest::newRow("only the first character") << 30 << u"ab"_qs << u"A"_qs;
        QTest::newRow("outside the basic plane") << 30 << u"𝒶"_qs << u"𝒶"_qs;
        QTest::newRow("no characters") << 240 << QString() << u"Key 240"_qs;
        QTest::newRow("a space") << 30 << u" "_qs << u"Key 30"_qs;
        QTest::newRow("line feed") << 30 << u"\n"_qs << u"Key 30"_qs;
        QTest::newRow("vertical tab") << 30 << u"\u000B"_qs << u"Key 30"_qs;
        QTest::newRow("form feed") << 30 << u"\u000C"_qs << u"Key 30"_qs;
        QTest::newRow("carriage return") << 30 << u"\r"_qs << u"Key 30"_qs;
        QTest::newRow("next line") << 30 << u"\u0085"_qs << u"Key 30"_qs;
        QTest::newRow("line separator") << 30 << u"\u2028"_qs << u"Key 30"_qs;
        QTest::newRow("paragraph separator") << 30 << u"\u2029"_qs << u"Key 30"_qs;
        QTest::newRow("space before a letter") << 30 << u" a"_qs << u"Key 30"_qs;
        QTest::newRow("no-break space") << 30 << u"\u00A0"_qs << u"Key 30"_qs;
        QTest::newRow("escape control character") << 142 << u"\u001B"_qs << u"Key 142"_qs;
        QTest::newRow("delete control character") << 142 << u"\u007F"_qs << u"Key 142"_qs;
        QTest::newRow("lone surrogate") << 30 << QString(QChar(0xD800)) << u"Key 30"_qs;
        QTest::newRow("code zero") << 0 << QString() << u"Key 0"_qs;
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
        QTest::newRow("default") << 57 << (ctrl | alt) << u" "_qs << u"Ctrl+Alt+Space"_qs;
        QTest::newRow("ctrl shift letter") << 37 << (shift | ctrl) << u"k"_qs << u"Ctrl+Shift+K"_qs;
        QTest::newRow("single page up") << 104 << 0 << QString() << u"Page Up"_qs;
        QTest::newRow("all four in order") << 59 << (super | shift | alt | ctrl) << QString()
                                           << u"Ctrl+Alt+Shift+Super+F1"_qs;
        QTest::newRow("super esc") << 1 << super << u"\u001B"_qs << u"Super+Esc"_qs;
        QTest::newRow("alt shift") << 57 << (shift | alt) << QString() << u"Alt+Shift+Space"_qs;
        QTest::newRow("shift super") << 30 << (super | shift) << u"a"_qs << u"Shift+Super+A"_qs;
        // Bits beyond the four are not modifiers the hotkey knows.
        QTest::newRow("other bits ignored") << 30 << (0x10000 | 0x800000 | alt) << u"a"_qs << u"Alt+A"_qs;
        QTest::newRow("unnamed key with modifier") << 240 << ctrl << QString() << u"Ctrl+Key 240"_qs;
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
