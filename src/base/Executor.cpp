#include "base/Executor.h"

namespace zarn {

namespace {
thread_local const Executor* currentExecutor = nullptr;
thread_local int discardDepth = 0;
}  // namespace

const Executor* Executor::current() { return currentExecutor; }

namespace detail {

CurrentExecutorScope::CurrentExecutorScope(const Executor* executor) : previous_(currentExecutor) {
    currentExecutor = executor;
}
CurrentExecutorScope::~CurrentExecutorScope() { currentExecutor = previous_; }

DiscardScope::DiscardScope() { ++discardDepth; }
DiscardScope::~DiscardScope() { --discardDepth; }
bool discardingTasks() { return discardDepth > 0; }

}  // namespace detail
}  // namespace zarn
