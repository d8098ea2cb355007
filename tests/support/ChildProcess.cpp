#include "support/ChildProcess.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/mman.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <stdexcept>

extern char** environ;

namespace zarn::test {

namespace {

using Clock = std::chrono::steady_clock;

std::string onPath(const std::string& program) {
    if (program.find('/') != std::string::npos) return ::access(program.c_str(), X_OK) == 0 ? program : "";
    const char* path = std::getenv("PATH");
    const std::string dirs = path ? path : "/usr/bin:/bin";
    for (std::size_t start = 0; start <= dirs.size();) {
        auto end = dirs.find(':', start);
        if (end == std::string::npos) end = dirs.size();
        const std::string candidate = dirs.substr(start, end - start) + "/" + program;
        if (::access(candidate.c_str(), X_OK) == 0) return candidate;
        start = end + 1;
    }
    return "";
}

std::vector<char*> pointers(std::vector<std::string>& strings) {
    std::vector<char*> out;
    for (auto& s : strings) out.push_back(s.data());
    out.push_back(nullptr);
    return out;
}

int checked(int fd, const char* what) {
    if (fd < 0) throw std::runtime_error(std::string(what) + ": " + std::strerror(errno));
    return fd;
}

}  // namespace

bool waitUntil(const std::function<bool()>& done, std::chrono::milliseconds timeout) {
    const auto deadline = Clock::now() + timeout;
    while (!done()) {
        if (Clock::now() >= deadline) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return true;
}

bool installed(const std::string& program) { return !onPath(program).empty(); }

ChildProcess::ChildProcess(const std::vector<std::string>& argv, Options options) {
    const std::string program = onPath(argv.at(0));
    if (program.empty()) throw std::runtime_error("cannot start " + argv[0] + ": not installed");
    std::map<std::string, std::string> env;
    for (char** e = environ; !options.cleanEnv && *e; ++e) {
        const std::string entry(*e);
        const auto eq = entry.find('=');
        if (eq != std::string::npos) env[entry.substr(0, eq)] = entry.substr(eq + 1);
    }
    for (const auto& [name, value] : options.env) {
        if (value) env[name] = *value;
        else env.erase(name);
    }
    std::vector<std::string> envStrings, argStrings = argv;
    for (const auto& [name, value] : env) envStrings.push_back(name + "=" + value);
    auto envp = pointers(envStrings), args = pointers(argStrings);

    // Everything the child needs is made before the fork: after it, only async-signal-safe calls.
    int in = -1, out[2] = {-1, -1}, err[2] = {-1, -1};
    if (options.input.empty()) {
        in = checked(::open("/dev/null", O_RDONLY | O_CLOEXEC), "/dev/null");
    } else {
        in = checked(::memfd_create("input", MFD_CLOEXEC), "memfd_create");
        if (::write(in, options.input.data(), options.input.size()) != static_cast<ssize_t>(options.input.size()) ||
            ::lseek(in, 0, SEEK_SET) != 0) {
            throw std::runtime_error("cannot write the input");
        }
    }
    if (!options.outPath.empty()) {
        out[1] = checked(::open(options.outPath.c_str(), O_WRONLY | O_CLOEXEC), options.outPath.c_str());
    } else if (options.out == Stream::capture) {
        checked(::pipe2(out, O_CLOEXEC), "pipe");
    }
    if (options.err == Stream::capture) checked(::pipe2(err, O_CLOEXEC), "pipe");
    checked(::pipe2(stopFd_, O_CLOEXEC), "pipe");
    const pid_t parent = ::getpid();
    pid_ = ::fork();
    if (pid_ == 0) {
        ::setpgid(0, 0);
        // A test that dies must not leave its servers behind holding the runner's output.
        ::prctl(PR_SET_PDEATHSIG, SIGKILL);
        if (::getppid() != parent) ::_exit(127);
        ::signal(SIGPIPE, SIG_DFL);
        sigset_t none;
        sigemptyset(&none);
        ::sigprocmask(SIG_SETMASK, &none, nullptr);
        ::dup2(in, 0);
        if (out[1] >= 0) ::dup2(out[1], 1);
        if (err[1] >= 0) ::dup2(err[1], 2);
        ::execve(program.c_str(), args.data(), envp.data());
        ::_exit(127);
    }
    const int forkError = errno;
    for (int fd : {in, out[1], err[1]}) {
        if (fd >= 0) ::close(fd);
    }
    if (pid_ < 0) throw std::runtime_error(std::string("fork: ") + std::strerror(forkError));
    ::setpgid(pid_, pid_);
    outFd_ = out[0];
    errFd_ = err[0];
    outEnded_ = outFd_ < 0;
    errEnded_ = errFd_ < 0;
    collector_ = std::thread([this] { collect(); });
}

ChildProcess::~ChildProcess() {
    terminate();
    [[maybe_unused]] auto ignored = ::write(stopFd_[1], "x", 1);
    collector_.join();
    for (int fd : {outFd_, errFd_, stopFd_[0], stopFd_[1]}) {
        if (fd >= 0) ::close(fd);
    }
}

void ChildProcess::collect() {
    pollfd fds[3] = {{outFd_, POLLIN, 0}, {errFd_, POLLIN, 0}, {stopFd_[0], POLLIN, 0}};
    while (fds[0].fd >= 0 || fds[1].fd >= 0) {
        if (::poll(fds, 3, -1) < 0) {
            if (errno == EINTR) continue;
            break;
        }
        if (fds[2].revents) break;
        for (int i = 0; i < 2; ++i) {
            if (fds[i].fd < 0 || !fds[i].revents) continue;
            char buffer[4096];
            const ssize_t n = ::read(fds[i].fd, buffer, sizeof buffer);
            const bool interrupted = n < 0 && errno == EINTR;
            std::lock_guard lock(mutex_);
            if (n > 0) {
                (i == 0 ? out_ : err_).append(buffer, static_cast<std::size_t>(n));
            } else if (!interrupted) {
                fds[i].fd = -1;  // closed with the object
                (i == 0 ? outEnded_ : errEnded_) = true;
            }
            changed_.notify_all();
        }
    }
    std::lock_guard lock(mutex_);
    outEnded_ = errEnded_ = true;
    changed_.notify_all();
}

std::string ChildProcess::out() const {
    std::lock_guard lock(mutex_);
    return out_;
}

std::string ChildProcess::err() const {
    std::lock_guard lock(mutex_);
    return err_;
}

bool ChildProcess::waitFor(const std::function<bool()>& ready, std::chrono::milliseconds timeout) {
    bool isReady = false;
    waitUntil([&] { return (isReady = ready()) || !running(); }, timeout);
    return isReady;
}

bool ChildProcess::waitForOutput(const std::function<bool(const std::string&, const std::string&)>& done,
                                 std::chrono::milliseconds timeout) {
    std::unique_lock lock(mutex_);
    changed_.wait_for(lock, timeout, [&] { return done(out_, err_) || (outEnded_ && errEnded_); });
    return done(out_, err_);
}

std::optional<std::string> ChildProcess::readLine(std::chrono::milliseconds timeout) {
    std::unique_lock lock(mutex_);
    auto newline = std::string::npos;
    changed_.wait_for(lock, timeout, [&] {
        newline = out_.find('\n', lineStart_);
        return newline != std::string::npos || outEnded_;
    });
    if (newline == std::string::npos) return std::nullopt;
    std::string line = out_.substr(lineStart_, newline - lineStart_);
    lineStart_ = newline + 1;
    return line;
}

bool ChildProcess::running() {
    if (status_ || pid_ <= 0) return false;
    int raw = 0;
    const pid_t r = ::waitpid(pid_, &raw, WNOHANG);
    if (r == pid_) status_ = WIFEXITED(raw) ? WEXITSTATUS(raw) : 128 + WTERMSIG(raw);
    return r == 0;
}

std::optional<int> ChildProcess::wait(std::chrono::milliseconds timeout) {
    waitUntil([this] { return !running(); }, timeout);
    return status_;
}

void ChildProcess::signal(int sig) {
    if (running()) ::kill(pid_, sig);
}

std::optional<int> ChildProcess::terminate() {
    if (pid_ <= 0 || groupEnded_) return status_;
    groupEnded_ = true;
    // The whole group: helpers the child started end with it.
    ::kill(-pid_, SIGTERM);
    if (!wait(std::chrono::seconds(3))) {
        ::kill(-pid_, SIGKILL);
        wait(std::chrono::seconds(3));
    }
    ::kill(-pid_, SIGKILL);
    return status_;
}

ChildProcess::Result ChildProcess::run(const std::vector<std::string>& argv, Options options,
                                       std::chrono::milliseconds timeout) {
    Result result;
    try {
        ChildProcess child(argv, std::move(options));
        const auto status = child.wait(timeout);
        child.terminate();
        {
            std::unique_lock lock(child.mutex_);
            child.changed_.wait_for(lock, std::chrono::seconds(5), [&] { return child.outEnded_ && child.errEnded_; });
        }
        result = {status.value_or(-1), child.out(), child.err()};
    } catch (const std::exception& e) {
        result.err = e.what();
    }
    return result;
}

bool runCommand(const std::vector<std::string>& argv, std::string* output) {
    auto result = ChildProcess::run(argv, {.err = ChildProcess::Stream::inherit});
    if (output) *output = result.out;
    return result.status == 0;
}

}  // namespace zarn::test
