#include "platform/linux/session/PasteTarget.h"

#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <X11/keysym.h>
#include <poll.h>

#include <stdexcept>

#include "platform/linux/x11clipboard/X11Selection.h"
#include "support/ChildProcess.h"

namespace zarn::test {

PasteTarget::PasteTarget(const std::string& wmClass, std::string copyOnPaste) {
    thread_ = std::thread([this, wmClass, copyOnPaste] { run(wmClass, copyOnPaste); });
    std::unique_lock lock(mutex_);
    changed_.wait_for(lock, std::chrono::seconds(10), [this] { return ready_ || failed_; });
    if (!ready_) {
        stop_ = true;
        lock.unlock();
        thread_.join();
        throw std::runtime_error("the paste target window could not take the focus");
    }
}

PasteTarget::~PasteTarget() {
    {
        std::lock_guard lock(mutex_);
        stop_ = true;
    }
    thread_.join();
}

std::optional<PasteTarget::Paste> PasteTarget::waitForPaste(std::chrono::milliseconds timeout) {
    std::unique_lock lock(mutex_);
    if (!changed_.wait_for(lock, timeout, [this] { return !pastes_.empty(); })) return std::nullopt;
    auto paste = pastes_.front();
    pastes_.pop_front();
    return paste;
}

void PasteTarget::run(const std::string& wmClass, const std::string& copyOnPaste) {
    Display* display = XOpenDisplay(nullptr);
    if (!display) {
        std::lock_guard lock(mutex_);
        failed_ = true;
        changed_.notify_all();
        return;
    }
    Window window = XCreateSimpleWindow(display, DefaultRootWindow(display), 0, 0, 200, 100, 0, 0, 0xffffff);
    XClassHint hint{const_cast<char*>(wmClass.c_str()), const_cast<char*>(wmClass.c_str())};
    XSetClassHint(display, window, &hint);
    XSelectInput(display, window, KeyPressMask | StructureNotifyMask);
    XMapRaised(display, window);
    XEvent event;
    do {
        XNextEvent(display, &event);
    } while (event.type != MapNotify);
    // The focus is ours once the server says so; a freshly mapped window may need a retry.
    Window focus = None;
    waitUntil(
        [&] {
            XSetInputFocus(display, window, RevertToPointerRoot, CurrentTime);
            XSync(display, False);
            int revert = 0;
            XGetInputFocus(display, &focus, &revert);
            return focus == window;
        },
        std::chrono::seconds(2));
    {
        std::lock_guard lock(mutex_);
        ready_ = focus == window;
        failed_ = !ready_;
        changed_.notify_all();
        if (failed_) {
            XCloseDisplay(display);
            return;
        }
    }
    x11::X11Selection clipboard("");
    while (true) {
        {
            std::lock_guard lock(mutex_);
            if (stop_) break;
        }
        clipboard.dispatchPending();  // serves what this window copied
        if (XPending(display) == 0) {
            pollfd p[2] = {{ConnectionNumber(display), POLLIN, 0}, {clipboard.fd(), POLLIN, 0}};
            poll(p, 2, 50);
            continue;
        }
        XNextEvent(display, &event);
        if (event.type != KeyPress) continue;
        if (XLookupKeysym(&event.xkey, 0) != XK_v || !(event.xkey.state & ControlMask)) continue;
        Paste paste;
        paste.shift = (event.xkey.state & ShiftMask) != 0;
        if (auto content = clipboard.read()) {
            for (const auto& t : *content) {
                if (t.target == "UTF8_STRING") paste.text = t.bytes;
            }
        }
        if (!copyOnPaste.empty()) clipboard.own(x11::textTargets(copyOnPaste));
        std::lock_guard lock(mutex_);
        pastes_.push_back(paste);
        changed_.notify_all();
    }
    XDestroyWindow(display, window);
    XCloseDisplay(display);
}

}  // namespace zarn::test
