#pragma once

#include "core/dictation/dictationcontroller.h"
#include "core/dictation/hotkeyrecorder.h"
#include "core/hud/hudcontroller.h"
#include "core/hud/hudmodel.h"
#include "core/speech/modellistmodel.h"
#include "core/speech/modelstore.h"
#include "gui/viewmodels/qmlsingleton.h"

#include <QtQml/qqmlregistration.h>

// The core's objects the screens show, declared to QML here because the core has no QML:
// the application's one dictation controller, model store, model list and hotkey recorder
// as singletons, and the dictation display's model and controller as types its window is
// given.

struct DictationSingleton
{
    Q_GADGET
    QML_FOREIGN(DictationController)
    QML_NAMED_ELEMENT(Dictation)
    QML_SINGLETON

public:
    static DictationController *create(QQmlEngine *, QJSEngine *engine)
    {
        return QmlSingleton<DictationController>::handOver(engine);
    }
};

struct ModelStoreSingleton
{
    Q_GADGET
    QML_FOREIGN(ModelStore)
    QML_NAMED_ELEMENT(ModelStore)
    QML_SINGLETON

public:
    static ModelStore *create(QQmlEngine *, QJSEngine *engine) { return QmlSingleton<ModelStore>::handOver(engine); }
};

struct ModelListSingleton
{
    Q_GADGET
    QML_FOREIGN(ModelListModel)
    QML_NAMED_ELEMENT(ModelList)
    QML_SINGLETON

public:
    static ModelListModel *create(QQmlEngine *, QJSEngine *engine)
    {
        return QmlSingleton<ModelListModel>::handOver(engine);
    }
};

struct HotkeyRecorderSingleton
{
    Q_GADGET
    QML_FOREIGN(HotkeyRecorder)
    QML_NAMED_ELEMENT(HotkeyRecorder)
    QML_SINGLETON

public:
    static HotkeyRecorder *create(QQmlEngine *, QJSEngine *engine)
    {
        return QmlSingleton<HotkeyRecorder>::handOver(engine);
    }
};

struct HUDModelType
{
    Q_GADGET
    QML_FOREIGN(HUDModel)
    QML_NAMED_ELEMENT(HUDModel)
    QML_UNCREATABLE("The dictation display is given its model")
};

struct HUDControllerType
{
    Q_GADGET
    QML_FOREIGN(HUDController)
    QML_NAMED_ELEMENT(HUDController)
    QML_UNCREATABLE("The dictation display is given its controller")
};
