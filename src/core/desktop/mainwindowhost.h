#pragma once

#include <QString>

// The main window as the commands see it: something to bring in front of the user.
// Closing the window only hides it, so presenting always has a window to show.
class MainWindowHost
{
public:
    virtual ~MainWindowHost() = default;

    // Shows the window (again, after it was closed), raises it and asks for the focus.
    virtual void present() = 0;
    // The desktop's leave to take the focus, handed over by the launch that asked for the
    // window (an xdg-activation token or an X11 startup id): the next present() shows it to
    // the desktop, so the window comes forward instead of only asking for attention.
    virtual void setActivationToken(const QString &token) = 0;
};
