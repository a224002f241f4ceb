#pragma once

#include "core/desktop/hudpanel.h"

// A HUDPanel for unit tests: counts the presentations and tracks visibility.
class FakeHUDPanel final : public HUDPanel
{
public:
    void present(HUDModel &) override
    {
        ++presented;
        visible = true;
    }
    void dismiss() override { visible = false; }
    bool isVisible() const override { return visible; }

    int presented = 0;
    bool visible = false;
};
