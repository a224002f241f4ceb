#pragma once

#include <QStringList>

class HistoryStore;

// `murmel history [--kind dictation|file] [--search TEXT] [--json]`, `murmel history show ID`
// and `murmel history delete ID`. Returns the exit code: 0 on success, 1 for an unknown
// id, 2 for bad usage. A running Murmel keeps the history it loaded at start: a record
// deleted here comes back when the running application next saves.
namespace HistoryCommand {

int run(const QStringList &arguments, HistoryStore &store);

QString usage();

} // namespace HistoryCommand
