#pragma once

#include <atomic>
#include <chrono>
#include <functional>
#include <memory>

namespace zarn {

using Task = std::function<void()>;
using Duration = std::chrono::nanoseconds;

// Cancels a delayed task; copies share one flag. Cancelling after the task ran is harmless.
class TimerHandle {
public:
    TimerHandle() = default;
    explicit TimerHandle(std::shared_ptr<std::atomic<bool>> flag) : cancelled_(std::move(flag)) {}

    void cancel() const {
        if (cancelled_) cancelled_->store(true);
    }
    bool isCancelled() const { return cancelled_ && cancelled_->load(); }
    bool isValid() const { return cancelled_ != nullptr; }

private:
    std::shared_ptr<std::atomic<bool>> cancelled_;
};

// A place where work runs. Every implementation runs posted tasks one at a time in
// posting order, so an executor is also the unit of mutual exclusion; post() and
// postAfter() are safe from any thread.
class Executor {
public:
    virtual ~Executor() = default;
    virtual void post(Task task) = 0;
    virtual TimerHandle postAfter(Duration delay, Task task) = 0;
    // True when called from a task this executor is running.
    virtual bool isCurrent() const = 0;
};

}  // namespace zarn
