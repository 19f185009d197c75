// The coordinator's auto-advance: when the current step ends on Cadenzo's bar grid, and how a
// running step keeps its time through edits, Moments and tempo changes.
#include "live/live_coordinator.h"

#include <algorithm>
#include <cmath>
#include <limits>

namespace strata {

void LiveCoordinator::scheduleAutoAdvance() {
    STRATA_ASSERT_THREAD(thread_);
    armAutoAdvance(loop_.now());
}

LiveCoordinator::StepTiming LiveCoordinator::timingNow(TimePoint from) const {
    StepTiming t;
    t.song = app_.currentSongIndex();
    t.section = app_.currentSectionIndex();
    t.step = app_.currentStepIndex();
    if (const SectionStep* step = app_.currentStep()) {
        t.stepID = step->id;
        t.bars = step->advanceBars;
    }
    if (countsTicks()) {
        // Counted in clocks: the tempo only says how long that takes.
        t.playing = clockLive_ && clockLive_->playing;
        t.tempo = clockLive_ && clockLive_->bpm ? *clockLive_->bpm : 0.0;
        t.counting = t.playing;
        t.since = from;
        return t;
    }
    const auto& live = link_.liveState();
    t.playing = live && live->playing.value_or(false);
    // No fallback past a source that gave a tempo: Cadenzo's "bpm": 0 means no auto-advance.
    t.tempo = kFallbackTempo;
    if (live && live->bpm) {
        t.tempo = *live->bpm;
    } else if (const Song* song = app_.currentSong(); song && song->tempo) {
        t.tempo = *song->tempo;
    }
    t.counting = t.playing && std::isfinite(t.tempo) && t.tempo > 0;
    t.since = from;
    return t;
}

namespace {

// Seconds that `bars` last at `tempo`; none when that could never come due in a show.
std::optional<double> barSeconds(double bars, double tempo) {
    const double seconds = (60.0 / tempo) * (bars * LiveCoordinator::kBeatsPerBar);
    if (!std::isfinite(seconds) || seconds > LiveCoordinator::kMaxAdvanceSeconds)
        return std::nullopt;
    return std::max(0.0, seconds);
}

} // namespace

void LiveCoordinator::armAutoAdvance(TimePoint from) {
    clock_.cancel();
    if (countsTicks()) {
        const bool newSection = !timing_ || timing_->song != app_.currentSongIndex() ||
                                timing_->section != app_.currentSectionIndex();
        timing_ = timingNow(from);
        armClockAdvance(newSection);
        return;
    }
    clockDueTick_.reset();
    timing_ = timingNow(from);
    StepTiming& t = *timing_;
    if (!t.counting || !t.bars || *t.bars <= 0)
        return;
    const auto seconds = barSeconds(static_cast<double>(*t.bars), t.tempo);
    if (!seconds)
        return;
    const TimePoint now = loop_.now();
    TimePoint due = from + strata::seconds(*seconds);
    // After a stall longer than the whole step, start afresh rather than rush through steps.
    if (due <= now) {
        due = now + strata::seconds(*seconds);
        t.since = now;
    }
    scheduleAdvance(due);
}

void LiveCoordinator::followAutoAdvance(TimePoint changedAt) {
    const TimePoint now = loop_.now();
    StepTiming next = timingNow(now);
    if (!timing_ || timing_->song != next.song || timing_->section != next.section ||
        timing_->step != next.step || timing_->stepID != next.stepID) {
        // The auto-advance's own step change is timed from its bar, which lies a little ahead
        // when the change was made early for its send.
        armAutoAdvance(changedAt);
        return;
    }
    if (countsTicks()) {
        followClockAdvance();
        return;
    }
    StepTiming& t = *timing_;
    if (t.counting == next.counting && t.bars == next.bars &&
        (!t.counting || t.tempo == next.tempo)) {
        t.playing = next.playing;
        return; // nothing that times the step changed: the running timer stays as it is
    }
    // What has been played of the step so far stays played; the rest goes at the new tempo. A
    // step changed to ahead of its bar (for its send) has not begun yet: all of it goes at the
    // new tempo, from its bar.
    const TimePoint from = std::max(now, t.since);
    if (t.counting)
        t.barsDone +=
            std::chrono::duration<double>(from - t.since).count() * t.tempo / 60.0 / kBeatsPerBar;
    next.barsDone = t.barsDone;
    next.since = from;
    t = next;
    // Cadenzo stopped: a clock armed while it played runs out as it was armed.
    if (!t.playing)
        return;
    clock_.cancel();
    if (!t.counting || !t.bars || *t.bars <= 0)
        return;
    const auto seconds =
        barSeconds(std::max(0.0, static_cast<double>(*t.bars) - t.barsDone), t.tempo);
    if (!seconds)
        return;
    scheduleAdvance(from + strata::seconds(*seconds));
}

void LiveCoordinator::scheduleAdvance(TimePoint due) {
    // A MIDI system that writes its output in cycles can write a send at the very frame it is
    // due, when it has it early enough: the timer fires that much ahead of the bar and the step's
    // mutes are queued with the bar as their due time.
    const Duration lead = std::max(Duration::zero(), midi_.sendLead());
    const double remaining = std::chrono::duration<double>(due - lead - loop_.now()).count();
    const auto weak = lifetime_.watch();
    clock_.schedule(std::max(0.0, remaining), [weak, due] {
        auto* self = weak.get();
        if (!self)
            return;
        // The step changes on the bar, whenever the timer got round to it: the next timed step
        // is counted from there, so that a chain of timed steps stays on the bar grid instead of
        // drifting by the timer's lateness every step. Its mutes are due on the bar too; a timer
        // that fired after it has them sent at once.
        self->advancingAt_ = due;
        self->app_.nextStep();
        self->advancingAt_.reset();
    });
}

} // namespace strata
