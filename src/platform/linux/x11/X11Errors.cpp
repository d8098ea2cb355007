#include "platform/linux/x11/X11Errors.h"

#include <X11/Xlib.h>

#include <cstdlib>
#include <map>
#include <mutex>
#include <set>

#include "base/Error.h"

namespace zarn::x11 {

struct ErrorHandlers {
    static ErrorHandlers& instance() {
        static ErrorHandlers handlers;
        return handlers;
    }

    void installOnce() {
        std::call_once(installed, [this] {
            previousError = XSetErrorHandler(onError);
            previousIoError = XSetIOErrorHandler(onIoError);
        });
    }

    static int onError(Display* display, XErrorEvent* event) {
        auto& self = instance();
        XErrorHandler previous = nullptr;
        {
            std::lock_guard lock(self.mutex);
            if (auto trap = self.traps.find(display); trap != self.traps.end()) {
                if (trap->second->error_ == 0) trap->second->error_ = event->error_code;
                return 0;
            }
            if (self.connections.count(display)) return 0;
            previous = self.previousError;
        }
        return previous ? previous(display, event) : 0;
    }

    static int onIoError(Display* display) {
        auto& self = instance();
        XIOErrorHandler previous = nullptr;
        {
            std::lock_guard lock(self.mutex);
            if (self.connections.count(display)) return 0;
            previous = self.previousIoError;
        }
        if (previous) return previous(display);
        std::exit(1);
    }

    std::once_flag installed;
    std::mutex mutex;
    std::set<Display*> connections;
    std::map<Display*, ErrorTrap*> traps;  // the innermost trap of each display
    XErrorHandler previousError = nullptr;
    XIOErrorHandler previousIoError = nullptr;
};

void adoptConnection(Display* display) {
    auto& handlers = ErrorHandlers::instance();
    handlers.installOnce();
    std::lock_guard lock(handlers.mutex);
    handlers.connections.insert(display);
}

void releaseConnection(Display* display) {
    auto& handlers = ErrorHandlers::instance();
    std::lock_guard lock(handlers.mutex);
    handlers.connections.erase(display);
}

Display* openConnection(const std::string& requested) {
    Display* display = XOpenDisplay(requested.empty() ? nullptr : requested.c_str());
    if (!display) {
        const std::string name = XDisplayName(requested.empty() ? nullptr : requested.c_str());
        throw MessageError(name.empty() ? "cannot open the X display (DISPLAY is not set)"
                                        : "cannot open the X display " + name);
    }
    adoptConnection(display);
    return display;
}

void closeConnection(Display* display) {
    XCloseDisplay(display);
    releaseConnection(display);
}

ErrorTrap::ErrorTrap(Display* display) : display_(display) {
    auto& handlers = ErrorHandlers::instance();
    handlers.installOnce();
    // Errors of requests sent before the trap are not its own.
    XSync(display_, False);
    std::lock_guard lock(handlers.mutex);
    auto& innermost = handlers.traps[display_];
    outer_ = innermost;
    innermost = this;
}

ErrorTrap::~ErrorTrap() {
    XSync(display_, False);
    auto& handlers = ErrorHandlers::instance();
    std::lock_guard lock(handlers.mutex);
    if (outer_) {
        handlers.traps[display_] = outer_;
    } else {
        handlers.traps.erase(display_);
    }
}

int ErrorTrap::sync() {
    XSync(display_, False);
    std::lock_guard lock(ErrorHandlers::instance().mutex);
    return error_;
}

}  // namespace zarn::x11
