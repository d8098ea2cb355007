#pragma once

#include <chrono>
#include <memory>
#include <optional>
#include <stdexcept>
#include <type_traits>
#include <utility>

#include "base/ManualExecutor.h"
#include "base/Reply.h"

namespace zarn::test {

// Waits for one Reply: hand reply() to the call, then get() runs the executor (a
// ManualExecutor or an EventLoop) until the answer came, real threads included, and returns it.
template <class T = void, class Loop = ManualExecutor>
class ReplyFuture {
public:
    explicit ReplyFuture(Loop& executor) : executor_(executor) {}

    auto reply() {
        if constexpr (std::is_void_v<T>) {
            return Reply<>(executor_, [value = value_] { *value = true; });
        } else {
            return Reply<T>(executor_, [value = value_](T answer) { *value = std::move(answer); });
        }
    }
    bool isAnswered() const { return value_->has_value(); }
    auto get() {
        executor_.runUntil([this] { return isAnswered(); }, std::chrono::seconds(30));
        if (!isAnswered()) throw std::runtime_error("the reply never came");
        if constexpr (!std::is_void_v<T>) return std::move(**value_);
    }

private:
    using Stored = std::conditional_t<std::is_void_v<T>, bool, T>;
    Loop& executor_;
    std::shared_ptr<std::optional<Stored>> value_ = std::make_shared<std::optional<Stored>>();
};

}  // namespace zarn::test
