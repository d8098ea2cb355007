#pragma once

#include <atomic>
#include <chrono>
#include <memory>

#include "base/UniqueFunction.h"

namespace zarn {

// Move-only, so a task may own a Reply or other one-shot state.
using Task = UniqueFunction<void()>;
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

    // The executor whose task runs on this thread right now, or null between tasks (a test
    // body, a Qt slot, a foreign thread). Set by every executor around each task it runs.
    static const Executor* current();
};

namespace detail {

// Marks the calling thread as running a task of `executor` for its lifetime; nests.
class CurrentExecutorScope {
public:
    explicit CurrentExecutorScope(const Executor* executor);
    ~CurrentExecutorScope();
    CurrentExecutorScope(const CurrentExecutorScope&) = delete;
    CurrentExecutorScope& operator=(const CurrentExecutorScope&) = delete;

private:
    const Executor* previous_;
};

// Marks tasks destroyed in its lifetime as dropped by a closing executor rather than by
// their owner, so a one-shot reply inside them is not reported as lost.
class DiscardScope {
public:
    DiscardScope();
    ~DiscardScope();
    DiscardScope(const DiscardScope&) = delete;
    DiscardScope& operator=(const DiscardScope&) = delete;
};
bool discardingTasks();

// Destroys a container of unrun tasks inside a DiscardScope.
template <class Container>
void discardTasks(Container& tasks) {
    DiscardScope scope;
    Container dropped;
    std::swap(dropped, tasks);
}

}  // namespace detail

}  // namespace zarn
