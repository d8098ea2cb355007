#include "base/FileWatcher.h"

#include <mutex>

namespace zarn {
namespace {

class IdleWatcher final : public FileWatcher {
public:
    bool isRunning() const override { return false; }
    bool isWatchingFile() const override { return false; }
    void rearm() override {}
};

std::mutex backendMutex;
FileWatcher::Backend installedBackend;

}  // namespace

void FileWatcher::setBackend(Backend backend) {
    std::lock_guard lock(backendMutex);
    installedBackend = std::move(backend);
}

std::unique_ptr<FileWatcher> FileWatcher::make(std::filesystem::path file, Executor& executor,
                                               std::function<void()> onChange) {
    Backend backend;
    {
        std::lock_guard lock(backendMutex);
        backend = installedBackend;
    }
    if (!backend) return std::make_unique<IdleWatcher>();
    return backend(std::move(file), executor, std::move(onChange));
}

}  // namespace zarn
