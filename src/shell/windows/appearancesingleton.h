#pragma once

#include "gui/viewmodels/qmlsingleton.h"
#include "platform/portal/desktopappearance.h"

#include <QtQml/qqmlregistration.h>

// The desktop's contrast and motion wishes, which the main window hands to the theme,
// declared to QML here because the platform has no QML.
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
