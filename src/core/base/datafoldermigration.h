#pragma once

#include <QString>

// Early builds kept their data in a folder named "Mur"; later ones look for "Murmel".
namespace DataFolderMigration {

// Renames dataHome/Mur to dataHome/Murmel when Mur is a folder and nothing named Murmel
// exists. Anything else, a failed rename included, leaves both names as they were: start-up
// goes on with whatever folder there is, so a failure is only logged. Call it before
// anything opens the data folder.
void run(const QString &dataHome);

} // namespace DataFolderMigration
