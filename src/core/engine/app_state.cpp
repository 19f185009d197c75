#include "engine/app_state.h"

#include "engine/indices.h"
#include "engine/position.h"

#include <algorithm>

namespace strata {

using namespace indices;

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
      mode(strataModeFromStored(settings.stringValue(kModeKey))), settings_(settings),
      autosave_(
          location, loop, [this]() -> const Setlist& { return setlist(); },
          [this](std::optional<SaveFailure> failure) { saveFailure.set(std::move(failure)); }),
      lifetime_(this) {
    // An unreadable or undecodable file gives the default set; what became of the file is kept
    // for the window to say.
    Store::LoadProblem problem;
    if (auto loaded = Store::load(location, &problem)) {
        setlist.assign(std::move(*loaded));
    } else {
        setlist.assign(Setlist::empty());
        if (!problem.reason.empty())
            loadProblem_ = std::move(problem);
    }
    // The set as loaded is written once after the first debounce interval, like any change.
    autosave_.schedule();
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
    if (moved)
        leaveSection();
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
    if (sectionReplaced)
        leaveSection();
    autosave_.schedule();
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
    const Position target =
        followInto(earlier, {currentSongIndex(), currentSectionIndex(), currentStepIndex()}, songID,
                   sectionID);
    setSetlist(std::move(earlier));
    if (target.song != currentSongIndex())
        setCurrentSongIndex(target.song);
    if (target.section != currentSectionIndex())
        setCurrentSectionIndex(target.section);
    if (target.step != currentStepIndex())
        setCurrentStepIndex(target.step);
}

void AppState::setCurrentSongIndex(std::int64_t index) {
    writeIndex(currentSongIndex, index);
}

void AppState::setCurrentSectionIndex(std::int64_t index) {
    STRATA_ASSERT_THREAD(thread_);
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
    STRATA_ASSERT_THREAD(thread_);
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
    STRATA_ASSERT_THREAD(thread_);
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
    STRATA_ASSERT_THREAD(thread_);
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
    STRATA_ASSERT_THREAD(thread_);
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
    STRATA_ASSERT_THREAD(thread_);
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

void AppState::leaveSection() {
    moments_.reset();
    activeMomentMutedIDs.assign(std::nullopt);
}

// ---- Moments and layer rules -------------------------------------------------------------------

MomentFire AppState::dueMoments(std::optional<std::int64_t> barsToNext, bool playing) {
    // Ticks that cannot fire consume nothing, so the Moments can still fire later in the section.
    if (!playing || mode() != StrataMode::pro)
        return {};
    const Section* section = currentSection();
    if (!section)
        return {};
    // Nothing in the tick calls out: the override is published once at the end, so `section`
    // stays valid and observers see only the tick's outcome.
    UuidSet muted = activeMutedIDs();
    MomentFire result = moments_.tick(*section, setlist().layers, barsToNext, muted);
    if (result.anyFired) {
        Batch batch(*this);
        publish(activeMomentMutedIDs, std::optional<UuidSet>(std::move(muted)));
    }
    return result;
}

void AppState::fireManually(const Moment& moment) {
    Batch batch(*this);
    UuidSet muted = activeMutedIDs();
    moments_.fire(moment, muted);
    publish(activeMomentMutedIDs, std::optional<UuidSet>(std::move(muted)));
}

bool AppState::flush() {
    return autosave_.flush();
}

} // namespace strata
