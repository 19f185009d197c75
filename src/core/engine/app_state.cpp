#include "engine/app_state.h"

#include "model/setlist_import.h"
#include "platform/log.h"

#include <algorithm>
#include <iterator>

namespace strata {

namespace {

std::int64_t count(const auto& container) {
    return static_cast<std::int64_t>(container.size());
}

bool inRange(std::int64_t index, const auto& container) {
    return index >= 0 && index < count(container);
}

std::optional<Uuid> idOf(const Section* section) {
    return section ? std::optional<Uuid>(section->id) : std::nullopt;
}

// Moves the element at `from` so that it ends up before the element that stood at `to` (the size
// means the end), as list reordering does. Returns whether the order changed.
template <typename T>
bool moveElement(std::vector<T>& list, std::size_t from, std::size_t to) {
    const std::size_t dest = to > from ? to - 1 : to;
    if (dest == from)
        return false;
    const auto first = list.begin();
    if (dest > from)
        std::rotate(first + from, first + from + 1, first + dest + 1);
    else
        std::rotate(first + dest, first + from, first + from + 1);
    return true;
}

} // namespace

// ---- MomentsBinding ----------------------------------------------------------------------------

std::vector<Moment> MomentsBinding::get() const {
    const auto alive = state_.lock();
    if (!alive)
        return {};
    const AppState& state = **alive;
    const auto index = state.sectionIndex(sectionID_);
    if (!index)
        return {};
    return state.currentSong()->sections[*index].moments;
}

void MomentsBinding::set(std::vector<Moment> moments) const {
    const auto alive = state_.lock();
    if (!alive)
        return;
    AppState& state = **alive;
    AppState::Batch batch(state);
    state.updateSection(sectionID_, [&](Section& section) {
        if (section.moments == moments)
            return false;
        section.moments = std::move(moments);
        return true;
    });
}

// ---- Construction and notification -------------------------------------------------------------

AppState::Batch::Batch(AppState& state) : state_(state) {
    ++state_.batchDepth_;
}

AppState::Batch::~Batch() {
    if (--state_.batchDepth_ == 0 && state_.batchChanged_) {
        state_.batchChanged_ = false;
        state_.changed.notify();
    }
}

AppState::AppState(StoreLocation location, Settings& settings, MainLoop& loop)
    : currentSongIndex(0), currentSectionIndex(0), currentStepIndex(0), stageMode(false),
      mode(strataModeFromStored(settings.stringValue(kModeKey))), location_(std::move(location)),
      settings_(settings), loop_(loop), self_(std::make_shared<AppState*>(this)) {
    // An unreadable or undecodable file gives the default set; what became of the file is kept
    // for the window to say.
    Store::LoadProblem problem;
    if (auto loaded = Store::load(location_, &problem)) {
        setlist.assign(std::move(*loaded));
    } else {
        setlist.assign(Setlist::empty());
        if (!problem.reason.empty())
            loadProblem_ = std::move(problem);
    }
    // The set as loaded is written once after the first debounce interval, like any change.
    scheduleSave();
}

AppState::~AppState() = default;

template <typename T>
void AppState::publish(OwnedPublished<T, AppState>& field, T value) {
    field.set(std::move(value));
    batchChanged_ = true;
}

// Assigns first and notifies afterwards, so that observers of the index already see the cleared
// Moment bookkeeping.
void AppState::writeIndex(OwnedPublished<std::int64_t, AppState>& field, std::int64_t index) {
    Batch batch(*this);
    const bool moved = field() != index && &field != &currentStepIndex;
    field.assign(index);
    if (moved) {
        firedMomentIDs_.clear();
        activeMomentMutedIDs.assign(std::nullopt);
        sectionStartBars_.reset();
    }
    field.notify();
    if (moved)
        activeMomentMutedIDs.notify();
    batchChanged_ = true;
}

void AppState::setSetlist(Setlist next) {
    Batch batch(*this);
    const std::optional<Uuid> sectionBefore = idOf(currentSection());
    setlist.assign(std::move(next));
    // An edit that puts another section at the current position (deleting the current section or
    // song, replacing the songs) leaves the performer in a new section: the old section's Moments
    // and override must not carry over, even though no index changed.
    const bool sectionReplaced = idOf(currentSection()) != sectionBefore;
    if (sectionReplaced) {
        firedMomentIDs_.clear();
        activeMomentMutedIDs.assign(std::nullopt);
        sectionStartBars_.reset();
    }
    scheduleSave();
    setlist.notify();
    if (sectionReplaced)
        activeMomentMutedIDs.notify();
    batchChanged_ = true;
}

bool AppState::updateSetlist(const std::function<bool(Setlist&)>& edit) {
    Setlist next = setlist();
    if (!edit(next))
        return false;
    setSetlist(std::move(next));
    return true;
}

void AppState::restoreSetlist(Setlist earlier) {
    Batch batch(*this);
    const Song* songBefore = currentSong();
    const std::optional<Uuid> songID =
        songBefore ? std::optional<Uuid>(songBefore->id) : std::nullopt;
    const std::optional<Uuid> sectionID = idOf(currentSection());
    setSetlist(std::move(earlier));

    const auto& songs = setlist().songs;
    std::int64_t song = std::clamp<std::int64_t>(currentSongIndex(), 0,
                                                 std::max<std::int64_t>(count(songs) - 1, 0));
    if (songID) {
        const auto it = std::find_if(songs.begin(), songs.end(),
                                     [&](const Song& s) { return s.id == *songID; });
        if (it != songs.end())
            song = it - songs.begin();
    }
    if (song != currentSongIndex())
        setCurrentSongIndex(song);

    const Song* now = currentSong();
    const std::int64_t sections = now ? count(now->sections) : 0;
    std::int64_t section = currentSectionIndex();
    bool followed = false;
    if (now && sectionID) {
        const auto& list = now->sections;
        const auto it = std::find_if(list.begin(), list.end(),
                                     [&](const Section& s) { return s.id == *sectionID; });
        if (it != list.end()) {
            section = it - list.begin();
            followed = true;
        }
    }
    if (!followed) {
        // A song without sections keeps its "no section" position (0 or -1 after retreat()).
        if (sections > 0)
            section = std::clamp<std::int64_t>(section, 0, sections - 1);
        else if (section != -1)
            section = 0;
    }
    if (section != currentSectionIndex())
        setCurrentSectionIndex(section);

    // The step stays where it is on the same section, within its steps; elsewhere it starts over.
    const Section* current = currentSection();
    std::int64_t step = 0;
    if (followed && current && !current->steps.empty())
        step = std::clamp<std::int64_t>(currentStepIndex(), 0, count(current->steps) - 1);
    if (step != currentStepIndex())
        setCurrentStepIndex(step);
}

void AppState::setCurrentSongIndex(std::int64_t index) {
    writeIndex(currentSongIndex, index);
}

void AppState::setCurrentSectionIndex(std::int64_t index) {
    writeIndex(currentSectionIndex, index);
}

void AppState::setCurrentStepIndex(std::int64_t index) {
    writeIndex(currentStepIndex, index);
}

void AppState::setStageMode(bool on) {
    Batch batch(*this);
    publish(stageMode, on);
}

void AppState::setActiveMomentMutedIDs(std::optional<UuidSet> ids) {
    Batch batch(*this);
    publish(activeMomentMutedIDs, std::move(ids));
}

void AppState::setLearnTarget(std::optional<LearnTarget> target) {
    Batch batch(*this);
    publish(learnTarget, std::move(target));
}

void AppState::setMode(StrataMode next) {
    Batch batch(*this);
    settings_.setString(kModeKey, rawValue(next));
    publish(mode, next);
}

// ---- Derived values ----------------------------------------------------------------------------

const Song* AppState::currentSong() const {
    const auto& songs = setlist().songs;
    const std::int64_t index = currentSongIndex();
    return inRange(index, songs) ? &songs[static_cast<std::size_t>(index)] : nullptr;
}

const Section* AppState::currentSection() const {
    const Song* song = currentSong();
    const std::int64_t index = currentSectionIndex();
    if (!song || !inRange(index, song->sections))
        return nullptr;
    return &song->sections[static_cast<std::size_t>(index)];
}

const Section* AppState::nextSection() const {
    const Song* song = currentSong();
    const std::int64_t index = currentSectionIndex();
    // index + 1 written so that it cannot overflow
    if (!song || index < -1 || index >= count(song->sections) - 1)
        return nullptr;
    return &song->sections[static_cast<std::size_t>(index + 1)];
}

const SectionStep* AppState::currentStep() const {
    const Section* section = currentSection();
    if (!section || section->steps.empty())
        return nullptr;
    if (mode() != StrataMode::pro)
        return &section->steps.front();
    const std::int64_t last = count(section->steps) - 1;
    return &section->steps[static_cast<std::size_t>(
        std::clamp<std::int64_t>(currentStepIndex(), 0, last))];
}

std::span<const Layer> AppState::visibleLayers() const {
    return strata::visibleLayers(mode(), setlist().layers);
}

// ---- Navigation --------------------------------------------------------------------------------

void AppState::advance() {
    Batch batch(*this);
    const Song* song = currentSong();
    if (!song)
        return;
    const std::int64_t sections = count(song->sections);
    const std::int64_t section = currentSectionIndex();
    const std::int64_t songIndex = currentSongIndex();
    if (section < sections - 1) {
        setCurrentSectionIndex(section + 1);
    } else if (songIndex < count(setlist().songs) - 1) {
        setCurrentSongIndex(songIndex + 1);
        setCurrentSectionIndex(0);
    }
    // The last section of the last song stays where it is: the set does not wrap.
    setCurrentStepIndex(0);
}

void AppState::retreat() {
    Batch batch(*this);
    const std::int64_t section = currentSectionIndex();
    const std::int64_t songIndex = currentSongIndex();
    if (section >= 1) {
        setCurrentSectionIndex(section - 1);
    } else if (songIndex >= 1) {
        setCurrentSongIndex(songIndex - 1);
        // A song without sections gives -1: no current section.
        const Song* song = currentSong();
        setCurrentSectionIndex(song ? count(song->sections) - 1 : 0);
    }
    setCurrentStepIndex(0);
}

void AppState::nextStep() {
    Batch batch(*this);
    if (mode() != StrataMode::pro)
        return;
    const Section* section = currentSection();
    if (!section || section->steps.empty())
        return;
    const std::int64_t last = count(section->steps) - 1;
    const std::int64_t step = std::clamp<std::int64_t>(currentStepIndex(), 0, last);
    if (step != 0 && section->steps[static_cast<std::size_t>(step)].returnToMain) {
        // A momentary step always snaps back to the main step, never onward.
        setCurrentStepIndex(0);
    } else if (step >= last) {
        return; // the last step holds; no wrap, no move to the next section
    } else {
        // From the step the performer sees, also when the stored index is out of range.
        setCurrentStepIndex(step + 1);
    }
    if (pushNow)
        pushNow();
}

void AppState::prevStep() {
    Batch batch(*this);
    if (mode() != StrataMode::pro)
        return;
    const std::int64_t index = currentStepIndex();
    if (index <= 0)
        return;
    // Back from the step the performer sees: an index beyond the section's steps shows its last.
    const Section* section = currentSection();
    std::int64_t previous = index - 1;
    if (section && !section->steps.empty())
        previous = std::max<std::int64_t>(std::min(index, count(section->steps) - 1) - 1, 0);
    setCurrentStepIndex(previous);
    if (pushNow)
        pushNow();
}

void AppState::jump(std::int64_t sectionIndex) {
    Batch batch(*this);
    const Song* song = currentSong();
    if (!song || !inRange(sectionIndex, song->sections))
        return;
    setCurrentSectionIndex(sectionIndex);
    setCurrentStepIndex(0);
}

// ---- Mutes -------------------------------------------------------------------------------------

const UuidSet& AppState::activeMutedIDs() const {
    static const UuidSet none;
    if (const auto& override = activeMomentMutedIDs())
        return *override;
    if (const SectionStep* step = currentStep())
        return step->mutedLayerIDs;
    return none;
}

std::vector<Layer> AppState::enabledLayers() const {
    const UuidSet& muted = activeMutedIDs();
    std::vector<Layer> layers;
    for (const Layer& layer : setlist().layers)
        if (!muted.contains(layer.id))
            layers.push_back(layer);
    return layers;
}

void AppState::toggleLayer(const Layer& layer, const Section& section, std::int64_t stepIndex) {
    Batch batch(*this);
    updateSection(section.id, [&](Section& s) {
        if (!inRange(stepIndex, s.steps))
            return false;
        UuidSet& muted = s.steps[static_cast<std::size_t>(stepIndex)].mutedLayerIDs;
        if (muted.erase(layer.id) == 0)
            muted.insert(layer.id);
        return true;
    });
}

// Each application starts from what is muted now, so fired Moments and rules compose; unmute wins
// over mute within one application. Assigns only: callers notify.
void AppState::applyMomentMute(const UuidSet& unmute, const UuidSet& mute) {
    UuidSet next = activeMutedIDs();
    next.insert(mute.begin(), mute.end());
    for (const Uuid& id : unmute)
        next.erase(id);
    activeMomentMutedIDs.assign(std::move(next));
}

void AppState::applyRuleMute(const Uuid& layerID, bool mute) {
    UuidSet next = activeMutedIDs();
    if (mute)
        next.insert(layerID);
    else
        next.erase(layerID);
    activeMomentMutedIDs.assign(std::move(next));
}

// ---- Moments and layer rules -------------------------------------------------------------------

MomentFire AppState::dueMoments(std::optional<std::int64_t> barsToNext, bool playing) {
    MomentFire result;
    // Ticks that cannot fire consume nothing, so the Moments can still fire later in the section.
    if (!playing || mode() != StrataMode::pro)
        return result;
    const Section* section = currentSection();
    if (!section)
        return result;
    if (barsToNext && !sectionStartBars_)
        sectionStartBars_ = barsToNext;

    // Nothing below calls out: the override is assigned as things fire and published once at the
    // end, so `section` stays valid and observers see only the tick's outcome.
    for (const Moment& moment : section->moments) {
        if (!anchorIsDue(moment.anchor, barsToNext, sectionStartBars_) ||
            firedMomentIDs_.contains(moment.id))
            continue;
        firedMomentIDs_.insert(moment.id);
        applyMomentMute(moment.unmuteLayerIDs, moment.muteLayerIDs);
        result.moments.push_back(moment);
        result.anyFired = true;
    }
    // Rules after Moments, in layer order and then rule order: a later one wins on the same layer.
    for (const Layer& layer : setlist().layers) {
        for (const LayerRule& rule : layer.rules) {
            if (!rule.enabled)
                continue;
            if (!rule.allSections && !rule.sectionNames.contains(section->name))
                continue;
            if (!anchorIsDue(rule.anchor, barsToNext, sectionStartBars_) ||
                firedMomentIDs_.contains(rule.id))
                continue;
            firedMomentIDs_.insert(rule.id);
            applyRuleMute(layer.id, rule.effect == LayerRule::Effect::muteOut);
            result.anyFired = true;
        }
    }

    if (result.anyFired) {
        Batch batch(*this);
        activeMomentMutedIDs.notify();
        batchChanged_ = true;
    }
    return result;
}

void AppState::fireManually(const Moment& moment) {
    Batch batch(*this);
    firedMomentIDs_.insert(moment.id);
    applyMomentMute(moment.unmuteLayerIDs, moment.muteLayerIDs);
    activeMomentMutedIDs.notify();
    batchChanged_ = true;
}

// ---- Section lookup ----------------------------------------------------------------------------

std::optional<std::size_t> AppState::sectionIndex(const Uuid& sectionID) const {
    const Song* song = currentSong();
    if (!song)
        return std::nullopt;
    const auto& sections = song->sections;
    const auto it = std::find_if(sections.begin(), sections.end(),
                                 [&](const Section& s) { return s.id == sectionID; });
    if (it == sections.end())
        return std::nullopt;
    return static_cast<std::size_t>(it - sections.begin());
}

std::optional<std::size_t> AppState::sectionIndex(const Section& section) const {
    return sectionIndex(section.id);
}

bool AppState::updateCurrentSong(const std::function<bool(Song&)>& edit) {
    if (!currentSong())
        return false;
    const auto index = static_cast<std::size_t>(currentSongIndex());
    return updateSetlist([&](Setlist& set) { return edit(set.songs[index]); });
}

bool AppState::updateSection(const Uuid& sectionID, const std::function<bool(Section&)>& edit) {
    const auto index = sectionIndex(sectionID);
    if (!index)
        return false;
    return updateCurrentSong([&](Song& song) { return edit(song.sections[*index]); });
}

// ---- Editing sections --------------------------------------------------------------------------

void AppState::addStep(const Section& section) {
    Batch batch(*this);
    updateSection(section.id, [](Section& s) {
        SectionStep step;
        if (!s.steps.empty())
            step.mutedLayerIDs = s.steps.back().mutedLayerIDs;
        s.steps.push_back(std::move(step));
        return true;
    });
}

void AppState::deleteStep(const Section& section, std::int64_t stepIndex) {
    Batch batch(*this);
    std::int64_t remaining = 0;
    const bool removed = updateSection(section.id, [&](Section& s) {
        // The last remaining step is never removed.
        if (!inRange(stepIndex, s.steps) || s.steps.size() < 2)
            return false;
        s.steps.erase(s.steps.begin() + stepIndex);
        remaining = count(s.steps);
        return true;
    });
    // Clamped whichever section was edited.
    if (removed && currentStepIndex() >= remaining)
        setCurrentStepIndex(remaining - 1);
}

void AppState::setAdvanceBars(std::optional<std::int64_t> bars, const Section& section,
                              std::int64_t stepIndex) {
    Batch batch(*this);
    updateSection(section.id, [&](Section& s) {
        if (!inRange(stepIndex, s.steps))
            return false;
        auto& step = s.steps[static_cast<std::size_t>(stepIndex)];
        if (step.advanceBars == bars)
            return false;
        step.advanceBars = bars;
        return true;
    });
}

void AppState::toggleMomentary(const Section& section, std::int64_t stepIndex) {
    Batch batch(*this);
    updateSection(section.id, [&](Section& s) {
        // The main step (0) can never be momentary.
        if (stepIndex <= 0 || stepIndex >= count(s.steps))
            return false;
        auto& step = s.steps[static_cast<std::size_t>(stepIndex)];
        step.returnToMain = !step.returnToMain;
        return true;
    });
}

void AppState::addMoment(const Section& section) {
    Batch batch(*this);
    updateSection(section.id, [](Section& s) {
        Moment moment;
        // Numbered from the stored count, so names can repeat after a deletion.
        moment.name = "Moment " + std::to_string(s.moments.size() + 1);
        moment.anchor = FireAnchor::barsBeforeSectionEnd(2);
        s.moments.push_back(std::move(moment));
        return true;
    });
}

void AppState::deleteMoment(const Moment& moment, const Section& section) {
    Batch batch(*this);
    updateSection(section.id, [&](Section& s) {
        return std::erase_if(s.moments, [&](const Moment& m) { return m.id == moment.id; }) > 0;
    });
}

MomentsBinding AppState::momentsBinding(const Section& section) const {
    return MomentsBinding(self_, section.id);
}

void AppState::setJumpTrigger(std::optional<AdvanceTrigger> trigger, const Uuid& sectionID) {
    Batch batch(*this);
    updateSection(sectionID, [&](Section& s) {
        if (s.jumpTrigger == trigger)
            return false;
        s.jumpTrigger = std::move(trigger);
        return true;
    });
}

std::map<std::int64_t, AdvanceTrigger> AppState::currentJumpTriggers() const {
    std::map<std::int64_t, AdvanceTrigger> triggers;
    if (const Song* song = currentSong()) {
        for (std::size_t i = 0; i < song->sections.size(); ++i)
            if (const auto& trigger = song->sections[i].jumpTrigger)
                triggers.emplace(static_cast<std::int64_t>(i), *trigger);
    }
    return triggers;
}

void AppState::setMomentTrigger(std::optional<AdvanceTrigger> trigger, const Uuid& momentID) {
    Batch batch(*this);
    updateSetlist([&](Setlist& set) {
        for (Song& song : set.songs)
            for (Section& section : song.sections)
                for (Moment& moment : section.moments)
                    if (moment.id == momentID) {
                        if (moment.trigger == trigger)
                            return false;
                        moment.trigger = std::move(trigger);
                        return true;
                    }
        return false;
    });
}

std::vector<std::pair<Uuid, AdvanceTrigger>> AppState::currentMomentTriggers() const {
    std::vector<std::pair<Uuid, AdvanceTrigger>> triggers;
    if (const Section* section = currentSection())
        for (const Moment& moment : section->moments)
            if (moment.anchor.kind == FireAnchor::Kind::manual && moment.trigger)
                triggers.emplace_back(moment.id, *moment.trigger);
    return triggers;
}

void AppState::addSection() {
    Batch batch(*this);
    updateCurrentSong([](Song& song) {
        song.sections.push_back(Section::named("New Section"));
        return true;
    });
}

void AppState::renameSection(std::int64_t sectionIndex, std::string name) {
    Batch batch(*this);
    updateCurrentSong([&](Song& song) {
        if (!inRange(sectionIndex, song.sections))
            return false;
        auto& section = song.sections[static_cast<std::size_t>(sectionIndex)];
        if (section.name == name)
            return false;
        section.name = std::move(name);
        return true;
    });
}

void AppState::duplicateSection(std::int64_t sectionIndex) {
    Batch batch(*this);
    updateCurrentSong([&](Song& song) {
        if (!inRange(sectionIndex, song.sections))
            return false;
        const Section& original = song.sections[static_cast<std::size_t>(sectionIndex)];
        // The copy keeps the name and the mutes and timing of every step; it is never momentary
        // and gets neither the jump trigger nor the Moments.
        Section copy;
        copy.name = original.name;
        for (const SectionStep& step : original.steps) {
            SectionStep s;
            s.mutedLayerIDs = step.mutedLayerIDs;
            s.advanceBars = step.advanceBars;
            copy.steps.push_back(std::move(s));
        }
        if (copy.steps.empty())
            copy.steps.emplace_back();
        song.sections.insert(song.sections.begin() + sectionIndex + 1, std::move(copy));
        return true;
    });
}

void AppState::moveSection(std::int64_t index, std::int64_t target) {
    Batch batch(*this);
    const std::optional<Uuid> current = idOf(currentSection());
    const bool moved = updateCurrentSong([&](Song& song) {
        if (!inRange(index, song.sections))
            return false;
        const std::int64_t to = std::clamp<std::int64_t>(target, 0, count(song.sections));
        return moveElement(song.sections, static_cast<std::size_t>(index),
                           static_cast<std::size_t>(to));
    });
    // The performer stays on the section that was current.
    if (moved && current) {
        if (const auto now = sectionIndex(*current))
            setCurrentSectionIndex(static_cast<std::int64_t>(*now));
    }
}

void AppState::deleteSection(std::int64_t sectionIndex) {
    Batch batch(*this);
    std::int64_t remaining = 0;
    const bool removed = updateCurrentSong([&](Song& song) {
        if (!inRange(sectionIndex, song.sections))
            return false;
        song.sections.erase(song.sections.begin() + sectionIndex);
        remaining = count(song.sections);
        return true;
    });
    if (!removed)
        return;
    // Not decremented for an earlier section: the performer stands on the one that followed.
    setCurrentSectionIndex(
        std::min(currentSectionIndex(), std::max<std::int64_t>(remaining - 1, 0)));
    setCurrentStepIndex(0);
}

void AppState::renameCurrentSong(std::string name) {
    Batch batch(*this);
    updateCurrentSong([&](Song& song) {
        if (song.name == name)
            return false;
        song.name = std::move(name);
        return true;
    });
}

// ---- Layers ------------------------------------------------------------------------------------

void AppState::addLayer(std::string portName) {
    Batch batch(*this);
    const std::size_t cap = visibleLayerCap(mode());
    updateSetlist([&](Setlist& set) {
        if (set.layers.size() >= cap)
            return false;
        std::int64_t highestChannel = 0;
        for (const Layer& layer : set.layers)
            highestChannel = std::max(highestChannel, layer.channel);
        const auto existing = count(set.layers);
        Layer layer;
        layer.name = "Layer " + std::to_string(existing + 1);
        layer.portName = std::move(portName);
        // Stored channels may be anything; a new layer's channel is a valid one.
        layer.channel = std::clamp<std::int64_t>(highestChannel + 1, 1, 16);
        layer.muteCC = existing + 20;
        set.layers.push_back(std::move(layer));
        return true;
    });
}

void AppState::deleteLayer(const Uuid& layerID) {
    Batch batch(*this);
    updateSetlist([&](Setlist& set) {
        if (std::erase_if(set.layers, [&](const Layer& l) { return l.id == layerID; }) == 0)
            return false;
        for (Song& song : set.songs)
            for (Section& section : song.sections)
                for (SectionStep& step : section.steps)
                    step.mutedLayerIDs.erase(layerID);
        return true;
    });
}

// ---- The set and its songs ---------------------------------------------------------------------

void AppState::renameSet(std::string name) {
    Batch batch(*this);
    updateSetlist([&](Setlist& set) {
        if (set.name == name)
            return false;
        set.name = std::move(name);
        return true;
    });
}

void AppState::renameSong(std::int64_t songIndex, std::string name) {
    Batch batch(*this);
    updateSetlist([&](Setlist& set) {
        if (!inRange(songIndex, set.songs))
            return false;
        auto& song = set.songs[static_cast<std::size_t>(songIndex)];
        if (song.name == name)
            return false;
        song.name = std::move(name);
        return true;
    });
}

void AppState::selectSong(std::int64_t songIndex) {
    Batch batch(*this);
    if (!inRange(songIndex, setlist().songs))
        return;
    setCurrentSongIndex(songIndex);
    setCurrentSectionIndex(0);
}

void AppState::addSong() {
    Batch batch(*this);
    updateSetlist([](Setlist& set) {
        set.songs.push_back(newDefaultSong());
        return true;
    });
    setCurrentSongIndex(count(setlist().songs) - 1);
    setCurrentSectionIndex(0);
}

void AppState::moveSong(std::int64_t from, std::int64_t to) {
    Batch batch(*this);
    if (!inRange(from, setlist().songs))
        return;
    const Song* song = currentSong();
    const std::optional<Uuid> current = song ? std::optional<Uuid>(song->id) : std::nullopt;
    const bool moved = updateSetlist([&](Setlist& set) {
        const std::int64_t dest = std::clamp<std::int64_t>(to, 0, count(set.songs));
        return moveElement(set.songs, static_cast<std::size_t>(from),
                           static_cast<std::size_t>(dest));
    });
    // The selection follows the song that was current, also when another one crossed it.
    if (!moved || !current)
        return;
    const auto& songs = setlist().songs;
    const auto it =
        std::find_if(songs.begin(), songs.end(), [&](const Song& s) { return s.id == *current; });
    if (it != songs.end())
        setCurrentSongIndex(it - songs.begin());
}

void AppState::deleteSong(std::int64_t songIndex) {
    Batch batch(*this);
    const bool removed = updateSetlist([&](Setlist& set) {
        if (!inRange(songIndex, set.songs))
            return false;
        set.songs.erase(set.songs.begin() + songIndex);
        return true;
    });
    if (!removed)
        return;
    // Not shifted for an earlier song: the song that moves into the position becomes current.
    const std::int64_t songs = count(setlist().songs);
    setCurrentSongIndex(songs == 0 ? 0 : std::min(currentSongIndex(), songs - 1));
    setCurrentSectionIndex(0);
}

std::int64_t AppState::importSetlist(std::string_view text, bool replace) {
    std::vector<Song> built = parseSetlistText(text);
    if (built.empty())
        return 0;
    Batch batch(*this);
    const std::int64_t added = count(built);
    updateSetlist([&](Setlist& set) {
        if (replace)
            set.songs = std::move(built);
        else
            set.songs.insert(set.songs.end(), std::make_move_iterator(built.begin()),
                             std::make_move_iterator(built.end()));
        return true;
    });
    const std::int64_t first =
        replace ? 0 : std::max<std::int64_t>(count(setlist().songs) - added, 0);
    setCurrentSongIndex(first);
    setCurrentSectionIndex(0);
    setCurrentStepIndex(0);
    return added;
}

void AppState::newSet() {
    Batch batch(*this);
    updateSetlist([](Setlist& set) {
        set.name = "Untitled Set";
        set.songs.clear();
        set.songs.push_back(newDefaultSong());
        return true;
    });
    setCurrentSongIndex(0);
    setCurrentSectionIndex(0);
    setCurrentStepIndex(0);
}

// ---- Saving ------------------------------------------------------------------------------------

void AppState::scheduleSave() {
    dirty_ = true;
    // Every change restarts the wait, so a burst of edits gives one write after the last.
    saveTimer_ = loop_.after(kSaveDebounce, [this] {
        AppState* self = this;
        self->saveTimer_.reset();
        self->saveNow();
    });
}

bool AppState::saveNow() {
    std::string error;
    std::error_code code;
    if (Store::write(location_, setlist(), &error, &code)) {
        dirty_ = false;
        if (failedSaves_ > 0) {
            logLine("[Store] saving works again: the setlist is saved with every change (after " +
                    std::to_string(failedSaves_) + " failed attempts)");
            failedSaves_ = 0;
            saveFailure.set(std::nullopt);
        }
        return true;
    }
    // The episode is announced once, with the reason of its first attempt (later attempts name
    // other temporary files, and the window must not flicker every retry).
    if (failedSaves_++ == 0) {
        logLine("[Store] could not save the setlist: " + error +
                "; changes are kept in memory and saved as soon as writing works again");
        saveFailure.set(SaveFailure{error, code});
    }
    // Space may be freed or the folder made writable without any further edit.
    saveTimer_ = loop_.after(kSaveRetry, [this] {
        AppState* self = this; // resetting the handle destroys this closure
        self->saveTimer_.reset();
        self->saveNow();
    });
    return false;
}

bool AppState::flush() {
    if (!dirty_)
        return true;
    saveTimer_.reset();
    return saveNow();
}

} // namespace strata
