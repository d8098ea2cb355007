#include "history/RunStore.h"

#include "base/FileWatcher.h"
#include "base/Log.h"
#include "base/MainExecutor.h"
#include "history/RunJson.h"

namespace zarn {

RunStore::RunStore(std::shared_ptr<RunLog> log, Executor& mainExecutor, bool watch) : log_(std::move(log)) {
    // Watching starts before the first read, so no change by another process falls between the two.
    if (watch) {
        // Our own appends are seen too; they are in the list already.
        watcher_ = std::make_unique<FileWatcher>(log_->file(), mainExecutor, lifetime_.guard([this] {
            if (RunLog::versionOf(log_->file()) != known_) reload();
        }));
    }
    reload();
}

RunStore::~RunStore() {
    lifetime_.invalidate();
    watcher_.reset();
}

RunStore& RunStore::shared() {
    static RunStore store(std::make_shared<RunLog>(RunLog::defaultFile()), mainExecutor());
    return store;
}

void RunStore::reload() {
    ZARN_DCHECK_SEQUENCE(sequence_);
    std::string error;
    // Taken before the read: a change during it shows as a newer version and reads again.
    known_ = RunLog::versionOf(log_->file());
    runs_.set(log_->load(&error));
    if (!error.empty()) Log::app().error("history · cannot read the history: %s", error);
    // A file the first record created is watched from now on.
    if (watcher_) watcher_->rearm();
}

void RunStore::record(const DictationRun& run) {
    ZARN_DCHECK_SEQUENCE(sequence_);
    std::string error;
    if (!log_->record(run, &error)) {
        Log::app().error("history · run not stored: %s", error);
        reload();
        return;
    }
    if (log_->versionBeforeRecord() != known_) return reload();
    auto runs = runs_.get();
    // As a reload would read it back (whole-second dates), so the list never depends on
    // whether it was read again.
    runs.push_back(decodeRunLine(*encodeRunLine(run)).value_or(run));
    runs_.set(std::move(runs));
    known_ = log_->versionAfterRecord();
    if (watcher_) watcher_->rearm();
}

void RunStore::deleteRun(const DictationRun& run) {
    ZARN_DCHECK_SEQUENCE(sequence_);
    std::string error;
    log_->deleteRun(run, &error);
    if (!error.empty()) Log::app().error("history · delete failed: %s", error);
    reload();
}

void RunStore::clear() {
    ZARN_DCHECK_SEQUENCE(sequence_);
    std::string error;
    if (!log_->clear(&error)) Log::app().error("history · clear failed: %s", error);
    reload();
}

}  // namespace zarn
