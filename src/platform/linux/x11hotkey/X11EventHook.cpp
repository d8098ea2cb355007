#include "platform/linux/x11hotkey/X11EventHook.h"

#include <X11/XKBlib.h>
#include <X11/Xlib.h>
#include <X11/extensions/XInput2.h>
#include <X11/keysym.h>
#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <map>
#include <mutex>
#include <optional>
#include <set>
#include <utility>
#include <vector>

#include "base/Log.h"
#include "hotkey/ModifierState.h"

namespace zarn::x11 {

using hotkey::HookEvent;
using hotkey::Modifier;
using Steady = std::chrono::steady_clock;

namespace {

// How long a frozen press may wait for its verdict before the hook gives up, lets the
// press through and reports itself disabled, as an event tap does on a timeout.
constexpr auto kVerdictTimeout = std::chrono::seconds(1);

// Physical keys by their XKB names, so that layouts which give Right Alt another symbol
// (AltGr layouts make it ISO_Level3_Shift) still find the same key.
const std::map<std::string, Modifier>& modifiersByKeyName() {
    static const std::map<std::string, Modifier> table{
        {"LFSH", Modifier::leftShift},  {"RTSH", Modifier::rightShift},   {"LCTL", Modifier::leftControl},
        {"RCTL", Modifier::rightControl}, {"LALT", Modifier::leftOption}, {"RALT", Modifier::rightOption},
        {"LWIN", Modifier::leftCommand},  {"RWIN", Modifier::rightCommand}, {"CAPS", Modifier::capsLock},
    };
    return table;
}

// XF86XK_Fn; its header macro is undefined again at the end of the header.
constexpr KeySym kXF86Fn = 0x10081000 + 0x1D0;

std::optional<Modifier> modifierForKeysym(KeySym sym) {
    if (sym == kXF86Fn) return Modifier::fn;
    switch (sym) {
        case XK_Shift_L: return Modifier::leftShift;
        case XK_Shift_R: return Modifier::rightShift;
        case XK_Control_L: return Modifier::leftControl;
        case XK_Control_R: return Modifier::rightControl;
        case XK_Alt_L: return Modifier::leftOption;
        case XK_Alt_R: return Modifier::rightOption;
        case XK_Super_L: return Modifier::leftCommand;
        case XK_Super_R: return Modifier::rightCommand;
        case XK_Caps_Lock: return Modifier::capsLock;
        default: return std::nullopt;
    }
}

std::map<int, Modifier> readModifierKeycodes(Display* display) {
    std::map<int, Modifier> result;
    int minCode = 0;
    int maxCode = 0;
    XDisplayKeycodes(display, &minCode, &maxCode);
    XkbDescPtr desc = XkbGetMap(display, 0, XkbUseCoreKbd);
    if (desc && XkbGetNames(display, XkbKeyNamesMask, desc) == Success && desc->names && desc->names->keys) {
        for (int code = minCode; code <= maxCode; ++code) {
            std::string name(desc->names->keys[code].name, strnlen(desc->names->keys[code].name, XkbKeyNameLength));
            auto found = modifiersByKeyName().find(name);
            if (found != modifiersByKeyName().end()) result[code] = found->second;
        }
    }
    if (desc) XkbFreeKeyboard(desc, 0, True);
    // Keys the names do not cover (Fn, or a server without key names) by their symbols.
    for (int code = minCode; code <= maxCode; ++code) {
        if (result.count(code)) continue;
        auto modifier = modifierForKeysym(XkbKeycodeToKeysym(display, static_cast<KeyCode>(code), 0, 0));
        if (!modifier) continue;
        bool alreadyNamed = false;
        for (const auto& entry : result) alreadyNamed = alreadyNamed || entry.second == *modifier;
        if (!alreadyNamed || *modifier == Modifier::fn) result[code] = *modifier;
    }
    return result;
}

// Errors of requests whose outcome we check; Xlib's error handler is process-wide.
std::mutex gErrorMutex;
std::atomic<Display*> gCheckedDisplay{nullptr};
std::atomic<int> gCheckedError{0};
XErrorHandler gPreviousHandler = nullptr;

int recordError(Display* display, XErrorEvent* error) {
    if (display == gCheckedDisplay.load()) {
        gCheckedError.store(error->error_code);
        return 0;
    }
    return gPreviousHandler ? gPreviousHandler(display, error) : 0;
}

// Runs `requests` and returns the first X error they caused (0 for none).
template <class F>
int checkedRequests(Display* display, F requests) {
    std::lock_guard lock(gErrorMutex);
    gCheckedError.store(0);
    gCheckedDisplay.store(display);
    gPreviousHandler = XSetErrorHandler(recordError);
    requests();
    XSync(display, False);
    XSetErrorHandler(gPreviousHandler);
    gCheckedDisplay.store(nullptr);
    return gCheckedError.load();
}

// A lost connection ends the process in Xlib's default I/O error handler, which is
// process-wide; ours returns for the hook's own connections (each also has an exit handler
// that marks it lost) and leaves every other connection to the handler it replaced.
std::mutex gIoMutex;
std::set<Display*> gOwnDisplays;
std::vector<Display*> gDeadDisplays;
XIOErrorHandler gPreviousIoHandler = nullptr;
std::once_flag gIoHandlerInstalled;

int ioErrorHandler(Display* display) {
    {
        std::lock_guard lock(gIoMutex);
        if (gOwnDisplays.count(display)) return 0;
    }
    if (gPreviousIoHandler) return gPreviousIoHandler(display);
    std::exit(1);
}

void adoptConnection(Display* display) {
    std::call_once(gIoHandlerInstalled, [] { gPreviousIoHandler = XSetIOErrorHandler(ioErrorHandler); });
    std::lock_guard lock(gIoMutex);
    gOwnDisplays.insert(display);
}

void forgetConnection(Display* display) {
    std::lock_guard lock(gIoMutex);
    gOwnDisplays.erase(display);
}

}  // namespace

// Everything the hook thread owns, plus the small channel through which verdicts and the
// stop request reach it. Verdicts hold it weakly, so a late one finds nothing to do.
struct X11EventHook::Session : std::enable_shared_from_this<X11EventHook::Session> {
    Display* display = nullptr;
    int xiOpcode = 0;
    Window root = 0;
    Handler handler;
    std::map<int, Modifier> modifiers;  // key code → modifier
    std::set<int> grabbed;              // key codes held by the passive grab
    std::array<int, 2> wake{-1, -1};
    std::atomic<bool> connectionLost{false};
    // Set by the hook thread on a verdict timeout, cleared by enable() from the main thread.
    std::atomic<bool> disabled{false};

    std::mutex mutex;
    bool stopRequested = false;
    std::deque<std::pair<std::uint64_t, bool>> verdicts;

    // Hook thread only.
    hotkey::ModifierState state;
    struct Pending {
        std::uint64_t id;
        Steady::time_point deadline;
    };
    std::optional<Pending> pending;
    std::uint64_t nextId = 1;
    bool replayedPress = false;  // the grabbed key's press went to the other clients

    ~Session() {
        for (int fd : wake) {
            if (fd >= 0) ::close(fd);
        }
        if (!display) return;
        if (connectionLost.load()) {
            // XCloseDisplay blocks forever on a connection that failed, so the dead
            // connection is kept (reachable, not leaked) instead.
            std::lock_guard lock(gIoMutex);
            gDeadDisplays.push_back(display);
            return;
        }
        XCloseDisplay(display);
        forgetConnection(display);
    }

    void poke() {
        char byte = 1;
        [[maybe_unused]] auto written = ::write(wake[1], &byte, 1);
    }

    void run();
    void handleEvent(XEvent& event);
    void deliver(const HookEvent& event, hotkey::Verdict verdict = {}) {
        if (!disabled) handler(event, std::move(verdict));
    }
    void allow(bool consume);
};

X11EventHook::X11EventHook(std::string displayName) : displayName_(std::move(displayName)) {}

X11EventHook::~X11EventHook() { remove(); }

bool X11EventHook::install(PushToTalkKey key, Handler handler) {
    remove();
    auto session = std::make_shared<Session>();
    session->handler = std::move(handler);
    session->display = XOpenDisplay(displayName_.empty() ? nullptr : displayName_.c_str());
    if (!session->display) {
        Log::hotkey().error("cannot open the X display %{public}s",
                            displayName_.empty() ? std::string("$DISPLAY") : displayName_);
        return false;
    }
    Display* display = session->display;
    adoptConnection(display);
    XSetIOErrorExitHandler(
        display, [](Display*, void* data) { static_cast<Session*>(data)->connectionLost.store(true); },
        session.get());

    int event = 0;
    int error = 0;
    int major = 2;
    int minor = 1;  // raw events reach every client, grab or not, since 2.1
    if (!XQueryExtension(display, "XInputExtension", &session->xiOpcode, &event, &error) ||
        XIQueryVersion(display, &major, &minor) != Success || major < 2 || (major == 2 && minor < 1)) {
        Log::hotkey().error("the X server has no XInput 2.1");
        return false;
    }
    session->root = DefaultRootWindow(display);
    session->modifiers = readModifierKeycodes(display);
    const Modifier watched = hotkey::modifierOf(key);
    for (const auto& [code, modifier] : session->modifiers) {
        if (modifier == watched && pushToTalkKey::shouldConsumeEvent(key)) session->grabbed.insert(code);
    }
    const bool mapped = std::any_of(session->modifiers.begin(), session->modifiers.end(),
                                    [watched](const auto& entry) { return entry.second == watched; });
    if (!mapped && !pushToTalkKey::shouldConsumeEvent(key)) {
        // Many keyboards handle Fn in their firmware; the hook is in place but will not see it.
        Log::hotkey().info("the keyboard map has no key for %{public}s", pushToTalkKey::displayName(key));
    }
    if (pushToTalkKey::shouldConsumeEvent(key) && session->grabbed.empty()) {
        Log::hotkey().error("no key for %{public}s in the keyboard map", pushToTalkKey::displayName(key));
        return false;
    }

    unsigned char maskBits[XIMaskLen(XI_LASTEVENT)] = {};
    XISetMask(maskBits, XI_RawKeyPress);
    XISetMask(maskBits, XI_RawKeyRelease);
    XIEventMask mask{XIAllMasterDevices, static_cast<int>(sizeof(maskBits)), maskBits};
    int failure = checkedRequests(display, [&] {
        XISelectEvents(display, session->root, &mask, 1);
        for (int code : session->grabbed) {
            // Keyboard frozen at each press until the verdict; pointer untouched.
            XGrabKey(display, code, AnyModifier, session->root, False, GrabModeAsync, GrabModeSync);
        }
    });
    if (failure != 0) {
        Log::hotkey().error("the X server refused the key grab (error %{public}d)", failure);
        return false;  // closing the display drops whatever part was taken
    }
    if (::pipe2(session->wake.data(), O_CLOEXEC | O_NONBLOCK) != 0) {
        Log::hotkey().error("cannot create the hook's wake pipe");
        return false;
    }
    session_ = session;
    thread_ = std::thread([session] { session->run(); });
    return true;
}

void X11EventHook::remove() {
    if (!session_) return;
    {
        std::lock_guard lock(session_->mutex);
        session_->stopRequested = true;
    }
    session_->poke();
    if (thread_.joinable()) thread_.join();
    session_.reset();  // closes the connection, which ends the grab and any freeze
}

void X11EventHook::enable() {
    if (!session_) return;
    session_->disabled.store(false);
}

void X11EventHook::Session::allow(bool consume) {
    // Consuming keeps the grab until the key comes up; replaying hands the press (and so
    // the release) to the other clients as if the grab did not exist.
    XAllowEvents(display, consume ? AsyncKeyboard : ReplayKeyboard, CurrentTime);
    if (!consume) replayedPress = true;
    XFlush(display);
    pending.reset();
}

void X11EventHook::Session::run() {
    const int xfd = ConnectionNumber(display);
    for (;;) {
        while (!connectionLost.load() && XPending(display) > 0) {
            XEvent event;
            XNextEvent(display, &event);
            handleEvent(event);
        }
        if (connectionLost.load()) {
            Log::hotkey().error("lost the connection to the X display");
            return;
        }

        int timeout = -1;
        if (pending) {
            auto left = std::chrono::duration_cast<std::chrono::milliseconds>(pending->deadline - Steady::now());
            timeout = static_cast<int>(std::max<std::int64_t>(0, left.count()));
        }
        pollfd fds[2] = {{xfd, POLLIN, 0}, {wake[0], POLLIN, 0}};
        ::poll(fds, 2, timeout);
        if (fds[1].revents & POLLIN) {
            char buffer[64];
            while (::read(wake[0], buffer, sizeof buffer) > 0) {
            }
        }

        std::deque<std::pair<std::uint64_t, bool>> answers;
        {
            std::lock_guard lock(mutex);
            if (stopRequested) return;
            answers.swap(verdicts);
        }
        for (const auto& [id, consume] : answers) {
            if (pending && pending->id == id) allow(consume);
        }
        if (pending && Steady::now() >= pending->deadline) {
            allow(false);
            disabled.store(true);
            handler(HookEvent{hotkey::kTapDisabledByTimeout, 0, state.flags()}, {});
        }
        if (fds[0].revents & (POLLERR | POLLHUP)) connectionLost.store(true);
    }
}

void X11EventHook::Session::handleEvent(XEvent& event) {
    if (event.type == GenericEvent && event.xcookie.extension == xiOpcode) {
        if (!XGetEventData(display, &event.xcookie)) return;
        const auto* raw = static_cast<const XIRawEvent*>(event.xcookie.data);
        const bool press = event.xcookie.evtype == XI_RawKeyPress;
        const bool isKey = press || event.xcookie.evtype == XI_RawKeyRelease;
        const int code = raw->detail;
        const bool repeat = (raw->flags & XIKeyRepeat) != 0;
        XFreeEventData(display, &event.xcookie);
        if (!isKey || repeat) return;
        auto found = modifiers.find(code);
        if (found == modifiers.end()) return;
        if (grabbed.count(code)) {
            // The grab reports this key's press itself; its release comes from the raw
            // stream only when the press was replayed and the grab is gone.
            if (press || !replayedPress) return;
            replayedPress = false;
        }
        if (auto change = state.change(found->second, press)) deliver(*change);
        return;
    }
    if ((event.type == KeyPress || event.type == KeyRelease) && grabbed.count(static_cast<int>(event.xkey.keycode))) {
        const Modifier modifier = modifiers.at(static_cast<int>(event.xkey.keycode));
        if (event.type == KeyRelease) {
            if (auto change = state.change(modifier, false)) deliver(*change);
            return;
        }
        auto change = state.change(modifier, true);
        if (!change || disabled) {
            allow(false);
            return;
        }
        const std::uint64_t id = nextId++;
        pending = Pending{id, Steady::now() + kVerdictTimeout};
        std::weak_ptr<Session> weak = weak_from_this();
        handler(*change, [weak, id](bool consume) {
            auto session = weak.lock();
            if (!session) return;
            {
                std::lock_guard lock(session->mutex);
                session->verdicts.emplace_back(id, consume);
            }
            session->poke();
        });
    }
}

}  // namespace zarn::x11
