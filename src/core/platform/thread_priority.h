#pragma once

#include <string>
#include <string_view>

namespace strata {

// Real-time scheduling for the few threads whose delay a musician hears: the cue link's reader,
// from which a FIRE's mutes go out. Asked for, never required: a system without an rtprio limit
// (or the capability) refuses, and the thread simply stays at normal priority.
struct RealTimeRequest {
    int priority = 0;     // the SCHED_FIFO priority asked for
    bool granted = false; // the thread now runs at it
    int error = 0;        // why it was refused (an errno value)
};

// Without a figure from the MIDI system: low enough to stay below any audio engine's own threads
// (jackd's default is 10, PipeWire's data loop higher), yet ahead of every ordinary thread.
inline constexpr int kFallbackRealTimePriority = 5;

// The priority for a thread that should run ahead of ordinary work but yield to the audio
// engine's: one below `engine` (the MIDI system's real-time priority, below 1 when it runs none),
// never below 1; kFallbackRealTimePriority without an engine figure.
int priorityBelow(int engine);

// Switches the calling thread to SCHED_FIFO at `priority`. Refused, the thread stays as it was.
RealTimeRequest raiseCurrentThread(int priority);

// One line for the log: "<who> runs real-time (SCHED_FIFO 9)", or "<who> stays at normal
// priority (real-time refused: ...)".
std::string describe(std::string_view who, const RealTimeRequest& request);

} // namespace strata
