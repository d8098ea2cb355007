#pragma once

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "inject/KeySynthesizer.h"

namespace zarn::inject {

// The ways a session offers into the focused window (XTest reaches only X11 windows, a
// Wayland virtual keyboard reaches every window of its compositor), tried in order at every
// paste: the first that reaches the focus posts the shortcut, and the log names it.
class KeyRoutes final : public KeySynthesizer {
public:
    struct Route {
        std::string name;
        std::unique_ptr<KeySynthesizer> keys;
        std::function<bool()> reachesFocus;  // empty: reaches whatever has the focus
    };

    explicit KeyRoutes(std::vector<Route> routes) : routes_(std::move(routes)) {}
    bool postPaste(bool terminal) override;
    bool empty() const { return routes_.empty(); }

private:
    std::vector<Route> routes_;
};

}  // namespace zarn::inject
