#pragma once

#include <linux/input.h>

#include <filesystem>
#include <functional>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "hotkey/EventHook.h"
#include "platform/linux/keyhook/HookThread.h"

namespace zarn::evdev {

// One opened keyboard. Owns its descriptor and, while it is grabbed, the grab and the
// pass-through device: both end when the object is destroyed, so a keyboard can never be
// left captured, whichever way the hook goes down.
class Device {
public:
    Device(int fd, std::string name, std::function<void(const input_event&)> forward = {},
           std::function<void()> release = {});
    ~Device();
    Device(Device&& other) noexcept;
    Device& operator=(Device&&) = delete;
    Device(const Device&) = delete;

    int fd() const { return fd_; }
    const std::string& name() const { return name_; }
    // Tells the keyboard apart from others of the same name (its device path); the name by default.
    const std::string& id() const { return id_.empty() ? name_ : id_; }
    void setId(std::string id) { id_ = std::move(id); }

    // What the system sends back to a grabbed keyboard (its LEDs) arrives at the pass-through
    // device; `pump` carries it over to the keyboard when `fd` is readable.
    struct Feedback {
        int fd = -1;  // not owned
        std::function<void()> pump;
    };
    void setFeedback(Feedback feedback) { feedback_ = std::move(feedback); }
    const Feedback& feedback() const { return feedback_; }
    bool isGrabbed() const { return forward_ && !deferredGrab_; }
    // Hands an event on to the rest of the system; only a grabbed device has to.
    void forward(const input_event& event) const {
        if (isGrabbed()) forward_(event);
    }

    // A grab put off because keys were down: taking it then would keep their releases from
    // the system. Until it is taken the keyboard is only watched.
    enum class Grab { taken, keysDown, refused };
    void deferGrab(std::function<Grab()> attempt) { deferredGrab_ = std::move(attempt); }
    bool grabIsDeferred() const { return static_cast<bool>(deferredGrab_); }
    // Tries the deferred grab again; it is forgotten once taken.
    Grab retryGrab() {
        const Grab result = deferredGrab_();
        if (result == Grab::taken) deferredGrab_ = nullptr;
        return result;
    }

private:
    int fd_;
    std::string name_;
    std::string id_;
    std::function<void(const input_event&)> forward_;
    std::function<void()> release_;
    Feedback feedback_;
    std::function<Grab()> deferredGrab_;
};

// Finds and opens the keyboards to watch.
class DeviceSource {
public:
    enum class Outcome { ok, permissionDenied, uinputDenied, grabbedElsewhere, noKeyboard };
    virtual ~DeviceSource() = default;
    // Opens every keyboard that has the key `code`; when `grab`, takes each one for itself
    // (or defers that, see Device::deferGrab) and passes its other events on. Never waits
    // for keys to come up. On failure nothing stays open or grabbed.
    virtual Outcome open(unsigned code, bool grab, std::vector<Device>& devices) = 0;
    // Readable when keyboards may have been plugged in since open(); -1 when never.
    virtual int addedSignal() const { return -1; }
    // Opens, like open(), the keyboards plugged in since, skipping the ids in `open`.
    virtual void openAdded(unsigned /*code*/, bool /*grab*/, const std::set<std::string>& /*open*/,
                           std::vector<Device>& /*devices*/) {}
};

// The keyboards under a folder of event devices (normally /dev/input), read with libevdev,
// grabbed with EVIOCGRAB and passed on through a uinput device per keyboard.
class InputDeviceSource final : public DeviceSource {
public:
    explicit InputDeviceSource(std::filesystem::path folder = "/dev/input");
    ~InputDeviceSource() override;
    InputDeviceSource(const InputDeviceSource&) = delete;
    InputDeviceSource& operator=(const InputDeviceSource&) = delete;

    Outcome open(unsigned code, bool grab, std::vector<Device>& devices) override;
    int addedSignal() const override { return added_; }
    void openAdded(unsigned code, bool grab, const std::set<std::string>& open, std::vector<Device>& devices) override;

private:
    enum class Opened { device, skipped, denied, uinputDenied, busy };
    static Opened openOne(const std::filesystem::path& path, unsigned code, bool grab, std::vector<Device>& into);

    std::filesystem::path folder_;
    int added_ = -1;  // inotify on the folder
};

// One file of input_event records, an event device or a named pipe, read as the only
// keyboard and never grabbed (nothing is passed on, so no uinput device is needed). What
// ZARN_EVDEV_DEVICE names: a way for tests to press keys where there is no keyboard. A pipe's
// writer keeps it open for as long as the keys are wanted; its end is the keyboard's.
class FileEventSource final : public DeviceSource {
public:
    explicit FileEventSource(std::filesystem::path path) : path_(std::move(path)) {}
    Outcome open(unsigned code, bool grab, std::vector<Device>& devices) override;

private:
    std::filesystem::path path_;
};

// The key hook for Wayland sessions and consoles: reads the keyboards' input events on its
// own thread. When the key's edges are to be swallowed, the keyboards are grabbed and each
// event of the key is held back until its verdict; the events behind it wait in order.
// A keyboard whose keys were down at the start is grabbed by the hook's thread once they
// are up. The hook dies when reading fails or the last keyboard is gone.
class EvdevEventHook final : public hotkey::EventHook {
public:
    explicit EvdevEventHook(std::unique_ptr<DeviceSource> source = std::make_unique<InputDeviceSource>());
    ~EvdevEventHook() override;
    EvdevEventHook(const EvdevEventHook&) = delete;
    EvdevEventHook& operator=(const EvdevEventHook&) = delete;

    bool install(PushToTalkKey key, Handler handler, Died died) override;
    std::string failure() const override { return failure_; }
    void remove() override;
    void enable() override;

    // Linux key code of the key (KEY_RIGHTALT, KEY_FN, KEY_RIGHTMETA).
    static unsigned linuxKeyCode(PushToTalkKey key);

    struct Session;

private:
    std::unique_ptr<DeviceSource> source_;
    std::string failure_;
    std::shared_ptr<Session> session_;
    keyhook::HookThread thread_;
};

}  // namespace zarn::evdev
