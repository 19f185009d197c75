#pragma once

// MIDI bytes as a DAW hears them from a Mackie Control surface, and the layer lists the output
// tests drive, shared by the in-memory, coordinator and JACK suites.

#include "midi/mackie_protocol.h"
#include "model/setlist.h"

#include <algorithm>
#include <cstdint>
#include <initializer_list>
#include <string>
#include <vector>

namespace strata::testing {

using Bytes = std::vector<std::uint8_t>;
using Packets = std::vector<Bytes>;

// Mackie button presses as the DAW hears them: a press and a release per button.
inline void press(Packets& out, std::uint8_t note, int times = 1) {
    for (int i = 0; i < times; ++i) {
        out.push_back({mackie::kNoteOn, note, mackie::kPressVelocity});
        out.push_back({mackie::kNoteOn, note, mackie::kReleaseVelocity});
    }
}
inline Packets presses(std::initializer_list<std::uint8_t> notes) {
    Packets out;
    for (auto n : notes)
        press(out, n);
    return out;
}
// Mute button of strip 0-7 of a unit.
constexpr std::uint8_t mute(int slot) {
    return mackie::muteNote(slot);
}
// A bank move to the first track, then `right` banks to the right.
inline Packets bankMove(int right) {
    Packets out;
    press(out, mackie::kBankLeft, 32);
    press(out, mackie::kBankRight, right);
    return out;
}

// CC mutes of layers 0-3 on channels 1-4, CC 20-23: every layer's state, as Logic is sent it
// (0: muted), and Ardour's toggles (127) for the layers whose state changes.
inline Packets ccRound(std::initializer_list<int> muted) {
    Packets out;
    for (int i = 0; i < 4; ++i) {
        const bool m = std::find(muted.begin(), muted.end(), i) != muted.end();
        out.push_back({static_cast<std::uint8_t>(0xB0 | i), static_cast<std::uint8_t>(20 + i),
                       static_cast<std::uint8_t>(m ? 0x00 : 0x7F)});
    }
    return out;
}
inline Packets ccToggles(std::initializer_list<int> layers) {
    Packets out;
    for (int i : layers)
        out.push_back(
            {static_cast<std::uint8_t>(0xB0 | i), static_cast<std::uint8_t>(20 + i), 0x7F});
    return out;
}

// Mute LED reports of the DAW for one unit's strips: lit for the given strips, dark otherwise.
inline Bytes ledReport(std::initializer_list<int> lit) {
    Bytes out;
    for (int strip = 0; strip < mackie::kStrips; ++strip) {
        const bool on = std::find(lit.begin(), lit.end(), strip) != lit.end();
        out.insert(out.end(), {mackie::kNoteOn, mackie::muteNote(strip),
                               on ? mackie::kPressVelocity : mackie::kReleaseVelocity});
    }
    return out;
}

// An LCD write of the main surface: text at `offset`.
inline Bytes lcdMessage(std::uint8_t offset, const std::string& text) {
    Bytes m(mackie::kSysexHeader.begin(), mackie::kSysexHeader.end());
    m.insert(m.end(), {mackie::kMainDevice, mackie::kLcdWrite, offset});
    m.insert(m.end(), text.begin(), text.end());
    m.push_back(mackie::kSysexEnd);
    return m;
}

// Layers "L1".."Ln" with the default channel and CC.
inline std::vector<Layer> makeLayers(std::size_t n) {
    std::vector<Layer> layers;
    for (std::size_t i = 0; i < n; ++i) {
        layers.push_back(Layer::fresh());
        layers.back().name = "L" + std::to_string(i + 1);
    }
    return layers;
}

// The ids of the layers at the given positions; positions beyond the layers are ignored.
template <typename Index>
UuidSet idsAt(const std::vector<Layer>& layers, const std::vector<Index>& at) {
    UuidSet ids;
    for (const Index i : at) {
        const auto k = static_cast<long long>(i);
        if (k >= 0 && static_cast<std::size_t>(k) < layers.size())
            ids.insert(layers[static_cast<std::size_t>(k)].id);
    }
    return ids;
}
inline UuidSet idsAt(const std::vector<Layer>& layers, std::initializer_list<std::size_t> at) {
    return idsAt(layers, std::vector<std::size_t>(at));
}

} // namespace strata::testing
