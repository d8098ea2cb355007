#include "XvfbServer.h"

#include <X11/Xlib.h>

#include "platform/linux/x11/X11Errors.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <string>
#include <vector>

namespace zarn::test {

XvfbServer::XvfbServer(const std::string& display) {
    int fds[2];
    if (::pipe2(fds, O_CLOEXEC) != 0) {
        failure_ = "pipe failed";
        return;
    }
    pid_ = ::fork();
    if (pid_ < 0) {
        failure_ = "fork failed";
        ::close(fds[0]);
        ::close(fds[1]);
        return;
    }
    if (pid_ == 0) {
        // Only the write end survives the exec; Xvfb writes the number there when ready.
        ::dup2(fds[1], 3);
        int devnull = ::open("/dev/null", O_WRONLY);
        if (devnull >= 0) {
            ::dup2(devnull, 1);
            ::dup2(devnull, 2);
        }
        std::vector<const char*> argv{"Xvfb"};
        if (!display.empty()) argv.push_back(display.c_str());
        for (const char* arg : {"-displayfd", "3", "-nolisten", "tcp", "-noreset", "-screen", "0", "640x480x24"}) {
            argv.push_back(arg);
        }
        argv.push_back(nullptr);
        ::execvp("Xvfb", const_cast<char* const*>(argv.data()));
        ::_exit(127);
    }
    ::close(fds[1]);
    std::string number;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    while (number.find('\n') == std::string::npos) {
        auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0) {
            failure_ = "Xvfb did not report a display in time";
            break;
        }
        pollfd p{fds[0], POLLIN, 0};
        if (::poll(&p, 1, static_cast<int>(left.count())) <= 0) continue;
        char buffer[32];
        auto n = ::read(fds[0], buffer, sizeof buffer);
        if (n <= 0) {
            failure_ = "Xvfb exited before it was ready";
            break;
        }
        number.append(buffer, static_cast<std::size_t>(n));
    }
    ::close(fds[0]);
    if (failure_.empty()) {
        display_ = ":" + number.substr(0, number.find('\n'));
    }
}

XvfbServer::~XvfbServer() { stop(); }

void XvfbServer::stop() {
    if (pid_ <= 0) return;
    ::kill(pid_, SIGTERM);
    int status = 0;
    ::waitpid(pid_, &status, 0);
    pid_ = -1;
}

bool keyIsFreeToGrab(const std::string& display, int keycode) {
    Display* other = XOpenDisplay(display.c_str());
    if (!other) return false;
    bool refused = false;
    {
        // The hook under test shares the process's error handler.
        x11::ErrorTrap trap(other);
        XGrabKey(other, keycode, AnyModifier, DefaultRootWindow(other), False, GrabModeAsync, GrabModeAsync);
        refused = trap.sync() != 0;
    }
    XCloseDisplay(other);
    return !refused;
}

}  // namespace zarn::test
