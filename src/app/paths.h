#pragma once

#include <QString>

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

} // namespace Paths
