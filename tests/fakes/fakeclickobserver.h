#pragma once

#include "core/desktop/clickobserver.h"

// A ClickObserver for unit tests: the test emits the signals itself.
class FakeClickObserver final : public ClickObserver
{
public:
    bool start() override
    {
        ++started;
        watching = true;
        return available;
    }
    void stop() override { watching = false; }
    bool seesOtherApplications() const override { return available; }

    bool available = true;
    bool watching = false;
    int started = 0;
};
