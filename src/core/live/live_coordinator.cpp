#include "live/live_coordinator.h"

#include "midi/ardour_midi_map.h"
#include "platform/log.h"

#include <algorithm>
#include <cmath>
#include <limits>

namespace strata {

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

    subscriptions_ +=
        midi_.clockChanged.connect([this](const ClockState& state) { handleClockState(state); });
    applyClockSettings();
    subscriptions_ += link_.fire.connect([this](const Fire& fire) { handleFire(fire); });
    // A FIRE the MIDI engine can answer from its snapshot is answered on the link's reader
    // thread and reaches this side as a reflex move; the rest arrive on `fire`.
    link_.setFireReflex([&midi = midi_](const Fire& fire) {
        return midi.answerCueJump(fire.songIdx, fire.sectionIdx);
    });
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
    if (beats_ && linkJoined_)
        beats_->setEnabled(false);
    link_.setFireReflex(nullptr);
    midi_.publishReflex(nullptr);
    subscriptions_.clear();
    clock_.cancel();
    // The hook points at this object; AppState outlives it.
    if (started_)
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
    applyClockSettings();
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
    start();
    runFirstRunSteps();
}

void LiveCoordinator::start() {
    STRATA_ASSERT_THREAD(thread_);
    if (started_)
        return;
    started_ = true;
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
    // The auto-advance's own step change is sent for its bar (see scheduleAdvance), and so is
    // what a Link tick decided ahead of its time brings (followLink).
    midi_.sendSectionState(activeLayers(), app_.activeMutedIDs(), set.effectiveControlMode(),
                           set.mackiePort, set.effectiveTrackOffset(), set.effectiveDawHost(),
                           advancingAt_);
    ++sends_;
    pushedKey_ = sectionStateKey(app_);
    if (allOn())
        allOn.set(false);
    // A move the engine decides from now on is queued after this send.
    if (!adopting_)
        publishReflex();
}

void LiveCoordinator::panic() {
    STRATA_ASSERT_THREAD(thread_);
    const Setlist& set = app_.setlist();
    midi_.panicAllOn(activeLayers(), set.effectiveControlMode(), set.mackiePort,
                     set.effectiveTrackOffset(), set.effectiveDawHost());
    ++sends_;
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

void LiveCoordinator::handleProgramChange(std::int64_t n) {
    STRATA_ASSERT_THREAD(thread_);
    const Song* song = app_.currentSong();
    if (!song || n < 0 || n >= static_cast<std::int64_t>(song->sections.size()))
        return;
    app_.setCurrentSectionIndex(n);
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
    if (!started_ || !song || !app_.currentSection()) {
        midi_.publishReflex(nullptr);
        return;
    }
    auto snapshot = std::make_shared<ReflexSnapshot>();
    snapshot->position = {app_.currentSongIndex(), app_.currentSectionIndex(),
                          app_.currentStepIndex()};
    snapshot->pro = app_.mode() == StrataMode::pro;
    snapshot->songCount = static_cast<std::int64_t>(app_.setlist().songs.size());
    snapshot->ownerSends = sends_;
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
    const Setlist& set = app_.setlist();
    // A send of this side's own since the snapshot was built (a FIRE or a Moment handled while
    // the move was on its way) may have reached the queue after the move: the state goes again.
    const bool sentAlready =
        followed && basis.ownerSends == sends_ && app_.activeMutedIDs() == basis.mutesAt(move.to) &&
        activeLayers() == basis.layers && set.effectiveControlMode() == basis.mode &&
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
    adopting_ = false;
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
