#include <gtest/gtest.h>

#include <map>

#include "platform/linux/hotkeybackend/HotkeyBackend.h"

namespace zarn {
namespace {

HotkeyBackend choose(const std::map<std::string, std::string>& env) {
    return chooseHotkeyBackend([&](const char* name) -> std::optional<std::string> {
        auto found = env.find(name);
        if (found == env.end()) return std::nullopt;
        return found->second;
    });
}

TEST(HotkeyBackendTest, X11OnlyForAnX11SessionElseEvdev) {
    EXPECT_EQ(choose({{"DISPLAY", ":0"}}), HotkeyBackend::x11);
    EXPECT_EQ(choose({{"DISPLAY", ":0"}, {"XDG_SESSION_TYPE", "x11"}}), HotkeyBackend::x11);
    // XWayland sets DISPLAY too, but its X server sees no keys of other clients.
    EXPECT_EQ(choose({{"DISPLAY", ":0"}, {"WAYLAND_DISPLAY", "wayland-0"}}), HotkeyBackend::evdev);
    EXPECT_EQ(choose({{"DISPLAY", ":0"}, {"XDG_SESSION_TYPE", "wayland"}}), HotkeyBackend::evdev);
    EXPECT_EQ(choose({}), HotkeyBackend::evdev);
    EXPECT_EQ(choose({{"DISPLAY", ""}}), HotkeyBackend::evdev);
}

TEST(HotkeyBackendTest, EnvironmentForcesABackendAndUnknownValuesAreIgnored) {
    EXPECT_EQ(choose({{"ZARN_HOTKEY_BACKEND", "evdev"}, {"DISPLAY", ":0"}}), HotkeyBackend::evdev);
    EXPECT_EQ(choose({{"ZARN_HOTKEY_BACKEND", "x11"}, {"WAYLAND_DISPLAY", "wayland-0"}}), HotkeyBackend::x11);
    EXPECT_EQ(choose({{"ZARN_HOTKEY_BACKEND", "quartz"}, {"DISPLAY", ":0"}}), HotkeyBackend::x11);
    EXPECT_EQ(choose({{"ZARN_HOTKEY_BACKEND", "X11"}}), HotkeyBackend::evdev);
}

}  // namespace
}  // namespace zarn
