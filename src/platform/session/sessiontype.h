#pragma once

#include <QProcessEnvironment>
#include <QString>
#include <QStringList>

// The kind of graphical session Murmel runs in, worked out once at start: which paths to
// the clipboard, the keys and the focus exist depends on it.
struct SessionType
{
    enum class Display { x11, wayland };
    // The compositor family of a Wayland session; none on X11.
    enum class Compositor { none, kwin, mutter, wlroots, other };

    Display display = Display::x11;
    Compositor compositor = Compositor::none;

    // From the session's variables and, on Wayland, the interfaces the compositor offers
    // (which tell the families apart even where the variables were not set).
    static SessionType classify(const QProcessEnvironment &environment, const QStringList &waylandInterfaces);

    bool isWayland() const { return display == Display::wayland; }
    // For the log: "X11", "Wayland (KWin)".
    QString description() const;
};
