#include "history/RunStore.h"

#include "base/Log.h"

namespace zarn {

RunStore::RunStore(std::shared_ptr<RunLog> log) : log_(std::move(log)), runs_(log_->load()) {}

RunStore& RunStore::shared() {
    static RunStore store(std::make_shared<RunLog>(RunLog::defaultFile()));
    return store;
}

void RunStore::reload() { runs_.set(log_->load()); }

void RunStore::record(const DictationRun& run) {
    std::string error;
    if (!log_->record(run, &error)) Log::app().info("history · run not stored: %s", error);
    reload();
}

void RunStore::deleteRun(const DictationRun& run) {
    std::string error;
    log_->deleteRun(run, &error);
    if (!error.empty()) Log::app().info("history · delete failed: %s", error);
    reload();
}

void RunStore::clear() {
    std::string error;
    if (!log_->clear(&error)) Log::app().info("history · clear failed: %s", error);
    reload();
}

}  // namespace zarn
