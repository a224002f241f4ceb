#pragma once

// Gives this process, and the processes it starts, a UTF-8 character type when the
// environment's locale has another one (no locale at all in a container, a cron job or a
// systemd unit; LANG=C; a Latin-1 locale). Qt 6.8 switches the character type itself then,
// but warns on every start; this does it quietly, before Qt starts.
//
// Only the character type changes: LC_CTYPE is set to the same locale's UTF-8 variant where
// it is installed, else to C.UTF-8. Every other category (messages, dates, numbers) keeps
// what the environment says; where LC_ALL overrode them all, its value moves to LANG so it
// still applies to each of them. A locale the environment names but this system lacks is
// left alone: Qt's warning then points at a real fault of the system's configuration.
//
// Call it first thing in main(), before any QCoreApplication: it changes the environment.
void ensureUtf8CharacterType();
