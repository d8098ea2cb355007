#include "base/MainExecutor.h"

#include <atomic>
#include <stdexcept>

namespace zarn {

namespace {
std::atomic<Executor*> installed{nullptr};
}

void setMainExecutor(Executor& executor) { installed.store(&executor); }

Executor& mainExecutor() {
    Executor* executor = installed.load();
    if (!executor) throw std::logic_error("no main executor installed (call setMainExecutor at start-up)");
    return *executor;
}

}  // namespace zarn
