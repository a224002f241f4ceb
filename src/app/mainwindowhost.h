#pragma once

// The main window as the commands see it: something to bring in front of the user.
// Closing the window only hides it, so presenting always has a window to show.
class MainWindowHost
{
public:
    virtual ~MainWindowHost() = default;

    // Shows the window (again, after it was closed), raises it and asks for the focus.
    virtual void present() = 0;
};
