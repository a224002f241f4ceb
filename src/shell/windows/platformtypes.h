#pragma once

#include "gui/viewmodels/qmlsingleton.h"
#include "platform/portal/desktopappearance.h"
#include "platform/portal/filechooser.h"

#include <QtQml/qqmlregistration.h>

// The desktop's facilities the windows hand to the screens, declared to QML here because the
// platform has no QML: the contrast and motion wishes for the theme, and the file dialogs.
struct AppearanceSingleton
{
    Q_GADGET
    QML_FOREIGN(DesktopAppearance)
    QML_NAMED_ELEMENT(Appearance)
    QML_SINGLETON

public:
    static DesktopAppearance *create(QQmlEngine *, QJSEngine *engine)
    {
        return QmlSingleton<DesktopAppearance>::handOver(engine);
    }
};

struct FileChooserSingleton
{
    Q_GADGET
    QML_FOREIGN(FileChooser)
    QML_NAMED_ELEMENT(FileChooser)
    QML_SINGLETON

public:
    static FileChooser *create(QQmlEngine *, QJSEngine *engine) { return QmlSingleton<FileChooser>::handOver(engine); }
};
