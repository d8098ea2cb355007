#pragma once

#include <memory>
#include <tuple>
#include <utility>

#include "base/Check.h"
#include "base/Executor.h"
#include "base/SequenceChecker.h"
#include "base/UniqueFunction.h"

namespace zarn {

// A one-shot completion callback bound to the executor it must run on. Whoever finishes
// the work calls it once, from any thread; the function itself runs on the caller's
// executor. Move-only: the one who holds it owes the answer.
//
// The default contract is "exactly once": debug builds report a reply called twice, or
// destroyed uncalled (unless an executor that closed dropped it with its queue). A reply
// made with Reply::optional may be dropped, for callers that do not wait for the answer.
template <class... Args>
class Reply {
public:
    Reply() = default;
    Reply(Executor& executor, UniqueFunction<void(Args...)> fn) : executor_(&executor), fn_(std::move(fn)) {}

    static Reply optional(Executor& executor, UniqueFunction<void(Args...)> fn) {
        Reply reply(executor, std::move(fn));
        reply.mustCall_ = false;
        return reply;
    }

    Reply(Reply&& other) noexcept
        : executor_(other.executor_), fn_(std::move(other.fn_)), mustCall_(other.mustCall_), called_(other.called_) {}
    Reply& operator=(Reply&& other) noexcept {
        if (this != &other) {
            checkNotDropped();
            executor_ = other.executor_;
            fn_ = std::move(other.fn_);
            mustCall_ = other.mustCall_;
            called_ = other.called_;
        }
        return *this;
    }
    ~Reply() { checkNotDropped(); }

    // False once called, moved from, or when made empty.
    explicit operator bool() const { return executor_ != nullptr && fn_ != nullptr; }

    void operator()(Args... args) {
        ZARN_DCHECK(!called_, "a Reply was called twice");
        if (!*this) return;
        called_ = true;
        executor_->post([fn = std::move(fn_), tuple = std::make_tuple(std::move(args)...)]() mutable {
            std::apply(fn, std::move(tuple));
        });
        fn_ = nullptr;
    }

    Executor* executor() const { return executor_; }

    // Lets go without an answer: for a service that is shutting down, whose callers are
    // going too. Leaves a trace in the code that the drop is meant.
    void drop() {
        fn_ = nullptr;
        executor_ = nullptr;
    }

private:
    void checkNotDropped() const {
        ZARN_DCHECK(!(mustCall_ && fn_ != nullptr) || detail::discardingTasks(),
                    "a Reply owed exactly once was destroyed without being called");
    }

    Executor* executor_ = nullptr;
    UniqueFunction<void(Args...)> fn_;
    bool mustCall_ = true;
    bool called_ = false;
};

// Lets callbacks outlive the object that made them: a callback guarded by a Lifetime does
// nothing once the object is gone. Guarded callbacks must run on the owner's sequence,
// which debug builds check.
class Lifetime {
public:
    Lifetime() = default;
    Lifetime(const Lifetime&) = delete;
    Lifetime& operator=(const Lifetime&) = delete;

    template <class F>
    auto guard(F fn) const {
        return [weak = std::weak_ptr<SequenceChecker>(token_), fn = std::move(fn)](auto&&... args) mutable {
            auto token = weak.lock();
            if (!token) return;
            ZARN_DCHECK_SEQUENCE(*token);
            fn(std::forward<decltype(args)>(args)...);
        };
    }

    // Ends every callback guarded so far, as if the owner were gone.
    void invalidate() { token_ = std::make_shared<SequenceChecker>(); }

private:
    std::shared_ptr<SequenceChecker> token_ = std::make_shared<SequenceChecker>();
};

}  // namespace zarn
