#pragma once

// How a caller wants a piece of text inserted.
enum class TextInsertionMethod {
    automatic, // a dictation: honours the clipboard-safe preference
    direct     // the user just chose the target (click-to-insert): always the clipboard and a paste
};

// What happened to the text, which the caller turns into the confirmation the user sees.
enum class TextInsertionResult {
    inserted,         // on the clipboard, and the paste keys were sent to the focused window
    copied,           // on the clipboard only; the user pastes by hand
    heldForSafeInsert // not on the clipboard: held for `murmel insert-last`
};
