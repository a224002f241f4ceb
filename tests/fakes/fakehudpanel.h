#pragma once

#include "core/desktop/hudpanel.h"

// A HUDPanel for unit tests: counts what it was asked to do and tracks visibility.
class FakeHUDPanel final : public HUDPanel
{
public:
    void present(HUDModel &model) override
    {
        lastModel = &model;
        ++presented;
        visible = true;
    }
    void dismiss() override
    {
        ++dismissed;
        visible = false;
    }
    bool isVisible() const override { return visible; }

    HUDModel *lastModel = nullptr;
    int presented = 0;
    int dismissed = 0;
    bool visible = false;
};
