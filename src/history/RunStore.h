#pragma once

#include <functional>
#include <memory>
#include <vector>

#include "base/Executor.h"
#include "base/Observable.h"
#include "base/Reply.h"
#include "contracts/Contracts.h"
#include "history/RunLog.h"

namespace zarn {

class FileWatcher;

// The loaded history for the views: `runs` is every readable record, oldest first, replaced
// after every change made through the store and whenever the file changes on disk (a `zarn`
// command recording or deleting). Also the controller's recorder: a recorded run is appended
// to the file and to the list, which is read again only when someone else changed the file
// meanwhile, so a long history costs nothing per dictation. Main executor only.
class RunStore final : public RunRecorder {
public:
    // `watch` false makes a store that never watches the file.
    RunStore(std::shared_ptr<RunLog> log, Executor& mainExecutor, bool watch = true);
    ~RunStore() override;
    RunStore(const RunStore&) = delete;
    RunStore& operator=(const RunStore&) = delete;

    // Made on first use over RunLog::defaultFile(), on the main executor (setMainExecutor).
    static RunStore& shared();

    const std::vector<DictationRun>& runs() const { return runs_.get(); }
    [[nodiscard]] Subscription observeRuns(std::function<void(const std::vector<DictationRun>&)> observer) {
        return runs_.subscribe(std::move(observer));
    }

    void reload();
    // Each changes the file, then brings the list up to date, whether or not the change succeeded.
    void record(const DictationRun& run) override;
    void deleteRun(const DictationRun& run);
    void clear();

    RunLog& log() { return *log_; }

private:
    std::shared_ptr<RunLog> log_;
    Observable<std::vector<DictationRun>> runs_;
    SequenceChecker sequence_;
    Lifetime lifetime_;
    std::unique_ptr<FileWatcher> watcher_;
    RunLog::Version known_;  // the file's version the list shows
};

}  // namespace zarn
