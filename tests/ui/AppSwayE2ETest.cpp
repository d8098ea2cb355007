// The whole dictation on a Wayland desktop: zarn-app on a headless sway through XWayland,
// the push-to-talk key read by the evdev backend, the text pasted into foot, a native
// Wayland window, with the compositor's virtual keyboard.

#include <gtest/gtest.h>

#include <X11/Xlib.h>
#include <fcntl.h>
#include <linux/input.h>
#include <sys/stat.h>
#include <unistd.h>

#include "platform/linux/session/AppUnderTest.h"
#include "platform/linux/session/SwaySession.h"

namespace zarn {
namespace {

using namespace std::chrono_literals;
using test::ChildProcess;

constexpr auto wlPaste = test::SwaySession::clipboard;

TEST(AppSwayE2E, HeldKeyPastesIntoANativeWindowAndTheClipboardComesBack) {
    if (auto missing = test::SwaySession::missingTool(); !missing.empty()) GTEST_SKIP() << missing << " is not installed";
    for (const char* tool : {"foot", "xdotool", "pulseaudio", "dbus-daemon"}) {
        if (!test::installed(tool)) GTEST_SKIP() << tool << " is not installed";
    }
    test::ScopedXdgHome home;
    test::ScopedEnv env;
    // The app picks its Qt platform and its key backend from the session itself.
    for (const char* name : {"QT_QPA_PLATFORM", "ZARN_HOTKEY_BACKEND", "AT_SPI_BUS_ADDRESS"}) env.set(name, nullptr);
    test::SwaySession sway;
    ChildProcess bus({"dbus-daemon", "--session", "--nofork", "--nopidfile", "--print-address=1"}, true);
    const auto address = bus.readLine(20s);
    ASSERT_TRUE(address && !address->empty());
    env.set("DBUS_SESSION_BUS_ADDRESS", address->c_str());

    // No keyboard here: the key events come through a pipe, held open by the test so the
    // app's keyboard stays while it lives.
    const auto keysPath = home.root() / "keys";
    ASSERT_EQ(mkfifo(keysPath.c_str(), 0600), 0);
    const int keys = ::open(keysPath.c_str(), O_RDWR | O_CLOEXEC);
    ASSERT_GE(keys, 0);
    env.set("ZARN_EVDEV_DEVICE", keysPath.c_str());
    const auto rightAlt = [keys](bool down) {
        const input_event events[2] = {{.type = EV_KEY, .code = KEY_RIGHTALT, .value = down},
                                       {.type = EV_SYN, .code = SYN_REPORT, .value = 0}};
        return ::write(keys, events, sizeof events) == static_cast<ssize_t>(sizeof events);
    };

    test::AppUnderTest zarn(ZARN_APP_BINARY);
    ASSERT_TRUE(zarn.ready()) << zarn.soundServerLog();
    ChildProcess users({"wl-copy", "--foreground", "the user's words"}, false);
    ASSERT_TRUE(test::waitUntil([] { return wlPaste() == "the user's words"; }, 10s));
    auto app = zarn.start();
    ASSERT_TRUE(zarn.waitForLine(*app, "Zarn ready", 60s)) << zarn.log();

    // foot pastes on Ctrl+V here, as a text editor does, and hands the text to `head`.
    const std::string dictated = "Go forward ten meters.";
    const auto config = home.root() / "foot.ini", ready = home.root() / "ready", out = home.root() / "out";
    test::writeFile(config, "[key-bindings]\nclipboard-paste=Control+v\n");
    ChildProcess window({"foot", "-c", config.string(), "sh", "-c",
                         "stty -icanon -echo && touch " + ready.string() + " && head -c " +
                             std::to_string(dictated.size()) + " > " + out.string()},
                        false);
    ASSERT_TRUE(test::waitUntil([&] { return std::filesystem::exists(ready); }, 20s));
    ASSERT_TRUE(test::waitUntil([&] { return sway.command("[app_id=foot con_id=__focused__] nop"); }, 20s));

    zarn.dictate(*app, rightAlt, [] {
        EXPECT_TRUE(test::waitUntil([] { return test::AppUnderTest::hudMapState() == IsViewable; }, 10s));
    });
    EXPECT_TRUE(test::waitUntil([&] { return test::readFile(out) == dictated; }, 120s))
        << test::readFile(out) << "\n" << zarn.logOf(*app);
    EXPECT_TRUE(test::waitUntil([] { return wlPaste() == "the user's words"; }, 10s)) << wlPaste();
    EXPECT_TRUE(test::waitUntil([] { return test::AppUnderTest::hudMapState() == IsUnmapped; }, 10s));
    ::close(keys);
}

}  // namespace
}  // namespace zarn
