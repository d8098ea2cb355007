#include "platform/linux/wayland/SessionKeys.h"

#include <cstdlib>

#include "base/Error.h"
#include "base/Log.h"
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
    std::vector<inject::KeyRoutes::Route> routes;
    if (xtest) {
        auto* x = xtest.get();
        std::function<bool()> reaches;
        if (virtualKeyboard) reaches = [x] { return x->x11WindowFocused(); };
        routes.push_back({"XTest", std::move(xtest), std::move(reaches)});
    }
    if (virtualKeyboard) routes.push_back({"Wayland virtual keyboard", std::move(virtualKeyboard), {}});
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
