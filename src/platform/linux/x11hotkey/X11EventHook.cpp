#include "platform/linux/x11hotkey/X11EventHook.h"

#include <X11/XKBlib.h>
#include <X11/Xlib.h>
#include <X11/extensions/XInput2.h>
#include <X11/keysym.h>
#include <poll.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <chrono>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <map>
#include <mutex>
#include <optional>
#include <set>
#include <utility>
#include <vector>

#include "base/Log.h"
#include "hotkey/ModifierState.h"
#include "platform/linux/x11/X11Errors.h"

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

// Connections that failed: XCloseDisplay blocks forever on them, so they are kept (reachable,
// not leaked) instead.
std::mutex gDeadMutex;
std::vector<Display*> gDeadDisplays;

}  // namespace

// Everything the hook thread owns, plus the small channel through which verdicts and the
// stop request reach it. Verdicts hold it weakly, so a late one finds nothing to do.
struct X11EventHook::Session {
    Display* display = nullptr;
    int xiOpcode = 0;
    Window root = 0;
    Handler handler;
    Died died;
    std::map<int, Modifier> modifiers;  // key code → modifier
    std::set<int> grabbed;              // key codes held by the passive grab
    std::shared_ptr<keyhook::HookChannel> channel;
    std::atomic<bool> connectionLost{false};
    // Set by the hook thread on a verdict timeout, cleared by enable() from the main thread.
    std::atomic<bool> disabled{false};

    // Hook thread only.
    hotkey::ModifierState state;
    struct Pending {
        std::uint64_t id;
        int code;
        Steady::time_point deadline;
    };
    std::optional<Pending> pending;
    std::uint64_t nextId = 1;
    // While the swallowed key is down the keyboard stays grabbed and frozen between events:
    // each other key event is handed on to the focused window and the grab taken again, so
    // that the key's own release comes to us and not to the application.
    bool holding = false;
    int heldCode = 0;

    ~Session() {
        if (!display) return;
        if (connectionLost.load()) {
            // XCloseDisplay blocks forever on a connection that failed, so the dead
            // connection is kept (reachable, not leaked) instead.
            std::lock_guard lock(gDeadMutex);
            gDeadDisplays.push_back(display);
            return;
        }
        XCloseDisplay(display);
        x11::releaseConnection(display);
    }

    // Returns why the hook stopped on its own; nothing when it was asked to stop.
    std::optional<std::string> run();
    void handleEvent(XEvent& event);
    void passWhileHeld(const XKeyEvent& event);
    bool holdAgain();
    void deliver(const HookEvent& event, hotkey::Verdict verdict = {}) {
        if (!disabled) handler(event, std::move(verdict));
    }
    void allow(bool consume);
};

X11EventHook::X11EventHook(std::string displayName) : displayName_(std::move(displayName)) {}

X11EventHook::~X11EventHook() { remove(); }

bool X11EventHook::install(PushToTalkKey key, Handler handler, Died died) {
    remove();
    failure_.clear();
    auto session = std::make_shared<Session>();
    session->handler = std::move(handler);
    session->died = std::move(died);
    const char* fromEnvironment = std::getenv("DISPLAY");
    const std::string name = !displayName_.empty() ? displayName_ : fromEnvironment ? fromEnvironment : "";
    if (name.empty()) {
        failure_ = "no X display (DISPLAY is not set)";
        return false;
    }
    session->display = XOpenDisplay(name.c_str());
    if (!session->display) {
        failure_ = "cannot open the X display " + name;
        return false;
    }
    Display* display = session->display;
    x11::adoptConnection(display);
    XSetIOErrorExitHandler(
        display, [](Display*, void* data) { static_cast<Session*>(data)->connectionLost.store(true); },
        session.get());

    int event = 0;
    int error = 0;
    int major = 2;
    int minor = 1;  // raw events reach every client, grab or not, since 2.1
    if (!XQueryExtension(display, "XInputExtension", &session->xiOpcode, &event, &error) ||
        XIQueryVersion(display, &major, &minor) != Success || major < 2 || (major == 2 && minor < 1)) {
        failure_ = "the X server has no XInput 2.1";
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
        Log::hotkey().info("the keyboard map has no key for %{public}s", pushToTalkKey::keyName(key));
    }
    if (pushToTalkKey::shouldConsumeEvent(key) && session->grabbed.empty()) {
        failure_ = "the keyboard map has no " + std::string(pushToTalkKey::keyName(key)) + " key";
        return false;
    }

    unsigned char maskBits[XIMaskLen(XI_LASTEVENT)] = {};
    XISetMask(maskBits, XI_RawKeyPress);
    XISetMask(maskBits, XI_RawKeyRelease);
    XIEventMask mask{XIAllMasterDevices, static_cast<int>(sizeof(maskBits)), maskBits};
    int failure = 0;
    {
        x11::ErrorTrap trap(display);
        XISelectEvents(display, session->root, &mask, 1);
        for (int code : session->grabbed) {
            // Keyboard frozen at each press until the verdict; pointer untouched.
            XGrabKey(display, code, AnyModifier, session->root, False, GrabModeAsync, GrabModeSync);
        }
        failure = trap.sync();
    }
    // Closing the display on the way out drops whatever part was taken.
    if (failure == BadAccess) {
        failure_ = "another program holds a grab of " + std::string(pushToTalkKey::keyName(key));
        return false;
    }
    if (failure != 0) {
        failure_ = "the X server refused the grab of " + std::string(pushToTalkKey::keyName(key)) + " (error " +
                   std::to_string(failure) + ")";
        return false;
    }
    session->channel = keyhook::HookChannel::make(failure_);
    if (!session->channel) return false;
    session_ = session;
    thread_.start(
        session->channel, [session] { return session->run(); },
        [session](const std::string& reason) { session->died(reason); });
    return true;
}

void X11EventHook::remove() {
    if (!session_) return;
    thread_.stop();
    session_.reset();  // closes the connection, which ends the grab and any freeze
}

void X11EventHook::enable() {
    if (!session_) return;
    session_->disabled.store(false);
}

void X11EventHook::Session::allow(bool consume) {
    // Consuming keeps the keyboard until its next event, which passWhileHeld() decides;
    // replaying hands the press (and so the release) to the other clients as if the grab
    // did not exist.
    XAllowEvents(display, consume ? SyncKeyboard : ReplayKeyboard, CurrentTime);
    XFlush(display);
    holding = consume;
    heldCode = pending->code;
    pending.reset();
}

void X11EventHook::Session::passWhileHeld(const XKeyEvent& event) {
    const int code = static_cast<int>(event.keycode);
    if (code == heldCode && event.type == KeyRelease) {
        // Ungrabbing also thaws the keyboard, so that the events queued behind the release go
        // where they would have gone without us (thawing first would hand them to our grab).
        XUngrabKeyboard(display, CurrentTime);
        XFlush(display);
        holding = false;
        if (auto change = state.change(modifiers.at(code), false)) deliver(*change);
        return;
    }
    if (code == heldCode) {  // a repeat of the held key
        XAllowEvents(display, SyncKeyboard, CurrentTime);
        XFlush(display);
        return;
    }
    holding = holdAgain();
}

bool X11EventHook::Session::holdAgain() {
    Window focus = 0;
    int revert = 0;
    XGetInputFocus(display, &focus, &revert);
    // On the focus window itself the grab sends it no focus-out and focus-in events.
    const Window on = focus == None || focus == PointerRoot ? root : focus;
    // Replaying ends the grab and delivers the event as if there had been none (passive
    // grabs at and above the grab window aside, so global shortcuts do not fire meanwhile).
    // The grab goes out with it, no round trip between, so that the events behind come to us.
    XAllowEvents(display, ReplayKeyboard, CurrentTime);
    int status = XGrabKeyboard(display, on, False, GrabModeAsync, GrabModeSync, CurrentTime);
    if (status != GrabSuccess && on != root) {
        status = XGrabKeyboard(display, root, False, GrabModeAsync, GrabModeSync, CurrentTime);
    }
    // Another program's grab (a menu the key opened, say) wins; the release will reach it.
    if (status != GrabSuccess) return false;
    // The release may have been handed on with the events queued behind the replayed one.
    char keys[32] = {};
    XQueryKeymap(display, keys);
    if ((keys[heldCode / 8] & (1 << (heldCode % 8))) == 0) {
        XUngrabKeyboard(display, CurrentTime);
        XFlush(display);
        return false;
    }
    XAllowEvents(display, SyncKeyboard, CurrentTime);
    XFlush(display);
    return true;
}

std::optional<std::string> X11EventHook::Session::run() {
    const int xfd = ConnectionNumber(display);
    for (;;) {
        while (!connectionLost.load() && XPending(display) > 0) {
            XEvent event;
            XNextEvent(display, &event);
            handleEvent(event);
        }
        if (connectionLost.load()) return "lost the connection to the X display";

        int timeout = -1;
        if (pending) {
            auto left = std::chrono::duration_cast<std::chrono::milliseconds>(pending->deadline - Steady::now());
            timeout = static_cast<int>(std::max<std::int64_t>(0, left.count()));
        }
        pollfd fds[2] = {{xfd, POLLIN, 0}, {channel->wakeFd(), POLLIN, 0}};
        if (::poll(fds, 2, timeout) < 0 && errno != EINTR) {
            return std::string("waiting for X events failed: ") + std::strerror(errno);
        }
        const auto answers = channel->take();
        if (!answers) return std::nullopt;
        for (const auto& [id, consume] : *answers) {
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
        // The grab reports the grabbed key's press itself, with its verdict.
        if (press && grabbed.count(code)) return;
        if (auto change = state.change(found->second, press)) deliver(*change);
        return;
    }
    if (event.type != KeyPress && event.type != KeyRelease) return;
    if (holding) {
        passWhileHeld(event.xkey);
        return;
    }
    if (event.type == KeyPress && grabbed.count(static_cast<int>(event.xkey.keycode))) {
        const int code = static_cast<int>(event.xkey.keycode);
        auto change = state.change(modifiers.at(code), true);
        pending = Pending{nextId++, code, Steady::now() + kVerdictTimeout};
        if (!change || disabled) {
            allow(false);
            return;
        }
        handler(*change, channel->verdictFor(pending->id));
    }
}

}  // namespace zarn::x11
