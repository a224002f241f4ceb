#pragma once

#include <QJSEngine>
#include <QQmlEngine>

#include <type_traits>

// How QML reaches an object the composition root made: the singleton's create() hands every
// engine that asks the instance set here, and the engine never owns it. The root sets each
// instance before the first engine loads QML that names the type.
//
// A class declares itself with QML_SINGLETON and derives from QmlSingleton<Class>; it must
// not be default-constructible, or QML would construct one of its own instead of asking
// create(). A type from the core, or a second instance of a class, is declared by a
// QML_FOREIGN struct whose create() calls handOver(); `Tag` tells such instances apart.
//
// Main thread only, like the objects and the engines.
template<typename T, typename Tag = T>
class QmlSingleton
{
public:
    static void setInstance(T *instance) { s_instance = instance; }

    static T *create(QQmlEngine *, QJSEngine *engine)
    {
        static_assert(!std::is_default_constructible_v<T>, "QML would construct its own instead of asking create()");
        return handOver(engine);
    }

    static T *handOver(QJSEngine *engine)
    {
        Q_ASSERT_X(s_instance, "QmlSingleton", "the composition root sets the instance before QML asks for it");
        Q_ASSERT(engine->thread() == s_instance->thread());
        QJSEngine::setObjectOwnership(s_instance, QJSEngine::CppOwnership);
        return s_instance;
    }

private:
    static inline T *s_instance = nullptr;
};

// Hands QML each object as the singleton of its own type.
template<typename... T>
void exposeToQml(T *...objects)
{
    (QmlSingleton<T>::setInstance(objects), ...);
}
