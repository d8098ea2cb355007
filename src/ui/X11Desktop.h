#pragma once

#include <QPoint>

#include <optional>

// What only the X server knows about the desktop; nothing on other platforms.
namespace zarn::ui::x11desktop {

// A compositing manager owns _NET_WM_CM_S<screen>: only then is translucency drawn.
bool compositorRuns();
// The centre of the window holding the keyboard focus, in root coordinates.
std::optional<QPoint> focusedWindowCentre();

}  // namespace zarn::ui::x11desktop
