#pragma once

#include <sys/types.h>

#include <chrono>
#include <condition_variable>
#include <filesystem>
#include <functional>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

namespace zarn::test {

// Polls `done` until it holds or `timeout` passes; every readiness wait of the tests is one.
bool waitUntil(const std::function<bool()>& done, std::chrono::milliseconds timeout);

// Whether `program` is an executable file or found on PATH.
bool installed(const std::string& program);

// Where a child's standard output or error goes.
enum class ChildStream { capture, inherit };

struct ChildOptions {
    // Over this process's environment (or an empty one with `cleanEnv`); nullopt removes.
    std::map<std::string, std::optional<std::string>> env;
    bool cleanEnv = false;
    std::string input;
    ChildStream out = ChildStream::capture;
    ChildStream err = ChildStream::capture;
    std::filesystem::path outPath;  // an existing file or device for standard output instead
};

// A program started by a test, in a process group of its own that ends with the object (and
// with the thread that started it, should the test die). Standard input is `input` (nothing
// by default); what it writes is collected by a thread of its own, so a full pipe never
// stalls it, unless the stream is inherited or sent to a file.
class ChildProcess {
public:
    using Stream = ChildStream;
    using Options = ChildOptions;

    // Throws std::runtime_error when the program cannot be started.
    explicit ChildProcess(const std::vector<std::string>& argv, Options options = {});
    // Standard output captured or not; standard error inherited, so it shows in the test's log.
    ChildProcess(const std::vector<std::string>& argv, bool captureStdout)
        : ChildProcess(argv, Options{.out = captureStdout ? Stream::capture : Stream::inherit, .err = Stream::inherit}) {}
    ~ChildProcess();
    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;

    pid_t pid() const { return pid_; }
    // Everything written so far.
    std::string out() const;
    std::string err() const;
    // Waits until `ready` holds; false when `timeout` passes or the process ends first.
    bool waitFor(const std::function<bool()>& ready, std::chrono::milliseconds timeout);
    // Waits until `done` holds for what was written to (stdout, stderr); false on timeout.
    bool waitForOutput(const std::function<bool(const std::string&, const std::string&)>& done,
                       std::chrono::milliseconds timeout);
    // The next line of standard output (without the newline), or nullopt at its end or timeout.
    std::optional<std::string> readLine(std::chrono::milliseconds timeout);
    // The exit status (128 + signal when killed), or nullopt on timeout.
    std::optional<int> wait(std::chrono::milliseconds timeout);
    bool running();
    void signal(int sig);
    // SIGTERM to the group, SIGKILL after 3 s; the status as wait() gives it.
    std::optional<int> terminate();

    struct Result {
        int status = -1;  // -1 when it could not start or did not end in time
        std::string out;
        std::string err;
    };
    // Runs a program to its end.
    static Result run(const std::vector<std::string>& argv, Options options = {},
                      std::chrono::milliseconds timeout = std::chrono::seconds(60));

private:
    void collect();

    pid_t pid_ = -1;
    std::optional<int> status_;
    bool groupEnded_ = false;
    int outFd_ = -1, errFd_ = -1, stopFd_[2] = {-1, -1};
    mutable std::mutex mutex_;
    std::condition_variable changed_;
    std::string out_, err_;
    std::size_t lineStart_ = 0;
    bool outEnded_ = true, errEnded_ = true;
    std::thread collector_;
};

// Runs a command to its end; true when it exits 0. Its standard output goes to `output`.
bool runCommand(const std::vector<std::string>& argv, std::string* output = nullptr);

}  // namespace zarn::test
