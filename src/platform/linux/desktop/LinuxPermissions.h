#pragma once

#include <chrono>
#include <functional>
#include <string>

#include "app/Permissions.h"
#include "base/SerialExecutor.h"
#include "contracts/Capture.h"
#include "platform/linux/hotkeybackend/HotkeyBackend.h"
#include "strings/Strings.h"

namespace zarn::desktop {

// Permissions on a Linux desktop. Accessibility: the push-to-talk key's backend can work
// (X11: the display answers; evdev: the keyboards are readable and /dev/uinput writable).
// Microphone: the PulseAudio (or PipeWire) server has a source that is not a monitor.
class LinuxPermissions final : public Permissions, public MicrophonePermission {
public:
    struct Options {
        HotkeyBackend backend = HotkeyBackend::x11;
        std::string pulseServer;  // empty: the default server
        std::chrono::milliseconds pulseTimeout{1000};
        std::string inputFolder = "/dev/input";
        std::string uinputDevice = "/dev/uinput";
        // The evdev backend's only key source when set (evdevEventFile()): readable is enough.
        std::string eventFile;
        std::function<Strings()> strings;
    };

    explicit LinuxPermissions(Options options);

    bool hasAccessibility() override;
    bool hasMicrophone() override;
    bool promptForAccessibility() override;
    std::optional<std::string> accessibilityHelp() override;
    std::optional<std::string> openAccessibilitySettings() override;
    std::optional<std::string> openMicrophoneSettings() override;
    // Answered from a thread of its own: a sound server that hangs never stalls a press.
    void requestMicrophone(Reply<bool> reply) override;

    // Turns on the session's accessibility bus for applications (org.a11y.Status
    // IsEnabled), so text fields answer over AT-SPI. False without a session bus.
    static bool enableAccessibilityBus();

    // Some event device under `inputFolder` opens for reading.
    static bool keyboardsReadable(const std::string& inputFolder);
    static bool uinputWritable(const std::string& device);

private:
    bool canUseInputDevices() const;

    Options options_;
    bool helpShown_ = false;
    SerialExecutor checks_{"zarn-permissions"};
};

}  // namespace zarn::desktop
