#include "inject/KeyRoutes.h"

#include "base/Log.h"

namespace zarn::inject {

bool KeyRoutes::postPaste(bool terminal) {
    for (auto& route : routes_) {
        if (route.reachesFocus && !route.reachesFocus()) continue;
        Log::inject().info("paste keystroke via %{public}s%{public}s", route.name, terminal ? " (terminal)" : "");
        return route.keys->postPaste(terminal);
    }
    Log::inject().error("no way to send the paste keystroke to the focused window in this session");
    return false;
}

}  // namespace zarn::inject
