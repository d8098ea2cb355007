#include "base/ManualExecutor.h"

namespace zarn {

ManualExecutor::ManualExecutor(SystemTime start) : now_(start) {}

ManualExecutor::~ManualExecutor() {
    detail::discardTasks(ready_);
    detail::DiscardScope scope;
    timers_.clear();
}

void ManualExecutor::post(Task task) {
    {
        std::lock_guard lock(mutex_);
        ready_.push_back(std::move(task));
    }
    posted_.notify_all();
}

TimerHandle ManualExecutor::postAfter(Duration delay, Task task) {
    std::lock_guard lock(mutex_);
    if (delay < Duration::zero()) delay = Duration::zero();
    return timers_.add(now_ + std::chrono::duration_cast<SystemTime::duration>(delay), std::move(task));
}

bool ManualExecutor::isCurrent() const {
    std::lock_guard lock(mutex_);
    return depth_ > 0 && runner_ == std::this_thread::get_id();
}

SystemTime ManualExecutor::now() const {
    std::lock_guard lock(mutex_);
    return now_;
}

bool ManualExecutor::runOneReady() {
    Task task;
    {
        std::lock_guard lock(mutex_);
        if (ready_.empty()) return false;
        task = std::move(ready_.front());
        ready_.pop_front();
        ++depth_;
        runner_ = std::this_thread::get_id();
    }
    {
        detail::CurrentExecutorScope current(this);
        task();
        task = nullptr;
    }
    std::lock_guard lock(mutex_);
    --depth_;
    return true;
}

std::size_t ManualExecutor::runUntilIdle() {
    std::size_t count = 0;
    while (runOneReady()) ++count;
    return count;
}

void ManualExecutor::advanceBy(Duration delay) {
    runUntilIdle();
    SystemTime target;
    {
        std::lock_guard lock(mutex_);
        target = now_ + std::chrono::duration_cast<SystemTime::duration>(delay);
    }
    for (;;) {
        Task task;
        {
            std::lock_guard lock(mutex_);
            timers_.dropCancelled();
            if (timers_.empty() || timers_.nextDue() > target) {
                now_ = target;
                break;
            }
            if (timers_.nextDue() > now_) now_ = timers_.nextDue();
            timers_.popDue(now_, task);
        }
        if (task) post(std::move(task));
        runUntilIdle();
    }
    runUntilIdle();
}

void ManualExecutor::runAll() {
    for (;;) {
        runUntilIdle();
        SystemTime due;
        {
            std::lock_guard lock(mutex_);
            timers_.dropCancelled();
            if (timers_.empty()) return;
            due = timers_.nextDue();
        }
        advanceBy(std::max(Duration::zero(), std::chrono::duration_cast<Duration>(due - now())));
    }
}

bool ManualExecutor::runUntil(const std::function<bool()>& done, Duration realTimeout) {
    auto deadline = std::chrono::steady_clock::now() + realTimeout;
    for (;;) {
        runUntilIdle();
        if (done()) return true;
        std::unique_lock lock(mutex_);
        if (!posted_.wait_until(lock, deadline, [this] { return !ready_.empty(); })) {
            lock.unlock();
            return done();
        }
    }
}

std::size_t ManualExecutor::pendingTimers() const {
    std::lock_guard lock(mutex_);
    return timers_.liveCount();
}

}  // namespace zarn
