#include "core/dictation/keynames.h"

#include "core/desktop/shortcut.h"

#include <QChar>

#include <array>
#include <utility>

namespace KeyNames {

namespace {

// The keys that get a name rather than the character they type. Backspace shows as
// "Delete" and Delete as "Fwd Del", the way the hotkey control has always named them,
// so a stored hotkey reads the same wherever it was recorded.
constexpr std::array<std::pair<int, const char16_t *>, 32> specialKeys{{
    {57, u"Space"},      {28, u"Return"},   {96, u"Enter"},    {15, u"Tab"},
    {1, u"Esc"},         {14, u"Delete"},   {111, u"Fwd Del"}, {104, u"Page Up"},
    {109, u"Page Down"}, {102, u"Home"},    {107, u"End"},     {105, u"←"},
    {106, u"→"},         {108, u"↓"},       {103, u"↑"},       {355, u"Clear"},
    {59, u"F1"},         {60, u"F2"},       {61, u"F3"},       {62, u"F4"},
    {63, u"F5"},         {64, u"F6"},       {65, u"F7"},       {66, u"F8"},
    {67, u"F9"},         {68, u"F10"},      {87, u"F11"},      {88, u"F12"},
    {183, u"F13"},       {184, u"F14"},     {185, u"F15"},     {186, u"F16"},
}};

// A first character that would leave the name blank or break the line it is shown on.
bool isInvisible(char32_t codePoint)
{
    switch (codePoint) {
    case 0x20:
    case 0x85:
    case 0x2028:
    case 0x2029:
        return true;
    default:
        break;
    }
    if (codePoint >= 10 && codePoint <= 13)
        return true;
    // Other blanks (tab, no-break space) and control characters (what Escape or Delete
    // type) are just as unreadable on a button.
    const QChar::Category category = QChar::category(codePoint);
    return QChar::isSpace(codePoint) || category == QChar::Other_Control || category == QChar::Other_Format
        || category == QChar::Other_NotAssigned || category == QChar::Other_Surrogate;
}

} // namespace

std::optional<QString> specialKeyName(int keyCode)
{
    for (const auto &[code, name] : specialKeys) {
        if (code == keyCode)
            return QString::fromUtf16(name);
    }
    return std::nullopt;
}

QString keyName(int keyCode, const QString &characters)
{
    if (const std::optional<QString> special = specialKeyName(keyCode))
        return *special;
    if (!characters.isEmpty()) {
        const char32_t first = characters.at(0).isHighSurrogate() && characters.size() > 1
            ? QChar::surrogateToUcs4(characters.at(0), characters.at(1))
            : characters.at(0).unicode();
        if (!isInvisible(first))
            return QString::fromUcs4(&first, 1).toUpper();
    }
    return QStringLiteral("Key ") + QString::number(keyCode);
}

QString display(int keyCode, int modifiers, const QString &characters)
{
    QString text;
    if (modifiers & Shortcut::control)
        text += QStringLiteral("Ctrl+");
    if (modifiers & Shortcut::alt)
        text += QStringLiteral("Alt+");
    if (modifiers & Shortcut::shift)
        text += QStringLiteral("Shift+");
    if (modifiers & Shortcut::super)
        text += QStringLiteral("Super+");
    return text + keyName(keyCode, characters);
}

int modifiersFrom(Qt::KeyboardModifiers modifiers)
{
    int bits = 0;
    if (modifiers & Qt::ShiftModifier)
        bits |= Shortcut::shift;
    if (modifiers & Qt::ControlModifier)
        bits |= Shortcut::control;
    if (modifiers & Qt::AltModifier)
        bits |= Shortcut::alt;
    if (modifiers & Qt::MetaModifier)
        bits |= Shortcut::super;
    return bits;
}

bool isModifierKey(int keyCode)
{
    switch (keyCode) {
    case 29:  // Left Ctrl
    case 97:  // Right Ctrl
    case 42:  // Left Shift
    case 54:  // Right Shift
    case 56:  // Left Alt
    case 100: // Right Alt, AltGr on many layouts
    case 125: // Left Super
    case 126: // Right Super
    case 58:  // Caps Lock
    case 69:  // Num Lock
    case 464: // Fn
        return true;
    default:
        return false;
    }
}

} // namespace KeyNames
