#pragma once

// The Mackie Control protocol as far as Strata speaks it: the surface's buttons are notes, a press
// is a Note On with velocity 127 and its release one with velocity 0; the DAW lights a button's
// LED with a Note On of the same note (velocity 64 and above: lit); the LCD is written with a
// SysEx message. One place for these numbers, so that the output, the feedback parser and the
// tools that play the DAW's part cannot drift apart.

#include <array>
#include <cstddef>
#include <cstdint>

namespace strata::mackie {

inline constexpr std::uint8_t kNoteOn = 0x90;
inline constexpr std::uint8_t kControlChange = 0xB0;
inline constexpr std::uint8_t kProgramChange = 0xC0;
inline constexpr std::uint8_t kPressVelocity = 0x7F;
inline constexpr std::uint8_t kReleaseVelocity = 0x00;
// A LED report (or a CC echo) of this value and above means on.
inline constexpr std::uint8_t kOnThreshold = 0x40;

// Channel strips per unit (the main surface, or one extender).
inline constexpr int kStrips = 8;
// The mute buttons of strips 0-7 are consecutive notes.
inline constexpr std::uint8_t kMuteNote = 0x10;
constexpr std::uint8_t muteNote(int strip) {
    return static_cast<std::uint8_t>(kMuteNote + strip);
}
// Bank left/right move the strips by a bank (8 tracks, or a whole group of units where the DAW
// banks them together); channel left/right by one track.
inline constexpr std::uint8_t kBankLeft = 0x2E;
inline constexpr std::uint8_t kBankRight = 0x2F;
inline constexpr std::uint8_t kChannelLeft = 0x30;
inline constexpr std::uint8_t kChannelRight = 0x31;

// SysEx: F0, the manufacturer 00 00 66, the device (main surface or extender), the command.
inline constexpr std::uint8_t kSysexStart = 0xF0;
inline constexpr std::uint8_t kSysexEnd = 0xF7;
inline constexpr std::array<std::uint8_t, 4> kSysexHeader{0xF0, 0x00, 0x00, 0x66};
inline constexpr std::uint8_t kMainDevice = 0x14;
inline constexpr std::uint8_t kExtenderDevice = 0x15;
// LCD write: header, device, 0x12, first cell, the cells' characters, F7.
inline constexpr std::uint8_t kLcdWrite = 0x12;
// The LCD: two rows of 56 cells, 7 per strip.
inline constexpr std::size_t kLcdRowCells = 56;
inline constexpr std::size_t kLcdCells = 2 * kLcdRowCells;
inline constexpr std::size_t kCellsPerStrip = 7;

} // namespace strata::mackie
