#include "core/insert/textinserter.h"

#include "core/base/logging.h"
#include "core/base/preferences.h"
#include "core/base/settings.h"
#include "core/desktop/clipboard.h"
#include "core/desktop/focusprobe.h"
#include "core/insert/clipboardsafeinsertservice.h"

#include <QSet>

namespace {

// xterm and the rxvt family paste the primary selection with Shift+Insert and ignore
// Ctrl+Shift+V.
const QSet<QString> &primarySelectionTerminals()
{
    static const QSet<QString> names{
        QStringLiteral("xterm"), QStringLiteral("uxterm"),       QStringLiteral("rxvt"),
        QStringLiteral("urxvt"), QStringLiteral("rxvt-unicode"), QStringLiteral("urxvt-256color"),
        QStringLiteral("mrxvt"), QStringLiteral("aterm"),        QStringLiteral("eterm"),
    };
    return names;
}

// Terminals where Ctrl+V reaches the shell as a control character and Ctrl+Shift+V pastes
// the clipboard. Matched against both WM_CLASS names and the Wayland application id, which
// some set to a reverse domain.
const QSet<QString> &clipboardTerminals()
{
    static const QSet<QString> names{
        QStringLiteral("gnome-terminal"),
        QStringLiteral("gnome-terminal-server"),
        QStringLiteral("org.gnome.terminal"),
        QStringLiteral("konsole"),
        QStringLiteral("org.kde.konsole"),
        QStringLiteral("xfce4-terminal"),
        QStringLiteral("mate-terminal"),
        QStringLiteral("lxterminal"),
        QStringLiteral("qterminal"),
        QStringLiteral("tilix"),
        QStringLiteral("com.gexperts.tilix"),
        QStringLiteral("terminix"),
        QStringLiteral("terminator"),
        QStringLiteral("alacritty"),
        QStringLiteral("kitty"),
        QStringLiteral("foot"),
        QStringLiteral("footclient"),
        QStringLiteral("wezterm"),
        QStringLiteral("org.wezfurlong.wezterm"),
        QStringLiteral("st"),
        QStringLiteral("st-256color"),
        QStringLiteral("sakura"),
        QStringLiteral("terminology"),
        QStringLiteral("guake"),
        QStringLiteral("yakuake"),
        QStringLiteral("tilda"),
        QStringLiteral("kgx"),
        QStringLiteral("gnome-console"),
        QStringLiteral("org.gnome.console"),
        QStringLiteral("ptyxis"),
        QStringLiteral("org.gnome.ptyxis"),
        QStringLiteral("ghostty"),
        QStringLiteral("com.mitchellh.ghostty"),
        QStringLiteral("io.elementary.terminal"),
        QStringLiteral("pantheon-terminal"),
        QStringLiteral("deepin-terminal"),
        QStringLiteral("cool-retro-term"),
        QStringLiteral("roxterm"),
        QStringLiteral("termite"),
        QStringLiteral("lxqt-terminal"),
        QStringLiteral("blackbox"),
        QStringLiteral("com.raggesilver.blackbox"),
        QStringLiteral("x-terminal-emulator"),
    };
    return names;
}

const char *describe(FocusProbe::Window window)
{
    switch (window) {
    case FocusProbe::Window::none:
        return "none";
    case FocusProbe::Window::x11:
        return "X11";
    case FocusProbe::Window::wayland:
        return "Wayland";
    case FocusProbe::Window::unknown:
        break;
    }
    return "not known";
}

const char *describe(FocusProbe::Editable editable)
{
    switch (editable) {
    case FocusProbe::Editable::yes:
        return "takes text";
    case FocusProbe::Editable::no:
        return "does not take text";
    case FocusProbe::Editable::unknown:
        break;
    }
    return "unknown";
}

} // namespace

TextInserter::TextInserter(ClipboardSafeInsertService &safeInsert, Clipboard &clipboard,
                           KeyboardInjector &injector, FocusProbe &focus, Preferences &preferences)
    : m_safeInsert(safeInsert)
    , m_clipboard(clipboard)
    , m_injector(injector)
    , m_focus(focus)
    , m_preferences(preferences)
{}

KeyboardInjector::PasteKeys TextInserter::pasteKeysFor(const QString &windowClass)
{
    const QStringList names = windowClass.toLower().split(u' ', Qt::SkipEmptyParts);
    for (const QString &name : names) {
        if (primarySelectionTerminals().contains(name))
            return KeyboardInjector::PasteKeys::shiftInsert;
    }
    for (const QString &name : names) {
        if (clipboardTerminals().contains(name))
            return KeyboardInjector::PasteKeys::ctrlShiftV;
    }
    return KeyboardInjector::PasteKeys::ctrlV;
}

FocusProbe::Target TextInserter::focusedTarget() const
{
    const FocusProbe::Target target = m_focus.focusedTarget();
    qCDebug(lcInsert) << "focused window:" << describe(target.window) << target.windowClass
                      << "- accessibility says it" << describe(target.editable);
    return target;
}

bool TextInserter::focusedElementIsEditable() const
{
    return focusedTarget().hasFocus();
}

QCoro::Task<TextInsertionResult> TextInserter::insert(QString text, TextInsertionMethod method)
{
    if (method == TextInsertionMethod::automatic && Settings::clipboardSafeInsert(m_preferences)) {
        m_safeInsert.hold(text);
        co_return TextInsertionResult::heldForSafeInsert;
    }

    // A paste after a write the desktop ignored would paste whatever was there before: the
    // text is kept for `murmel insert-last` instead, and nothing is sent.
    if (!m_clipboard.setText(text)) {
        qCWarning(lcInsert) << "the clipboard did not take the text; it is kept for insert-last";
        m_safeInsert.hold(text);
        co_return TextInsertionResult::notDelivered;
    }

    const FocusProbe::Target target = focusedTarget();
    if (!m_injector.reaches(target.window)) {
        qCDebug(lcInsert) << "no way to send keys to the focused window; the text stays on the clipboard";
        co_return TextInsertionResult::copied;
    }

    // Pasting before the desktop has the new text would paste the old one into the document.
    auto sharing = m_clipboard.whenShared();
    if (!co_await std::move(sharing)) {
        qCWarning(lcInsert) << "the desktop did not take the new clipboard over in time; not pasting";
        co_return TextInsertionResult::copied;
    }
    const KeyboardInjector::PasteKeys keys = pasteKeysFor(target.windowClass);
    if (keys == KeyboardInjector::PasteKeys::shiftInsert && !m_clipboard.setPrimaryText(text)) {
        qCDebug(lcInsert) << "the primary selection did not take the text; not pasting into" << target.windowClass;
        co_return TextInsertionResult::copied;
    }
    auto pasting = m_injector.paste(keys);
    if (!co_await std::move(pasting))
        co_return TextInsertionResult::copied;
    // Keys sent while the compositor would not say what has the focus may have gone
    // nowhere; only the accessibility tree naming a focused text element makes it a paste.
    if (target.window == FocusProbe::Window::unknown && target.editable != FocusProbe::Editable::yes)
        co_return TextInsertionResult::copied;
    co_return TextInsertionResult::inserted;
}
