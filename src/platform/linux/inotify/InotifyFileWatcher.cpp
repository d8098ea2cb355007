#include "platform/linux/inotify/InotifyFileWatcher.h"

#include <poll.h>
#include <sys/eventfd.h>
#include <sys/inotify.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstring>

namespace zarn::inotify {

namespace {

constexpr uint32_t fileMask = IN_MODIFY | IN_CLOSE_WRITE | IN_MOVE_SELF | IN_DELETE_SELF;
constexpr uint32_t folderMask = IN_CREATE | IN_MODIFY | IN_CLOSE_WRITE | IN_DELETE | IN_MOVED_FROM | IN_MOVED_TO |
                                IN_DELETE_SELF | IN_MOVE_SELF | IN_ONLYDIR;

}  // namespace

InotifyFileWatcher::InotifyFileWatcher(std::filesystem::path file, Executor& executor, std::function<void()> onChange)
    : file_(std::move(file)), fileName_(file_.filename().string()), executor_(executor), shared_(std::make_shared<Shared>()) {
    shared_->onChange = std::move(onChange);
    inotifyFd_ = ::inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    stopFd_ = ::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
    if (inotifyFd_ < 0 || stopFd_ < 0) return;
    {
        std::lock_guard lock(mutex_);
        armLocked();
    }
    thread_ = std::thread([this] { run(); });
}

InotifyFileWatcher::~InotifyFileWatcher() {
    shared_->stopped.store(true);
    if (thread_.joinable()) {
        uint64_t one = 1;
        while (::write(stopFd_, &one, sizeof one) < 0 && errno == EINTR) {
        }
        thread_.join();
    }
    if (inotifyFd_ >= 0) ::close(inotifyFd_);
    if (stopFd_ >= 0) ::close(stopFd_);
}

bool InotifyFileWatcher::isWatchingFile() const {
    std::lock_guard lock(mutex_);
    return fileWatch_ >= 0;
}

void InotifyFileWatcher::rearm() {
    if (inotifyFd_ < 0) return;
    std::lock_guard lock(mutex_);
    armLocked();
}

void InotifyFileWatcher::armLocked() {
    if (folderWatch_ < 0) {
        auto folder = file_.has_parent_path() ? file_.parent_path() : std::filesystem::path(".");
        folderWatch_ = ::inotify_add_watch(inotifyFd_, folder.c_str(), folderMask);
    }
    // The same file keeps its watch; a new file under the name gets a new one.
    int watch = ::inotify_add_watch(inotifyFd_, file_.c_str(), fileMask);
    if (watch != fileWatch_) {
        if (fileWatch_ >= 0 && fileWatch_ != folderWatch_) ::inotify_rm_watch(inotifyFd_, fileWatch_);
        fileWatch_ = watch;
    }
}

bool InotifyFileWatcher::drainEvents() {
    alignas(inotify_event) char buffer[8192];
    bool relevant = false;
    for (;;) {
        ssize_t n = ::read(inotifyFd_, buffer, sizeof buffer);
        if (n < 0) {
            if (errno == EINTR) continue;
            break;  // EAGAIN: drained
        }
        if (n == 0) break;
        std::lock_guard lock(mutex_);
        for (ssize_t offset = 0; offset < n;) {
            auto* event = reinterpret_cast<const inotify_event*>(buffer + offset);
            offset += static_cast<ssize_t>(sizeof(inotify_event) + event->len);
            if (event->mask & IN_Q_OVERFLOW) {
                relevant = true;  // events were lost: read the file again to be sure
                continue;
            }
            if (event->wd == folderWatch_) {
                if (event->mask & (IN_IGNORED | IN_DELETE_SELF | IN_MOVE_SELF)) {
                    // The folder itself went away or moved: the name no longer leads to our file.
                    if (event->mask & IN_IGNORED) folderWatch_ = -1;
                    relevant = true;
                } else if (event->len > 0 && fileName_ == event->name) {
                    relevant = true;
                }
            } else if (event->wd == fileWatch_) {
                if (event->mask & IN_IGNORED) fileWatch_ = -1;
                relevant = true;
            }
        }
    }
    return relevant;
}

void InotifyFileWatcher::run() {
    pollfd fds[2] = {{inotifyFd_, POLLIN, 0}, {stopFd_, POLLIN, 0}};
    for (;;) {
        int ready = ::poll(fds, 2, -1);
        if (ready < 0) {
            if (errno == EINTR) continue;
            return;
        }
        if (fds[1].revents) return;
        if (!(fds[0].revents & POLLIN)) continue;
        if (!drainEvents()) continue;
        {
            std::lock_guard lock(mutex_);
            armLocked();
        }
        if (shared_->pending.exchange(true)) continue;
        executor_.post([shared = shared_] {
            // Cleared before the call, so a change made during it is reported again.
            shared->pending.store(false);
            if (!shared->stopped.load()) shared->onChange();
        });
    }
}

void install() {
    FileWatcher::setBackend([](std::filesystem::path file, Executor& executor, std::function<void()> onChange) {
        return std::make_unique<InotifyFileWatcher>(std::move(file), executor, std::move(onChange));
    });
}

}  // namespace zarn::inotify
