// The coordinator's musical time from a network beat session (Ableton Link). The session's beats
// are counted as clocks of 24 a beat, so that a step's end, the section's bars and the Moments use
// the clock's arithmetic unchanged; instead of waiting for each clock, the coordinator reads the
// session when something changes and wakes up when the next tick that matters is due.
//
// The session's future is known, so with a MIDI system that writes sends at their frame (a send
// lead) the wake-up comes that lead ahead of the tick: the session is read as of the tick's time,
// the step changes and the bar line's Moments fire then, and everything they send is due at the
// tick's time. What arrives between that early decision and the tick itself:
// - A change of the session (tempo, peers) is read at once, as always, but the tick decided early
//   counts as reached until its time has come: the step and the Moments it decided stand and are
//   neither decided nor sent again, and the next wake-up is for the tick after it (at the new
//   tempo). The sends already queued keep the time the tick had when they were decided.
// - A stop leaves the decision as it was (its mutes are queued for the bar line a few milliseconds
//   away); nothing further is counted until the session plays again.
// - A move of the performer counts its step from the decided tick, the latest bar line the
//   coordinator knows of; its mutes are sent at once, behind the timed ones.
// Without a lead (backends that send as soon as they are handed a message) the wake-up comes at
// the tick's own time and reads the session as of then.
#include "live/live_coordinator.h"

#include <algorithm>
#include <cmath>

namespace strata {

namespace {

constexpr std::int64_t kTicksPerBeat = ClockFollower::kClocksPerBeat;
constexpr std::int64_t kTicksPerBar = ClockFollower::kClocksPerBar;
// Beats this far out are taken as the limit: the tick arithmetic stays far from overflow.
constexpr double kMaxBeats = 1.0e12;
// A wake-up that found its tick not quite reached (clock conversions round) looks again this soon.
constexpr Duration kRetry = std::chrono::milliseconds(1);

// The tick a session beat falls in. A hair of tolerance, so that a wake-up at the tick's own time
// counts the tick even when the conversions between clocks rounded it a microsecond early.
std::int64_t tickOf(double beat) {
    if (!std::isfinite(beat))
        return 0;
    const double ticks = std::clamp(beat, -kMaxBeats, kMaxBeats) * kTicksPerBeat + 1.0e-3;
    return static_cast<std::int64_t>(std::floor(ticks));
}

std::int64_t floorDiv(std::int64_t a, std::int64_t b) {
    const std::int64_t q = a / b;
    return (a % b != 0 && (a < 0) != (b < 0)) ? q - 1 : q;
}

} // namespace

void LiveCoordinator::setBeatSession(BeatSession* session) {
    STRATA_ASSERT_THREAD(thread_);
    if (beats_ && linkJoined_)
        beats_->setEnabled(false);
    beatsChanged_.disconnect();
    linkJoined_ = false;
    forgetTicks();
    beats_ = session;
    if (beats_)
        beatsChanged_ = beats_->changed.connect([this] { followLink(); });
    applyClockSettings();
}

void LiveCoordinator::followLink(std::optional<std::int64_t> wakeTick) {
    STRATA_ASSERT_THREAD(thread_);
    tickWake_.reset();
    if (!usesLink() || !beats_ || !linkJoined_)
        return;
    const TimePoint now = loop_.now();
    // A wake-up a send lead ahead of its tick decides as of the tick's time; one that came too
    // late for that (or without a lead) reads the session as it is now.
    std::optional<TimePoint> ahead;
    if (wakeTick && midi_.sendLead() > Duration::zero()) {
        const TimePoint due = beats_->timeAtBeat(static_cast<double>(*wakeTick) / kTicksPerBeat);
        if (due > now)
            ahead = due;
    }
    const BeatSessionState session = ahead ? beats_->captureAt(*ahead) : beats_->capture();
    const bool wasPlaying = clockLive_ && clockLive_->playing;
    ClockState state;
    state.playing = session.enabled && session.playing;
    if (session.enabled && std::isfinite(session.tempo) && session.tempo > 0)
        state.bpm = session.tempo;
    state.ticks = tickOf(session.beat);
    if (ahead) {
        // The session puts the tick at that time: it is reached then, whatever the conversions
        // between clocks rounded.
        state.ticks = std::max(state.ticks, *wakeTick);
    } else if (aheadTick_ && now < aheadAt_ && state.playing && wasPlaying) {
        // Inside the lead window of a tick decided early: that tick counts as reached.
        state.ticks = std::max(state.ticks, *aheadTick_);
    }
    if (!state.playing) {
        aheadTick_.reset();
    } else if (ahead) {
        aheadTick_ = state.ticks;
        aheadAt_ = *ahead;
    }
    state.atMicros =
        std::chrono::duration_cast<std::chrono::microseconds>(session.at.time_since_epoch())
            .count();
    std::optional<std::int64_t> startTick;
    if (state.playing) {
        const std::int64_t start = tickOf(session.startBeat);
        state.position = std::max<std::int64_t>(0, state.ticks - start);
        // A peer that starts the transport starts the music on the session's next bar line (a
        // multiple of four beats, the same instant for every peer), not on the instant of its
        // key press. Playing noticed within a beat of that bar line counts from it. Joining a
        // session that has played for a while counts from its latest bar line instead of
        // hurrying through the steps it missed: steps end on the session's bar lines either way.
        if (!wasPlaying) {
            const std::int64_t downbeat = -floorDiv(-start, kTicksPerBar) * kTicksPerBar;
            startTick = downbeat >= state.ticks - kTicksPerBeat
                            ? downbeat
                            : floorDiv(state.ticks, kTicksPerBar) * kTicksPerBar;
        }
    }
    clockLive_ = state;
    linkPeers_ = session.peers;
    clockHeard_ = session.enabled;
    publishClockReading();
    // What the early decision sends is due at the tick's time, as the wall-clock auto-advance's
    // (scheduleAdvance).
    if (ahead)
        advancingAt_ = ahead;
    followTicks(wasPlaying, startTick);
    if (ahead)
        advancingAt_.reset();
    scheduleLinkWake();
}

void LiveCoordinator::scheduleLinkWake() {
    tickWake_.reset();
    if (!usesLink() || !beats_ || !linkJoined_ || !clockLive_ || !clockLive_->playing)
        return;
    const std::int64_t target = nextTickThatMatters();
    // A send lead ahead of the tick, so that its sends can be written at the tick's frame.
    const Duration lead = std::max(Duration::zero(), midi_.sendLead());
    const TimePoint when = beats_->timeAtBeat(static_cast<double>(target) / kTicksPerBeat) - lead;
    const TimePoint current = loop_.now();
    const Duration delay = when > current ? when - current : kRetry;
    tickWake_ = loop_.after(delay, [this, target] { followLink(target); });
}

std::int64_t LiveCoordinator::nextTickThatMatters() const {
    const std::int64_t now = clockLive_ ? clockLive_->ticks : 0;
    std::int64_t target =
        sectionStartTick_ + (floorDiv(now - sectionStartTick_, kTicksPerBar) + 1) * kTicksPerBar;
    if (clockDueTick_ && *clockDueTick_ > now)
        target = std::min(target, *clockDueTick_);
    return target;
}

} // namespace strata
