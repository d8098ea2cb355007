#include "base/EventLoop.h"

namespace zarn {

EventLoop::~EventLoop() {
    detail::discardTasks(ready_);
    detail::DiscardScope scope;
    timers_.clear();
}

void EventLoop::post(Task task) {
    {
        std::lock_guard lock(mutex_);
        ready_.push_back(std::move(task));
    }
    wake_.notify_all();
}

TimerHandle EventLoop::postAfter(Duration delay, Task task) {
    TimerHandle handle;
    {
        std::lock_guard lock(mutex_);
        handle = timers_.add(std::chrono::steady_clock::now() + delay, std::move(task));
    }
    wake_.notify_all();
    return handle;
}

bool EventLoop::isCurrent() const {
    std::lock_guard lock(mutex_);
    return runner_ == std::this_thread::get_id();
}

bool EventLoop::runOne(std::unique_lock<std::mutex>& lock, std::chrono::steady_clock::time_point deadline) {
    using Steady = std::chrono::steady_clock;
    while (!quit_) {
        Task task;
        if (!ready_.empty()) {
            task = std::move(ready_.front());
            ready_.pop_front();
        } else if (!timers_.popDue(Steady::now(), task)) {
            if (Steady::now() >= deadline) return false;
            auto until = deadline;
            if (!timers_.empty() && timers_.nextDue() < until) until = timers_.nextDue();
            if (until == Steady::time_point::max()) {
                wake_.wait(lock);
            } else {
                wake_.wait_until(lock, until);
            }
            continue;
        }
        lock.unlock();
        {
            detail::CurrentExecutorScope current(runsAs_);
            task();
            task = nullptr;
        }
        lock.lock();
        return true;
    }
    return false;
}

void EventLoop::run() {
    std::unique_lock lock(mutex_);
    runner_ = std::this_thread::get_id();
    while (!quit_) runOne(lock, std::chrono::steady_clock::time_point::max());
    quit_ = false;
    runner_ = {};
}

bool EventLoop::runUntil(const std::function<bool()>& done, Duration timeout) {
    auto deadline = std::chrono::steady_clock::now() + timeout;
    std::unique_lock lock(mutex_);
    runner_ = std::this_thread::get_id();
    bool result = false;
    for (;;) {
        lock.unlock();
        result = done();
        lock.lock();
        if (result || quit_ || std::chrono::steady_clock::now() >= deadline) break;
        runOne(lock, deadline);
    }
    quit_ = false;
    runner_ = {};
    return result;
}

void EventLoop::quit() {
    {
        std::lock_guard lock(mutex_);
        quit_ = true;
    }
    wake_.notify_all();
}

}  // namespace zarn
