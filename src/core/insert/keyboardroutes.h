#pragma once

#include "core/desktop/keyboardinjector.h"

#include <QList>

// The desktop's ways of sending keys, in order of preference, behind one injector: each
// paste or typing run goes through the first way that can send now and reaches the window
// that has the focus. On Wayland that is the compositor's own injection for native windows
// and XTEST as a last resort for XWayland ones; on X11, XTEST alone.
//
// Main thread only; the probe and the injectors must outlive it.
class KeyboardRoutes final : public KeyboardInjector
{
public:
    // `home` is the kind of window the session's own applications have (x11 on X11,
    // wayland on Wayland): being able to send keys means reaching those.
    KeyboardRoutes(FocusProbe &focus, QList<KeyboardInjector *> injectors, FocusProbe::Window home);

    bool isTrusted() const override;
    bool reaches(FocusProbe::Window window) const override;
    QCoro::Task<bool> paste(PasteKeys keys) override;
    QCoro::Task<bool> type(QString text) override;

    // The way keys would take to a window of that kind, or none.
    KeyboardInjector *route(FocusProbe::Window window) const;

private:
    FocusProbe &m_focus;
    QList<KeyboardInjector *> m_injectors;
    FocusProbe::Window m_home;
};
