#include "core/base/datafoldermigration.h"

#include "core/base/logging.h"

#include <QDir>
#include <QFileInfo>

namespace DataFolderMigration {

void run(const QString &dataHome)
{
    const QFileInfo old(dataHome + QStringLiteral("/Mur"));
    const QFileInfo current(dataHome + QStringLiteral("/Murmel"));
    // A file named Mur is not ours to move.
    if (!old.isDir())
        return;
    // A dangling link counts as there: it may point at a disk that is not mounted yet, and
    // moving Mur over it would lose the way to that data.
    if (current.exists() || current.isSymLink())
        return;
    if (!QDir(dataHome).rename(QStringLiteral("Mur"), QStringLiteral("Murmel"))) {
        qCInfo(lcApp) << "could not rename the old data folder" << old.filePath() << "to" << current.filePath()
                      << "; carrying on without it";
        return;
    }
    qCInfo(lcApp) << "moved the data folder" << old.filePath() << "to" << current.filePath();
}

} // namespace DataFolderMigration
