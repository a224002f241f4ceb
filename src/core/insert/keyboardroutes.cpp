#include "core/insert/keyboardroutes.h"

#include "core/base/logging.h"

KeyboardRoutes::KeyboardRoutes(FocusProbe &focus, QList<KeyboardInjector *> injectors, FocusProbe::Window home)
    : m_focus(focus)
    , m_injectors(std::move(injectors))
    , m_home(home)
{}

KeyboardInjector *KeyboardRoutes::route(FocusProbe::Window window) const
{
    if (window == FocusProbe::Window::none)
        return nullptr;
    for (KeyboardInjector *injector : m_injectors) {
        if (injector->reaches(window) && injector->isTrusted())
            return injector;
    }
    return nullptr;
}

bool KeyboardRoutes::isTrusted() const
{
    return route(m_home) != nullptr;
}

bool KeyboardRoutes::reaches(FocusProbe::Window window) const
{
    return route(window) != nullptr;
}

QCoro::Task<bool> KeyboardRoutes::paste(PasteKeys keys)
{
    KeyboardInjector *injector = route(m_focus.focusedTarget().window);
    if (!injector) {
        qCDebug(lcInsert) << "no way to send keys to the focused window";
        co_return false;
    }
    auto pasting = injector->paste(keys);
    co_return co_await std::move(pasting);
}

QCoro::Task<bool> KeyboardRoutes::type(QString text)
{
    KeyboardInjector *injector = route(m_focus.focusedTarget().window);
    if (!injector) {
        qCDebug(lcInsert) << "no way to type into the focused window";
        co_return false;
    }
    auto typing = injector->type(std::move(text));
    co_return co_await std::move(typing);
}
