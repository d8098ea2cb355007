#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <utility>
#include <vector>

namespace zarn {

// Ends a subscription when destroyed or reset.
class Subscription {
public:
    Subscription() = default;
    explicit Subscription(std::function<void()> cancel) : cancel_(std::move(cancel)) {}
    Subscription(Subscription&& other) noexcept : cancel_(std::exchange(other.cancel_, nullptr)) {}
    Subscription& operator=(Subscription&& other) noexcept {
        if (this != &other) {
            reset();
            cancel_ = std::exchange(other.cancel_, nullptr);
        }
        return *this;
    }
    Subscription(const Subscription&) = delete;
    Subscription& operator=(const Subscription&) = delete;
    ~Subscription() { reset(); }

    void reset() {
        if (auto cancel = std::exchange(cancel_, nullptr)) cancel();
    }

private:
    std::function<void()> cancel_;
};

// A value that tells its observers when it changes. Writing an equal value notifies no one.
// Owned and used on one executor (the main one, in practice); not thread-safe.
template <class T>
class Observable {
public:
    using Observer = std::function<void(const T&)>;

    Observable() = default;
    explicit Observable(T initial) : value_(std::move(initial)) {}
    Observable(const Observable&) = delete;
    Observable& operator=(const Observable&) = delete;

    const T& get() const { return value_; }
    const T& operator*() const { return value_; }

    // Returns true when the value changed (and observers were told).
    bool set(T value) {
        if (value == value_) return false;
        value_ = std::move(value);
        notify();
        return true;
    }

    // Changes the value in place and tells the observers: for a large value whose change the
    // caller knows, where a copy and a comparison would cost more than the change itself.
    template <class Change>
    void change(Change&& apply) {
        std::forward<Change>(apply)(value_);
        notify();
    }

    [[nodiscard]] Subscription subscribe(Observer observer) {
        auto id = nextId_++;
        observers_->emplace(id, std::make_shared<Observer>(std::move(observer)));
        return Subscription([weak = std::weak_ptr(observers_), id] {
            if (auto observers = weak.lock()) observers->erase(id);
        });
    }

    std::size_t observerCount() const { return observers_->size(); }

private:
    void notify() {
        // Observers may subscribe or unsubscribe while being told: work on a snapshot and
        // skip those that went away meanwhile.
        std::vector<std::pair<std::uint64_t, std::shared_ptr<Observer>>> snapshot(observers_->begin(), observers_->end());
        for (auto& [id, observer] : snapshot) {
            if (observers_->count(id)) (*observer)(value_);
        }
    }

    T value_{};
    std::shared_ptr<std::map<std::uint64_t, std::shared_ptr<Observer>>> observers_ =
        std::make_shared<std::map<std::uint64_t, std::shared_ptr<Observer>>>();
    std::uint64_t nextId_ = 0;
};

}  // namespace zarn
