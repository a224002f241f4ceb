#pragma once

#include <QIcon>
#include <QImage>

// The eye Murmel shows in the desktop's panel: 18 × 18 logical pixels, a ring around a
// disc. Idle it is one light neutral grey, since Linux tray hosts show pixmaps as they are
// instead of tinting them to the panel; while recording it is violet with a cyan-to-pink
// disc. Each image is drawn once per device pixel ratio and reused.
//
// Call from the GUI thread only (the cache is not locked); icon() needs a QGuiApplication.
namespace MenuBarEye {

// The logical edge length of both images.
constexpr int logicalSize = 18;

// The name under which an installed icon theme may carry the idle eye as a symbolic icon,
// which desktops that recolour symbolic icons fit to their panel.
QString symbolicIconName();

// The eye at `devicePixelRatio` (a square of ceil(18 × ratio) device pixels, with that
// ratio set on the image), premultiplied ARGB.
QImage image(bool recording, qreal devicePixelRatio);

// The eye with its 1×, 2× and 3× images, so a tray host can pick a sharp one. Idle, the
// theme's symbolic icon is preferred when the theme has it.
QIcon icon(bool recording);

} // namespace MenuBarEye
