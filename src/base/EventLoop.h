#pragma once

#include <chrono>
#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>
#include <thread>

#include "base/Executor.h"
#include "base/TimerQueue.h"

namespace zarn {

// The command line's main executor: run() processes tasks on the calling thread until quit().
class EventLoop final : public Executor {
public:
    // `runsAs` is the executor its tasks belong to when the loop serves another one.
    explicit EventLoop(const Executor* runsAs = nullptr) : runsAs_(runsAs ? runsAs : this) {}
    ~EventLoop() override;
    EventLoop(const EventLoop&) = delete;
    EventLoop& operator=(const EventLoop&) = delete;

    void post(Task task) override;
    TimerHandle postAfter(Duration delay, Task task) override;
    bool isCurrent() const override;

    // Runs until quit() is called; returns at once if quit() came before.
    void run();
    // Runs until `done` is true (checked after every task) or `timeout` passes; returns `done()`.
    bool runUntil(const std::function<bool()>& done, Duration timeout);
    void quit();

private:
    bool runOne(std::unique_lock<std::mutex>& lock, std::chrono::steady_clock::time_point deadline);

    mutable std::mutex mutex_;
    std::condition_variable wake_;
    std::deque<Task> ready_;
    detail::TimerQueue<std::chrono::steady_clock::time_point> timers_;
    const Executor* runsAs_;
    bool quit_ = false;
    std::thread::id runner_;
};

}  // namespace zarn
