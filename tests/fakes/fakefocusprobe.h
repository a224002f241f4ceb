#pragma once

#include "core/desktop/focusprobe.h"

// Answers with whatever the test put in `target`, and counts the questions.
class FakeFocusProbe final : public FocusProbe
{
public:
    Target focusedTarget() const override
    {
        ++questions;
        return target;
    }

    Target target{Window::x11, QStringLiteral("kate kate"), Editable::yes};
    mutable int questions = 0;
};
