#pragma once

#include "core/desktop/focusprobe.h"
#include "core/desktop/keyboardinjector.h"
#include "core/insert/textinsertion.h"

#include <QCoroTask>
#include <QString>

class Clipboard;
class ClipboardSafeInsertService;
class Preferences;

// Puts finished text where the user is typing: onto the clipboard and, when synthetic keys
// can reach the window that has the keyboard focus, pasted there with the keys that
// window's kind understands. With the clipboard-safe preference on, a dictation is held
// for `murmel insert-last` instead and the clipboard is left alone. The result says only
// what happened: a clipboard that did not take the text is never pasted from.
//
// Main thread only. Holds no state of its own beyond its collaborators, which must
// outlive it. The user's earlier clipboard is neither saved nor restored.
class TextInserter final
{
public:
    TextInserter(ClipboardSafeInsertService &safeInsert, Clipboard &clipboard,
                 KeyboardInjector &injector, FocusProbe &focus, Preferences &preferences);

    // Uses `text` exactly as given. Reads the clipboard-safe preference at each call.
    // Resolves once the paste keys were sent, which waits (boundedly) for the user to let
    // go of the hotkey's modifiers. `injector` is the desktop's routes for keys.
    QCoro::Task<TextInsertionResult> insert(QString text, TextInsertionMethod method);

    // Whether a paste has somewhere to go: some window has the keyboard focus. What the
    // accessibility tree says about the focused element is only logged, never a reason to
    // withhold a paste, since terminals and many toolkits expose nothing or too little.
    bool focusedElementIsEditable() const;

    // The paste keys for a window whose "instance class" names (lower case) are given.
    static KeyboardInjector::PasteKeys pasteKeysFor(const QString &windowClass);

private:
    // The focus probe's answer, logged.
    FocusProbe::Target focusedTarget() const;

    ClipboardSafeInsertService &m_safeInsert;
    Clipboard &m_clipboard;
    KeyboardInjector &m_injector;
    FocusProbe &m_focus;
    Preferences &m_preferences;
};
