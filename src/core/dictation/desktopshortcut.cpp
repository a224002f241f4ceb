#include "core/dictation/desktopshortcut.h"

#include "core/base/logging.h"

#include <array>
#include <memory>
#include <QCoreApplication>
#include <QFileInfo>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QStringList>
#include <xkbcommon/xkbcommon.h>

using namespace Qt::StringLiterals;

namespace {

struct Release
{
    void operator()(xkb_context *context) const { xkb_context_unref(context); }
    void operator()(xkb_keymap *keymap) const { xkb_keymap_unref(keymap); }
};

constexpr int xkbKeyCodeOffset = 8;

// The US keymap compiled once: compiling takes tens of milliseconds, and the rules files it
// reads do not change while Murmel runs. The names are given in full and the environment's
// XKB_DEFAULT_* are ignored, so the user's own layout never leaks into the names.
xkb_keymap *usKeymap()
{
    static const std::unique_ptr<xkb_keymap, Release> keymap =
        [] {
            const std::unique_ptr<xkb_context, Release> context(
                xkb_context_new(XKB_CONTEXT_NO_ENVIRONMENT_NAMES));
            if (!context) {
                qCWarning(lcPlatform)
                    << "xkbcommon could not create a context; keys cannot be named for the desktop";
                return std::unique_ptr<xkb_keymap, Release>();
            }
            const xkb_rule_names names{"evdev", "pc105", "us", "", ""};
            std::unique_ptr<xkb_keymap, Release> compiled(
                xkb_keymap_new_from_names(context.get(), &names, XKB_KEYMAP_COMPILE_NO_FLAGS));
            if (!compiled)
                qCWarning(lcPlatform)
                    << "xkbcommon could not compile the US keymap (is xkb-data installed?)";
            return compiled;
        }();
    return keymap.get();
}

// One order for both desktops, which accept the modifiers in any order.
struct ModifierNames
{
    int bit;
    const char16_t *gtk;
    const char16_t *sway;
};
constexpr std::array modifierNames{
    ModifierNames{Shortcut::super, u"<Super>", u"Mod4"},
    ModifierNames{Shortcut::shift, u"<Shift>", u"Shift"},
    ModifierNames{Shortcut::control, u"<Control>", u"Ctrl"},
    ModifierNames{Shortcut::alt, u"<Alt>", u"Mod1"},
};

// GNOME splits the command with g_shell_parse_argv and sway hands it to sh -c, so POSIX
// single quotes work for both.
QString shellQuoted(const QString &word)
{
    static const QRegularExpression plain(u"^[A-Za-z0-9_./+,:=@%-]+$"_s);
    if (plain.match(word).hasMatch())
        return word;
    QString quoted = word;
    quoted.replace(u'\'', u"'\\''"_s);
    return u'\'' + quoted + u'\'';
}

} // namespace

QString DesktopShortcut::keysymName(int evdevCode)
{
    xkb_keymap *keymap = usKeymap();
    if (!keymap || evdevCode <= 0)
        return {};
    const auto keyCode = static_cast<xkb_keycode_t>(evdevCode + xkbKeyCodeOffset);
    if (keyCode > xkb_keymap_max_keycode(keymap))
        return {};
    const xkb_keysym_t *symbols = nullptr;
    if (xkb_keymap_key_get_syms_by_level(keymap, keyCode, 0, 0, &symbols) < 1 ||
        symbols[0] == XKB_KEY_NoSymbol)
        return {};
    std::array<char, 64> name{};
    if (xkb_keysym_get_name(symbols[0], name.data(), name.size()) <= 0)
        return {};
    return QString::fromLatin1(name.data());
}

QString DesktopShortcut::gtkAccelerator(const Shortcut &shortcut)
{
    const QString key = keysymName(shortcut.keyCode);
    if (key.isEmpty())
        return {};
    QString accelerator;
    for (const ModifierNames &modifier : modifierNames) {
        if (shortcut.modifiers & modifier.bit)
            accelerator += QStringView(modifier.gtk);
    }
    return accelerator + key;
}

QString DesktopShortcut::swayBinding(const Shortcut &shortcut, const QString &command)
{
    const QString key = keysymName(shortcut.keyCode);
    if (key.isEmpty())
        return {};
    QStringList combination;
    for (const ModifierNames &modifier : modifierNames) {
        if (shortcut.modifiers & modifier.bit)
            combination.append(QString::fromUtf16(modifier.sway));
    }
    combination.append(key);
    return u"bindsym "_s + combination.join(u'+') + u" exec "_s + command;
}

QString DesktopShortcut::toggleCommand()
{
    const QString self = QFileInfo(QCoreApplication::applicationFilePath()).canonicalFilePath();
    const QString onPath = QStandardPaths::findExecutable(u"murmel"_s);
    // Compared as canonical paths: a packaged /usr/bin/murmel may be a symbolic link, and
    // a `murmel` on the PATH that is another build must not receive this one's toggle.
    if (!onPath.isEmpty() && QFileInfo(onPath).canonicalFilePath() == self)
        return u"murmel dictation toggle"_s;
    return shellQuoted(QCoreApplication::applicationFilePath()) + u" dictation toggle"_s;
}
