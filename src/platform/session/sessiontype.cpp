#include "platform/session/sessiontype.h"

namespace {

SessionType::Compositor fromInterfaces(const QStringList &interfaces)
{
    const auto any = [&](std::initializer_list<const char *> names) {
        for (const char *name : names) {
            if (interfaces.contains(QLatin1String(name)))
                return true;
        }
        return false;
    };
    // sway offers KDE's decoration and idle interfaces too: only KWin's own ones count.
    if (any({"org_kde_kwin_fake_input", "org_kde_plasma_shell", "org_kde_kwin_blur_manager",
             "org_kde_plasma_window_management"}))
        return SessionType::Compositor::kwin;
    if (any({"gtk_shell1", "gtk_primary_selection_device_manager"}))
        return SessionType::Compositor::mutter;
    if (any({"zwlr_layer_shell_v1", "zwlr_foreign_toplevel_manager_v1", "zwlr_data_control_manager_v1"}))
        return SessionType::Compositor::wlroots;
    return SessionType::Compositor::none;
}

SessionType::Compositor fromVariables(const QProcessEnvironment &environment)
{
    const QStringList desktops =
        environment.value(QStringLiteral("XDG_CURRENT_DESKTOP")).toLower().split(u':', Qt::SkipEmptyParts);
    if (desktops.contains(u"kde"))
        return SessionType::Compositor::kwin;
    if (desktops.contains(u"gnome") || desktops.contains(u"gnome-classic") || desktops.contains(u"ubuntu") ||
        desktops.contains(u"unity"))
        return SessionType::Compositor::mutter;
    if (desktops.contains(u"sway") || desktops.contains(u"hyprland") || desktops.contains(u"river") ||
        desktops.contains(u"wayfire") || desktops.contains(u"labwc") ||
        environment.contains(QStringLiteral("SWAYSOCK")) ||
        environment.contains(QStringLiteral("HYPRLAND_INSTANCE_SIGNATURE")))
        return SessionType::Compositor::wlroots;
    return SessionType::Compositor::none;
}

} // namespace

SessionType SessionType::classify(const QProcessEnvironment &environment, const QStringList &waylandInterfaces)
{
    SessionType session;
    const bool wayland = environment.value(QStringLiteral("XDG_SESSION_TYPE")) == u"wayland" ||
                         !environment.value(QStringLiteral("WAYLAND_DISPLAY")).isEmpty();
    if (!wayland)
        return session;
    session.display = Display::wayland;
    // What the compositor offers is what it is; the variables are what someone set.
    session.compositor = fromInterfaces(waylandInterfaces);
    if (session.compositor == Compositor::none)
        session.compositor = fromVariables(environment);
    if (session.compositor == Compositor::none)
        session.compositor = Compositor::other;
    return session;
}

QString SessionType::description() const
{
    if (display == Display::x11)
        return QStringLiteral("X11");
    switch (compositor) {
    case Compositor::kwin:
        return QStringLiteral("Wayland (KWin)");
    case Compositor::mutter:
        return QStringLiteral("Wayland (Mutter)");
    case Compositor::wlroots:
        return QStringLiteral("Wayland (wlroots)");
    case Compositor::none:
    case Compositor::other:
        break;
    }
    return QStringLiteral("Wayland (other compositor)");
}
