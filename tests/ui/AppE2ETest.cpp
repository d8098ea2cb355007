#include <gtest/gtest.h>

#include <X11/Xlib.h>
#include <X11/Xutil.h>

#include <sstream>

#include "history/RunLog.h"
#include "platform/linux/session/AppUnderTest.h"
#include "platform/linux/session/PasteTarget.h"
#include "platform/linux/x11clipboard/X11Clipboard.h"
#include "platform/linux/x11clipboard/X11Selection.h"

namespace zarn {
namespace {

using namespace std::chrono_literals;
using test::ChildProcess;
constexpr auto hudMap = test::AppUnderTest::hudMapState;
constexpr auto history = test::AppUnderTest::history;
namespace fs = std::filesystem;

// How many pixels of the window are the record red: the tray badge shows it while dictating.
int redPixels(const std::string& window) {
    Display* display = XOpenDisplay(nullptr);
    if (!display) return -1;
    const Window id = std::stoul(window);
    XWindowAttributes attributes{};
    int red = -1;
    if (XGetWindowAttributes(display, id, &attributes) && attributes.map_state == IsViewable) {
        if (XImage* image = XGetImage(display, id, 0, 0, attributes.width, attributes.height, AllPlanes, ZPixmap)) {
            red = 0;
            for (int y = 0; y < attributes.height; ++y) {
                for (int x = 0; x < attributes.width; ++x) {
                    const unsigned long p = XGetPixel(image, x, y);
                    const int r = (p >> 16) & 0xff, g = (p >> 8) & 0xff, b = p & 0xff;
                    if (r > 180 && g < 90 && b < 90) ++red;
                }
            }
            XDestroyImage(image);
        }
    }
    XCloseDisplay(display);
    return red;
}

std::string clipboardText() {
    x11::X11Selection reader("");
    const auto content = reader.read(2s);
    if (!content) return {};
    for (const auto& target : *content) {
        if (target.target == "UTF8_STRING") return target.bytes;
    }
    return {};
}

bool trayManagerRuns() {
    Display* display = XOpenDisplay(nullptr);
    if (!display) return false;
    const bool owned = XGetSelectionOwner(display, XInternAtom(display, "_NET_SYSTEM_TRAY_S0", False)) != None;
    XCloseDisplay(display);
    return owned;
}

class AppE2E : public ::testing::Test {
protected:
    void SetUp() override {
        for (const char* tool : {"trayer", "xdotool", "pulseaudio"}) {
            if (!test::installed(tool)) GTEST_SKIP() << tool << " is not installed";
        }
        if (auto missing = test::DesktopSession::missingTool(true); !missing.empty()) GTEST_SKIP() << missing;
        session = std::make_unique<test::DesktopSession>(true);
        ASSERT_TRUE(zarn.ready()) << zarn.soundServerLog();
        env.set("ZARN_HOTKEY_BACKEND", "x11");
        tray = std::make_unique<ChildProcess>(
            std::vector<std::string>{"trayer", "--edge", "top", "--align", "right", "--widthtype", "request"}, false);
        ASSERT_TRUE(test::waitUntil(trayManagerRuns, 20s));
    }

    // Right Alt through XTest.
    static bool rightAlt(bool down) { return test::runCommand({"xdotool", down ? "keydown" : "keyup", "Alt_R"}); }

    // The tray icon among the app's windows: the small one that is shown.
    static std::string trayWindow() {
        std::string found;
        test::waitUntil(
            [&] {
                std::string out;
                if (!test::runCommand({"xdotool", "search", "--onlyvisible", "--class", "zarn-app"}, &out)) return false;
                std::istringstream ids(out);
                for (std::string id; std::getline(ids, id);) {
                    std::string geometry;
                    test::runCommand({"xdotool", "getwindowgeometry", "--shell", id}, &geometry);
                    if (geometry.find("WIDTH=") != std::string::npos &&
                        std::stoi(geometry.substr(geometry.find("WIDTH=") + 6)) <= 64) {
                        found = id;
                        return true;
                    }
                }
                return false;
            },
            20s);
        return found;
    }

    test::ScopedEnv env;
    std::unique_ptr<test::DesktopSession> session;
    test::AppUnderTest zarn{ZARN_APP_BINARY};
    std::unique_ptr<ChildProcess> tray;
};

TEST_F(AppE2E, HeldKeyDictatesIntoTheFocusedField) {
    auto field = std::make_unique<ChildProcess>(std::vector<std::string>{ZARN_LINEEDIT_APP, ""}, true);
    ASSERT_EQ(field->readLine(20s), "ready");
    auto app = zarn.start();
    ASSERT_TRUE(zarn.waitForLine(*app, "Zarn ready", 60s)) << zarn.log();
    const std::string icon = trayWindow();
    ASSERT_FALSE(icon.empty());
    EXPECT_TRUE(test::waitUntil([&] { return redPixels(icon) == 0; }, 10s));

    zarn.dictate(*app, rightAlt, [] { EXPECT_TRUE(test::waitUntil([] { return hudMap() == IsViewable; }, 10s)); });
    std::string text;
    EXPECT_TRUE(test::waitUntil(
        [&] {
            while (auto line = field->readLine(100ms)) {
                if (line->rfind("text:", 0) == 0) text = line->substr(5);
            }
            return text == "Go forward ten meters.";
        },
        120s))
        << text << "\n" << zarn.log();
    const std::string runs = test::readFile(history());
    EXPECT_EQ(std::count(runs.begin(), runs.end(), '\n'), 1) << runs;
    EXPECT_NE(runs.find("\"text\":\"Go forward ten meters.\""), std::string::npos) << runs;
    EXPECT_TRUE(test::waitUntil([&] { return redPixels(icon) == 0; }, 10s));
    EXPECT_TRUE(test::waitUntil([] { return hudMap() == IsUnmapped; }, 10s));
}

TEST_F(AppE2E, PasteIntoAWindowWithoutAccessibilityRestoresTheClipboard) {
    x11::X11Clipboard usersApp;
    usersApp.setString("the user's clipboard");
    test::PasteTarget target;
    auto app = zarn.start();
    ASSERT_TRUE(zarn.waitForLine(*app, "Zarn ready", 60s)) << zarn.log();

    zarn.dictate(*app, rightAlt);
    auto paste = target.waitForPaste(120s);
    ASSERT_TRUE(paste) << zarn.log();
    EXPECT_EQ(paste->text, "Go forward ten meters.");
    EXPECT_TRUE(test::waitUntil([] { return clipboardText() == "the user's clipboard"; }, 10s));
}

TEST_F(AppE2E, ClearLinkThroughASecondInstanceEmptiesTheHistory) {
    DictationRun run{.id = "7F3C1A52-0C6B-4F0E-9D2A-4B8E2C1D9A10", .engine = "Apple (streaming)", .text = "secret"};
    run.date = std::chrono::system_clock::now();
    RunLog(history()).record(run);
    auto app = zarn.start();
    ASSERT_TRUE(zarn.waitForLine(*app, "Zarn ready", 60s)) << zarn.log();

    auto second = zarn.start({"zarn://clear"});
    EXPECT_EQ(second->wait(30s), 0);
    EXPECT_TRUE(test::waitUntil([&] { return !fs::exists(history()) || test::readFile(history()).empty(); }, 10s));
    EXPECT_EQ(app->wait(100ms), std::nullopt);  // the first one keeps running
}

}  // namespace
}  // namespace zarn
