#pragma once

class HUDModel;

// The floating window that shows the dictation display. Main thread only.
//
// present() creates the window on first use (showing `model`), places it bottom-centre on
// the primary screen's available area, 96 px above its bottom edge, 260 × 60, and brings it
// to the front without taking the keyboard focus from the application the user types in.
// Without a screen it keeps its last place.
class HUDPanel
{
public:
    virtual ~HUDPanel() = default;
    virtual void present(HUDModel &model) = 0;
    virtual void dismiss() = 0;
    virtual bool isVisible() const = 0;
};
