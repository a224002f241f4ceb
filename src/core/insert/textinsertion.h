#pragma once

// How a caller wants a piece of text inserted.
enum class TextInsertionMethod {
    automatic, // a dictation: honours the clipboard-safe preference
    direct     // the user just chose the target (click-to-insert): always the clipboard and a paste
};

// What happened to the text, which the caller turns into the confirmation the user sees.
// Each case says only what did happen.
enum class TextInsertionResult {
    inserted,          // on the clipboard, and pasted by a way that reaches the focused window
    copied,            // on the clipboard; the user pastes by hand (or a paste went where we cannot see)
    heldForSafeInsert, // not on the clipboard by choice: held for `murmel insert-last`
    notDelivered       // the clipboard refused it and nothing was pasted: held for
                       // `murmel insert-last`, and in the history like every dictation
};

#include <QString>

// What the display says when the clipboard refused the text and nothing was pasted: where
// the words are now.
inline QString notDeliveredText()
{
    return QStringLiteral("Not inserted · kept in History");
}
