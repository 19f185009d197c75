#pragma once

#include "platform/beat_session.h"
#include "platform/lifetime.h"
#include "platform/main_loop.h"

#include <atomic>
#include <memory>
#include <optional>

namespace strata {

// The network beat session on Ableton Link: tempo, the beat (quantum 4, one bar) and shared start
// and stop. Created left (not on the network, and without Link's threads); it joins only when
// enabled, and then opens sockets on every interface and joins Link's multicast group.
//
// Link runs threads of its own; their callbacks (peers, tempo, start/stop) only raise a flag and,
// when it was clear, post one task to the main loop, which emits `changed` there. Reading the
// session (capture, captureAt, timeAtBeat) happens on the main thread through Link's thread-safe
// application-side capture. Link's clock (the raw monotonic clock) is mapped to the main loop's
// by sampling both together at every reading.
class LinkBeatSession final : public BeatSession {
public:
    static constexpr double kQuantum = 4.0;

    explicit LinkBeatSession(MainLoop& loop, double initialTempo = 120.0);
    ~LinkBeatSession() override;
    LinkBeatSession(const LinkBeatSession&) = delete;
    LinkBeatSession& operator=(const LinkBeatSession&) = delete;

    void setEnabled(bool enabled) override;
    BeatSessionState capture() const override;
    BeatSessionState captureAt(TimePoint at) const override;
    TimePoint timeAtBeat(double beat) const override;

private:
    struct Impl;
    void create();
    void deliver();
    // The session at `at`, or (none) as of now.
    BeatSessionState read(std::optional<TimePoint> at) const;

    MainLoop& loop_;
    double initialTempo_;
    std::unique_ptr<Impl> impl_; // from the first join on
    // Set by Link's threads when a change is on its way to the main loop.
    std::atomic<bool> pending_{false};
    Lifetime<LinkBeatSession> lifetime_{this};
};

} // namespace strata
