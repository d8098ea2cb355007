#include "platform/linux/session/XvfbServer.h"

#include <X11/Xlib.h>

#include <stdexcept>
#include <vector>

#include "platform/linux/x11/X11Errors.h"

namespace zarn::test {

XvfbServer::XvfbServer(const std::string& display) {
    // Without -noreset Xvfb resets whenever its last client leaves and refuses connections meanwhile.
    std::vector<std::string> argv{"Xvfb"};
    if (!display.empty()) argv.push_back(display);
    argv.insert(argv.end(), {"-displayfd", "1", "-nolisten", "tcp", "-noreset", "-screen", "0", "1024x768x24"});
    try {
        process_ = std::make_unique<ChildProcess>(argv);
    } catch (const std::exception& e) {
        failure_ = e.what();
        return;
    }
    const auto number = process_->readLine(std::chrono::seconds(30));
    if (!number || number->empty()) {
        failure_ = "Xvfb did not report a display: " + process_->err();
        process_.reset();
        return;
    }
    display_ = ":" + *number;
}

bool keyIsFreeToGrab(const std::string& display, int keycode) {
    Display* other = XOpenDisplay(display.c_str());
    if (!other) return false;
    bool refused = false;
    {
        // The hook under test shares the process's error handler.
        x11::ErrorTrap trap(other);
        XGrabKey(other, keycode, AnyModifier, DefaultRootWindow(other), False, GrabModeAsync, GrabModeAsync);
        refused = trap.sync() != 0;
    }
    XCloseDisplay(other);
    return !refused;
}

}  // namespace zarn::test
