#include "platform/linux/session/AppUnderTest.h"

#include <gtest/gtest.h>

#include <X11/Xlib.h>
#include <fcntl.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <sstream>
#include <thread>

namespace zarn::test {

using Clock = std::chrono::steady_clock;

AppUnderTest::AppUnderTest(std::string binary) : binary_(std::move(binary)) {
    env_.set("PULSE_SERVER", pulse_.server().c_str());
    const char* asan = std::getenv("ASAN_OPTIONS");
    env_.set("ASAN_OPTIONS", (std::string(asan ? asan : "") + ":detect_leaks=0").c_str());
    env_.set("ZARN_LOG_STDERR", "1");
}

std::unique_ptr<ChildProcess> AppUnderTest::start(const std::vector<std::string>& args) const {
    std::vector<std::string> argv{"sh", "-c", "exec \"$0\" \"$@\" 2>&1", binary_};
    argv.insert(argv.end(), args.begin(), args.end());
    return std::make_unique<ChildProcess>(argv, true);
}

bool AppUnderTest::waitForLine(ChildProcess& app, const std::string& part, std::chrono::milliseconds timeout) {
    const auto deadline = Clock::now() + timeout;
    while (Clock::now() < deadline) {
        auto line = app.readLine(std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()));
        if (!line) return false;
        log_ += *line + "\n";
        if (line->find(part) != std::string::npos) return true;
    }
    return false;
}

const std::string& AppUnderTest::logOf(ChildProcess& app) {
    while (auto line = app.readLine(std::chrono::seconds(1))) log_ += *line + "\n";
    return log_;
}

void AppUnderTest::dictate(ChildProcess& app, const std::function<bool(bool down)>& key,
                           const std::function<void()>& whileHeld) {
    ASSERT_TRUE(key(true));
    ASSERT_TRUE(waitForLine(app, "capture started", std::chrono::seconds(30))) << log_;
    if (whileHeld) whileHeld();
    const std::string speech = readFile("/usr/share/pocketsphinx/test/data/goforward.raw");
    const int fd = ::open(pulse_.fifo().c_str(), O_WRONLY);
    ASSERT_GE(fd, 0);
    // At a microphone's pace (the pipe source reads as fast as it is written), with 3 s of
    // silence after the words: the app has them all long before the key goes up.
    const std::string audio = speech + std::string(96000, '\0');
    constexpr std::size_t tenthOfASecond = 3200;
    auto due = Clock::now();
    for (std::size_t at = 0; at < audio.size(); due += std::chrono::milliseconds(100)) {
        std::this_thread::sleep_until(due);
        const ssize_t n = ::write(fd, audio.data() + at, std::min(tenthOfASecond, audio.size() - at));
        ASSERT_GT(n, 0);
        at += static_cast<std::size_t>(n);
    }
    // Once the source read the pipe empty.
    EXPECT_TRUE(waitUntil(
        [fd] {
            int left = 0;
            return ::ioctl(fd, FIONREAD, &left) == 0 && left == 0;
        },
        std::chrono::seconds(30)));
    ::close(fd);
    ASSERT_TRUE(key(false));
}

std::filesystem::path AppUnderTest::history() {
    return std::filesystem::path(std::getenv("XDG_DATA_HOME")) / "Zarn" / "runs.jsonl";
}

std::optional<int> AppUnderTest::hudMapState() {
    std::string ids;
    runCommand({"xdotool", "search", "--class", "zarn-app"}, &ids);
    Display* display = XOpenDisplay(nullptr);
    if (!display) return std::nullopt;
    std::optional<int> state;
    std::istringstream lines(ids);
    for (std::string id; std::getline(lines, id) && !state;) {
        XWindowAttributes a{};
        if (XGetWindowAttributes(display, std::stoul(id), &a) && a.override_redirect && a.width == 340 &&
            a.height == 76) {
            state = a.map_state;
        }
    }
    XCloseDisplay(display);
    return state;
}

}  // namespace zarn::test
