#include <gtest/gtest.h>

#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <fcntl.h>
#include <unistd.h>

#include <cstring>
#include <sstream>
#include <thread>

#include "history/RunLog.h"
#include "platform/linux/session/DesktopSession.h"
#include "platform/linux/session/PasteTarget.h"
#include "platform/linux/pulse/PulseDaemon.h"
#include "platform/linux/x11clipboard/X11Clipboard.h"
#include "platform/linux/x11clipboard/X11Selection.h"
#include "support/ScopedEnv.h"

namespace zarn {
namespace {

using namespace std::chrono_literals;
using test::ChildProcess;
namespace fs = std::filesystem;

bool installed(const std::string& tool) { return test::runCommand({"sh", "-c", "command -v " + tool}); }

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

// The map state of zarn-app's floating capsule (an override-redirect window of its own
// size); nothing while it does not exist.
std::optional<int> hudMapState() {
    std::string ids;
    test::runCommand({"xdotool", "search", "--class", "zarn-app"}, &ids);
    Display* display = XOpenDisplay(nullptr);
    if (!display) return std::nullopt;
    std::optional<int> state;
    std::istringstream lines(ids);
    for (std::string id; std::getline(lines, id) && !state;) {
        XWindowAttributes a{};
        if (XGetWindowAttributes(display, std::stoul(id), &a) && a.override_redirect && a.width == 340 && a.height == 76) {
            state = a.map_state;
        }
    }
    XCloseDisplay(display);
    return state;
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
            if (!installed(tool)) GTEST_SKIP() << tool << " is not installed";
        }
        if (auto missing = test::DesktopSession::missingTool(true); !missing.empty()) GTEST_SKIP() << missing;
        session = std::make_unique<test::DesktopSession>(true);
        ASSERT_TRUE(pulse.ready()) << pulse.log();
        env.set("PULSE_SERVER", pulse.server().c_str());
        // The app under a sanitizer build: Qt keeps caches until exit, which are not ours.
        const char* asan = std::getenv("ASAN_OPTIONS");
        const std::string relaxed = std::string(asan ? asan : "") + ":detect_leaks=0";
        env.set("ASAN_OPTIONS", relaxed.c_str());
        env.set("ZARN_LOG_STDERR", "1");
        env.set("ZARN_HOTKEY_BACKEND", "x11");
        tray = std::make_unique<ChildProcess>(
            std::vector<std::string>{"trayer", "--edge", "top", "--align", "right", "--widthtype", "request"}, false);
        ASSERT_TRUE(test::waitUntil(trayManagerRuns, 20s));
    }

    fs::path history() const { return fs::path(std::getenv("XDG_DATA_HOME")) / "Zarn" / "runs.jsonl"; }

    // zarn-app with its log on the readable stream.
    static std::unique_ptr<ChildProcess> startApp(const std::vector<std::string>& args = {}) {
        std::vector<std::string> argv{"sh", "-c", "exec \"$0\" \"$@\" 2>&1", ZARN_APP_BINARY};
        argv.insert(argv.end(), args.begin(), args.end());
        return std::make_unique<ChildProcess>(argv, true);
    }
    static bool waitForLine(ChildProcess& process, const std::string& part, std::chrono::milliseconds timeout,
                            std::string* seen = nullptr) {
        const auto deadline = std::chrono::steady_clock::now() + timeout;
        while (std::chrono::steady_clock::now() < deadline) {
            auto line = process.readLine(std::chrono::duration_cast<std::chrono::milliseconds>(
                deadline - std::chrono::steady_clock::now()));
            if (!line) return false;
            if (seen) *seen += *line + "\n";
            if (line->find(part) != std::string::npos) return true;
        }
        return false;
    }

    // Holds Right Alt, speaks the recording into the microphone, lets go.
    void dictate(ChildProcess& app, std::string& log, const std::function<void()>& whileHeld = {}) {
        ASSERT_TRUE(test::runCommand({"xdotool", "keydown", "Alt_R"}));
        ASSERT_TRUE(waitForLine(app, "capture started", 30s, &log)) << log;
        if (whileHeld) whileHeld();
        const std::string speech = test::readFile("/usr/share/pocketsphinx/test/data/goforward.raw");
        const int fd = ::open(pulse.fifo().c_str(), O_WRONLY);
        ASSERT_GE(fd, 0);
        // The pipe holds 64 KiB: once 3 s of silence after the words went in, the source has
        // read every word and handed it to the recording stream.
        const std::string audio = speech + std::string(96000, '\0');
        for (std::size_t at = 0; at < audio.size();) {
            const ssize_t n = ::write(fd, audio.data() + at, std::min<std::size_t>(8192, audio.size() - at));
            ASSERT_GT(n, 0);
            at += static_cast<std::size_t>(n);
        }
        ::close(fd);
        ASSERT_TRUE(test::runCommand({"xdotool", "keyup", "Alt_R"}));
    }

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
    test::PulseDaemon pulse;
    std::unique_ptr<ChildProcess> tray;
};

TEST_F(AppE2E, HeldKeyDictatesIntoTheFocusedField) {
    auto field = std::make_unique<ChildProcess>(std::vector<std::string>{ZARN_LINEEDIT_APP, ""}, true);
    ASSERT_EQ(field->readLine(20s), "ready");
    auto app = startApp({"--background"});
    std::string log;
    ASSERT_TRUE(waitForLine(*app, "Zarn ready", 60s, &log)) << log;
    const std::string icon = trayWindow();
    ASSERT_FALSE(icon.empty());
    EXPECT_TRUE(test::waitUntil([&] { return redPixels(icon) == 0; }, 10s));

    dictate(*app, log, [] { EXPECT_TRUE(test::waitUntil([] { return hudMapState() == IsViewable; }, 10s)); });
    std::string text;
    EXPECT_TRUE(test::waitUntil(
        [&] {
            while (auto line = field->readLine(100ms)) {
                if (line->rfind("text:", 0) == 0) text = line->substr(5);
            }
            return text == "Go forward ten meters.";
        },
        120s))
        << text << "\n" << log;
    const std::string runs = test::readFile(history());
    EXPECT_EQ(std::count(runs.begin(), runs.end(), '\n'), 1) << runs;
    EXPECT_NE(runs.find("\"text\":\"Go forward ten meters.\""), std::string::npos) << runs;
    EXPECT_TRUE(test::waitUntil([&] { return redPixels(icon) == 0; }, 10s));
    EXPECT_TRUE(test::waitUntil([] { return hudMapState() == IsUnmapped; }, 10s));
}

TEST_F(AppE2E, PasteIntoAWindowWithoutAccessibilityRestoresTheClipboard) {
    x11::X11Clipboard usersApp;
    usersApp.setString("the user's clipboard");
    test::PasteTarget target;
    auto app = startApp({"--background"});
    std::string log;
    ASSERT_TRUE(waitForLine(*app, "Zarn ready", 60s, &log)) << log;

    dictate(*app, log);
    auto paste = target.waitForPaste(120s);
    ASSERT_TRUE(paste) << log;
    EXPECT_EQ(paste->text, "Go forward ten meters.");
    EXPECT_TRUE(test::waitUntil([] { return clipboardText() == "the user's clipboard"; }, 10s));
}

TEST_F(AppE2E, ClearLinkThroughASecondInstanceEmptiesTheHistory) {
    DictationRun run{.id = "7F3C1A52-0C6B-4F0E-9D2A-4B8E2C1D9A10", .engine = "Apple (streaming)", .text = "secret"};
    run.date = std::chrono::system_clock::now();
    RunLog(history()).record(run);
    auto app = startApp({"--background"});
    std::string log;
    ASSERT_TRUE(waitForLine(*app, "Zarn ready", 60s, &log)) << log;

    auto second = startApp({"zarn://clear"});
    EXPECT_EQ(second->wait(30s), 0);
    EXPECT_TRUE(test::waitUntil([&] { return !fs::exists(history()) || test::readFile(history()).empty(); }, 10s));
    EXPECT_EQ(app->wait(100ms), std::nullopt);  // the first one keeps running
}

}  // namespace
}  // namespace zarn
