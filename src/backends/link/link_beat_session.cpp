#include "link_beat_session.h"

#include <ableton/Link.hpp>
#include <chrono>

namespace strata {

namespace {

using Micros = std::chrono::microseconds;

} // namespace

struct LinkBeatSession::Impl {
    explicit Impl(double tempo) : link(tempo) {}

    // Link's clock and the main loop's at (nearly) the same instant: the loop's reading between
    // two of Link's, taken against their midpoint.
    struct Clocks {
        Micros link;
        TimePoint loop;
    };
    Clocks sample(const MainLoop& loop) const {
        const Micros before = link.clock().micros();
        const TimePoint at = loop.now();
        const Micros after = link.clock().micros();
        return {before + (after - before) / 2, at};
    }

    ableton::Link link;
};

LinkBeatSession::LinkBeatSession(MainLoop& loop, double initialTempo)
    : loop_(loop), initialTempo_(initialTempo) {}

void LinkBeatSession::create() {
    impl_ = std::make_unique<Impl>(initialTempo_);
    impl_->link.enableStartStopSync(true);
    // Link's threads: a flag and at most one posted task until the main loop took it.
    const auto notify = [this, watch = lifetime_.watch()] {
        if (pending_.exchange(true))
            return;
        loop_.post([watch] {
            if (auto* self = watch.get())
                self->deliver();
        });
    };
    impl_->link.setNumPeersCallback([notify](std::size_t) { notify(); });
    impl_->link.setTempoCallback([notify](double) { notify(); });
    impl_->link.setStartStopCallback([notify](bool) { notify(); });
}

LinkBeatSession::~LinkBeatSession() {
    // Leaves the session and stops Link's threads before anything they might touch goes.
    if (impl_)
        impl_->link.enable(false);
    impl_.reset();
}

void LinkBeatSession::deliver() {
    pending_.store(false);
    changed.notify();
}

void LinkBeatSession::setEnabled(bool enabled) {
    // Link's threads start with the first join: a program whose sets never use Link runs none.
    if (!impl_ && !enabled)
        return;
    if (!impl_)
        create();
    if (impl_->link.isEnabled() == enabled)
        return;
    impl_->link.enable(enabled);
}

BeatSessionState LinkBeatSession::capture() const {
    return read(std::nullopt);
}

BeatSessionState LinkBeatSession::captureAt(TimePoint at) const {
    return read(at);
}

BeatSessionState LinkBeatSession::read(std::optional<TimePoint> at) const {
    if (!impl_) {
        BeatSessionState state;
        state.tempo = initialTempo_;
        state.at = at.value_or(loop_.now());
        return state;
    }
    const auto session = impl_->link.captureAppSessionState();
    const Impl::Clocks clocks = impl_->sample(loop_);
    // A time ahead is taken to Link's clock through the same sample.
    const Micros linkAt =
        at ? clocks.link + std::chrono::duration_cast<Micros>(*at - clocks.loop) : clocks.link;
    BeatSessionState state;
    state.enabled = impl_->link.isEnabled();
    state.playing = session.isPlaying();
    state.tempo = session.tempo();
    state.beat = session.beatAtTime(linkAt, kQuantum);
    state.startBeat = session.beatAtTime(session.timeForIsPlaying(), kQuantum);
    state.peers = impl_->link.numPeers();
    state.startStopSync = impl_->link.isStartStopSyncEnabled();
    state.at = at.value_or(clocks.loop);
    return state;
}

TimePoint LinkBeatSession::timeAtBeat(double beat) const {
    if (!impl_) // never joined: a session alone at its first tempo, from beat 0 now
        return loop_.now() + std::chrono::duration_cast<Duration>(
                                 std::chrono::duration<double>(beat * 60.0 / initialTempo_));
    const auto session = impl_->link.captureAppSessionState();
    const Impl::Clocks clocks = impl_->sample(loop_);
    const Micros at = session.timeAtBeat(beat, kQuantum);
    return clocks.loop + std::chrono::duration_cast<Duration>(at - clocks.link);
}

} // namespace strata
