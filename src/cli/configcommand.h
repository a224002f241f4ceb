#pragma once

#include <QStringList>

class Preferences;

// `murmel config list | get KEY | set KEY VALUE | unset KEY`: reads and writes the
// preferences the running application reads, so a change takes effect at its next use.
// Returns the process exit code: 0 on success, 1 when the file cannot be written,
// 2 for a bad key, value or usage.
namespace ConfigCommand {

int run(const QStringList &arguments, Preferences &preferences);

// The usage lines of this command.
QString usage();

} // namespace ConfigCommand
