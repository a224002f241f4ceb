#pragma once

#include <QString>
#include <QStringList>

// Where Murmel keeps its files, following the XDG base directories.
// Each call reads the environment, so tests can point the folders elsewhere.
namespace Paths {

// $XDG_CONFIG_HOME (~/.config when unset or relative)
QString configHome();
// $XDG_DATA_HOME (~/.local/share when unset or relative)
QString dataHome();
// $XDG_CONFIG_HOME/Murmel
QString configDirectory();
// $XDG_DATA_HOME/Murmel: the data folder with Models/ and History/ inside.
QString dataDirectory();
// $XDG_DATA_HOME/Murmel/Models
QString modelsDirectory();

// $XDG_CONFIG_HOME/Murmel/preferences.json
QString preferencesFile();

// $XDG_DATA_HOME/Murmel/History/history.json
QString historyFile();

// Where Murmel's modules (the FFmpeg decoder, the engine's processor and graphics code) may
// be, first match wins: beside an installed program's libraries, then the build tree this
// program was built in. Absolute paths, because a sanitizer's dlopen would not search the
// program's run path.
QStringList moduleFolders();

// Murmel's folders and files hold transcripts, preferences and models: for the user alone.
// Creates `folder` as QDir::mkpath does, with every folder it creates and `folder` itself
// (made earlier by an older Murmel, perhaps) readable by the user only (0700). False when
// the folder cannot be created.
bool makePrivateFolder(const QString &folder);
// Read and write for the user only (0600), on a file of Murmel's that may have been created
// readable by others; a file that does not exist is left alone.
void makePrivateFile(const QString &file);

} // namespace Paths
