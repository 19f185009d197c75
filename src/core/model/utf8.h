#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace strata {

// Length of the well-formed UTF-8 sequence that starts at p[i] with a lead byte of 0x80 or above,
// or 0 when it is not one: the ranges rule out overlong forms, surrogates, code points above
// U+10FFFF and sequences cut by the end of the text.
inline std::size_t utf8SequenceLength(const unsigned char* p, std::size_t n, std::size_t i) {
    const unsigned char c = p[i];
    std::size_t length = 0;
    unsigned char low = 0x80, high = 0xBF;
    if (c >= 0xC2 && c <= 0xDF) {
        length = 2;
    } else if (c >= 0xE0 && c <= 0xEF) {
        length = 3;
        low = c == 0xE0 ? 0xA0 : 0x80;
        high = c == 0xED ? 0x9F : 0xBF;
    } else if (c >= 0xF0 && c <= 0xF4) {
        length = 4;
        low = c == 0xF0 ? 0x90 : 0x80;
        high = c == 0xF4 ? 0x8F : 0xBF;
    }
    if (length == 0 || i + length > n)
        return 0;
    for (std::size_t k = 1; k < length; ++k) {
        const unsigned char t = p[i + k];
        if (t < (k == 1 ? low : 0x80) || t > (k == 1 ? high : 0xBF))
            return 0;
    }
    return length;
}

// Appends `text` to `out` as well-formed UTF-8: every valid multi-byte sequence as it is, every
// byte that starts none as U+FFFD, and each ASCII byte through `appendAscii(out, byte)`, which
// escapes it as the target format needs.
template <typename AppendAscii>
void appendValidUtf8(std::string& out, std::string_view text, AppendAscii&& appendAscii) {
    const auto* p = reinterpret_cast<const unsigned char*>(text.data());
    const std::size_t n = text.size();
    std::size_t i = 0;
    while (i < n) {
        if (p[i] < 0x80) {
            appendAscii(out, p[i]);
            ++i;
        } else if (const std::size_t length = utf8SequenceLength(p, n, i); length > 0) {
            out.append(text.data() + i, length);
            i += length;
        } else {
            out += "\xEF\xBF\xBD";
            ++i;
        }
    }
}

} // namespace strata
