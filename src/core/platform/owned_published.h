#pragma once

#include "platform/signal.h"

#include <utility>

namespace strata {

// A published field that everybody can read and observe but only its owner can write, so that the
// rules the owner attaches to a write (resets, persistence) cannot be bypassed. Every write
// notifies, also of an unchanged value. The owner may assign several fields first and notify
// afterwards, so that no observer sees a half-updated object.
template <typename T, typename Owner>
class OwnedPublished {
public:
    const T& get() const noexcept { return value_; }
    const T& operator()() const noexcept { return value_; }

    Signal<const T&> changed;

private:
    friend Owner;

    OwnedPublished() = default;
    explicit OwnedPublished(T initial) : value_(std::move(initial)) {}

    void assign(T value) { value_ = std::move(value); }
    void notify() const { changed.notify(value_); }
    void set(T value) {
        assign(std::move(value));
        notify();
    }

    T value_{};
};

} // namespace strata
