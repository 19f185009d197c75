#pragma once

#include <optional>
#include <string>
#include <utility>

namespace strata {

// A value, or the reason there is none. Reads like the optional it extends (so a caller that has
// no use for the reason treats it as one), and keeps the reason for those that report it.
template <typename T>
class [[nodiscard]] Result : public std::optional<T> {
public:
    Result(T value) : std::optional<T>(std::move(value)) {}

    static Result failure(std::string reason) {
        Result result;
        result.reason_ = std::move(reason);
        return result;
    }
    // The same failure, for a result of another type.
    template <typename U>
    static Result failure(const Result<U>& other) {
        return failure(other.reason());
    }

    // Why there is no value; empty when there is one.
    const std::string& reason() const { return reason_; }

    // Compared as the optional it is (the reason is not part of the value). Spelled out so that
    // comparing with an optional never picks the optional's compare-with-a-value form.
    friend bool operator==(const Result& a, const std::optional<T>& b) {
        return static_cast<const std::optional<T>&>(a) == b;
    }
    friend bool operator==(const Result& a, const T& b) { return a.has_value() && *a == b; }
    friend bool operator==(const Result& a, std::nullopt_t) { return !a.has_value(); }

private:
    Result() = default;

    std::string reason_;
};

} // namespace strata
