#pragma once

// Small facts about MIDI bytes and port names that the output, the feedback parser and the input
// parser share.

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <string_view>

namespace strata::midi {

// Where the first status byte after the one that starts `message` lies (within `size` bytes),
// 0 when every byte after the first is a data byte. A status byte where a data byte belongs means
// the message was cut short.
inline std::size_t statusByteAfter(const std::uint8_t* message, std::size_t size) {
    for (std::size_t j = 1; j < size; ++j)
        if (message[j] & 0x80)
            return j;
    return 0;
}

inline std::uint8_t clampData(std::int64_t v) {
    return static_cast<std::uint8_t>(std::clamp<std::int64_t>(v, 0, 127));
}
// A channel 1-16 (clamped) as the low nibble of a status byte.
inline std::uint8_t channelNibble(std::int64_t channel) {
    return static_cast<std::uint8_t>(std::clamp<std::int64_t>(channel, 1, 16) - 1);
}

inline std::string_view trimBlanks(std::string_view s) {
    const auto blank = [](char c) { return c == ' ' || c == '\t'; };
    while (!s.empty() && blank(s.front()))
        s.remove_prefix(1);
    while (!s.empty() && blank(s.back()))
        s.remove_suffix(1);
    return s;
}

inline bool equalsIgnoringCase(std::string_view a, std::string_view b) {
    const auto lower = [](char c) { return c >= 'A' && c <= 'Z' ? char(c - 'A' + 'a') : c; };
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(),
                                              [&](char x, char y) { return lower(x) == lower(y); });
}

} // namespace strata::midi
