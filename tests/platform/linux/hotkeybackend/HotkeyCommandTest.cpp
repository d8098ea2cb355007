// GoogleTest first: Xlib defines macros (None, Bool) that clash with its names.
#include <gtest/gtest.h>

#include <X11/Xlib.h>
#include <X11/extensions/XTest.h>
#include <signal.h>

#include <string>

#include "platform/linux/session/XvfbServer.h"
#include "support/TempDir.h"
#include "support/ZarnCommand.h"

namespace zarn {
namespace {

using namespace std::chrono_literals;

constexpr int kRightAlt = 108, kRightSuper = 134;  // <RALT>, <RWIN> in Xvfb's default keymap

bool contains(const std::string& text, const std::string& part) { return text.find(part) != std::string::npos; }

// What reaches the terminal names Linux things, not another system's.
bool speaksLinux(const std::string& text) {
    for (const char* foreign : {"\u2325", "\u2318", "tapCreate", "Accessibility", "$DISPLAY"}) {
        if (contains(text, foreign)) return false;
    }
    return true;
}

TEST(HotkeyCommandTest, BadArgumentsAndAMissingDisplayFailWithTheirReason) {
    test::TempDir home;
    for (const char* bad : {"--key=leftOption", "--count=0", "--count=2x"}) {
        auto zarn = test::runZarn(home.path(), {"hotkey", "test", bad});
        EXPECT_EQ(zarn.status, 2) << bad;
        EXPECT_TRUE(contains(zarn.err, "usage: zarn hotkey test")) << zarn.err;
        EXPECT_TRUE(zarn.out.empty());
    }
    for (const auto& [display, reason] : {std::pair<std::string, std::string>{":65000", "cannot open the X display :65000"},
                                          {"", "no X display (DISPLAY is not set)"}}) {
        auto zarn = test::runZarn(home.path(), {"hotkey", "test"},
                                  {.env = {{"ZARN_HOTKEY_BACKEND", "x11"}, {"DISPLAY", display}}});
        EXPECT_EQ(zarn.status, 1);
        EXPECT_TRUE(contains(zarn.err, "zarn hotkey: cannot watch Right Alt (x11 backend): " + reason + "\n"))
            << zarn.err;
        EXPECT_TRUE(speaksLinux(zarn.err)) << zarn.err;
    }
}

// The settings' key, edges on standard output, an end after --count or at Ctrl-C that lets go of the key.
TEST(HotkeyCommandTest, WatchesTheKeyUntilTheCountOrCtrlC) {
    test::XvfbServer xvfb;
    ASSERT_TRUE(xvfb.isRunning()) << xvfb.failure();
    Display* driver = XOpenDisplay(xvfb.display().c_str());
    ASSERT_NE(driver, nullptr);
    const auto tap = [&](int keycode) {
        XTestFakeKeyEvent(driver, static_cast<unsigned>(keycode), True, CurrentTime);
        XTestFakeKeyEvent(driver, static_cast<unsigned>(keycode), False, CurrentTime);
        XFlush(driver);
    };
    const auto edges = [](test::ChildProcess& zarn) {
        return zarn.waitForOutput([](const std::string& out, const std::string&) { return out == "press\nrelease\n"; }, 20s);
    };
    test::TempDir home;
    const test::CommandOptions options{.env = {{"ZARN_HOTKEY_BACKEND", "x11"}, {"DISPLAY", xvfb.display()}}};
    test::writeFile(home / "config" / "Zarn" / "defaults.json", R"({"pushToTalkKey": "rightCommand"})");
    const std::string listening = "Listening for Right Super (x11 backend); press Ctrl-C to stop.\n";
    auto counted = test::startZarn(home.path(), {"hotkey", "test", "--count", "2"}, options);
    ASSERT_TRUE(counted->waitForOutput([&](const auto&, const std::string& err) { return contains(err, listening); }, 20s))
        << counted->err();
    tap(kRightAlt);  // not the key of the settings
    tap(kRightSuper);
    EXPECT_TRUE(edges(*counted)) << counted->out();
    EXPECT_EQ(counted->wait(20s), 0);

    auto stopped = test::startZarn(home.path(), {"hotkey", "test", "--key", "rightOption"}, options);
    ASSERT_TRUE(stopped->waitForOutput([](const auto&, const std::string& err) { return contains(err, "to stop.\n"); }, 20s));
    EXPECT_TRUE(contains(stopped->err(), "Listening for Right Alt (x11 backend)")) << stopped->err();
    EXPECT_TRUE(speaksLinux(stopped->err())) << stopped->err();
    tap(kRightAlt);
    EXPECT_TRUE(edges(*stopped)) << stopped->out();
    stopped->signal(SIGINT);
    EXPECT_EQ(stopped->wait(20s), 0);
    EXPECT_TRUE(test::keyIsFreeToGrab(xvfb.display(), kRightAlt));
    XCloseDisplay(driver);
}

}  // namespace
}  // namespace zarn
