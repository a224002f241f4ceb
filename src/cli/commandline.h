#pragma once

#include <QStringList>

// The `murmel` subcommands, which run without a display. main() hands the arguments
// here when the first one names a command.
namespace CommandLine {

// True when `arguments` (without the program name) ask for a command, not the window.
bool isCommand(const QStringList &arguments);

// Runs the command to its end inside a QCoreApplication and returns the exit code.
int run(const QStringList &arguments);

// The usage text, listing every command.
QString usage();

} // namespace CommandLine
