#pragma once

#include <functional>
#include <memory>
#include <vector>

#include "base/Executor.h"
#include "base/Observable.h"
#include "base/Reply.h"
#include "contracts/DictationRun.h"
#include "history/RunLog.h"

namespace zarn {

class FileWatcher;

// The loaded history for the views: `runs` is every readable record, oldest first. Also the
// controller's recorder. The file is read whole at start, on reload() and when someone else
// changed it (a `zarn` command recording or deleting); a change made through the store is
// applied to the list in place once the file took it (a record appends, a delete removes,
// a clear empties), so a long history costs nothing per dictation. Observers hear of every
// change. Main executor only.
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
    void reloadIfChanged();
    // Applies the log's last change to the list, or reads the file when it held more.
    void applied(const std::function<void(std::vector<DictationRun>&)>& change);

    std::shared_ptr<RunLog> log_;
    Observable<std::vector<DictationRun>> runs_;
    SequenceChecker sequence_;
    Lifetime lifetime_;
    std::unique_ptr<FileWatcher> watcher_;
    RunLog::Version known_;  // the file's version the list shows
};

}  // namespace zarn
