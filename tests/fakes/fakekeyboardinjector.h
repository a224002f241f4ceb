#pragma once

#include "core/desktop/keyboardinjector.h"

#include <chrono>
#include <functional>
#include <QCoroTimer>
#include <QList>

// Records what would have been sent. `typing` decides whether type() succeeds; with a
// delay, paste() and type() suspend like the real ones do while waiting for the keys.
class FakeKeyboardInjector final : public KeyboardInjector
{
public:
    bool isTrusted() const override { return trusted; }
    bool reaches(FocusProbe::Window window) const override
    {
        return trusted && window != FocusProbe::Window::none && (!x11Only || window == FocusProbe::Window::x11);
    }

    QCoro::Task<bool> paste(PasteKeys keys) override
    {
        if (delay.count() > 0) {
            auto waiting = QCoro::sleepFor(delay);
            co_await std::move(waiting);
        }
        if (!sends)
            co_return false;
        pastes.append(keys);
        co_return true;
    }

    QCoro::Task<bool> type(QString text) override
    {
        typeCalls.append(text);
        if (delay.count() > 0) {
            auto waiting = QCoro::sleepFor(delay);
            co_await std::move(waiting);
        }
        if (typing && !typing(text))
            co_return false;
        typed.append(text);
        co_return true;
    }

    bool trusted = true;
    bool sends = true; // whether paste() gets its keys out
    bool x11Only = false; // reaches X11 windows only, as XTEST does
    std::chrono::milliseconds delay{0};
    std::function<bool(const QString &)> typing;
    QList<PasteKeys> pastes;
    QStringList typeCalls; // every request
    QStringList typed;     // the ones that succeeded
};
