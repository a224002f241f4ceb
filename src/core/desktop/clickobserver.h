#pragma once

#include <QObject>

// Watches the clicks and the Escape key of the whole desktop for click-to-insert without
// taking them from anyone (on X11: XInput2 raw events on the root window; for our own
// windows: an event filter). Main thread only; signals arrive on it.
class ClickObserver : public QObject
{
    Q_OBJECT

public:
    using QObject::QObject;

    // Begins watching; false when the desktop offers no way to see other applications'
    // clicks (our own windows are still watched then).
    virtual bool start() = 0;
    virtual void stop() = 0;
    // Whether clicks in every other application's windows can be seen here at all (under
    // Wayland no client sees the input of native windows).
    virtual bool seesOtherApplications() const = 0;

Q_SIGNALS:
    // A left click in another application's window; it reaches that window as usual.
    void outsideClick();
    // A left click in one of Murmel's own windows; it reaches the window as usual.
    void ownWindowClick();
    // Escape pressed anywhere. Pressed in one of Murmel's windows it is swallowed; in
    // another application it still reaches it.
    void escapePressed();
};
