#pragma once

// What the DAW tells a Mackie Control surface, read from raw bytes: mute LEDs, the LCD (and the
// track names on it) and, for hosts that echo CC mutes on the surface port, control changes. The
// parser keeps only what the bytes themselves need across packets (an unfinished SysEx message
// and the LCD it writes to); what the LEDs mean for our shadow is the output side's business.

#include "midi/mackie_protocol.h"
#include "midi/midi_message.h"

#include <array>
#include <cstddef>
#include <cstdint>
#include <map>
#include <string>
#include <string_view>

namespace strata {

// DAW track names by channel strip 0-7; a strip without a name has no entry.
using SlotNames = std::map<int, std::string>;

class SurfaceFeedbackParser {
public:
    // A SysEx message that runs past this many bytes without its end is dropped.
    static constexpr std::size_t kMaxSysexBytes = 512;
    using Lcd = std::array<std::uint8_t, mackie::kLcdCells>;

    SurfaceFeedbackParser() { lcd_.fill(' '); }

    // Feeds the SysEx bytes of one chunk (SysEx may span chunks); `onLcdWrite()` is called after
    // every complete LCD write. Other bytes outside a SysEx message are skipped.
    template <typename F>
    void feedSysex(const std::uint8_t* bytes, std::size_t length, F&& onLcdWrite);

    const Lcd& lcd() const { return lcd_; }
    // Bytes of an unfinished SysEx message.
    std::size_t sysexPending() const { return sysexLength_; }

private:
    // Returns whether `message` (F0 .. F7) was an LCD write.
    bool applySysex(const std::uint8_t* message, std::size_t length);

    std::array<std::uint8_t, kMaxSysexBytes + 1> sysex_{};
    std::size_t sysexLength_ = 0;
    Lcd lcd_{};
};

// The mute LED reports in one chunk: `onLed(strip 0-7, lit)` for every complete Note On of a
// mute button. A message cut short ends where the next status byte begins, as on input.
template <typename F>
void forEachMuteLed(const std::uint8_t* bytes, std::size_t length, F&& onLed) {
    std::size_t i = 0;
    while (i + 2 < length) {
        if ((bytes[i] & 0xF0) != mackie::kNoteOn) {
            i += 1;
            continue;
        }
        if (const std::size_t cut = midi::statusByteAfter(bytes + i, 3)) {
            i += cut;
            continue;
        }
        const std::uint8_t note = bytes[i + 1];
        if (note >= mackie::kMuteNote && note < mackie::kMuteNote + mackie::kStrips)
            onLed(note - mackie::kMuteNote, bytes[i + 2] >= mackie::kOnThreshold);
        i += 3;
    }
}

// The complete control changes in one chunk: `onCC(channel 0-15, controller, value)`. A message
// with a status byte where a data byte belongs is skipped a byte at a time.
template <typename F>
void forEachControlChange(const std::uint8_t* bytes, std::size_t length, F&& onCC) {
    std::size_t i = 0;
    while (i + 2 < length) {
        if ((bytes[i] & 0xF0) != mackie::kControlChange || midi::statusByteAfter(bytes + i, 3)) {
            ++i;
            continue;
        }
        onCC(static_cast<std::uint8_t>(bytes[i] & 0x0F), bytes[i + 1], bytes[i + 2]);
        i += 3;
    }
}

// Letters in `text`. The LCD cells reach us as ASCII only (a cell with any byte of 0x80 or above
// reads as empty), so ASCII letters are all the letters there can be.
std::size_t letterCount(std::string_view text);

// The track names an LCD shows: per strip, of its two rows of seven cells, the one with more
// letters (the top one on a tie), trimmed; strips left blank have none. DAWs put the name on
// either row, and the other row carries a value or a label.
SlotNames stripNames(const SurfaceFeedbackParser::Lcd& lcd);

template <typename F>
void SurfaceFeedbackParser::feedSysex(const std::uint8_t* bytes, std::size_t length,
                                      F&& onLcdWrite) {
    for (std::size_t i = 0; i < length; ++i) {
        const std::uint8_t b = bytes[i];
        if (b == mackie::kSysexStart) {
            sysex_[0] = b;
            sysexLength_ = 1;
            continue;
        }
        if (sysexLength_ == 0)
            continue;
        sysex_[sysexLength_++] = b;
        if (b == mackie::kSysexEnd) {
            const bool lcd = applySysex(sysex_.data(), sysexLength_);
            sysexLength_ = 0;
            if (lcd)
                onLcdWrite();
        } else if (sysexLength_ == sysex_.size()) {
            sysexLength_ = 0;
        }
    }
}

} // namespace strata
