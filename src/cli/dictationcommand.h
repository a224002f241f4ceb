#pragma once

#include <QDBusConnection>
#include <QStringList>

// `murmel dictation start|stop|toggle`: drives the running Murmel's dictation over the
// session bus, for binding in the desktop's own keyboard settings (the way to a hotkey on
// Wayland desktops without the global shortcuts portal). Silent on success (exit 0, also
// when Murmel had nothing to do); "Murmel is not running." and exit 1 when there is no
// Murmel; exit 2 for bad usage.
namespace DictationCommand {

int run(const QStringList &arguments, QDBusConnection bus = QDBusConnection::sessionBus());

QString usage();

} // namespace DictationCommand
