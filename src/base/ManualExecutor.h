#pragma once

#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>
#include <thread>

#include "base/Clock.h"
#include "base/Executor.h"
#include "base/TimerQueue.h"

namespace zarn {

// Deterministic executor and clock for tests. Nothing runs until the test drives it;
// delayed tasks fire only when virtual time is advanced past their deadline.
// post() is thread-safe, so work from real threads can be collected with runUntil().
class ManualExecutor final : public Executor, public Clock {
public:
    explicit ManualExecutor(SystemTime start = SystemTime(std::chrono::seconds(1'767'225'600)));  // 2026-01-01
    ~ManualExecutor() override;
    ManualExecutor(const ManualExecutor&) = delete;
    ManualExecutor& operator=(const ManualExecutor&) = delete;

    void post(Task task) override;
    TimerHandle postAfter(Duration delay, Task task) override;
    bool isCurrent() const override;
    SystemTime now() const override;

    // Runs ready tasks, including those they post, until none is left; returns how many ran.
    std::size_t runUntilIdle();
    // Moves virtual time forward by `delay`, firing due timers in deadline order and
    // running ready work after each.
    void advanceBy(Duration delay);
    // Runs ready work and fires every timer, however far away, until nothing is left.
    void runAll();
    // Runs ready work, waiting in real time for posts from other threads, until `done` holds
    // or `realTimeout` passes. Virtual time does not move.
    bool runUntil(const std::function<bool()>& done, Duration realTimeout = std::chrono::seconds(10));

    std::size_t pendingTimers() const;

private:
    bool runOneReady();

    mutable std::mutex mutex_;
    std::condition_variable posted_;
    std::deque<Task> ready_;
    detail::TimerQueue<SystemTime> timers_;
    SystemTime now_;
    int depth_ = 0;
    std::thread::id runner_;
};

}  // namespace zarn
