#include <fcntl.h>
#include <libevdev/libevdev-uinput.h>
#include <libevdev/libevdev.h>
#include <sys/inotify.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstring>

#include "base/Log.h"
#include "platform/linux/evdev/EvdevEventHook.h"

namespace zarn::evdev {

namespace {

constexpr std::string_view kPassThroughPrefix = "Zarn pass-through: ";

bool anyKeyDown(int fd) {
    std::array<unsigned char, KEY_MAX / 8 + 1> keys{};
    if (::ioctl(fd, EVIOCGKEY(sizeof keys), keys.data()) < 0) return false;
    return std::any_of(keys.begin(), keys.end(), [](unsigned char byte) { return byte != 0; });
}

// A key that is down when the grab starts would lose its release to the grab and stay down
// for the rest of the system, so the grab is taken only while no key is down. A key pressed
// between the look and the grab is caught by the second look, and the grab let go again.
Device::Grab grabWhenIdle(libevdev* dev, int fd) {
    if (anyKeyDown(fd)) return Device::Grab::keysDown;
    if (libevdev_grab(dev, LIBEVDEV_GRAB) < 0) return Device::Grab::refused;
    if (!anyKeyDown(fd)) return Device::Grab::taken;
    libevdev_grab(dev, LIBEVDEV_UNGRAB);
    return Device::Grab::keysDown;
}

// Hands the LED states the system set on the pass-through device to the keyboard itself.
void copyLeds(int uinputFd, int keyboardFd) {
    input_event event;
    while (::read(uinputFd, &event, sizeof event) == static_cast<ssize_t>(sizeof event)) {
        if (event.type != EV_LED) continue;
        input_event frame[2] = {event, {}};
        frame[1].type = EV_SYN;
        frame[1].code = SYN_REPORT;
        [[maybe_unused]] auto written = ::write(keyboardFd, frame, sizeof frame);
    }
}

}  // namespace

InputDeviceSource::InputDeviceSource(std::filesystem::path folder) : folder_(std::move(folder)) {}

InputDeviceSource::~InputDeviceSource() {
    if (added_ >= 0) ::close(added_);
}

InputDeviceSource::Opened InputDeviceSource::openOne(const std::filesystem::path& path, unsigned code, bool grab,
                                                     std::vector<Device>& into) {
    // Writable if allowed, so that the LEDs can follow what the system sets.
    int fd = ::open(path.c_str(), O_RDWR | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0 && (errno == EACCES || errno == EPERM)) fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) return errno == EACCES || errno == EPERM ? Opened::denied : Opened::skipped;
    libevdev* dev = nullptr;
    if (libevdev_new_from_fd(fd, &dev) < 0) {
        ::close(fd);
        return Opened::skipped;
    }
    std::string name = libevdev_get_name(dev) ? libevdev_get_name(dev) : path.string();
    if (!libevdev_has_event_code(dev, EV_KEY, code) || name.rfind(kPassThroughPrefix, 0) == 0) {
        libevdev_free(dev);
        ::close(fd);
        return Opened::skipped;
    }
    if (!grab) {
        libevdev_free(dev);
        into.emplace_back(fd, name);
        into.back().setId(path.string());
        return Opened::device;
    }
    // The pass-through device comes first, so that no event is ever without a way out.
    libevdev_set_name(dev, (std::string(kPassThroughPrefix) + name).c_str());
    // The keyboard's own repeats are passed on; the kernel must not add its own to them.
    libevdev_disable_event_type(dev, EV_REP);
    libevdev_uinput* uinput = nullptr;
    int rc = libevdev_uinput_create_from_device(dev, LIBEVDEV_UINPUT_OPEN_MANAGED, &uinput);
    if (rc < 0) {
        Log::hotkey().info("cannot create the pass-through device for %{public}s: %{public}s", name,
                           std::strerror(-rc));
        libevdev_free(dev);
        ::close(fd);
        return Opened::uinputDenied;  // every keyboard will need one, and fail alike
    }
    const Device::Grab grabbed = grabWhenIdle(dev, fd);
    if (grabbed == Device::Grab::refused) {
        // Another program holds it; without its events it cannot serve.
        Log::hotkey().info("another program has grabbed %{public}s", name);
        libevdev_uinput_destroy(uinput);
        libevdev_free(dev);
        ::close(fd);
        return Opened::busy;
    }
    auto forward = [uinput](const input_event& event) {
        libevdev_uinput_write_event(uinput, event.type, event.code, event.value);
    };
    auto release = [dev, uinput] {
        libevdev_grab(dev, LIBEVDEV_UNGRAB);
        libevdev_uinput_destroy(uinput);
        libevdev_free(dev);
    };
    into.emplace_back(fd, name, forward, release);
    into.back().setId(path.string());
    if (grabbed == Device::Grab::keysDown) into.back().deferGrab([dev, fd] { return grabWhenIdle(dev, fd); });
    const int uinputFd = libevdev_uinput_get_fd(uinput);
    ::fcntl(uinputFd, F_SETFL, ::fcntl(uinputFd, F_GETFL) | O_NONBLOCK);
    into.back().setFeedback({uinputFd, [uinputFd, fd] { copyLeds(uinputFd, fd); }});
    return Opened::device;
}

DeviceSource::Outcome InputDeviceSource::open(unsigned code, bool grab, std::vector<Device>& devices) {
    // Watch for keyboards plugged in later: a node appears, then gets its permissions.
    if (added_ >= 0) ::close(added_);
    added_ = ::inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    if (added_ >= 0 && ::inotify_add_watch(added_, folder_.c_str(), IN_CREATE | IN_ATTRIB) < 0) {
        ::close(added_);
        added_ = -1;
    }

    std::vector<Device> opened;  // closed and let go of on every early way out
    int denied = 0;
    int uinputDenied = 0;
    int busy = 0;
    std::error_code error;
    std::vector<std::filesystem::path> paths;
    for (const auto& entry : std::filesystem::directory_iterator(folder_, error)) {
        if (entry.path().filename().string().rfind("event", 0) == 0) paths.push_back(entry.path());
    }
    if (error == std::errc::permission_denied) ++denied;
    std::sort(paths.begin(), paths.end());
    for (const auto& path : paths) {
        switch (openOne(path, code, grab, opened)) {
            case Opened::denied: ++denied; break;
            case Opened::uinputDenied: ++uinputDenied; break;
            case Opened::busy: ++busy; break;
            case Opened::device:
            case Opened::skipped: break;
        }
    }
    // The most telling reason when no keyboard could be had.
    if (!opened.empty()) {
        for (auto& device : opened) devices.push_back(std::move(device));
        return Outcome::ok;
    }
    if (busy > 0) return Outcome::grabbedElsewhere;
    if (uinputDenied > 0) return Outcome::uinputDenied;
    return denied > 0 ? Outcome::permissionDenied : Outcome::noKeyboard;
}

void InputDeviceSource::openAdded(unsigned code, bool grab, const std::set<std::string>& open,
                                  std::vector<Device>& devices) {
    alignas(inotify_event) char buffer[4096];
    std::set<std::string> names;
    for (;;) {
        auto n = ::read(added_, buffer, sizeof buffer);
        if (n <= 0) break;
        for (char* at = buffer; at < buffer + n;) {
            const auto* event = reinterpret_cast<const inotify_event*>(at);
            if (event->len > 0 && std::string_view(event->name).rfind("event", 0) == 0) names.insert(event->name);
            at += sizeof(inotify_event) + event->len;
        }
    }
    for (const auto& name : names) {
        auto path = folder_ / name;
        if (open.count(path.string())) continue;
        if (openOne(path, code, grab, devices) == Opened::device) {
            Log::hotkey().info("watching the added keyboard %{public}s", devices.back().name());
        }
    }
}

DeviceSource::Outcome FileEventSource::open(unsigned, bool, std::vector<Device>& devices) {
    const int fd = ::open(path_.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) return errno == EACCES || errno == EPERM ? Outcome::permissionDenied : Outcome::noKeyboard;
    devices.emplace_back(fd, path_.string());
    return Outcome::ok;
}

}  // namespace zarn::evdev
