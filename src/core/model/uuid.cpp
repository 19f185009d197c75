#include "model/uuid.h"

#include <cstring>
#include <random>

namespace strata {

Uuid Uuid::random() {
    // std::random_device reads the kernel's random source on every call; one per thread.
    thread_local std::random_device device;
    Bytes b;
    for (std::size_t i = 0; i < b.size(); i += 4) {
        const std::uint32_t r = device();
        std::memcpy(b.data() + i, &r, 4);
    }
    b[6] = static_cast<std::uint8_t>((b[6] & 0x0F) | 0x40); // version 4
    b[8] = static_cast<std::uint8_t>((b[8] & 0x3F) | 0x80); // RFC 4122 variant
    return Uuid(b);
}

namespace {
int hexValue(char c) {
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}
bool isDash(std::size_t i) {
    return i == 8 || i == 13 || i == 18 || i == 23;
}
} // namespace

std::optional<Uuid> Uuid::parse(std::string_view text) {
    if (text.size() != 36)
        return std::nullopt;
    Bytes b{};
    std::size_t out = 0;
    for (std::size_t i = 0; i < 36;) {
        if (isDash(i)) {
            if (text[i] != '-')
                return std::nullopt;
            ++i;
            continue;
        }
        const int hi = hexValue(text[i]);
        const int lo = hexValue(text[i + 1]);
        if (hi < 0 || lo < 0)
            return std::nullopt;
        b[out++] = static_cast<std::uint8_t>(hi << 4 | lo);
        i += 2;
    }
    return Uuid(b);
}

std::string Uuid::string() const {
    static constexpr char digits[] = "0123456789ABCDEF";
    std::string s;
    s.reserve(36);
    for (std::size_t i = 0; i < bytes_.size(); ++i) {
        if (i == 4 || i == 6 || i == 8 || i == 10)
            s.push_back('-');
        s.push_back(digits[bytes_[i] >> 4]);
        s.push_back(digits[bytes_[i] & 0x0F]);
    }
    return s;
}

bool Uuid::isNil() const {
    for (auto byte : bytes_)
        if (byte != 0)
            return false;
    return true;
}

} // namespace strata

std::size_t std::hash<strata::Uuid>::operator()(const strata::Uuid& id) const noexcept {
    std::uint64_t a, b;
    std::memcpy(&a, id.bytes().data(), 8);
    std::memcpy(&b, id.bytes().data() + 8, 8);
    return static_cast<std::size_t>(a ^ (b * 0x9E3779B97F4A7C15ULL));
}
