#pragma once

#include <filesystem>
#include <functional>
#include <memory>

#include "base/Executor.h"

namespace zarn {

// Watches one file by name and calls `onChange` on the executor it was given after the file
// was written, grown, deleted, renamed away, replaced (as by an atomic write) or created.
// Events that arrive while a call is pending are folded into it. Destruction stops the
// watching; a call still queued on the executor then does nothing.
//
// The system's watcher (inotify on Linux) is a backend the program installs at start; without
// one, `make` answers a watcher that never reports and says so through isRunning().
class FileWatcher {
public:
    using Backend = std::function<std::unique_ptr<FileWatcher>(std::filesystem::path file, Executor& executor,
                                                               std::function<void()> onChange)>;
    // Thread-safe; an empty backend restores the one that never reports.
    static void setBackend(Backend backend);
    static std::unique_ptr<FileWatcher> make(std::filesystem::path file, Executor& executor,
                                             std::function<void()> onChange);

    virtual ~FileWatcher() = default;
    // False when the watching could not be set up at all.
    virtual bool isRunning() const = 0;
    // True while the file itself is watched (it existed when last armed).
    virtual bool isWatchingFile() const = 0;
    // Arms the watches again now, e.g. after the owner created the file.
    virtual void rearm() = 0;
};

}  // namespace zarn
