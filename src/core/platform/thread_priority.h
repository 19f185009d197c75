#pragma once

#include <functional>
#include <mutex>
#include <string>
#include <string_view>

namespace strata {

// Real-time scheduling for the few threads whose delay a musician hears: those a trigger's mutes
// pass through on their way to the DAW. Asked for, never required: a system without an rtprio
// limit (or the capability) refuses, and the thread simply stays at normal priority. The core
// makes no scheduling call of its own; the platform layer does (the program passes its call in).
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

// One line for the log: "<who> runs real-time (SCHED_FIFO 9)", or "<who> stays at normal
// priority (real-time refused: ...)".
std::string describe(std::string_view who, const RealTimeRequest& request);

// The mute path's threads ask through one of these, each on itself as it starts, all for the same
// priority. What the log hears is a line for the first thread granted and one for the first
// refused: a system that refuses says so once, not once per thread, and a mixed outcome (one
// refused after others were granted) still shows.
//
// Every thread that asks must be event-driven: it sleeps until work arrives and goes back to
// sleep when it is done. A SCHED_FIFO thread that spun would take its core from everything
// below it, the desktop included.
class RealTimeThreads {
public:
    // The platform's call: switches the calling thread to SCHED_FIFO at the priority, or leaves
    // it as it was and says why.
    using Raise = std::function<RealTimeRequest(int priority)>;
    using Log = std::function<void(std::string_view line)>;

    RealTimeThreads(int priority, Raise raise, Log log);

    int priority() const { return priority_; }

    // On the thread that asks; thread-safe. `who` names it in the log line.
    RealTimeRequest raiseCurrentThread(std::string_view who);

private:
    const int priority_;
    const Raise raise_;
    const Log log_;
    std::mutex mutex_;
    bool grantSaid_ = false;
    bool refusalSaid_ = false;
};

} // namespace strata
