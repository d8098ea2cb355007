#include "history/RunStore.h"

#include <algorithm>
#include <cctype>

#include "base/FileWatcher.h"
#include "base/Log.h"
#include "base/MainExecutor.h"
#include "history/RunJson.h"

namespace zarn {

RunStore::RunStore(std::shared_ptr<RunLog> log, Executor& mainExecutor, bool watch) : log_(std::move(log)) {
    // Watching starts before the first read, so no change by another process falls between the two.
    if (watch) {
        // Our own appends are seen too; they are in the list already.
        watcher_ = FileWatcher::make(log_->file(), mainExecutor, lifetime_.guard([this] {
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

void RunStore::reloadIfChanged() {
    if (RunLog::versionOf(log_->file()) != known_) reload();
}

void RunStore::applied(const std::function<void(std::vector<DictationRun>&)>& change) {
    // Someone else changed the file first: only a whole read knows what it holds now.
    if (log_->versionBeforeChange() != known_) return reload();
    runs_.change(change);
    known_ = log_->versionAfterChange();
    if (watcher_) watcher_->rearm();
}

void RunStore::record(const DictationRun& run) {
    ZARN_DCHECK_SEQUENCE(sequence_);
    std::string error;
    if (!log_->record(run, &error)) {
        Log::app().error("history · run not stored: %s", error);
        return reloadIfChanged();
    }
    // As a reload would read it back (whole-second dates), so the list never depends on
    // whether it was read again.
    auto stored = decodeRunLine(*encodeRunLine(run)).value_or(run);
    applied([&](std::vector<DictationRun>& runs) { runs.push_back(std::move(stored)); });
}

void RunStore::deleteRun(const DictationRun& run) {
    ZARN_DCHECK_SEQUENCE(sequence_);
    std::string error;
    if (log_->deleteRun(run, &error) == 0) {
        if (!error.empty()) Log::app().error("history · delete failed: %s", error);
        return reloadIfChanged();
    }
    auto sameLetter = [](char a, char b) {
        return std::toupper(static_cast<unsigned char>(a)) == std::toupper(static_cast<unsigned char>(b));
    };
    applied([&](std::vector<DictationRun>& runs) {
        std::erase_if(runs, [&](const DictationRun& each) {
            return std::equal(each.id.begin(), each.id.end(), run.id.begin(), run.id.end(), sameLetter);
        });
    });
}

void RunStore::clear() {
    ZARN_DCHECK_SEQUENCE(sequence_);
    std::string error;
    if (!log_->clear(&error)) {
        Log::app().error("history · clear failed: %s", error);
        return reloadIfChanged();
    }
    // Whatever anyone wrote before, nothing is left.
    known_ = log_->versionAfterChange();
    runs_.set({});
    if (watcher_) watcher_->rearm();
}

}  // namespace zarn
