#pragma once

#include <memory>

#include "inject/KeyRoutes.h"

namespace zarn::wl {

// The paste keystroke's routes in this session: XTest for X11 windows (all of them in an X11
// session, XWayland's under Wayland) and the compositor's virtual keyboard for the rest.
// What cannot be opened is left out and logged once.
std::unique_ptr<inject::KeyRoutes> sessionKeys();

}  // namespace zarn::wl
