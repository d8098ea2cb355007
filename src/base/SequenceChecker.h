#pragma once

#include <mutex>
#include <thread>

#include "base/Check.h"
#include "base/Executor.h"

namespace zarn {

// Checks that an object is used on one sequence only: the thread it was made on and, once
// one of its methods ran inside an executor's task, only that executor. Calls between
// tasks on the same thread (a test body, a Qt slot) count as on it.
class SequenceChecker {
public:
    SequenceChecker() : thread_(std::this_thread::get_id()), executor_(Executor::current()) {}

    bool calledOnValidSequence() const {
        std::lock_guard lock(mutex_);
        const auto here = std::this_thread::get_id();
        if (thread_ == std::thread::id()) thread_ = here;
        if (thread_ != here) return false;
        const Executor* current = Executor::current();
        if (current == nullptr) return true;
        if (executor_ == nullptr) executor_ = current;
        return executor_ == current;
    }

    // Made on one sequence for use on another: binds again at the next check.
    void detach() {
        std::lock_guard lock(mutex_);
        thread_ = {};
        executor_ = nullptr;
    }

private:
    mutable std::mutex mutex_;
    mutable std::thread::id thread_;
    mutable const Executor* executor_;
};

}  // namespace zarn

// At the entry points of objects that live on one executor.
#define ZARN_DCHECK_SEQUENCE(checker) ZARN_DCHECK((checker).calledOnValidSequence(), "called off its sequence")
