#pragma once

#include <filesystem>
#include <memory>
#include <string>

#include "support/ChildProcess.h"
#include "support/ScopedEnv.h"

namespace zarn::test {

// A headless sway with XWayland, run as nobody when the test runs as root (sway refuses
// root; root's clients may still connect, and XWayland is told to let them in). While the
// object lives, WAYLAND_DISPLAY, XDG_RUNTIME_DIR, SWAYSOCK and DISPLAY point at it.
class SwaySession {
public:
    SwaySession();
    ~SwaySession();
    SwaySession(const SwaySession&) = delete;
    SwaySession& operator=(const SwaySession&) = delete;

    // Empty when every program needed is installed, else the missing one.
    static std::string missingTool();
    // Runs a sway command (swaymsg); true when sway accepted it, so criteria that match no
    // window ("[app_id=foot con_id=__focused__] nop") answer whether a window has the focus.
    bool command(const std::string& command);
    // The clipboard's text as a Wayland client pastes it (wl-paste).
    static std::string clipboard();
    const std::filesystem::path& runtimeDir() const { return runtime_; }

private:
    std::filesystem::path runtime_;
    ScopedEnv env_;
    std::unique_ptr<ChildProcess> sway_;
};

}  // namespace zarn::test
