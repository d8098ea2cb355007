#include "platform/linux/evdev/EvdevEventHook.h"

#include <poll.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <deque>
#include <list>
#include <optional>
#include <set>
#include <utility>

#include "base/Log.h"
#include "hotkey/ModifierState.h"

namespace zarn::evdev {

using hotkey::HookEvent;
using hotkey::Modifier;
using Steady = std::chrono::steady_clock;

namespace {

// How long a held key event may wait for its verdict before the hook passes it on and
// reports itself disabled, as an event tap does on a timeout.
constexpr auto kVerdictTimeout = std::chrono::seconds(1);

std::optional<Modifier> modifierForCode(unsigned code) {
    switch (code) {
        case KEY_LEFTSHIFT: return Modifier::leftShift;
        case KEY_RIGHTSHIFT: return Modifier::rightShift;
        case KEY_LEFTCTRL: return Modifier::leftControl;
        case KEY_RIGHTCTRL: return Modifier::rightControl;
        case KEY_LEFTALT: return Modifier::leftOption;
        case KEY_RIGHTALT: return Modifier::rightOption;
        case KEY_LEFTMETA: return Modifier::leftCommand;
        case KEY_RIGHTMETA: return Modifier::rightCommand;
        case KEY_CAPSLOCK: return Modifier::capsLock;
        case KEY_FN: return Modifier::fn;
        default: return std::nullopt;
    }
}

}  // namespace

Device::Device(int fd, std::string name, std::function<void(const input_event&)> forward,
               std::function<void()> release)
    : fd_(fd), name_(std::move(name)), forward_(std::move(forward)), release_(std::move(release)) {}

Device::Device(Device&& other) noexcept
    : fd_(std::exchange(other.fd_, -1)),
      name_(std::move(other.name_)),
      id_(std::move(other.id_)),
      forward_(std::move(other.forward_)),
      release_(std::move(other.release_)),
      feedback_(std::move(other.feedback_)),
      deferredGrab_(std::move(other.deferredGrab_)) {
    other.forward_ = nullptr;
    other.release_ = nullptr;
    other.feedback_ = {};
    other.deferredGrab_ = nullptr;
}

Device::~Device() {
    if (release_) release_();
    if (fd_ >= 0) ::close(fd_);
}

struct EvdevEventHook::Session {
    struct Pending {
        std::uint64_t id;
        input_event event;
        Steady::time_point deadline;
    };
    struct Keyboard {
        explicit Keyboard(Device d) : device(std::move(d)) {}
        Device device;
        std::string partial;          // bytes of an event not yet read whole
        std::set<Modifier> held;      // modifiers down on this keyboard
        std::set<unsigned> passedDown;  // keys whose press went on to the system
        std::optional<Pending> pending;
        std::deque<input_event> waiting;  // events behind the pending one, in order
    };

    Handler handler;
    Died died;
    unsigned watchedCode = 0;
    bool grab = false;
    DeviceSource* source = nullptr;  // the hook's; used on this thread only while it runs
    std::list<Keyboard> keyboards;  // a list: keyboards hold their grab and are never moved
    std::shared_ptr<keyhook::HookChannel> channel;
    std::atomic<bool> disabled{false};

    // Hook thread only.
    hotkey::ModifierState state;
    std::uint64_t nextId = 1;

    // Returns why the hook stopped on its own; nothing when it was asked to stop.
    std::optional<std::string> run();
    // False when the keyboard is gone.
    bool readFrom(Keyboard& keyboard);
    void process(Keyboard& keyboard, const input_event& event);
    void settle(Keyboard& keyboard, bool consume);
    void drain(Keyboard& keyboard);
    void drop(std::list<Keyboard>::iterator keyboard);
    void deliver(const HookEvent& event) {
        if (!disabled.load()) handler(event, {});
    }
};

EvdevEventHook::EvdevEventHook(std::unique_ptr<DeviceSource> source) : source_(std::move(source)) {}

EvdevEventHook::~EvdevEventHook() { remove(); }

unsigned EvdevEventHook::linuxKeyCode(PushToTalkKey key) {
    switch (key) {
        case PushToTalkKey::rightOption: return KEY_RIGHTALT;
        case PushToTalkKey::fn: return KEY_FN;
        case PushToTalkKey::rightCommand: return KEY_RIGHTMETA;
    }
    return KEY_RIGHTALT;
}

bool EvdevEventHook::install(PushToTalkKey key, Handler handler, Died died) {
    remove();
    failure_.clear();
    auto session = std::make_shared<Session>();
    session->handler = std::move(handler);
    session->died = std::move(died);
    session->watchedCode = linuxKeyCode(key);
    session->grab = pushToTalkKey::shouldConsumeEvent(key);
    session->source = source_.get();
    std::vector<Device> devices;
    switch (source_->open(session->watchedCode, pushToTalkKey::shouldConsumeEvent(key), devices)) {
        case DeviceSource::Outcome::ok: break;
        case DeviceSource::Outcome::permissionDenied:
            failure_ = "no permission to read the keyboards under /dev/input";
            return false;
        case DeviceSource::Outcome::uinputDenied:
            failure_ = "/dev/uinput is not writable, so the other keys could not be passed on";
            return false;
        case DeviceSource::Outcome::grabbedElsewhere:
            failure_ = "another program has grabbed the keyboard";
            return false;
        case DeviceSource::Outcome::noKeyboard:
            failure_ = "no keyboard has the " + std::string(pushToTalkKey::keyName(key)) + " key";
            return false;
    }
    session->channel = keyhook::HookChannel::make(failure_);
    if (!session->channel) return false;  // the devices close and ungrab on the way out
    for (auto& device : devices) session->keyboards.emplace_back(std::move(device));
    session_ = session;
    thread_.start(
        session->channel, [session] { return session->run(); },
        [session](const std::string& reason) { session->died(reason); });
    return true;
}

void EvdevEventHook::remove() {
    if (!session_) return;
    thread_.stop();
    session_->keyboards.clear();  // ungrabs now, even if a late verdict still holds the session
    session_.reset();
}

void EvdevEventHook::enable() {
    if (session_) session_->disabled.store(false);
}

std::optional<std::string> EvdevEventHook::Session::run() {
    std::vector<pollfd> fds;
    std::string lost;  // why the last keyboard dropped was not simply unplugged
    for (;;) {
        fds.clear();
        for (const auto& keyboard : keyboards) fds.push_back({keyboard.device.fd(), POLLIN, 0});
        const std::size_t feedbackStart = fds.size();
        for (const auto& keyboard : keyboards) fds.push_back({keyboard.device.feedback().fd, POLLIN, 0});
        fds.push_back({source->addedSignal(), POLLIN, 0});
        fds.push_back({channel->wakeFd(), POLLIN, 0});
        int timeout = -1;
        for (const auto& keyboard : keyboards) {
            if (!keyboard.pending) continue;
            auto left = std::chrono::duration_cast<std::chrono::milliseconds>(keyboard.pending->deadline - Steady::now());
            int ms = static_cast<int>(std::max<std::int64_t>(0, left.count()));
            timeout = timeout < 0 ? ms : std::min(timeout, ms);
        }
        if (::poll(fds.data(), fds.size(), timeout) < 0 && errno != EINTR) {
            return std::string("polling the keyboards failed: ") + std::strerror(errno);
        }
        const auto answers = channel->take();
        if (!answers) return std::nullopt;
        for (const auto& [id, consume] : *answers) {
            for (auto& keyboard : keyboards) {
                if (keyboard.pending && keyboard.pending->id == id) {
                    settle(keyboard, consume);
                    drain(keyboard);
                }
            }
        }
        {
            auto keyboard = keyboards.begin();
            for (std::size_t i = feedbackStart; i + 2 < fds.size(); ++i, ++keyboard) {
                if (fds[i].fd >= 0 && (fds[i].revents & POLLIN) && keyboard->device.feedback().pump) {
                    keyboard->device.feedback().pump();
                }
            }
        }
        // Keyboards read in the order polled; one that went away is dropped afterwards.
        std::vector<int> gone;
        for (std::size_t i = 0; i < feedbackStart; ++i) {
            if (fds[i].revents == 0) continue;
            auto it = std::find_if(keyboards.begin(), keyboards.end(),
                                   [fd = fds[i].fd](const Keyboard& k) { return k.device.fd() == fd; });
            if (it == keyboards.end()) continue;
            if (!readFrom(*it)) {
                gone.push_back(fds[i].fd);
            } else if (it->device.grabIsDeferred()) {
                switch (it->device.retryGrab()) {
                    case Device::Grab::taken: Log::hotkey().info("grabbed %{public}s", it->device.name()); break;
                    case Device::Grab::keysDown: break;
                    case Device::Grab::refused:
                        lost = "another program has grabbed " + it->device.name();
                        Log::hotkey().info("%{public}s", lost);
                        gone.push_back(fds[i].fd);
                        break;
                }
            }
        }
        for (int fd : gone) {
            auto it = std::find_if(keyboards.begin(), keyboards.end(),
                                   [fd](const Keyboard& k) { return k.device.fd() == fd; });
            if (it != keyboards.end()) drop(it);
        }
        if (fds[fds.size() - 2].revents & POLLIN) {
            std::set<std::string> open;
            for (const auto& keyboard : keyboards) open.insert(keyboard.device.id());
            std::vector<Device> added;
            source->openAdded(watchedCode, grab, open, added);
            for (auto& device : added) keyboards.emplace_back(std::move(device));
        }
        if (keyboards.empty()) return lost.empty() ? std::string("every keyboard is gone") : lost;
        for (auto& keyboard : keyboards) {
            if (keyboard.pending && Steady::now() >= keyboard.pending->deadline) {
                settle(keyboard, false);
                disabled.store(true);
                handler(HookEvent{hotkey::kTapDisabledByTimeout, 0, state.flags()}, {});
                drain(keyboard);
            }
        }
    }
}

bool EvdevEventHook::Session::readFrom(Keyboard& keyboard) {
    char buffer[sizeof(input_event) * 64];
    for (;;) {
        auto n = ::read(keyboard.device.fd(), buffer, sizeof buffer);
        if (n > 0) {
            keyboard.partial.append(buffer, static_cast<std::size_t>(n));
            std::size_t whole = keyboard.partial.size() / sizeof(input_event);
            for (std::size_t i = 0; i < whole; ++i) {
                input_event event;
                std::memcpy(&event, keyboard.partial.data() + i * sizeof(input_event), sizeof event);
                if (keyboard.pending) {
                    keyboard.waiting.push_back(event);
                } else {
                    process(keyboard, event);
                }
            }
            keyboard.partial.erase(0, whole * sizeof(input_event));
            continue;
        }
        if (n < 0 && errno == EINTR) continue;
        if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) return true;
        if (n == 0) {
            Log::hotkey().info("keyboard %{public}s went away", keyboard.device.name());
        } else {
            Log::hotkey().info("keyboard %{public}s went away: %{public}s", keyboard.device.name(),
                               std::strerror(errno));
        }
        return false;
    }
}

void EvdevEventHook::Session::process(Keyboard& keyboard, const input_event& event) {
    const auto modifier = event.type == EV_KEY ? modifierForCode(event.code) : std::nullopt;
    if (!modifier) {
        keyboard.device.forward(event);
        return;
    }
    if (event.value == 2) {
        // Auto-repeat follows its press: on when the press went on, gone when it was swallowed.
        if (keyboard.passedDown.count(event.code)) keyboard.device.forward(event);
        return;
    }
    const bool down = event.value != 0;
    if (down) {
        keyboard.held.insert(*modifier);
    } else {
        keyboard.held.erase(*modifier);
    }
    auto change = state.change(*modifier, down);
    const bool mustAsk = change && keyboard.device.isGrabbed() && event.code == watchedCode && !disabled.load() &&
                         // a release whose press went on must follow it, or the key sticks
                         (down || !keyboard.passedDown.count(event.code));
    if (!mustAsk) {
        if (change) deliver(*change);
        if (down) {
            keyboard.passedDown.insert(event.code);
        } else {
            keyboard.passedDown.erase(event.code);
        }
        keyboard.device.forward(event);
        return;
    }
    const std::uint64_t id = nextId++;
    keyboard.pending = Pending{id, event, Steady::now() + kVerdictTimeout};
    handler(*change, channel->verdictFor(id));
}

void EvdevEventHook::Session::settle(Keyboard& keyboard, bool consume) {
    const input_event event = keyboard.pending->event;
    keyboard.pending.reset();
    if (consume) return;
    if (event.value != 0) keyboard.passedDown.insert(event.code);
    keyboard.device.forward(event);
}

void EvdevEventHook::Session::drain(Keyboard& keyboard) {
    while (!keyboard.pending && !keyboard.waiting.empty()) {
        input_event event = keyboard.waiting.front();
        keyboard.waiting.pop_front();
        process(keyboard, event);
    }
}

void EvdevEventHook::Session::drop(std::list<Keyboard>::iterator keyboard) {
    // Whatever this keyboard held is up now; nobody would report its release otherwise.
    for (Modifier modifier : keyboard->held) {
        if (auto change = state.change(modifier, false)) deliver(*change);
    }
    keyboards.erase(keyboard);
}

}  // namespace zarn::evdev
