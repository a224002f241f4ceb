#pragma once

#include "core/desktop/mainwindowhost.h"

// A MainWindowHost for unit tests: counts how often the window was brought forward.
class FakeMainWindowHost final : public MainWindowHost
{
public:
    void present() override { ++presented; }
    void setActivationToken(const QString &) override {}

    int presented = 0;
};
