#pragma once

#include "platform/main_loop.h"
#include "platform/signal.h"

#include <cstddef>
#include <optional>

namespace strata {

// A shared tempo-and-beat session on the network (Ableton Link), as the main thread sees it.
// Bars have four beats: the session's phase is taken at a quantum of 4, so a whole multiple of 4
// is a downbeat for every peer.
struct BeatSessionState {
    // The session runs (joined) at all.
    bool enabled = false;
    // The session's transport, shared among the peers that share start and stop.
    bool playing = false;
    // Beats per minute.
    double tempo = 0;
    // The session's beat at `at`.
    double beat = 0;
    // The beat at which playing last started (meaningful while playing).
    double startBeat = 0;
    // Other peers in the session.
    std::size_t peers = 0;
    // Start and stop are shared with the peers.
    bool startStopSync = false;
    // When this was taken, on the main loop's clock.
    TimePoint at{};
};

// The platform's side of such a session. Its own threads never call into the core: they only
// post to the main loop, which then emits `changed`. Main thread only.
class BeatSession {
public:
    virtual ~BeatSession() = default;

    // Joins (true) or leaves the session. Leaving stops all network traffic.
    virtual void setEnabled(bool enabled) = 0;
    // The session as of now.
    virtual BeatSessionState capture() const = 0;
    // The session as it stands now, read at `at` (on the main loop's clock; usually a moment
    // ahead): the beat the session reaches then at the tempo it has now. Lets a decision that is
    // due on a beat be made a little before it, for a send timed to that beat.
    virtual BeatSessionState captureAt(TimePoint at) const = 0;
    // When the session reaches `beat`, on the main loop's clock, at the tempo it has now.
    virtual TimePoint timeAtBeat(double beat) const = 0;

    // The peers, the tempo or the transport changed (emitted on the main thread).
    Signal<> changed;
};

} // namespace strata
