#pragma once

#include "platform/beat_session.h"
#include "platform/virtual_main_loop.h"

#include <chrono>
#include <cstddef>

namespace strata::testing {

// A network beat session on virtual time: one straight beat timeline, whose tempo changes keep
// the beat continuous (as Link does). Changes reach the coordinator as the platform's do: posted
// to the main loop.
class TimelineSession final : public BeatSession {
public:
    explicit TimelineSession(VirtualMainLoop& loop) : loop_(loop), origin_(loop.now()) {}

    void setEnabled(bool enabled) override { enabled_ = enabled; }
    BeatSessionState capture() const override { return captureAt(loop_.now()); }
    BeatSessionState captureAt(TimePoint at) const override {
        BeatSessionState s;
        s.enabled = enabled_;
        s.playing = playing_;
        s.tempo = tempo_;
        s.beat = beatAt(at);
        s.startBeat = startBeat_;
        s.peers = peers_;
        s.startStopSync = true;
        s.at = at;
        return s;
    }
    TimePoint timeAtBeat(double beat) const override {
        return origin_ + std::chrono::duration_cast<Duration>(
                             std::chrono::duration<double>((beat - originBeat_) * 60.0 / tempo_));
    }
    double beatAt(TimePoint t) const {
        return originBeat_ + std::chrono::duration<double>(t - origin_).count() * tempo_ / 60.0;
    }

    void setTempo(double bpm) {
        originBeat_ = beatAt(loop_.now());
        origin_ = loop_.now();
        tempo_ = bpm;
        post();
    }
    // A peer starts the transport now, on `beat`; `announce`: false while the news is still on
    // its way (the test notifies later).
    void startAt(double beat, bool announce = true) {
        originBeat_ = beat;
        origin_ = loop_.now();
        startBeat_ = beat;
        playing_ = true;
        if (announce)
            post();
    }
    void stop() {
        playing_ = false;
        post();
    }
    void setPeers(std::size_t peers) {
        peers_ = peers;
        post();
    }
    bool enabled() const { return enabled_; }

private:
    void post() {
        loop_.post([this] { changed.notify(); });
    }

    VirtualMainLoop& loop_;
    TimePoint origin_;
    double originBeat_ = 0;
    double tempo_ = 120;
    double startBeat_ = 0;
    bool playing_ = false;
    bool enabled_ = false;
    std::size_t peers_ = 0;
};

} // namespace strata::testing
