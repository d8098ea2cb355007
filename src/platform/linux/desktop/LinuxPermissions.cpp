#include "platform/linux/desktop/LinuxPermissions.h"

#include <X11/Xlib.h>
#include <gio/gio.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>

#include "base/Log.h"
#include "platform/linux/desktop/Programs.h"
#include "platform/linux/pulse/PulseAudioInput.h"

namespace zarn::desktop {

LinuxPermissions::LinuxPermissions(Options options) : options_(std::move(options)) {}

bool LinuxPermissions::keyboardsReadable(const std::string& inputFolder) {
    std::error_code ec;
    for (const auto& entry : std::filesystem::directory_iterator(inputFolder, ec)) {
        if (entry.path().filename().string().rfind("event", 0) == 0 && access(entry.path().c_str(), R_OK) == 0) {
            return true;
        }
    }
    return false;
}

bool LinuxPermissions::uinputWritable(const std::string& device) { return access(device.c_str(), R_OK | W_OK) == 0; }

bool LinuxPermissions::canUseInputDevices() const {
    if (!options_.eventFile.empty()) return access(options_.eventFile.c_str(), R_OK) == 0;
    return keyboardsReadable(options_.inputFolder) && uinputWritable(options_.uinputDevice);
}

bool LinuxPermissions::hasAccessibility() {
    if (options_.backend == HotkeyBackend::evdev) return canUseInputDevices();
    Display* display = XOpenDisplay(nullptr);
    if (!display) return false;
    XCloseDisplay(display);
    return true;
}

bool LinuxPermissions::hasMicrophone() {
    return PulseAudioInput::hasInputSource(options_.pulseServer, options_.pulseTimeout);
}

void LinuxPermissions::requestMicrophone(Reply<bool> reply) {
    checks_.post([this, reply = std::move(reply)]() mutable { reply(hasMicrophone()); });
}

bool LinuxPermissions::enableAccessibilityBus() {
    // Without a session bus GIO would start one of its own through the X server; there is
    // nothing to enable then.
    if (const char* session = std::getenv("DBUS_SESSION_BUS_ADDRESS"); !session || !*session) return false;
    GError* error = nullptr;
    GDBusConnection* bus = g_bus_get_sync(G_BUS_TYPE_SESSION, nullptr, &error);
    if (!bus) {
        if (error) g_error_free(error);
        return false;
    }
    GVariant* result = g_dbus_connection_call_sync(
        bus, "org.a11y.Bus", "/org/a11y/bus", "org.freedesktop.DBus.Properties", "Set",
        g_variant_new("(ssv)", "org.a11y.Status", "IsEnabled", g_variant_new_boolean(TRUE)), nullptr,
        G_DBUS_CALL_FLAGS_NONE, 2000, nullptr, &error);
    const bool enabled = result != nullptr;
    if (result) g_variant_unref(result);
    if (error) {
        Log::app().info("accessibility bus not enabled: %{public}s", std::string(error->message));
        g_error_free(error);
    }
    g_object_unref(bus);
    return enabled;
}

bool LinuxPermissions::promptForAccessibility() {
    enableAccessibilityBus();
    return hasAccessibility();
}

std::optional<std::string> LinuxPermissions::accessibilityHelp() {
    if (options_.backend != HotkeyBackend::evdev || helpShown_ || canUseInputDevices()) return std::nullopt;
    helpShown_ = true;
    return options_.strings().desktop.keyboardAccessHelp;
}

std::optional<std::string> LinuxPermissions::openAccessibilitySettings() {
    if (options_.backend == HotkeyBackend::evdev) return options_.strings().desktop.keyboardAccessHelp;
    if (launchFirstInstalled({{"gnome-control-center", "universal-access"}, {"systemsettings", "kcm_access"}})) {
        return std::nullopt;
    }
    return options_.strings().desktop.keyGrabHelp;
}

std::optional<std::string> LinuxPermissions::openMicrophoneSettings() {
    if (launchFirstInstalled({{"pavucontrol", "--tab=4"},
                              {"gnome-control-center", "sound"},
                              {"systemsettings", "kcm_pulseaudio"}})) {
        return std::nullopt;
    }
    return options_.strings().desktop.microphoneHelp;
}

}  // namespace zarn::desktop
