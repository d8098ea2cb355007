#pragma once

#include <memory>

#include "inject/KeyRoutes.h"
#include "platform/linux/wayland/DataControlClipboard.h"

namespace zarn::wl {

// The paste keystroke's routes in this session: XTest for X11 windows (all of them in an X11
// session, XWayland's under Wayland), then the compositor's virtual keyboard, or else a
// uinput keyboard, for the rest. What cannot be opened is left out and logged once.
std::unique_ptr<inject::KeyRoutes> sessionKeys();

// The Wayland session's clipboard through data-control, or nullptr (logged) when this is no
// Wayland session or the compositor lacks the protocol (GNOME): then XWayland's X11
// clipboard is the one to use.
std::unique_ptr<DataControlClipboard> sessionDataControl();

}  // namespace zarn::wl
