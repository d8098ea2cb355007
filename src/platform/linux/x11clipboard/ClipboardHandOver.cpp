#include "platform/linux/x11clipboard/ClipboardHandOver.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <unistd.h>

#include <cerrno>

namespace zarn::x11 {
namespace {

bool writeAll(int fd, const std::string& bytes) {
    std::size_t done = 0;
    while (done < bytes.size()) {
        ssize_t n = write(fd, bytes.data() + done, bytes.size() - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        done += static_cast<std::size_t>(n);
    }
    return true;
}

// Like xclip: a detached copy of the program keeps serving the targets.
bool spawnBackgroundCopy(const std::vector<SelectionTarget>& targets, const std::filesystem::path& executable) {
    int data[2], ready[2];
    if (pipe2(data, O_CLOEXEC) != 0) return false;
    if (pipe2(ready, O_CLOEXEC) != 0) {
        close(data[0]);
        close(data[1]);
        return false;
    }
    std::string readyFd = std::to_string(ready[1]);
    std::string path = executable.string();
    std::string flag(serveClipboardFlag);
    const char* argv[] = {"zarn", "insert", flag.c_str(), readyFd.c_str(), nullptr};
    pid_t pid = fork();
    if (pid == 0) {
        // Only async-signal-safe calls until exec.
        setsid();
        dup2(data[0], STDIN_FILENO);
        int null = open("/dev/null", O_RDWR);
        if (null >= 0) {
            dup2(null, STDOUT_FILENO);
            dup2(null, STDERR_FILENO);
        }
        fcntl(ready[1], F_SETFD, 0);
        execv(path.c_str(), const_cast<char* const*>(argv));
        _exit(127);
    }
    close(data[0]);
    close(ready[1]);
    bool ok = pid > 0;
    if (ok) {
        auto previous = signal(SIGPIPE, SIG_IGN);
        ok = writeAll(data[1], encodeTargets(targets));
        signal(SIGPIPE, previous);
    }
    close(data[1]);
    if (ok) {
        pollfd p{ready[0], POLLIN, 0};
        char byte = 0;
        ok = poll(&p, 1, 10000) == 1 && read(ready[0], &byte, 1) == 1;
    }
    close(ready[0]);
    return ok;
}

}  // namespace

bool handOverClipboard(X11Clipboard& clipboard, const std::filesystem::path& zarnExecutable, std::string* error,
                       std::chrono::milliseconds managerTimeout) {
    if (!clipboard.ownsClipboard()) return true;
    if (clipboard.saveToManager(managerTimeout)) return true;
    // A manager that took the clipboard without confirming in time has it all the same.
    auto targets = clipboard.servedTargets();
    if (!clipboard.ownsClipboard()) return true;
    if (spawnBackgroundCopy(targets, zarnExecutable)) return true;
    if (error) *error = "the clipboard could not be kept after exit";
    return false;
}

int serveHandedOverClipboard(int readyFd, std::string_view encodedTargets) {
    auto targets = decodeTargets(encodedTargets);
    if (!targets) return 1;
    bool served = serveUntilTaken({}, *targets, [readyFd] {
        [[maybe_unused]] auto n = write(readyFd, "1", 1);
        close(readyFd);
    });
    return served ? 0 : 1;
}

}  // namespace zarn::x11
