#pragma once

#include <QString>
#include <QUrl>

// Read-only facts about this build and where users reach us. Any thread.
namespace AppInfo {

// The release, "0.1.0".
QString shortVersion();
// The number of commits the build was made from; "0" for a build outside a repository.
QString build();

QUrl website();
QString supportAddress();

// The distribution's own name for itself ("Debian GNU/Linux 12 (bookworm)"), or "Linux".
QString operatingSystemName();

// A mailto link to the support address whose subject and body name this version and build
// and the given operating system, so a report says what it was sent from.
QUrl supportMailUrl(const QString &operatingSystem);
QUrl supportMailUrl();

} // namespace AppInfo
