#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

namespace strata {

// Whether a channel message presses a trigger: a note pressed (velocity above 0), a controller
// pressed (value 64 or more) or a program change; `second` is the message's second data byte
// (ignored for a program change). The input thread and the JACK process callback both read
// presses by this one rule, so a press one of them answers is a press to the other.
constexpr bool isTriggerPress(std::uint8_t status, std::uint8_t second) {
    const std::uint8_t kind = status & 0xF0;
    return kind == 0xC0 || (kind == 0x90 && second > 0) || (kind == 0xB0 && second >= 64);
}

// Answers the MIDI side knows before the press that asks for them: "when this trigger arrives,
// these bytes go to the DAW". A MIDI system that runs in cycles can then write the answer in the
// very cycle it reads the press, instead of handing the press to an ordinary thread and writing
// what that thread decides one cycle later.
//
// Everything here is plain data of fixed size, so that a real-time thread can read it without
// allocating.
struct PreparedAnswer {
    // Sources that fire one answer (one trigger's device can be listed several times).
    static constexpr std::size_t kMaxSources = 8;
    // Bytes per output: 16 Mackie mute presses of six bytes, or 64 CC messages.
    static constexpr std::size_t kMaxBytes = 192;
    static constexpr std::size_t kOutputs = 2;

    // What fires it, on any channel: 0x90 a note pressed (velocity above 0), 0xB0 a controller
    // pressed (value 64 or more), 0xC0 a program change; `data1` is the note, controller or
    // program. 0: no press, only a move decided elsewhere (a FIRE) that leads to its target.
    std::uint8_t status = 0;
    std::uint8_t data1 = 0;
    // A program change fires from any source; a press only from the sources listed, by the
    // connection value the input port was given for each.
    bool anySource = false;
    std::uint8_t sourceCount = 0;
    std::array<std::uint64_t, kMaxSources> sources{};
    // False: the press is this trigger's, but its answer could not be prepared (it takes the
    // ordinary way, and whoever reads presses must not answer it with a later entry).
    bool answerable = true;
    // What goes out on each of the set's outputs, in order.
    std::array<std::uint16_t, kOutputs> length{};
    std::array<std::array<std::uint8_t, kMaxBytes>, kOutputs> bytes{};

    // Whether any press can fire it.
    bool live() const { return answerable && (anySource || sourceCount > 0); }
    friend bool operator==(const PreparedAnswer&, const PreparedAnswer&) = default;

    bool fires(std::uint8_t message, std::uint8_t first, std::uint8_t second,
               std::uint64_t source) const {
        if ((message & 0xF0) != status || first != data1 || !isTriggerPress(message, second))
            return false;
        if (anySource)
            return true;
        for (std::size_t i = 0; i < sourceCount && i < kMaxSources; ++i)
            if (sources[i] == source)
                return true;
        return false;
    }
};

// One hand-over: the answers in the order a press looks for its trigger (the first that fires
// wins), and the virtual source each output slot of an answer goes to (0: unused).
struct PreparedAnswerSet {
    // Room for a footswitch, the sixteen sections around the position that a FIRE reaches, and
    // the program changes of a song's first sections.
    static constexpr std::size_t kMaxAnswers = 64;
    std::array<std::uint32_t, PreparedAnswer::kOutputs> outputs{};
    std::size_t count = 0;
    std::array<PreparedAnswer, kMaxAnswers> answers{};
};

// What became of a hand-over, asked by its generation.
struct PreparedOutcome {
    enum Kind {
        armed,     // still waiting for its press (only when asked without withdrawing)
        withdrawn, // taken back before any press used it (now, or earlier)
        claimed,   // a press used answer `index`: its bytes went out in the press's cycle
        gone,      // not the system's latest hand-over any more (or never taken)
    };
    Kind kind = gone;
    std::size_t index = 0;
};

} // namespace strata
