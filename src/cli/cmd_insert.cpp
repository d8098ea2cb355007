// zarn insert TEXT: puts TEXT into the focused window as a dictation would.

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <iostream>
#include <iterator>

#include "base/EventLoop.h"
#include "cli/Command.h"
#include "inject/TextInjector.h"
#include "platform/linux/atspi/AtspiAccessibility.h"
#include "platform/linux/x11clipboard/X11Clipboard.h"
#include "platform/linux/xtest/XTestKeySynthesizer.h"

namespace {

using namespace std::chrono_literals;

constexpr const char* kServeFlag = "--serve-clipboard";

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

// An X11 selection dies with the client that owns it. Like xclip, a detached copy of this
// program keeps serving the clipboard until another client takes it over.
bool handOverClipboard(const std::vector<zarn::x11::SelectionTarget>& targets, std::ostream& err) {
    int data[2], ready[2];
    if (pipe2(data, O_CLOEXEC) != 0) return false;
    if (pipe2(ready, O_CLOEXEC) != 0) {
        close(data[0]);
        close(data[1]);
        return false;
    }
    std::string readyFd = std::to_string(ready[1]);
    const char* argv[] = {"zarn", "insert", kServeFlag, readyFd.c_str(), nullptr};
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
        execv("/proc/self/exe", const_cast<char* const*>(argv));
        _exit(127);
    }
    close(data[0]);
    close(ready[1]);
    bool ok = pid > 0;
    if (ok) {
        auto previous = signal(SIGPIPE, SIG_IGN);
        ok = writeAll(data[1], zarn::x11::encodeTargets(targets));
        signal(SIGPIPE, previous);
    }
    close(data[1]);
    if (ok) {
        pollfd p{ready[0], POLLIN, 0};
        char byte = 0;
        ok = poll(&p, 1, 10000) == 1 && read(ready[0], &byte, 1) == 1;
    }
    close(ready[0]);
    if (!ok) err << "zarn insert: the clipboard could not be kept after exit\n";
    return ok;
}

int serveClipboard(const std::vector<std::string>& args, std::istream& in) {
    if (args.size() != 1) throw zarn::cli::UsageError("internal use only");
    int readyFd = std::stoi(args[0]);
    std::string bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>{});
    auto targets = zarn::x11::decodeTargets(bytes);
    if (!targets) return 1;
    bool served = zarn::x11::serveUntilTaken({}, *targets, [readyFd] {
        [[maybe_unused]] auto n = write(readyFd, "1", 1);
        close(readyFd);
    });
    return served ? 0 : 1;
}

int runInsert(zarn::cli::CommandContext& context) {
    auto args = context.args;
    if (zarn::cli::takeFlag(args, kServeFlag)) return serveClipboard(args, context.in);
    std::string text = zarn::cli::textArgumentOrStdin(args, context.in);
    if (text.empty()) return 0;

    zarn::EventLoop loop;
    zarn::atspi::AtspiAccessibility accessibility;
    zarn::x11::X11Clipboard clipboard;
    zarn::x11::XTestKeySynthesizer keys;
    {
        zarn::TextInjector injector(accessibility, clipboard, keys, loop);
        injector.insert(text);
        loop.runUntil([&] { return !injector.isPasting(); }, 10s);
    }
    if (!clipboard.ownsClipboard()) return 0;
    return handOverClipboard(clipboard.servedTargets(), context.err) ? 0 : 1;
}

zarn::cli::Registration reg{{"insert", "insert [TEXT]",
                             "Type TEXT (or standard input) into the focused window, as a dictation would.",
                             &runInsert}};

}  // namespace
