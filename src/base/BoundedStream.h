#pragma once

#include <cstddef>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <utility>

#include "base/Executor.h"

namespace zarn {

// The audio path's buffer: push() never blocks and keeps at most `capacity` items, dropping
// the oldest when full, so a slow consumer loses data instead of stalling the producer.
// One consumer pulls items one at a time with next().
template <class T>
class BoundedStream : public std::enable_shared_from_this<BoundedStream<T>> {
public:
    using OnNext = std::function<void(std::optional<T>)>;  // nullopt: the stream has ended

    static std::shared_ptr<BoundedStream> make(std::size_t capacity = 64) {
        return std::shared_ptr<BoundedStream>(new BoundedStream(capacity));
    }

    // From any thread. Returns false when the item was ignored because the stream ended.
    bool push(T item) {
        std::lock_guard lock(mutex_);
        if (finished_) return false;
        if (items_.size() == capacity_) {
            items_.pop_front();
            ++dropped_;
        }
        items_.push_back(std::move(item));
        deliverLocked();
        return true;
    }

    // No more items; those already waiting are still delivered.
    void finish() {
        std::lock_guard lock(mutex_);
        finished_ = true;
        deliverLocked();
    }

    // Ends the stream and discards the waiting items.
    void cancel() {
        std::lock_guard lock(mutex_);
        finished_ = true;
        items_.clear();
        deliverLocked();
    }

    // Asks for the next item; `onNext` runs on `executor` once it is there (or at the end).
    // Only one request may be outstanding.
    void next(Executor& executor, OnNext onNext) {
        std::lock_guard lock(mutex_);
        pendingExecutor_ = &executor;
        pending_ = std::move(onNext);
        deliverLocked();
    }

    std::size_t droppedCount() const {
        std::lock_guard lock(mutex_);
        return dropped_;
    }
    std::size_t size() const {
        std::lock_guard lock(mutex_);
        return items_.size();
    }
    std::size_t capacity() const { return capacity_; }

private:
    explicit BoundedStream(std::size_t capacity) : capacity_(capacity == 0 ? 1 : capacity) {}

    void deliverLocked() {
        if (!pending_) return;
        std::optional<T> item;
        if (!items_.empty()) {
            item = std::move(items_.front());
            items_.pop_front();
        } else if (!finished_) {
            return;
        }
        auto fn = std::exchange(pending_, nullptr);
        pendingExecutor_->post([fn = std::move(fn), item = std::move(item)]() mutable { fn(std::move(item)); });
    }

    mutable std::mutex mutex_;
    const std::size_t capacity_;
    std::deque<T> items_;
    bool finished_ = false;
    std::size_t dropped_ = 0;
    Executor* pendingExecutor_ = nullptr;
    OnNext pending_;
};

}  // namespace zarn
