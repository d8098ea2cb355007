#pragma once

#include <atomic>
#include <filesystem>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>

#include "base/FileWatcher.h"

namespace zarn::inotify {

// The file watcher on inotify, on a thread of its own. Both the file (following a symbolic
// link) and its folder are watched, so a replaced or newly created file is watched again at
// once.
class InotifyFileWatcher final : public FileWatcher {
public:
    InotifyFileWatcher(std::filesystem::path file, Executor& executor, std::function<void()> onChange);
    ~InotifyFileWatcher() override;
    InotifyFileWatcher(const InotifyFileWatcher&) = delete;
    InotifyFileWatcher& operator=(const InotifyFileWatcher&) = delete;

    bool isRunning() const override { return thread_.joinable(); }
    bool isWatchingFile() const override;
    void rearm() override;

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

// Makes inotify the process's file watcher (FileWatcher::make).
void install();

}  // namespace zarn::inotify
