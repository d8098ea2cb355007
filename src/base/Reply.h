#pragma once

#include <functional>
#include <memory>
#include <tuple>
#include <utility>

#include "base/Executor.h"

namespace zarn {

// A completion callback bound to the executor it must run on. Whoever finishes the work
// calls it from any thread; the function itself always runs on the caller's executor.
template <class... Args>
class Reply {
public:
    Reply() = default;
    Reply(Executor& executor, std::function<void(Args...)> fn) : executor_(&executor), fn_(std::move(fn)) {}

    explicit operator bool() const { return executor_ != nullptr && fn_ != nullptr; }

    void operator()(Args... args) const {
        if (!*this) return;
        executor_->post([fn = fn_, tuple = std::make_tuple(std::move(args)...)]() mutable {
            std::apply(fn, std::move(tuple));
        });
    }

    Executor* executor() const { return executor_; }

private:
    Executor* executor_ = nullptr;
    std::function<void(Args...)> fn_;
};

// Lets callbacks outlive the object that made them: a callback guarded by a Lifetime does
// nothing once the object is gone. Guarded callbacks must run on the owner's executor.
class Lifetime {
public:
    Lifetime() = default;
    Lifetime(const Lifetime&) = delete;
    Lifetime& operator=(const Lifetime&) = delete;

    template <class F>
    auto guard(F fn) const {
        return [weak = std::weak_ptr<char>(token_), fn = std::move(fn)](auto&&... args) mutable {
            if (weak.expired()) return;
            fn(std::forward<decltype(args)>(args)...);
        };
    }

    // Ends every callback guarded so far, as if the owner were gone.
    void invalidate() { token_ = std::make_shared<char>(0); }

private:
    std::shared_ptr<char> token_ = std::make_shared<char>(0);
};

}  // namespace zarn
