#pragma once

#include <array>
#include <compare>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

namespace strata {

// A 128-bit identifier. Written as canonical 36-character text with upper-case hexadecimal digits
// (8-4-4-4-12); read back in either case; any other text is rejected.
class Uuid {
public:
    using Bytes = std::array<std::uint8_t, 16>;

    constexpr Uuid() = default;
    constexpr explicit Uuid(const Bytes& bytes) : bytes_(bytes) {}

    // A random version-4 UUID from the operating system's random source.
    static Uuid random();
    static std::optional<Uuid> parse(std::string_view text);

    std::string string() const;
    const Bytes& bytes() const { return bytes_; }
    bool isNil() const;

    friend constexpr auto operator<=>(const Uuid&, const Uuid&) = default;
    friend constexpr bool operator==(const Uuid&, const Uuid&) = default;

private:
    Bytes bytes_{};
};

} // namespace strata

template <>
struct std::hash<strata::Uuid> {
    std::size_t operator()(const strata::Uuid& id) const noexcept;
};
