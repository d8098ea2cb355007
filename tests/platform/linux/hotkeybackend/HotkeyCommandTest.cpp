// GoogleTest first: Xlib defines macros (None, Bool) that clash with its names.
#include <gtest/gtest.h>

#include <X11/Xlib.h>
#include <X11/extensions/XTest.h>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <map>
#include <string>
#include <vector>

#include "XvfbServer.h"
#include "support/TempDir.h"
#include "support/ZarnCommand.h"

namespace zarn {
namespace {

constexpr int kRightAlt = 108;  // <RALT> in Xvfb's default keymap

std::string zarnBinary() {
    const char* dir = std::getenv("ZARN_BINARY_DIR");
    return std::string(dir ? dir : ".") + "/src/cli/zarn";
}

// A running `zarn` with its standard output and error read through pipes.
class ZarnProcess {
public:
    ZarnProcess(const std::vector<std::string>& args, const std::map<std::string, std::string>& env) {
        int out[2];
        int err[2];
        if (::pipe2(out, O_CLOEXEC) != 0 || ::pipe2(err, O_CLOEXEC) != 0) return;
        pid_ = ::fork();
        if (pid_ == 0) {
            ::dup2(out[1], 1);
            ::dup2(err[1], 2);
            for (const auto& [name, value] : env) ::setenv(name.c_str(), value.c_str(), 1);
            std::vector<char*> argv;
            std::string binary = zarnBinary();
            argv.push_back(binary.data());
            std::vector<std::string> copies = args;
            for (auto& arg : copies) argv.push_back(arg.data());
            argv.push_back(nullptr);
            ::execv(binary.c_str(), argv.data());
            ::_exit(127);
        }
        ::close(out[1]);
        ::close(err[1]);
        out_ = out[0];
        err_ = err[0];
    }
    ~ZarnProcess() {
        if (pid_ > 0 && status_ < 0) {
            ::kill(pid_, SIGKILL);
            ::waitpid(pid_, nullptr, 0);
        }
        if (out_ >= 0) ::close(out_);
        if (err_ >= 0) ::close(err_);
    }

    // Reads both streams until `done` holds for (stdout, stderr) or 20 s pass.
    bool readUntil(const std::function<bool(const std::string&, const std::string&)>& done) {
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
        while (!done(out, err)) {
            auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
            if (left.count() <= 0) return false;
            if (out_ < 0 && err_ < 0) return done(out, err);
            pollfd fds[2] = {{out_, POLLIN, 0}, {err_, POLLIN, 0}};
            if (::poll(fds, 2, static_cast<int>(left.count())) <= 0) continue;
            for (int i = 0; i < 2; ++i) {
                if (fds[i].fd < 0 || !(fds[i].revents & (POLLIN | POLLHUP))) continue;
                char buffer[256];
                auto n = ::read(fds[i].fd, buffer, sizeof buffer);
                if (n > 0) {
                    (i == 0 ? out : err).append(buffer, static_cast<std::size_t>(n));
                } else {
                    ::close(fds[i].fd);
                    (i == 0 ? out_ : err_) = -1;
                }
            }
        }
        return true;
    }
    int wait() {
        if (status_ < 0) {
            int raw = 0;
            ::waitpid(pid_, &raw, 0);
            status_ = WIFEXITED(raw) ? WEXITSTATUS(raw) : 128 + WTERMSIG(raw);
        }
        return status_;
    }
    void signal(int sig) { ::kill(pid_, sig); }

    std::string out;
    std::string err;

private:
    pid_t pid_ = -1;
    int out_ = -1;
    int err_ = -1;
    int status_ = -1;
};

bool contains(const std::string& text, const std::string& part) { return text.find(part) != std::string::npos; }

// What reaches the terminal names Linux things, not another system's.
bool speaksLinux(const std::string& text) {
    for (const char* foreign : {"\u2325", "\u2318", "tapCreate", "Accessibility", "$DISPLAY"}) {
        if (contains(text, foreign)) return false;
    }
    return true;
}

class HotkeyCommandTest : public ::testing::Test {
protected:
    test::ScopedXdgHome home;
};

TEST_F(HotkeyCommandTest, BadArgumentsAreUsageErrors) {
    for (const char* bad : {"--key=leftOption", "--count=0", "--count=2x"}) {
        auto zarn = test::runZarn(home.root(), {"hotkey", "test", bad});
        EXPECT_EQ(zarn.status, 2) << bad;
        EXPECT_TRUE(contains(zarn.err, "usage: zarn hotkey test")) << zarn.err;
        EXPECT_TRUE(zarn.out.empty());
    }
}

TEST_F(HotkeyCommandTest, MissingDisplayFailsWithTheRealReason) {
    for (const auto& [display, reason] : {std::pair<std::string, std::string>{":65000", "cannot open the X display :65000"},
                                          {"", "no X display (DISPLAY is not set)"}}) {
        auto zarn = test::runZarn(home.root(), {"hotkey", "test"},
                                  {.env = {{"ZARN_HOTKEY_BACKEND", "x11"}, {"DISPLAY", display}}});
        EXPECT_EQ(zarn.status, 1);
        EXPECT_TRUE(contains(zarn.err, "zarn hotkey: cannot watch Right Alt (x11 backend): " + reason + "\n"))
            << zarn.err;
        EXPECT_TRUE(speaksLinux(zarn.err)) << zarn.err;
    }
}

class HotkeyCommandX11Test : public HotkeyCommandTest {
protected:
    void SetUp() override {
        ASSERT_TRUE(xvfb.isRunning()) << xvfb.failure();
        driver = XOpenDisplay(xvfb.display().c_str());
        ASSERT_NE(driver, nullptr);
    }
    void TearDown() override {
        if (driver) XCloseDisplay(driver);
    }
    void tap(int keycode) {
        XTestFakeKeyEvent(driver, static_cast<unsigned>(keycode), True, CurrentTime);
        XTestFakeKeyEvent(driver, static_cast<unsigned>(keycode), False, CurrentTime);
        XFlush(driver);
    }
    std::map<std::string, std::string> env() const {
        return {{"ZARN_HOTKEY_BACKEND", "x11"}, {"DISPLAY", xvfb.display()}};
    }
    static bool armed(const std::string&, const std::string& err) { return contains(err, "to stop.\n"); }

    test::XvfbServer xvfb;
    Display* driver = nullptr;
};

TEST_F(HotkeyCommandX11Test, WatchesTheKeyOfTheSettingsPrintsEdgesAndExitsAfterTheCount) {
    test::writeFile(home.configHome() / "Zarn" / "defaults.json", R"({"pushToTalkKey": "rightCommand"})");
    ZarnProcess zarn({"hotkey", "test", "--count", "2"}, env());
    ASSERT_TRUE(zarn.readUntil(armed)) << zarn.err;
    EXPECT_TRUE(contains(zarn.err, "Listening for Right Super (x11 backend); press Ctrl-C to stop.\n")) << zarn.err;
    tap(kRightAlt);  // not the key of the settings
    tap(134);        // <RWIN>
    ASSERT_TRUE(zarn.readUntil([](const std::string& out, const std::string&) { return out == "press\nrelease\n"; }))
        << zarn.out;
    EXPECT_EQ(zarn.wait(), 0);
    EXPECT_EQ(zarn.out, "press\nrelease\n");
}

TEST_F(HotkeyCommandX11Test, CtrlCStopsAndLetsGoOfTheKey) {
    ZarnProcess zarn({"hotkey", "test", "--key", "rightOption"}, env());
    ASSERT_TRUE(zarn.readUntil(armed)) << zarn.err;
    EXPECT_TRUE(contains(zarn.err, "Listening for Right Alt (x11 backend); press Ctrl-C to stop.\n")) << zarn.err;
    EXPECT_TRUE(speaksLinux(zarn.err)) << zarn.err;
    tap(kRightAlt);
    ASSERT_TRUE(zarn.readUntil([](const std::string& out, const std::string&) { return out == "press\nrelease\n"; }))
        << zarn.out;
    zarn.signal(SIGINT);
    EXPECT_EQ(zarn.wait(), 0);

    // With the command gone, nobody holds the key any more.
    EXPECT_TRUE(test::keyIsFreeToGrab(xvfb.display(), kRightAlt));
}

}  // namespace
}  // namespace zarn
