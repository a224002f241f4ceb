#pragma once

#include "core/desktop/clickobserver.h"

// A ClickObserver for unit tests: the test emits the signals itself.
class FakeClickObserver final : public ClickObserver
{
public:
    bool start() override { watching = true; return true; }
    void stop() override { watching = false; }
    bool seesOtherApplications() const override { return true; }

    bool watching = false;
};
