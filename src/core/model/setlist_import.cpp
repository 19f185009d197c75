#include "model/setlist_import.h"

#include <cstdint>
#include <optional>
#include <string>

namespace strata {

namespace {

// One decoded character of UTF-8 text. A byte that does not start a well-formed sequence is taken
// alone as a replacement character: it is kept in the names, and it is never read as a Latin-1
// line break (0x85) or blank (0xA0).
struct CodePoint {
    char32_t value;
    std::size_t length;
};

constexpr char32_t kReplacement = 0xFFFD;

CodePoint decodeAt(std::string_view s, std::size_t i) {
    const auto byte = [&](std::size_t k) { return static_cast<unsigned char>(s[k]); };
    const unsigned char b0 = byte(i);
    if (b0 < 0x80)
        return {b0, 1};
    const CodePoint invalid{kReplacement, 1};
    std::size_t length = 0;
    char32_t value = 0;
    char32_t minimum = 0;
    if ((b0 & 0xE0) == 0xC0) {
        length = 2;
        value = b0 & 0x1F;
        minimum = 0x80;
    } else if ((b0 & 0xF0) == 0xE0) {
        length = 3;
        value = b0 & 0x0F;
        minimum = 0x800;
    } else if ((b0 & 0xF8) == 0xF0) {
        length = 4;
        value = b0 & 0x07;
        minimum = 0x10000;
    } else {
        return invalid;
    }
    if (i + length > s.size())
        return invalid;
    for (std::size_t k = 1; k < length; ++k) {
        const unsigned char b = byte(i + k);
        if ((b & 0xC0) != 0x80)
            return invalid;
        value = value << 6 | (b & 0x3F);
    }
    if (value < minimum || value > 0x10FFFF || (value >= 0xD800 && value <= 0xDFFF))
        return invalid;
    return {value, length};
}

bool isLineBreak(char32_t c) {
    return (c >= 0x0A && c <= 0x0D) || c == 0x85 || c == 0x2028 || c == 0x2029;
}

// Tab and the Unicode space separators.
bool isHorizontalSpace(char32_t c) {
    return c == 0x09 || c == 0x20 || c == 0xA0 || c == 0x1680 || (c >= 0x2000 && c <= 0x200A) ||
           c == 0x202F || c == 0x205F || c == 0x3000;
}

std::string_view trimHorizontal(std::string_view s) {
    std::size_t begin = 0;
    while (begin < s.size()) {
        const CodePoint cp = decodeAt(s, begin);
        if (!isHorizontalSpace(cp.value))
            break;
        begin += cp.length;
    }
    // Walk forward once more to find where the last non-blank character ends; UTF-8 cannot be
    // decoded backwards reliably when it may be malformed.
    std::size_t end = begin;
    for (std::size_t i = begin; i < s.size();) {
        const CodePoint cp = decodeAt(s, i);
        i += cp.length;
        if (!isHorizontalSpace(cp.value))
            end = i;
    }
    return s.substr(begin, end - begin);
}

// Calls `line` for every line of the text. CR LF is one break; two breaks in a row give an empty
// line between them, and a break at the very end gives a last, empty line.
template <typename F>
void forEachLine(std::string_view text, F&& line) {
    std::size_t start = 0;
    std::size_t i = 0;
    while (i < text.size()) {
        const CodePoint cp = decodeAt(text, i);
        if (!isLineBreak(cp.value)) {
            i += cp.length;
            continue;
        }
        line(text.substr(start, i - start));
        i += cp.length;
        if (cp.value == 0x0D && i < text.size() && text[i] == '\n')
            ++i;
        start = i;
    }
    line(text.substr(start));
}

} // namespace

std::vector<Song> parseSetlistText(std::string_view text) {
    std::vector<Song> songs;
    std::optional<std::string> title;
    std::vector<Section> sections;

    const auto flush = [&] {
        if (!title)
            return;
        if (sections.empty())
            sections.push_back(Section::named("Intro"));
        Song song = Song::fresh();
        song.name = std::move(*title);
        song.sections = std::move(sections);
        songs.push_back(std::move(song));
        title.reset();
        sections.clear();
    };

    forEachLine(text, [&](std::string_view raw) {
        const std::string_view trimmed = trimHorizontal(raw);
        if (trimmed.empty()) {
            flush();
            return;
        }
        // Only the first "#" goes: "## Song" names "# Song".
        const std::string_view name =
            trimmed.front() == '#' ? trimHorizontal(trimmed.substr(1)) : trimmed;
        if (!title)
            title = std::string(name);
        else
            sections.push_back(Section::named(std::string(name)));
    });
    flush();
    return songs;
}

Song newDefaultSong() {
    Song song = Song::fresh();
    song.name = "New Song";
    for (const char* name : {"Intro", "Verse", "Chorus"})
        song.sections.push_back(Section::named(name));
    return song;
}

} // namespace strata
