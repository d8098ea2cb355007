#include "platform/linux/hotkeybackend/HotkeyBackend.h"

#include <cstdlib>

#include "base/Log.h"
#include "platform/linux/evdev/EvdevEventHook.h"
#include "platform/linux/x11hotkey/X11EventHook.h"

namespace zarn {

std::string_view backendName(HotkeyBackend backend) {
    return backend == HotkeyBackend::x11 ? "x11" : "evdev";
}

HotkeyBackend chooseHotkeyBackend(const EnvironmentLookup& environment) {
    auto nonEmpty = [&](const char* name) {
        auto value = environment(name);
        return value && !value->empty() ? value : std::nullopt;
    };
    if (auto forced = nonEmpty("ZARN_HOTKEY_BACKEND")) {
        if (*forced == "x11") return HotkeyBackend::x11;
        if (*forced == "evdev") return HotkeyBackend::evdev;
        Log::hotkey().error("ignoring ZARN_HOTKEY_BACKEND=%{public}s (expected x11 or evdev)", *forced);
    }
    const auto sessionType = nonEmpty("XDG_SESSION_TYPE");
    const bool wayland = nonEmpty("WAYLAND_DISPLAY").has_value() || (sessionType && *sessionType == "wayland");
    return nonEmpty("DISPLAY") && !wayland ? HotkeyBackend::x11 : HotkeyBackend::evdev;
}

HotkeyBackend chooseHotkeyBackend() {
    return chooseHotkeyBackend([](const char* name) -> std::optional<std::string> {
        const char* value = std::getenv(name);
        if (!value) return std::nullopt;
        return std::string(value);
    });
}

std::string evdevEventFile() {
    const char* file = std::getenv("ZARN_EVDEV_DEVICE");
    return file ? file : "";
}

std::unique_ptr<hotkey::EventHook> makeEventHook(HotkeyBackend backend) {
    if (backend == HotkeyBackend::x11) return std::make_unique<x11::X11EventHook>();
    if (auto file = evdevEventFile(); !file.empty()) {
        Log::hotkey().info("reading the keys from ZARN_EVDEV_DEVICE only");
        return std::make_unique<evdev::EvdevEventHook>(std::make_unique<evdev::FileEventSource>(file));
    }
    return std::make_unique<evdev::EvdevEventHook>();
}

std::unique_ptr<HotkeyMonitor> makeHotkeyMonitor(Executor& mainExecutor) {
    return std::make_unique<HotkeyMonitor>(mainExecutor, makeEventHook(chooseHotkeyBackend()));
}

}  // namespace zarn
