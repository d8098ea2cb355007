#pragma once

#include <atomic>
#include <filesystem>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>

#include "base/Executor.h"

namespace zarn {

// Watches one file by name with inotify, on a thread of its own, and calls `onChange` on
// `executor` after the file was written, grown, deleted, renamed away, replaced (as by an
// atomic write) or created. Events that arrive while a call is pending are folded into it.
// Both the file (following a symbolic link) and its folder are watched, so a replaced or
// newly created file is watched again at once. Destruction stops the thread; a call still
// queued on the executor then does nothing.
class FileWatcher {
public:
    FileWatcher(std::filesystem::path file, Executor& executor, std::function<void()> onChange);
    ~FileWatcher();
    FileWatcher(const FileWatcher&) = delete;
    FileWatcher& operator=(const FileWatcher&) = delete;

    // False when inotify could not be set up at all.
    bool isRunning() const { return thread_.joinable(); }
    // True while the file itself is watched (it existed when last armed).
    bool isWatchingFile() const;
    // Arms the watches again now, e.g. after the owner created the file.
    void rearm();

private:
    struct Shared {
        std::atomic<bool> pending{false};
        std::atomic<bool> stopped{false};
        std::function<void()> onChange;
    };

    void run();
    void armLocked();
    // Reads and sorts one batch of events; true when any concerns the file.
    bool drainEvents();

    std::filesystem::path file_;
    std::string fileName_;
    Executor& executor_;
    std::shared_ptr<Shared> shared_;
    int inotifyFd_ = -1;
    int stopFd_ = -1;
    mutable std::mutex mutex_;
    int fileWatch_ = -1;
    int folderWatch_ = -1;
    std::thread thread_;
};

}  // namespace zarn
