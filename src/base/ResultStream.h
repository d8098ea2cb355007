#pragma once

#include <deque>
#include <exception>
#include <functional>
#include <memory>
#include <mutex>
#include <utility>

#include "base/Error.h"
#include "base/Executor.h"

namespace zarn {

// A thread-safe stream of results from a producer to one consumer, which may end
// normally or with an error. Items are buffered until the consumer subscribes and are
// delivered in order on the consumer's executor, followed by exactly one end call.
template <class T>
class ResultStream : public std::enable_shared_from_this<ResultStream<T>> {
public:
    using OnItem = std::function<void(T)>;
    using OnEnd = std::function<void(std::exception_ptr)>;  // null pointer: normal end

    static std::shared_ptr<ResultStream> make() { return std::shared_ptr<ResultStream>(new ResultStream()); }

    // Producer side. Calls after the end (or after the consumer cancelled) are ignored.
    void yield(T item) {
        std::lock_guard lock(mutex_);
        if (ended_ || cancelled_) return;
        items_.push_back(std::move(item));
        scheduleLocked();
    }
    void finish() { end(nullptr); }
    void fail(std::exception_ptr error) { end(error ? error : std::make_exception_ptr(std::runtime_error("stream failed"))); }

    bool isEnded() const {
        std::lock_guard lock(mutex_);
        return ended_;
    }
    // True once the consumer cancelled: a producer may stop its work.
    bool isCancelled() const {
        std::lock_guard lock(mutex_);
        return cancelled_;
    }
    // Runs once, on the producer's side of things, when the stream ends or is cancelled.
    void onTermination(std::function<void()> fn) {
        bool now = false;
        {
            std::lock_guard lock(mutex_);
            if (ended_ || cancelled_) {
                now = true;
            } else {
                onTermination_ = std::move(fn);
            }
        }
        if (now && fn) fn();
    }

    // Consumer side: at most one subscription.
    void subscribe(Executor& executor, OnItem onItem, OnEnd onEnd) {
        std::lock_guard lock(mutex_);
        executor_ = &executor;
        onItem_ = std::move(onItem);
        onEnd_ = std::move(onEnd);
        scheduleLocked();
    }

    // The consumer stops listening: nothing more is delivered, not even the end.
    void cancel() {
        std::function<void()> termination;
        {
            std::lock_guard lock(mutex_);
            if (cancelled_) return;
            cancelled_ = true;
            items_.clear();
            onItem_ = nullptr;
            onEnd_ = nullptr;
            termination = std::exchange(onTermination_, nullptr);
        }
        if (termination) termination();
    }

private:
    ResultStream() = default;

    void end(std::exception_ptr error) {
        std::function<void()> termination;
        {
            std::lock_guard lock(mutex_);
            if (ended_ || cancelled_) return;
            ended_ = true;
            error_ = error;
            termination = std::exchange(onTermination_, nullptr);
            scheduleLocked();
        }
        if (termination) termination();
    }

    void scheduleLocked() {
        if (!executor_ || scheduled_ || delivered_end_) return;
        if (items_.empty() && !ended_) return;
        scheduled_ = true;
        executor_->post([self = this->shared_from_this()] { self->drain(); });
    }

    void drain() {
        for (;;) {
            OnItem onItem;
            OnEnd onEnd;
            T item;
            bool haveItem = false;
            std::exception_ptr error;
            {
                std::lock_guard lock(mutex_);
                if (cancelled_) {
                    scheduled_ = false;
                    return;
                }
                if (!items_.empty()) {
                    item = std::move(items_.front());
                    items_.pop_front();
                    haveItem = true;
                    onItem = onItem_;
                } else if (ended_ && !delivered_end_) {
                    delivered_end_ = true;
                    onEnd = std::exchange(onEnd_, nullptr);
                    onItem_ = nullptr;
                    error = error_;
                } else {
                    scheduled_ = false;
                    return;
                }
            }
            if (haveItem) {
                if (onItem) onItem(std::move(item));
            } else {
                if (onEnd) onEnd(error);
                std::lock_guard lock(mutex_);
                scheduled_ = false;
                return;
            }
        }
    }

    mutable std::mutex mutex_;
    std::deque<T> items_;
    bool ended_ = false;
    bool cancelled_ = false;
    bool scheduled_ = false;
    bool delivered_end_ = false;
    std::exception_ptr error_;
    Executor* executor_ = nullptr;
    OnItem onItem_;
    OnEnd onEnd_;
    std::function<void()> onTermination_;
};

}  // namespace zarn
