#pragma once

#include <exception>
#include <optional>
#include <stdexcept>
#include <string>
#include <utility>
#include <variant>

namespace zarn {

// An error with a text for the user. errorDescription() builds the text when it is read, so
// errors that take it from the current strings table speak the interface language of that
// moment. what() gives the text as it was when the error was made: errors are shared
// between threads, so it never changes afterwards.
class LocalizedError : public std::exception {
public:
    virtual std::string errorDescription() const = 0;
    const char* what() const noexcept override;

protected:
    // Every concrete error calls it at the end of its constructor.
    void fixWhat() noexcept;

private:
    std::string what_;
};

// An error whose description is fixed when it is made.
class MessageError : public LocalizedError {
public:
    explicit MessageError(std::string message) : message_(std::move(message)) { fixWhat(); }
    std::string errorDescription() const override { return message_; }

private:
    std::string message_;
};

// The user-facing description of any error: errorDescription() of a LocalizedError,
// otherwise what().
std::string describeError(const std::exception_ptr& error);

template <class E, class... A>
std::exception_ptr makeError(A&&... args) {
    return std::make_exception_ptr(E(std::forward<A>(args)...));
}

// A value or the error that prevented it; what asynchronous operations hand back.
template <class T>
class Result {
public:
    Result(T value) : state_(std::move(value)) {}  // NOLINT: implicit by design
    Result(std::exception_ptr error) : state_(std::move(error)) {}  // NOLINT

    bool ok() const { return state_.index() == 0; }
    explicit operator bool() const { return ok(); }
    T& value() {
        if (!ok()) std::rethrow_exception(error());
        return std::get<0>(state_);
    }
    const T& value() const {
        if (!ok()) std::rethrow_exception(error());
        return std::get<0>(state_);
    }
    std::exception_ptr error() const { return ok() ? nullptr : std::get<1>(state_); }

private:
    std::variant<T, std::exception_ptr> state_;
};

}  // namespace zarn
