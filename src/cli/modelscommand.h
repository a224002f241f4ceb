#pragma once

#include <QStringList>

#include <QCoroTask>

class ModelStore;

// `murmel models [list]` and `murmel models download NAME`. Downloads draw a progress bar
// when standard error is a terminal and print one plain line when done; Ctrl-C cancels
// cleanly. Resolves to the exit code: 0 on success, 1 when the download failed,
// 2 for a bad model name or usage, 130 when interrupted.
namespace ModelsCommand {

QCoro::Task<int> run(QStringList arguments, ModelStore &store);

QString usage();

} // namespace ModelsCommand
