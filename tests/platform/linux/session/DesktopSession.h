#pragma once

#include <sys/types.h>

#include <chrono>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "support/ScopedEnv.h"
#include "support/TempDir.h"

namespace zarn::test {

// A child process in a process group of its own; the group is ended with the object.
class ChildProcess {
public:
    // `captureStdout` gives a pipe readable with readLine(); otherwise stdout is inherited.
    ChildProcess(const std::vector<std::string>& argv, bool captureStdout);
    ~ChildProcess();
    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;

    pid_t pid() const { return pid_; }
    // The next line of standard output (without the newline), or nullopt at end or timeout.
    std::optional<std::string> readLine(std::chrono::milliseconds timeout);
    // Waits for the process to end; its exit status, or nullopt on timeout.
    std::optional<int> wait(std::chrono::milliseconds timeout);
    void terminate();

private:
    pid_t pid_ = -1;
    int out_ = -1;
    std::string buffered_;
    bool reaped_ = false;
};

// A private desktop: Xvfb on a free display, and with accessibility a session bus and the
// AT-SPI bus as well. The environment of this process (DISPLAY, DBUS_SESSION_BUS_ADDRESS,
// XDG folders, HOME) points at it while the object lives; everything stops with it.
class DesktopSession {
public:
    explicit DesktopSession(bool accessibility);
    ~DesktopSession();

    const std::string& display() const { return display_; }
    // Empty when every program the sessions need is installed, else the missing one.
    static std::string missingTool(bool accessibility);

private:
    ScopedXdgHome home_;
    std::unique_ptr<ChildProcess> xvfb_, bus_, atspiBus_;
    std::string display_;
    ScopedEnv env_;
};

// Waits until `done` holds, checking every few milliseconds, or `timeout` passes.
bool waitUntil(const std::function<bool()>& done, std::chrono::milliseconds timeout);

// Whether a program is on PATH (or, given with a slash, executable there).
bool installed(const std::string& program);

// Runs a command to its end; true when it exits 0. Its standard output goes to `output`.
bool runCommand(const std::vector<std::string>& argv, std::string* output = nullptr);

}  // namespace zarn::test
