#include "live/live_coordinator.h"

#include "midi/ardour_midi_map.h"
#include "platform/log.h"

#include <algorithm>
#include <cmath>
#include <limits>

namespace strata {

namespace {

std::string joined(const std::vector<std::string>& parts, std::string_view separator) {
    std::string out;
    for (std::size_t i = 0; i < parts.size(); ++i) {
        if (i > 0)
            out += separator;
        out += parts[i];
    }
    return out;
}

// The song's section names in order, quoted, for a diagnostic line.
std::string quotedNames(const std::vector<Section>& sections, std::size_t from) {
    std::vector<std::string> names;
    for (std::size_t i = from; i < sections.size(); ++i)
        names.push_back("\"" + sections[i].name + "\"");
    return joined(names, ", ");
}

} // namespace

LiveCoordinator::LiveCoordinator(AppState& app, MidiService& midi, CadenzoLink& link,
                                 MainLoop& loop, Settings& settings, StoreLocation backupLocation)
    : app_(app), midi_(midi), link_(link), loop_(loop), settings_(settings), clock_(loop),
      backups_(std::move(backupLocation)), lifetime_(this) {
    lastSectionStateKey_ = sectionStateKey(app_);
    lastJumpTriggerKey_ = jumpTriggerKey(app_);
    lastMomentTriggerKey_ = momentTriggerKey(app_);

    subscriptions_ += app_.changed.connect([this] { onStateChanged(); });

    subscriptions_ +=
        midi_.sectionAdvanceRequest.connect([this](int n) { handleProgramChange(n); });
    subscriptions_ += midi_.advancePressed.connect([this] { app_.advance(); });
    subscriptions_ += midi_.jumpRequested.connect([this](int index) { app_.jump(index); });
    subscriptions_ += midi_.triggerLearned.connect(
        [this](const std::optional<AdvanceTrigger>& trigger) { handleLearned(trigger); });
    subscriptions_ +=
        midi_.momentRequested.connect([this](const Uuid& id) { handleMomentTrigger(id); });
    subscriptions_ +=
        midi_.reflexMoved.connect([this](const ReflexMove& move) { adoptReflexMove(move); });
    // Whoever starts a learn, it ends by itself if nothing usable arrives; a new start restarts
    // the wait.
    subscriptions_ += midi_.isLearningTrigger.changed.connect([this](const bool& learning) {
        if (learning)
            learnTimer_ = loop_.after(kLearnTimeout, [this] { cancelLearning(); });
        else
            learnTimer_.reset();
    });

    subscriptions_ += link_.fire.connect([this](const Fire& fire) { handleFire(fire); });
    subscriptions_ +=
        link_.liveTick.connect([this](const LiveState& state) { handleLiveTick(state); });
    subscriptions_ += link_.snapshot.connect(
        [this](const SetlistSnapshot& snapshot) { applySnapshot(snapshot); });
    // A Cadenzo that is gone plays no more: when it is heard again, its playing starts afresh.
    subscriptions_ += link_.connection.changed.connect([this](const ConnectionState& state) {
        if (!state.isConnected())
            cadenzoPlaying_ = false;
    });
    const auto& live = link_.liveState();
    cadenzoPlaying_ = live && live->playing.value_or(false);
}

LiveCoordinator::~LiveCoordinator() {
    midi_.publishReflex(nullptr);
    subscriptions_.clear();
    clock_.cancel();
    // The hook points at this object; AppState outlives it.
    if (appeared_)
        app_.pushNow = nullptr;
}

// ---- Keys --------------------------------------------------------------------------------------

LiveCoordinator::SectionState LiveCoordinator::sectionStateKey(const AppState& app) {
    const Setlist& set = app.setlist();
    SectionState state;
    state.song = app.currentSongIndex();
    state.section = app.currentSectionIndex();
    state.step = app.currentStepIndex();
    state.mode = set.effectiveControlMode();
    state.mackiePort = set.mackiePort;
    state.trackOffset = set.effectiveTrackOffset();
    state.host = set.effectiveDawHost();
    state.muted = app.activeMutedIDs();
    state.routes.reserve(set.layers.size());
    for (const Layer& layer : set.layers)
        state.routes.push_back({layer.id, layer.portName, layer.channel, layer.muteCC});
    return state;
}

LiveCoordinator::JumpTriggers LiveCoordinator::jumpTriggerKey(const AppState& app) {
    JumpTriggers triggers;
    const Song* song = app.currentSong();
    if (!song)
        return triggers;
    triggers.song = app.currentSongIndex();
    triggers.bySection.reserve(song->sections.size());
    for (const Section& section : song->sections)
        triggers.bySection.push_back(section.jumpTrigger);
    return triggers;
}

LiveCoordinator::MomentTriggers LiveCoordinator::momentTriggerKey(const AppState& app) {
    MomentTriggers triggers;
    if (!app.currentSection())
        return triggers;
    triggers.songAndSection = {app.currentSongIndex(), app.currentSectionIndex()};
    triggers.triggers = app.currentMomentTriggers();
    return triggers;
}

void LiveCoordinator::onStateChanged() {
    // At once, not on the posted re-evaluation: a press that arrives meanwhile must step from the
    // position the performer sees now.
    if (!adopting_)
        publishReflex();
    if (evaluationPosted_)
        return;
    evaluationPosted_ = true;
    changedAt_ = advancingAt_.value_or(loop_.now());
    const auto weak = lifetime_.watch();
    loop_.post([weak] {
        if (auto* self = weak.get())
            self->evaluateKeys();
    });
}

void LiveCoordinator::evaluateKeys() {
    evaluationPosted_ = false;
    const TimePoint changedAt = changedAt_.value_or(loop_.now());
    changedAt_.reset();
    if (SectionState key = sectionStateKey(app_); key != lastSectionStateKey_) {
        // The handler that made the change may have sent this very state already (a step
        // change, "FIRE", a live tick, the toolbar): the DAW gets each state once.
        const bool alreadySent = pushedKey_ == key;
        lastSectionStateKey_ = std::move(key);
        if (!alreadySent)
            pushSectionState();
    }
    pushedKey_.reset();
    // A new position is timed from the change itself, not from this later turn of the loop
    // (which may come after the window has redrawn). Moments, rules and layer edits change the
    // key as well, but not the step's time.
    followAutoAdvance(changedAt);
    if (JumpTriggers key = jumpTriggerKey(app_); key != lastJumpTriggerKey_) {
        lastJumpTriggerKey_ = std::move(key);
        replaceJumpTriggers();
    }
    if (MomentTriggers key = momentTriggerKey(app_); key != lastMomentTriggerKey_) {
        lastMomentTriggerKey_ = std::move(key);
        replaceMomentTriggers();
    }
}

// ---- Appearance --------------------------------------------------------------------------------

void LiveCoordinator::appear() {
    STRATA_ASSERT_THREAD(thread_);
    if (appeared_)
        return;
    appeared_ = true;
    const auto weak = lifetime_.watch();
    app_.pushNow = [weak] {
        if (auto* self = weak.get())
            self->pushSectionState();
    };
    pushSectionState();
    replaceJumpTriggers();
    replaceMomentTriggers();
    publishReflex();
    scheduleAutoAdvance();
    // What was just sent is the state the watchers compare against from now on, so that a change
    // still waiting for its re-evaluation is not sent a second time.
    lastSectionStateKey_ = sectionStateKey(app_);
    lastJumpTriggerKey_ = jumpTriggerKey(app_);
    lastMomentTriggerKey_ = momentTriggerKey(app_);
    runFirstRunSteps();
}

void LiveCoordinator::runFirstRunSteps() {
    const bool chooser = showModeChooserAtStartup();
    showModeChooser.set(chooser);
    if (chooser)
        return; // a launch with the chooser does not offer the quick start
    if (settings_.boolValue(kHasSeenQuickStartKey).value_or(false))
        return;
    settings_.setBool(kHasSeenQuickStartKey, true);
    quickStartTimer_ = loop_.after(kQuickStartDelay, [this] { showQuickStart.set(true); });
}

void LiveCoordinator::modeChooserContinued() {
    const auto weak = lifetime_.watch();
    loop_.post([weak] {
        if (auto* self = weak.get())
            self->showSetup.set(true);
    });
}

bool LiveCoordinator::showModeChooserAtStartup() const {
    return settings_.boolValue(kShowModeChooserKey).value_or(true);
}

void LiveCoordinator::setShowModeChooserAtStartup(bool show) {
    settings_.setBool(kShowModeChooserKey, show);
}

// ---- Operations --------------------------------------------------------------------------------

std::vector<Layer> LiveCoordinator::activeLayers() const {
    const auto layers = app_.visibleLayers();
    return {layers.begin(), layers.end()};
}

void LiveCoordinator::pushSectionState() {
    STRATA_ASSERT_THREAD(thread_);
    if (!app_.currentSection())
        return;
    const Setlist& set = app_.setlist();
    midi_.sendSectionState(activeLayers(), app_.activeMutedIDs(), set.effectiveControlMode(),
                           set.mackiePort, set.effectiveTrackOffset(), set.effectiveDawHost());
    pushedKey_ = sectionStateKey(app_);
    if (allOn())
        allOn.set(false);
}

void LiveCoordinator::panic() {
    STRATA_ASSERT_THREAD(thread_);
    const Setlist& set = app_.setlist();
    midi_.panicAllOn(activeLayers(), set.effectiveControlMode(), set.mackiePort,
                     set.effectiveTrackOffset(), set.effectiveDawHost());
    // The DAW no longer holds what was pushed last.
    pushedKey_.reset();
    allOn.set(true);
    // Only the override goes; what fired stays fired. When the override differed from the step,
    // the key watcher sends the step's own mix again.
    app_.setActiveMomentMutedIDs(std::nullopt);
}

void LiveCoordinator::replaceJumpTriggers() {
    STRATA_ASSERT_THREAD(thread_);
    // Built before the MIDI engine's lock is taken.
    JumpTriggerTable table;
    for (const auto& [index, trigger] : app_.currentJumpTriggers())
        if (index >= 0 && index <= std::numeric_limits<int>::max())
            table.emplace(static_cast<int>(index), trigger);
    midi_.setJumpTriggers(std::move(table));
}

void LiveCoordinator::replaceMomentTriggers() {
    STRATA_ASSERT_THREAD(thread_);
    midi_.setMomentTriggers(app_.currentMomentTriggers());
}

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
        armAutoAdvance(std::min(changedAt, now));
        return;
    }
    StepTiming& t = *timing_;
    if (t.counting == next.counting && t.bars == next.bars &&
        (!t.counting || t.tempo == next.tempo)) {
        t.playing = next.playing;
        return; // nothing that times the step changed: the running timer stays as it is
    }
    // What has been played of the step so far stays played; the rest goes at the new tempo.
    if (t.counting)
        t.barsDone +=
            std::chrono::duration<double>(now - t.since).count() * t.tempo / 60.0 / kBeatsPerBar;
    next.barsDone = t.barsDone;
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
    scheduleAdvance(now + strata::seconds(*seconds));
}

void LiveCoordinator::scheduleAdvance(TimePoint due) {
    const double remaining = std::chrono::duration<double>(due - loop_.now()).count();
    const auto weak = lifetime_.watch();
    clock_.schedule(std::max(0.0, remaining), [weak, due] {
        auto* self = weak.get();
        if (!self)
            return;
        // The step changes on the bar, whenever the timer got round to it: the next timed step
        // is counted from there, so that a chain of timed steps stays on the bar grid instead of
        // drifting by the timer's lateness every step.
        self->advancingAt_ = due;
        self->app_.nextStep();
        self->advancingAt_.reset();
    });
}

void LiveCoordinator::handleProgramChange(std::int64_t n) {
    STRATA_ASSERT_THREAD(thread_);
    const Song* song = app_.currentSong();
    if (!song || n < 0 || n >= static_cast<std::int64_t>(song->sections.size()))
        return;
    app_.setCurrentSectionIndex(n);
}

void LiveCoordinator::handleFire(const Fire& fire) {
    STRATA_ASSERT_THREAD(thread_);
    if (fire.songIdx >= 0 && fire.songIdx < static_cast<std::int64_t>(app_.setlist().songs.size()))
        app_.setCurrentSongIndex(fire.songIdx);
    if (const Song* song = app_.currentSong();
        song && fire.sectionIdx >= 0 &&
        fire.sectionIdx < static_cast<std::int64_t>(song->sections.size()))
        app_.setCurrentSectionIndex(fire.sectionIdx);
    app_.setCurrentStepIndex(0);
    pushSectionState();
}

void LiveCoordinator::sendMomentMessages(const Moment& moment) {
    for (const PatchChange& change : moment.programChanges)
        if (!change.portName.empty())
            midi_.sendProgramChange(change.program, change.channel, change.portName);
    for (const CCSend& send : moment.ccSends)
        if (!send.portName.empty())
            midi_.sendControlChange(send.cc, send.value, send.channel, send.portName);
}

void LiveCoordinator::handleLiveTick(const LiveState& state) {
    STRATA_ASSERT_THREAD(thread_);
    // Playing starts (after a stop, or a Cadenzo first heard playing): the current step is timed
    // from now. Otherwise a new tempo re-times the rest of the step.
    const bool playing = state.playing.value_or(false);
    const bool started = playing && !cadenzoPlaying_;
    cadenzoPlaying_ = playing;
    if (started)
        armAutoAdvance(loop_.now());
    else
        followAutoAdvance(changedAt_.value_or(loop_.now()));

    const MomentFire fired = app_.dueMoments(state.barsToNext, state.playing.value_or(false));
    if (!fired.anyFired)
        return;
    for (const Moment& moment : fired.moments)
        sendMomentMessages(moment);
    pushSectionState();
}

void LiveCoordinator::applySnapshot(const SetlistSnapshot& snapshot) {
    STRATA_ASSERT_THREAD(thread_);
    if (snapshot.songs.empty())
        return;
    const SetlistSnapshot::Song& cue = snapshot.songs.front();
    const std::int64_t songIndex = app_.currentSongIndex();
    const Setlist& set = app_.setlist();
    if (songIndex < 0 || songIndex >= static_cast<std::int64_t>(set.songs.size()))
        return;
    const std::size_t at = static_cast<std::size_t>(songIndex);
    Song song = set.songs[at];

    bool namesEqual = song.sections.size() == cue.sections.size();
    for (std::size_t i = 0; namesEqual && i < cue.sections.size(); ++i)
        namesEqual = song.sections[i].name == cue.sections[i];
    const bool tempoDiffers = cue.tempo && (!song.tempo || *song.tempo != *cue.tempo);
    if (namesEqual && !tempoDiffers)
        return;

    if (cue.tempo && *cue.tempo > 0)
        song.tempo = cue.tempo;

    std::optional<DroppedSections> dropped;
    if (!cue.sections.empty()) {
        // Cadenzo's structure wins, but sections it drops keep their steps, Moments and triggers
        // in a copy of the whole set taken before the change, and the window offers them back.
        if (song.sections.size() > cue.sections.size()) {
            dropped = DroppedSections{
                song.id,
                song.name,
                cue.sections.size(),
                {song.sections.begin() + static_cast<std::ptrdiff_t>(cue.sections.size()),
                 song.sections.end()}};
            Setlist before = set;
            backups_.keep(std::move(before),
                          "Cadenzo's setlist removed " +
                              std::to_string(song.sections.size() - cue.sections.size()) +
                              " section(s) of \"" + song.name +
                              "\": " + quotedNames(song.sections, cue.sections.size()));
        }
        std::vector<Section> sections;
        sections.reserve(cue.sections.size());
        for (std::size_t i = 0; i < cue.sections.size(); ++i) {
            if (i < song.sections.size()) {
                Section kept = std::move(song.sections[i]);
                kept.name = cue.sections[i];
                sections.push_back(std::move(kept));
            } else {
                sections.push_back(Section::named(cue.sections[i]));
            }
        }
        song.sections = std::move(sections);
    }

    const std::int64_t count = static_cast<std::int64_t>(song.sections.size());
    app_.updateSetlist([&](Setlist& next) {
        if (at >= next.songs.size() || next.songs[at] == song)
            return false;
        next.songs[at] = std::move(song);
        return true;
    });
    if (app_.currentSectionIndex() >= count)
        app_.setCurrentSectionIndex(count > 0 ? count - 1 : 0);
    if (dropped)
        sectionsDropped.notify(*dropped);
}

bool LiveCoordinator::restoreSections(const DroppedSections& dropped) {
    Setlist next = app_.setlist();
    const auto song = std::find_if(next.songs.begin(), next.songs.end(),
                                   [&](const Song& s) { return s.id == dropped.songID; });
    if (song == next.songs.end())
        return false;
    std::vector<Section> missing;
    for (const Section& section : dropped.sections)
        if (std::none_of(song->sections.begin(), song->sections.end(),
                         [&](const Section& s) { return s.id == section.id; }))
            missing.push_back(section);
    if (missing.empty())
        return false;
    const std::size_t at = std::min(dropped.from, song->sections.size());
    song->sections.insert(song->sections.begin() + static_cast<std::ptrdiff_t>(at), missing.begin(),
                          missing.end());
    // As an undo does: the performer stays on their song and section, found by id.
    app_.restoreSetlist(std::move(next));
    return true;
}

void LiveCoordinator::handleLearned(const std::optional<AdvanceTrigger>& trigger) {
    STRATA_ASSERT_THREAD(thread_);
    const std::optional<AppState::LearnTarget> target = app_.learnTarget();
    app_.setLearnTarget(std::nullopt);
    if (!trigger || !target)
        return;
    switch (target->kind) {
    case AppState::LearnTarget::Kind::section:
        app_.setJumpTrigger(*trigger, target->sectionID);
        replaceJumpTriggers();
        break;
    case AppState::LearnTarget::Kind::next:
        midi_.advanceTrigger.set(*trigger);
        midi_.resolveTriggerSource();
        midi_.persistAdvanceTrigger();
        break;
    case AppState::LearnTarget::Kind::moment:
        app_.setMomentTrigger(*trigger, target->momentID);
        replaceMomentTriggers();
        break;
    }
}

void LiveCoordinator::publishReflex() {
    STRATA_ASSERT_THREAD(thread_);
    const Song* song = app_.currentSong();
    if (!appeared_ || !song || !app_.currentSection()) {
        midi_.publishReflex(nullptr);
        return;
    }
    auto snapshot = std::make_shared<ReflexSnapshot>();
    snapshot->position = {app_.currentSongIndex(), app_.currentSectionIndex(),
                          app_.currentStepIndex()};
    snapshot->pro = app_.mode() == StrataMode::pro;
    snapshot->sections.reserve(song->sections.size());
    for (const Section& section : song->sections) {
        ReflexSnapshot::SectionMutes entry{section.id, {}};
        entry.steps.reserve(section.steps.size());
        for (const SectionStep& step : section.steps)
            entry.steps.push_back(step.mutedLayerIDs);
        snapshot->sections.push_back(std::move(entry));
    }
    const Setlist& set = app_.setlist();
    snapshot->layers = activeLayers();
    snapshot->mode = set.effectiveControlMode();
    snapshot->mackiePort = set.mackiePort;
    snapshot->mackieTrackOffset = set.effectiveTrackOffset();
    snapshot->host = set.effectiveDawHost();
    midi_.publishReflex(std::move(snapshot));
}

void LiveCoordinator::adoptReflexMove(const ReflexMove& move) {
    STRATA_ASSERT_THREAD(thread_);
    if (!move.basis)
        return;
    const ReflexSnapshot& basis = *move.basis;
    adopting_ = true;
    // Taken over only where it still means the same section: the set may have been edited, or
    // the performer moved to another song, after the engine decided.
    bool followed = false;
    const Song* song = app_.currentSong();
    const auto at = static_cast<std::size_t>(move.to.section);
    if (song && app_.currentSongIndex() == move.to.song && move.to.section >= 0 &&
        at < song->sections.size() && at < basis.sections.size() &&
        song->sections[at].id == basis.sections[at].id) {
        app_.setCurrentSectionIndex(move.to.section);
        app_.setCurrentStepIndex(move.to.step);
        followed = true;
    }
    adopting_ = false;
    const Setlist& set = app_.setlist();
    const bool sentAlready = followed && app_.activeMutedIDs() == basis.mutesAt(move.to) &&
                             activeLayers() == basis.layers &&
                             set.effectiveControlMode() == basis.mode &&
                             set.mackiePort == basis.mackiePort &&
                             set.effectiveTrackOffset() == basis.mackieTrackOffset &&
                             set.effectiveDawHost() == basis.host;
    if (sentAlready) {
        // What the key watcher would send for this change is on its way to the DAW.
        pushedKey_ = sectionStateKey(app_);
        if (allOn())
            allOn.set(false);
    } else {
        pushSectionState();
    }
    publishReflex();
}

void LiveCoordinator::handleMomentTrigger(const Uuid& momentID) {
    STRATA_ASSERT_THREAD(thread_);
    const Section* section = app_.currentSection();
    if (!section)
        return;
    for (const Moment& moment : section->moments)
        if (moment.id == momentID && moment.anchor.kind == FireAnchor::Kind::manual) {
            // A copy: firing writes the state that `section` points into.
            const Moment fired = moment;
            testMoment(fired);
            return;
        }
}

// ---- Commands ----------------------------------------------------------------------------------

void LiveCoordinator::setMode(StrataMode mode) {
    STRATA_ASSERT_THREAD(thread_);
    app_.setMode(mode);
    midi_.resetMackieShadow();
    pushSectionState();
}

void LiveCoordinator::setControlMode(ControlMode mode) {
    app_.updateSetlist([mode](Setlist& set) {
        if (set.controlMode == mode)
            return false;
        set.controlMode = mode;
        return true;
    });
    midi_.resetMackieShadow();
    pushSectionState();
}

void LiveCoordinator::setMackiePort(std::optional<std::string> port) {
    if (port && port->empty())
        port.reset();
    app_.updateSetlist([&port](Setlist& set) {
        if (set.mackiePort == port)
            return false;
        set.mackiePort = port;
        return true;
    });
    midi_.resetMackieShadow();
    pushSectionState();
}

std::int64_t LiveCoordinator::currentBankOffset() const {
    return std::clamp<std::int64_t>(app_.setlist().effectiveTrackOffset(), 0, kMaxBankOffset);
}

void LiveCoordinator::setMackieTrackOffset(std::int64_t offset) {
    const std::int64_t next = trunc8(std::clamp<std::int64_t>(offset, 0, kMaxBankOffset));
    const bool changed = app_.updateSetlist([next](Setlist& set) {
        if (set.mackieTrackOffset.value_or(0) == next)
            return false;
        set.mackieTrackOffset = next;
        return true;
    });
    if (!changed)
        return;
    midi_.resetMackieShadow();
    pushSectionState();
}

void LiveCoordinator::setDawHost(DawHost host) {
    const bool changed = app_.updateSetlist([host](Setlist& set) {
        if (set.effectiveDawHost() == host)
            return false;
        set.dawHost = host == DawHost::logic ? std::nullopt : std::optional<DawHost>(host);
        return true;
    });
    if (!changed)
        return;
    midi_.resetMackieShadow();
    pushSectionState();
}

void LiveCoordinator::resyncCCMutes() {
    midi_.resyncCCMutes();
    pushSectionState();
}

bool LiveCoordinator::saveArdourMidiMap(const std::filesystem::path& path, std::string* error) {
    std::string reason;
    if (ArdourMidiMap::save(app_.setlist(), path, &reason))
        return true;
    logLine("[MIDI] could not save the Ardour MIDI map to " + path.string() + ": " + reason);
    if (error)
        *error = std::move(reason);
    return false;
}

void LiveCoordinator::beginLearning(AppState::LearnTarget target) {
    app_.setLearnTarget(std::move(target));
    midi_.isLearningTrigger.set(true);
}

void LiveCoordinator::cancelLearning() {
    // A press already on its way to the main thread finds no target and is dropped.
    app_.setLearnTarget(std::nullopt);
    if (midi_.isLearningTrigger())
        midi_.isLearningTrigger.set(false);
}

void LiveCoordinator::learnNextTrigger() {
    beginLearning(AppState::LearnTarget::next());
}

void LiveCoordinator::clearNextTrigger() {
    midi_.advanceTrigger.set(std::nullopt);
    midi_.resolveTriggerSource();
    midi_.persistAdvanceTrigger();
}

void LiveCoordinator::learnJumpTrigger(const Uuid& sectionID) {
    beginLearning(AppState::LearnTarget::section(sectionID));
}

void LiveCoordinator::learnMomentTrigger(const Uuid& momentID) {
    beginLearning(AppState::LearnTarget::moment(momentID));
}

void LiveCoordinator::testMoment(const Moment& moment) {
    app_.fireManually(moment);
    sendMomentMessages(moment);
    pushSectionState();
}

} // namespace strata
