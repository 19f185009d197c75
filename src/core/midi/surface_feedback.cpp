#include "midi/surface_feedback.h"

#include <algorithm>

namespace strata {

bool SurfaceFeedbackParser::applySysex(const std::uint8_t* message, std::size_t length) {
    // Header, device (either unit's: the extender's display is never passed here), LCD write,
    // first cell, at least the end byte.
    if (length < 8 ||
        !std::equal(mackie::kSysexHeader.begin(), mackie::kSysexHeader.end(), message) ||
        message[5] != mackie::kLcdWrite)
        return false;
    std::size_t position = message[6];
    for (std::size_t i = 7; i + 1 < length; ++i) {
        if (position >= lcd_.size())
            break;
        lcd_[position++] = message[i];
    }
    return true;
}

std::size_t letterCount(std::string_view text) {
    return static_cast<std::size_t>(std::count_if(text.begin(), text.end(), [](char c) {
        return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z');
    }));
}

SlotNames stripNames(const SurfaceFeedbackParser::Lcd& lcd) {
    const auto cell = [&](std::size_t start) -> std::string_view {
        const auto* p = lcd.data() + start;
        for (std::size_t i = 0; i < mackie::kCellsPerStrip; ++i)
            if (p[i] >= 0x80)
                return {};
        return {reinterpret_cast<const char*>(p), mackie::kCellsPerStrip};
    };
    SlotNames names;
    for (int k = 0; k < mackie::kStrips; ++k) {
        const std::size_t first = mackie::kCellsPerStrip * static_cast<std::size_t>(k);
        const std::string_view top = cell(first);
        const std::string_view bottom = cell(mackie::kLcdRowCells + first);
        const std::string_view name =
            midi::trimBlanks(letterCount(top) < letterCount(bottom) ? bottom : top);
        if (!name.empty())
            names.emplace(k, std::string(name));
    }
    return names;
}

} // namespace strata
