#pragma once

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "base/Executor.h"
#include "hotkey/EventHook.h"
#include "hotkey/HotkeyMonitor.h"

namespace zarn {

// Where the push-to-talk key is watched on this machine.
enum class HotkeyBackend { x11, evdev };

std::string_view backendName(HotkeyBackend backend);

// Reads one environment variable; nothing when it is unset.
using EnvironmentLookup = std::function<std::optional<std::string>(const char* name)>;

// X11 when DISPLAY is set and the session is not a Wayland one, otherwise evdev.
// ZARN_HOTKEY_BACKEND=x11|evdev forces a backend; another value is ignored (and logged).
HotkeyBackend chooseHotkeyBackend(const EnvironmentLookup& environment);
// The same, from this process's environment.
HotkeyBackend chooseHotkeyBackend();

// ZARN_EVDEV_DEVICE: the one file the evdev backend reads its keys from instead of the
// keyboards under /dev/input (evdev::FileEventSource); empty when unset, as it always is
// outside tests.
std::string evdevEventFile();

std::unique_ptr<hotkey::EventHook> makeEventHook(HotkeyBackend backend);

// The monitor for this session, reporting on `mainExecutor`.
std::unique_ptr<HotkeyMonitor> makeHotkeyMonitor(Executor& mainExecutor);

}  // namespace zarn
