#pragma once

#include <cstdint>
#include <map>
#include <utility>

#include "base/Executor.h"

namespace zarn::detail {

// Delayed tasks ordered by due time, then by posting order (equal deadlines keep FIFO).
template <class TimePoint>
class TimerQueue {
public:
    struct Entry {
        Task task;
        TimerHandle handle;
    };

    TimerHandle add(TimePoint due, Task task) {
        TimerHandle handle(std::make_shared<std::atomic<bool>>(false));
        entries_.emplace(std::make_pair(due, next_++), Entry{std::move(task), handle});
        return handle;
    }

    bool empty() const { return entries_.empty(); }
    TimePoint nextDue() const { return entries_.begin()->first.first; }

    // Removes and returns the earliest entry if it is due at or before `now`.
    bool popDue(TimePoint now, Task& out) {
        while (!entries_.empty()) {
            auto it = entries_.begin();
            if (it->second.handle.isCancelled()) {
                entries_.erase(it);
                continue;
            }
            if (it->first.first > now) return false;
            out = std::move(it->second.task);
            entries_.erase(it);
            return true;
        }
        return false;
    }

    void dropCancelled() {
        for (auto it = entries_.begin(); it != entries_.end();) {
            it = it->second.handle.isCancelled() ? entries_.erase(it) : std::next(it);
        }
    }

    std::size_t liveCount() const {
        std::size_t n = 0;
        for (const auto& [key, entry] : entries_) n += entry.handle.isCancelled() ? 0 : 1;
        return n;
    }

    void clear() { entries_.clear(); }

private:
    std::map<std::pair<TimePoint, std::uint64_t>, Entry> entries_;
    std::uint64_t next_ = 0;
};

}  // namespace zarn::detail
