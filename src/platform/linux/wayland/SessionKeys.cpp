#include "platform/linux/wayland/SessionKeys.h"

#include <unistd.h>

#include <cstdlib>

#include "base/Error.h"
#include "base/Log.h"
#include "platform/linux/uinput/UinputKeyboard.h"
#include "platform/linux/wayland/VirtualKeyboard.h"
#include "platform/linux/xtest/XTestKeySynthesizer.h"

namespace zarn::wl {

std::unique_ptr<inject::KeyRoutes> sessionKeys() {
    std::unique_ptr<x11::XTestKeySynthesizer> xtest;
    std::unique_ptr<VirtualKeyboard> virtualKeyboard;
    if (std::getenv("DISPLAY")) {
        try {
            xtest = std::make_unique<x11::XTestKeySynthesizer>();
        } catch (const MessageError& e) {
            Log::inject().error("no XTest paste: %{public}s", std::string(e.what()));
        }
    }
    if (std::getenv("WAYLAND_DISPLAY")) {
        try {
            virtualKeyboard = std::make_unique<VirtualKeyboard>();
        } catch (const MessageError& e) {
            Log::inject().error("no Wayland paste: %{public}s", std::string(e.what()));
        }
    }
    // Without the protocol (GNOME), a keyboard of our own through /dev/uinput, where the
    // evdev backend's permission allows it; the compositor reads it with its own keymap.
    std::unique_ptr<uinput::UinputKeyboard> uinputKeyboard;
    if (std::getenv("WAYLAND_DISPLAY") && !virtualKeyboard && access("/dev/uinput", W_OK) == 0) {
        try {
            uinputKeyboard = std::make_unique<uinput::UinputKeyboard>([] { return seatKeymap(); });
        } catch (const MessageError& e) {
            Log::inject().error("no uinput paste: %{public}s", std::string(e.what()));
        }
    }
    std::vector<inject::KeyRoutes::Route> routes;
    if (xtest) {
        auto* x = xtest.get();
        std::function<bool()> reaches;
        if (virtualKeyboard || uinputKeyboard) reaches = [x] { return x->x11WindowFocused(); };
        routes.push_back({"XTest", std::move(xtest), std::move(reaches)});
    }
    if (virtualKeyboard) routes.push_back({"Wayland virtual keyboard", std::move(virtualKeyboard), {}});
    if (uinputKeyboard) routes.push_back({"uinput keyboard", std::move(uinputKeyboard), {}});
    return std::make_unique<inject::KeyRoutes>(std::move(routes));
}

std::unique_ptr<DataControlClipboard> sessionDataControl() {
    if (!std::getenv("WAYLAND_DISPLAY")) return nullptr;
    try {
        auto clipboard = std::make_unique<DataControlClipboard>();
        Log::inject().info("clipboard: Wayland data-control");
        return clipboard;
    } catch (const MessageError& e) {
        Log::inject().info("clipboard: X11 (%{public}s)", std::string(e.what()));
        return nullptr;
    }
}

}  // namespace zarn::wl
