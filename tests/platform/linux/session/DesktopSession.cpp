#include "platform/linux/session/DesktopSession.h"

#include <X11/Xlib.h>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <functional>
#include <stdexcept>
#include <thread>

namespace zarn::test {

using Clock = std::chrono::steady_clock;

namespace {

std::vector<char*> argvOf(const std::vector<std::string>& args) {
    std::vector<char*> out;
    for (const auto& a : args) out.push_back(const_cast<char*>(a.c_str()));
    out.push_back(nullptr);
    return out;
}

}  // namespace

bool installed(const std::string& program) {
    if (program.find('/') != std::string::npos) return access(program.c_str(), X_OK) == 0;
    const char* path = std::getenv("PATH");
    std::string dirs = path ? path : "/usr/bin:/bin";
    std::size_t start = 0;
    while (start <= dirs.size()) {
        auto end = dirs.find(':', start);
        if (end == std::string::npos) end = dirs.size();
        if (access((dirs.substr(start, end - start) + "/" + program).c_str(), X_OK) == 0) return true;
        start = end + 1;
    }
    return false;
}

namespace {

bool displayAccepts(const std::string& name) {
    Display* display = XOpenDisplay(name.c_str());
    if (!display) return false;
    XCloseDisplay(display);
    return true;
}

const char* const kBusLauncher = "/usr/libexec/at-spi-bus-launcher";

}  // namespace

ChildProcess::ChildProcess(const std::vector<std::string>& args, bool captureStdout) {
    int pipeFds[2] = {-1, -1};
    if (captureStdout && pipe2(pipeFds, O_CLOEXEC) != 0) throw std::runtime_error("pipe failed");
    auto argv = argvOf(args);
    pid_ = fork();
    if (pid_ < 0) throw std::runtime_error("fork failed");
    if (pid_ == 0) {
        setpgid(0, 0);
        // A test that dies must not leave its X server behind: it would hold the test
        // runner's output open and the run would wait for it.
        prctl(PR_SET_PDEATHSIG, SIGKILL);
        if (captureStdout) dup2(pipeFds[1], STDOUT_FILENO);
        execvp(argv[0], argv.data());
        _exit(127);
    }
    setpgid(pid_, pid_);
    if (captureStdout) {
        close(pipeFds[1]);
        out_ = pipeFds[0];
    }
}

ChildProcess::~ChildProcess() {
    terminate();
    if (out_ >= 0) close(out_);
}

std::optional<std::string> ChildProcess::readLine(std::chrono::milliseconds timeout) {
    auto deadline = Clock::now() + timeout;
    while (true) {
        auto newline = buffered_.find('\n');
        if (newline != std::string::npos) {
            std::string line = buffered_.substr(0, newline);
            buffered_.erase(0, newline + 1);
            return line;
        }
        auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
        if (left <= 0 || out_ < 0) return std::nullopt;
        pollfd p{out_, POLLIN, 0};
        if (poll(&p, 1, static_cast<int>(left)) <= 0) continue;
        char chunk[4096];
        ssize_t n = read(out_, chunk, sizeof chunk);
        if (n <= 0) return std::nullopt;
        buffered_.append(chunk, static_cast<std::size_t>(n));
    }
}

std::optional<int> ChildProcess::wait(std::chrono::milliseconds timeout) {
    auto deadline = Clock::now() + timeout;
    while (true) {
        int status = 0;
        pid_t r = waitpid(pid_, &status, WNOHANG);
        if (r == pid_) {
            reaped_ = true;
            return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
        }
        if (r < 0 || Clock::now() >= deadline) return std::nullopt;
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
}

void ChildProcess::terminate() {
    if (pid_ <= 0) return;
    // The whole group: helpers the child started die with it.
    kill(-pid_, SIGTERM);
    if (!reaped_ && !wait(std::chrono::seconds(3))) {
        kill(-pid_, SIGKILL);
        wait(std::chrono::seconds(3));
    } else {
        kill(-pid_, SIGKILL);
    }
    reaped_ = true;
}

bool waitUntil(const std::function<bool()>& done, std::chrono::milliseconds timeout) {
    auto deadline = Clock::now() + timeout;
    while (!done()) {
        if (Clock::now() >= deadline) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return true;
}

bool runCommand(const std::vector<std::string>& argv, std::string* output) {
    ChildProcess child(argv, true);
    std::string all;
    while (auto line = child.readLine(std::chrono::seconds(10))) all += *line + "\n";
    auto status = child.wait(std::chrono::seconds(10));
    if (output) *output = all;
    return status && *status == 0;
}

std::string DesktopSession::missingTool(bool accessibility) {
    std::vector<std::string> tools = {"Xvfb"};
    if (accessibility) {
        tools.insert(tools.end(), {"dbus-daemon", "dbus-send", kBusLauncher});
    }
    for (const auto& tool : tools) {
        if (!installed(tool)) return tool;
    }
    return {};
}

DesktopSession::DesktopSession(bool accessibility) {
    auto runtime = home_.root() / "runtime";
    std::filesystem::create_directories(runtime);
    chmod(runtime.c_str(), 0700);
    env_.set("XDG_RUNTIME_DIR", runtime.c_str());
    // Nothing of the caller's desktop may leak in.
    for (const char* name : {"AT_SPI_BUS_ADDRESS", "DBUS_SESSION_BUS_ADDRESS", "WAYLAND_DISPLAY"}) {
        env_.set(name, nullptr);
    }

    // Xvfb writes the display number it picked once it accepts connections. Without
    // -noreset it resets whenever its last client leaves and refuses connections meanwhile.
    xvfb_ = std::make_unique<ChildProcess>(
        std::vector<std::string>{"Xvfb", "-displayfd", "1", "-screen", "0", "1024x768x24", "-nolisten", "tcp", "-noreset"}, true);
    auto number = xvfb_->readLine(std::chrono::seconds(20));
    if (!number || number->empty()) throw std::runtime_error("Xvfb did not start");
    display_ = ":" + *number;
    env_.set("DISPLAY", display_.c_str());
    if (!waitUntil([this] { return displayAccepts(display_); }, std::chrono::seconds(20))) {
        throw std::runtime_error("Xvfb on " + display_ + " does not accept connections");
    }
    if (!accessibility) return;

    bus_ = std::make_unique<ChildProcess>(
        std::vector<std::string>{"dbus-daemon", "--session", "--nofork", "--nopidfile", "--print-address=1"}, true);
    auto address = bus_->readLine(std::chrono::seconds(20));
    if (!address || address->empty()) throw std::runtime_error("dbus-daemon did not start");
    env_.set("DBUS_SESSION_BUS_ADDRESS", address->c_str());

    atspiBus_ = std::make_unique<ChildProcess>(
        std::vector<std::string>{kBusLauncher, "--launch-immediately", "--a11y=1"}, false);
    bool named = waitUntil(
        [] {
            std::string out;
            return runCommand({"dbus-send", "--session", "--print-reply", "--dest=org.freedesktop.DBus",
                               "/org/freedesktop/DBus", "org.freedesktop.DBus.NameHasOwner", "string:org.a11y.Bus"},
                              &out) &&
                   out.find("boolean true") != std::string::npos;
        },
        std::chrono::seconds(20));
    if (!named) throw std::runtime_error("the accessibility bus did not start");
    std::string reply;
    if (!runCommand({"dbus-send", "--session", "--print-reply", "--dest=org.a11y.Bus", "/org/a11y/bus",
                     "org.a11y.Bus.GetAddress"},
                    &reply)) {
        throw std::runtime_error("the accessibility bus has no address");
    }
    auto open = reply.find('"'), close = reply.rfind('"');
    if (open == std::string::npos || close <= open) throw std::runtime_error("the accessibility bus has no address");
    std::string a11yAddress = reply.substr(open + 1, close - open - 1);
    // Pinging the registry starts it by bus activation and returns once it answers; should
    // its start fail, the next ping activates it again.
    bool registry = false;
    for (int attempt = 0; attempt < 5 && !registry; ++attempt) {
        registry = runCommand({"dbus-send", "--bus=" + a11yAddress, "--print-reply", "--dest=org.a11y.atspi.Registry",
                               "/org/a11y/atspi/registry", "org.freedesktop.DBus.Peer.Ping"});
    }
    if (!registry) {
        throw std::runtime_error("the accessibility registry did not start (display " + display_ +
                                 (displayAccepts(display_) ? " accepts connections)" : " refuses connections)"));
    }
    env_.set("QT_ACCESSIBILITY", "1");
    env_.set("QT_LINUX_ACCESSIBILITY_ALWAYS_ON", "1");
    env_.set("QT_QPA_PLATFORM", "xcb");
}

DesktopSession::~DesktopSession() {
    atspiBus_.reset();
    bus_.reset();
    xvfb_.reset();
}

}  // namespace zarn::test
