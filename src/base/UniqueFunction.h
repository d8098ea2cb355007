#pragma once

#include <cstddef>
#include <functional>
#include <memory>
#include <type_traits>
#include <utility>

namespace zarn {

template <class Signature>
class UniqueFunction;

namespace detail {
template <class T>
struct IsStdFunction : std::false_type {};
template <class S>
struct IsStdFunction<std::function<S>> : std::true_type {};
}  // namespace detail

// A callable that may own move-only state (a Reply, a unique_ptr): std::function without
// the copy requirement, until the library has std::move_only_function.
template <class R, class... A>
class UniqueFunction<R(A...)> {
public:
    UniqueFunction() = default;
    UniqueFunction(std::nullptr_t) {}  // NOLINT: as std::function

    template <class F, class D = std::decay_t<F>,
              class = std::enable_if_t<!std::is_same_v<D, UniqueFunction> && std::is_invocable_r_v<R, D&, A...>>>
    UniqueFunction(F&& fn) {  // NOLINT: implicit like std::function
        if constexpr (std::is_pointer_v<D> || std::is_member_pointer_v<D> || detail::IsStdFunction<D>::value) {
            // A null function pointer or an empty std::function stays empty.
            if (!static_cast<bool>(fn)) return;
        }
        impl_ = std::make_unique<Impl<D>>(std::forward<F>(fn));
    }

    UniqueFunction(UniqueFunction&&) noexcept = default;
    UniqueFunction& operator=(UniqueFunction&&) noexcept = default;
    UniqueFunction& operator=(std::nullptr_t) {
        impl_.reset();
        return *this;
    }

    explicit operator bool() const { return impl_ != nullptr; }
    friend bool operator==(const UniqueFunction& fn, std::nullptr_t) { return !fn; }

    // Const as std::function's: the callable itself may change its own state.
    R operator()(A... args) const {
        if (!impl_) throw std::bad_function_call();
        return impl_->call(std::forward<A>(args)...);
    }

private:
    struct Base {
        virtual ~Base() = default;
        virtual R call(A&&... args) = 0;
    };
    template <class F>
    struct Impl final : Base {
        template <class G>
        explicit Impl(G&& g) : fn(std::forward<G>(g)) {}
        R call(A&&... args) override { return std::invoke(fn, std::forward<A>(args)...); }
        F fn;
    };

    std::unique_ptr<Base> impl_;
};

}  // namespace zarn
