#pragma once

#include <QDBusConnection>
#include <QStringList>

// `murmel insert-last`: asks the running Murmel, over the session bus, to type the dictation
// it holds for the clipboard-safe insert into the focused window. Meant to be bound to a
// key in the desktop's shortcut settings. Silent on success (exit 0); otherwise the reason
// on standard error and exit 1 (2 for bad usage).
namespace InsertLastCommand {

int run(const QStringList &arguments, QDBusConnection bus = QDBusConnection::sessionBus());

QString usage();

} // namespace InsertLastCommand
