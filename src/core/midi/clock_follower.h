#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>

namespace strata {

// What a MIDI clock source says about musical time, as of its last message.
struct ClockState {
    // Start or Continue was heard, and neither Stop nor two seconds of silence since.
    bool playing = false;
    // Beats per minute, smoothed (see ClockFollower); none until two clocks arrived in a row, and
    // again after a silence.
    std::optional<double> bpm;
    // The song position of the latest clock, in clocks (24 a beat) from the song's start.
    std::int64_t position = 0;
    // Clocks counted while playing, over the source's whole life: only ever grows, also across a
    // relocation, so that a span of clocks is a plain difference.
    std::int64_t ticks = 0;
    // Arrival time of the message that made this state, in microseconds on the caller's clock.
    std::int64_t atMicros = 0;
    // How much earlier than atMicros that message really arrived, as the MIDI system timed it
    // (JACK: the event's frame); zero when the system does not time its input. Only placing
    // ticks ahead uses it: the tempo and the silence stay on atMicros.
    std::int64_t earlierMicros = 0;

    std::int64_t bar() const { return position / 96; }           // from 0
    std::int64_t beatInBar() const { return position / 24 % 4; } // 0...3

    friend bool operator==(const ClockState&, const ClockState&) = default;
};

// Follows one MIDI clock source: fed the source's realtime and song-position messages with their
// arrival times, it keeps playing, the tempo and the position.
//
// - 0xFA Start: playing from the song's start; the first clock after it is position 0.
// - 0xFB Continue: playing from where the source stands; the first clock after it is the position
//   a Song Position Pointer set while stopped, else the clock after the last one played.
// - 0xFC Stop: not playing; the position stays.
// - 0xF2 Song Position Pointer: the position in sixteenths (6 clocks each), taken while stopped.
// - 0xF8 Clock: 24 a beat. While playing each one after the first moves the position and the tick
//   count on by one. Clocks are timed whether playing or not, since DAWs send them while stopped.
//
// Tempo: the mean of the last 24 clock intervals (one beat). After a tempo change the reading
// moves linearly from the old tempo's interval to the new one and shows the new tempo exactly
// from the 24th clock at it, one beat of lag; half-way (in interval) after 12 clocks.
//
// Silence: when nothing at all (clocks or transport) arrived for two seconds, the source counts as
// stopped and its tempo as unknown (expire). Bars have four beats.
//
// Pure and single-threaded; times are whatever monotonic microseconds the caller uses.
class ClockFollower {
public:
    static constexpr std::int64_t kClocksPerBeat = 24;
    static constexpr std::int64_t kClocksPerBar = 96;
    static constexpr std::int64_t kClocksPerSixteenth = 6;
    static constexpr std::size_t kSmoothedIntervals = 24;
    static constexpr std::int64_t kSilenceMicros = 2'000'000;

    // One message (the first byte is its status; data bytes of Song Position Pointer follow).
    // Returns whether the state changed. Anything else than the messages above is ignored.
    bool feed(const std::uint8_t* bytes, std::size_t length, std::int64_t atMicros);
    // Whether the source fell silent by `nowMicros`; when it did, it stops (returns true once).
    bool expire(std::int64_t nowMicros);

    const ClockState& state() const { return state_; }

private:
    void clock(std::int64_t atMicros);
    void forgetTempo();

    ClockState state_;
    // The times of the latest clocks, a ring of kSmoothedIntervals + 1.
    std::array<std::int64_t, kSmoothedIntervals + 1> times_{};
    std::size_t timed_ = 0; // clocks held in times_ (up to its size)
    std::size_t next_ = 0;  // where the next time goes
    std::optional<std::int64_t> lastHeard_;
    // The next clock while playing is the position itself (after Start or a pointer), not the one
    // after it.
    bool located_ = true;
    bool awaitingFirst_ = false;
};

} // namespace strata
