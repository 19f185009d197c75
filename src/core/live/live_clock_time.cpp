// The coordinator's musical time from MIDI clock: a step ends on a count of clocks, Moments count
// bars of clocks, and a source that falls silent stops.
//
// With a MIDI system that writes sends at their frame (a send lead), the tick that ends a step or
// begins a bar is not waited for: the clock's latest tick and its tempo place it, and a wake-up a
// send lead before that decides it as reached. The step changes and the bar line's Moments fire
// then, and everything they send is due at the tick's placed time, so the DAW gets the mutes on
// the clock's own bar line rather than a cycle and a hop to the main thread after it. The wake-up
// is placed from the latest tick only when it comes before the next tick is expected, so it is
// placed over the fewest clocks the lead allows (the tempo is a smoothed mean, which keeps a
// jittery source's placing calm). What arrives between the early decision and the tick itself:
// - The clock's own ticks up to the decided one count as that tick: nothing is decided or sent
//   twice, and the next step is counted from the decided tick.
// - A stop (or silence) leaves the decision standing; counting goes on from the clock's own
//   ticks when it plays again.
// - A move of the performer counts its step from the decided tick; its mutes are sent at once,
//   behind the timed ones.
// Without a lead, an implausible tempo, or a tick that is due already, the tick itself decides
// when it arrives, as before.
#include "live/live_coordinator.h"

#include <algorithm>
#include <cmath>

namespace strata {

namespace {

// Bar counts above this are never armed: no show lasts that long, and the tick arithmetic stays
// far from its limits.
constexpr std::int64_t kMaxClockBars = 1'000'000;
// Tempos a clock is placed ahead at; outside them (a burst of clocks while a DAW locates, a
// crawl) the ticks decide as they arrive.
constexpr double kMinPlacedBpm = 20.0;
constexpr double kMaxPlacedBpm = 400.0;
// A wake-up is placed from the latest tick when it comes before the tick after that is expected
// (with this much of a clock to spare); else that tick places it, closer to the target.
constexpr double kPlacedSpare = 0.5;

TimePoint atMicros(std::int64_t micros) {
    return TimePoint(std::chrono::duration_cast<Duration>(std::chrono::microseconds(micros)));
}

std::int64_t microsOf(TimePoint at) {
    return std::chrono::duration_cast<std::chrono::microseconds>(at.time_since_epoch()).count();
}

} // namespace

void LiveCoordinator::applyClockSettings() {
    midi_.setClockDevice(usesClock() ? app_.setlist().clockDevice : std::nullopt);
    const bool join = usesLink() && beats_;
    if (join != linkJoined_) {
        // Into or out of Link: what the other source counted means nothing to this one.
        linkJoined_ = join;
        forgetTicks();
        beats_->setEnabled(join);
        if (join) {
            // After the change that chose Link has been handled completely.
            const auto weak = lifetime_.watch();
            loop_.post([weak] {
                if (auto* self = weak.get())
                    self->followLink();
            });
        }
    }
    timeSourceChanged.notify();
}

void LiveCoordinator::forgetTicks() {
    clockLive_.reset();
    clockDueTick_.reset();
    clockHeard_ = false;
    clockWatch_.reset();
    tickWake_.reset();
    aheadTick_.reset();
    linkPeers_ = 0;
    publishClockReading();
}

void LiveCoordinator::setTimeSource(TimeSource source) {
    const bool changed = app_.updateSetlist([source](Setlist& set) {
        if (set.effectiveTimeSource() == source)
            return false;
        set.timeSource =
            source == TimeSource::cadenzo ? std::nullopt : std::optional<TimeSource>(source);
        return true;
    });
    if (!changed)
        return;
    applyClockSettings();
    // The new source times the step and the section from here on.
    timing_.reset();
    scheduleAutoAdvance();
}

void LiveCoordinator::setClockDevice(std::optional<std::string> device) {
    if (device && device->empty())
        device.reset();
    app_.updateSetlist([&device](Setlist& set) {
        if (set.clockDevice == device)
            return false;
        set.clockDevice = device;
        return true;
    });
    applyClockSettings();
}

void LiveCoordinator::armClockAdvance(bool newSection) {
    const std::int64_t ticks = clockLive_ ? clockLive_->ticks : 0;
    stepStartTick_ = advancingTick_.value_or(ticks);
    if (newSection)
        sectionStartTick_ = stepStartTick_;
    clockDueTick_.reset();
    const auto bars = timing_ ? timing_->bars : std::nullopt;
    if (!bars || *bars <= 0 || *bars > kMaxClockBars)
        return;
    clockDueTick_ = stepStartTick_ + *bars * ClockFollower::kClocksPerBar;
    if (usesLink())
        scheduleLinkWake();
    else
        scheduleClockWake();
}

void LiveCoordinator::followClockAdvance() {
    StepTiming next = timingNow(loop_.now());
    // A new bar count for the running step: its end moves, its start stays.
    const bool rebar = next.bars != timing_->bars;
    *timing_ = next;
    if (!rebar)
        return;
    const bool wasAdvancing = advancingTick_.has_value();
    if (!wasAdvancing)
        advancingTick_ = stepStartTick_;
    armClockAdvance(false);
    if (!wasAdvancing)
        advancingTick_.reset();
}

void LiveCoordinator::advanceOnClock() {
    const std::int64_t due = *clockDueTick_;
    const auto position = std::make_tuple(app_.currentSongIndex(), app_.currentSectionIndex(),
                                          app_.currentStepIndex());
    // The next step starts on the tick this one ended on, not on whichever tick the step change
    // was noticed: a chain of timed steps stays on the clock's bar grid.
    advancingTick_ = due;
    app_.nextStep();
    const bool moved =
        position != std::make_tuple(app_.currentSongIndex(), app_.currentSectionIndex(),
                                    app_.currentStepIndex());
    if (moved)
        armAutoAdvance(loop_.now());
    else
        clockDueTick_.reset(); // the last step holds
    advancingTick_.reset();
}

std::optional<std::int64_t> LiveCoordinator::clockBarsToNext() const {
    const Section* section = app_.currentSection();
    if (!clockLive_ || !section)
        return std::nullopt;
    const std::int64_t elapsed = std::max<std::int64_t>(0, clockLive_->ticks - sectionStartTick_);
    std::int64_t bars = 0;
    bool known = !section->steps.empty();
    for (const SectionStep& step : section->steps) {
        if (!step.advanceBars || *step.advanceBars <= 0 || *step.advanceBars > kMaxClockBars) {
            known = false;
            break;
        }
        bars += *step.advanceBars;
    }
    if (!known)
        return kOpenSectionBars - elapsed / ClockFollower::kClocksPerBar;
    const std::int64_t remaining = bars * ClockFollower::kClocksPerBar - elapsed;
    if (remaining <= 0)
        return 0;
    return (remaining + ClockFollower::kClocksPerBar - 1) / ClockFollower::kClocksPerBar;
}

void LiveCoordinator::handleClockState(const ClockState& state) {
    STRATA_ASSERT_THREAD(thread_);
    // Link counts the ticks meanwhile; a clock state still on its way is of no use to it.
    if (usesLink())
        return;
    const bool wasPlaying = clockLive_ && clockLive_->playing;
    ClockState next = state;
    if (aheadTick_ && wasPlaying && next.playing && next.ticks < *aheadTick_) {
        // Inside the lead window of a tick decided early: the clock is there by now.
        next.position += *aheadTick_ - next.ticks;
        next.ticks = *aheadTick_;
        next.atMicros = microsOf(aheadAt_);
        next.earlierMicros = 0;
    } else {
        aheadTick_.reset();
    }
    clockLive_ = next;
    clockHeardAt_ = loop_.now();
    clockHeard_ = true;
    publishClockReading();
    watchClockSilence();
    if (!usesClock())
        return;
    followTicks(wasPlaying, std::nullopt);
    scheduleClockWake();
}

void LiveCoordinator::scheduleClockWake() {
    tickWake_.reset();
    const Duration lead = midi_.sendLead();
    if (!usesClock() || lead <= Duration::zero() || !clockLive_ || !clockLive_->playing ||
        !clockLive_->bpm ||
        !(*clockLive_->bpm >= kMinPlacedBpm && *clockLive_->bpm <= kMaxPlacedBpm))
        return;
    const std::int64_t target = nextTickThatMatters();
    const double clocks = static_cast<double>(target - clockLive_->ticks);
    const double clockMicros = 60.0e6 / (*clockLive_->bpm * ClockFollower::kClocksPerBeat);
    const double leadMicros = std::chrono::duration<double, std::micro>(lead).count();
    if (clocks <= 0 || clocks * clockMicros - leadMicros > (1.0 + kPlacedSpare) * clockMicros)
        return;
    const TimePoint due =
        atMicros(clockLive_->atMicros - clockLive_->earlierMicros) +
        std::chrono::duration_cast<Duration>(
            std::chrono::duration<double, std::micro>(std::round(clocks * clockMicros)));
    const TimePoint now = loop_.now();
    if (due <= now)
        return;
    const Duration delay = std::max(Duration::zero(), due - lead - now);
    tickWake_ = loop_.after(delay, [this, target, due] { decideClockAhead(target, due); });
}

void LiveCoordinator::decideClockAhead(std::int64_t tick, TimePoint due) {
    STRATA_ASSERT_THREAD(thread_);
    tickWake_.reset();
    if (!usesClock() || !clockLive_ || !clockLive_->playing || clockLive_->ticks >= tick)
        return;
    ClockState state = *clockLive_;
    state.position += tick - state.ticks;
    state.ticks = tick;
    state.atMicros = microsOf(due);
    state.earlierMicros = 0;
    clockLive_ = state;
    aheadTick_ = tick;
    aheadAt_ = due;
    // What the decision sends is due at the tick's time, as the Link wake-up's.
    advancingAt_ = due;
    followTicks(true, std::nullopt);
    advancingAt_.reset();
    scheduleClockWake();
}

void LiveCoordinator::followTicks(bool wasPlaying, std::optional<std::int64_t> startTick) {
    const ClockState state = *clockLive_;
    if (state.playing && !wasPlaying) {
        // Playing starts: the step and the section are counted from here (or from where the
        // source says it started).
        clock_.cancel();
        timing_ = timingNow(loop_.now());
        advancingTick_ = startTick;
        armClockAdvance(true);
        advancingTick_.reset();
    } else if (state.playing && clockDueTick_ && state.ticks >= *clockDueTick_) {
        advanceOnClock();
    }
    if (!state.playing)
        return;
    const MomentFire fired = app_.dueMoments(clockBarsToNext(), true);
    if (!fired.anyFired)
        return;
    for (const Moment& moment : fired.moments)
        sendMomentMessages(moment);
    pushSectionState();
}

void LiveCoordinator::publishClockReading() {
    ClockReading reading;
    reading.heard = clockHeard_;
    reading.playing = clockLive_ && clockLive_->playing;
    if (clockLive_ && clockLive_->bpm)
        reading.bpm = static_cast<std::int64_t>(*clockLive_->bpm + 0.5);
    if (usesLink() && clockHeard_)
        reading.peers = static_cast<std::int64_t>(linkPeers_);
    if (!(clockReading() == reading))
        clockReading.set(reading);
}

void LiveCoordinator::watchClockSilence() {
    if (clockWatch_)
        return;
    clockWatch_ =
        loop_.after(clockHeardAt_ + kClockSilence - loop_.now(), [this] { checkClockSilence(); });
}

void LiveCoordinator::checkClockSilence() {
    clockWatch_.reset();
    if (loop_.now() < clockHeardAt_ + kClockSilence) {
        watchClockSilence();
        return;
    }
    // Silent: stopped, tempo unknown, the position where it stood. The input side finds the same
    // on its next message.
    clockHeard_ = false;
    if (clockLive_) {
        clockLive_->playing = false;
        clockLive_->bpm.reset();
    }
    if (usesClock()) {
        aheadTick_.reset();
        tickWake_.reset();
    }
    publishClockReading();
}

} // namespace strata
