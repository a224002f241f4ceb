#pragma once

#include <QString>

// Output of the command-line commands: results on standard output, messages and
// progress on standard error, both UTF-8 and flushed at once, every write checked.
namespace Console {

void out(const QString &line);
// Standard output exactly as given, for texts that end in their own line feed.
void write(const QString &text);
void err(const QString &line);
// True when standard error is a terminal, so progress can redraw one line in place.
bool errIsTerminal();
// Redraws the current line of standard error (terminals only); `text` has no newline.
void errStatus(const QString &text);
// Ends a line drawn by errStatus.
void errStatusDone();

// `text` safe to show on a terminal: control characters (escape sequences that would
// retitle or clear it, a title's stray line break) become U+FFFD. Line breaks and tabs stay
// where `keepLines` says, as in a transcript's text.
QString printable(const QString &text, bool keepLines = false);

// Why a write to standard output failed (a full disk, a closed file), or an empty string
// while every write has gone through. The first failure is kept.
QString outError();
// The exit code a command ends with: `code`, or 1 with the reason on standard error when
// its output was lost, so `murmel … > file` never reports success for a cut file.
int finish(int code);

} // namespace Console
