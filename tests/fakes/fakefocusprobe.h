#pragma once

#include "core/desktop/focusprobe.h"

// Answers with whatever the test put in `target`.
class FakeFocusProbe final : public FocusProbe
{
public:
    Target focusedTarget() const override { return target; }

    Target target{Window::x11, QStringLiteral("kate kate"), Editable::yes};
};
