#include "engine/app_state.h"
#include "engine/indices.h"
#include "engine/set_edits.h"
#include "model/setlist_import.h"

#include <algorithm>

// The editor's operations: each runs one pure edit of the document on the current set and then
// keeps the performer's position where the edit leaves it.
namespace strata {

using namespace indices;

// ---- MomentsBinding ----------------------------------------------------------------------------

std::vector<Moment> MomentsBinding::get() const {
    const AppState* alive = state_.get();
    if (!alive)
        return {};
    const AppState& state = *alive;
    const auto index = state.sectionIndex(sectionID_);
    if (!index)
        return {};
    return state.currentSong()->sections[*index].moments;
}

void MomentsBinding::set(std::vector<Moment> moments) const {
    AppState* alive = state_.get();
    if (!alive)
        return;
    AppState& state = *alive;
    AppState::Batch batch(state);
    state.apply(edits::setMoments(state.setlist(), state.currentSongIndex(), sectionID_,
                                  std::move(moments)));
}

void AppState::toggleLayer(Uuid layerID, Uuid sectionID, std::int64_t stepIndex) {
    Batch batch(*this);
    apply(edits::toggleLayer(setlist(), currentSongIndex(), sectionID, stepIndex, layerID));
}

// ---- Editing -----------------------------------------------------------------------------------

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

bool AppState::apply(std::optional<Setlist> edited) {
    if (!edited)
        return false;
    setSetlist(std::move(*edited));
    return true;
}

void AppState::addStep(Uuid sectionID) {
    Batch batch(*this);
    apply(edits::addStep(setlist(), currentSongIndex(), sectionID));
}

void AppState::deleteStep(Uuid sectionID, std::int64_t stepIndex) {
    Batch batch(*this);
    if (!apply(edits::deleteStep(setlist(), currentSongIndex(), sectionID, stepIndex)))
        return;
    // Clamped whichever section was edited.
    const std::int64_t remaining = count(currentSong()->sections[*sectionIndex(sectionID)].steps);
    if (currentStepIndex() >= remaining)
        setCurrentStepIndex(remaining - 1);
}

void AppState::setAdvanceBars(std::optional<std::int64_t> bars, Uuid sectionID,
                              std::int64_t stepIndex) {
    Batch batch(*this);
    apply(edits::setAdvanceBars(setlist(), currentSongIndex(), sectionID, stepIndex, bars));
}

void AppState::toggleMomentary(Uuid sectionID, std::int64_t stepIndex) {
    Batch batch(*this);
    apply(edits::toggleMomentary(setlist(), currentSongIndex(), sectionID, stepIndex));
}

void AppState::addMoment(Uuid sectionID) {
    Batch batch(*this);
    apply(edits::addMoment(setlist(), currentSongIndex(), sectionID));
}

void AppState::deleteMoment(Uuid momentID, Uuid sectionID) {
    Batch batch(*this);
    apply(edits::deleteMoment(setlist(), currentSongIndex(), sectionID, momentID));
}

MomentsBinding AppState::momentsBinding(Uuid sectionID) const {
    return MomentsBinding(lifetime_.watch(), sectionID);
}

void AppState::setJumpTrigger(std::optional<AdvanceTrigger> trigger, Uuid sectionID) {
    Batch batch(*this);
    apply(edits::setJumpTrigger(setlist(), currentSongIndex(), sectionID, std::move(trigger)));
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

void AppState::setMomentTrigger(std::optional<AdvanceTrigger> trigger, Uuid momentID) {
    Batch batch(*this);
    apply(edits::setMomentTrigger(setlist(), momentID, std::move(trigger)));
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
    apply(edits::addSection(setlist(), currentSongIndex()));
}

void AppState::renameSection(std::int64_t sectionIndex, std::string name) {
    Batch batch(*this);
    apply(edits::renameSection(setlist(), currentSongIndex(), sectionIndex, std::move(name)));
}

void AppState::duplicateSection(std::int64_t sectionIndex) {
    Batch batch(*this);
    apply(edits::duplicateSection(setlist(), currentSongIndex(), sectionIndex));
}

void AppState::moveSection(std::int64_t index, std::int64_t target) {
    Batch batch(*this);
    const std::optional<Uuid> current = idOf(currentSection());
    // The performer stays on the section that was current.
    if (apply(edits::moveSection(setlist(), currentSongIndex(), index, target)) && current) {
        if (const auto now = sectionIndex(*current))
            setCurrentSectionIndex(static_cast<std::int64_t>(*now));
    }
}

void AppState::deleteSection(std::int64_t sectionIndex) {
    Batch batch(*this);
    if (!apply(edits::deleteSection(setlist(), currentSongIndex(), sectionIndex)))
        return;
    // Not decremented for an earlier section: the performer stands on the one that followed.
    const std::int64_t remaining = count(currentSong()->sections);
    setCurrentSectionIndex(
        std::min(currentSectionIndex(), std::max<std::int64_t>(remaining - 1, 0)));
    setCurrentStepIndex(0);
}

void AppState::renameCurrentSong(std::string name) {
    Batch batch(*this);
    apply(edits::renameSong(setlist(), currentSongIndex(), std::move(name)));
}

void AppState::addLayer(std::string portName) {
    Batch batch(*this);
    apply(edits::addLayer(setlist(), visibleLayerCap(mode()), std::move(portName)));
}

void AppState::deleteLayer(Uuid layerID) {
    Batch batch(*this);
    apply(edits::deleteLayer(setlist(), layerID));
}

// ---- The set and its songs ---------------------------------------------------------------------

void AppState::renameSet(std::string name) {
    Batch batch(*this);
    apply(edits::renameSet(setlist(), std::move(name)));
}

void AppState::renameSong(std::int64_t songIndex, std::string name) {
    Batch batch(*this);
    apply(edits::renameSong(setlist(), songIndex, std::move(name)));
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
    apply(edits::addSong(setlist()));
    setCurrentSongIndex(count(setlist().songs) - 1);
    setCurrentSectionIndex(0);
}

void AppState::moveSong(std::int64_t from, std::int64_t to) {
    Batch batch(*this);
    const Song* song = currentSong();
    const std::optional<Uuid> current = song ? std::optional<Uuid>(song->id) : std::nullopt;
    // The selection follows the song that was current, also when another one crossed it.
    if (!apply(edits::moveSong(setlist(), from, to)) || !current)
        return;
    const auto& songs = setlist().songs;
    const auto it =
        std::find_if(songs.begin(), songs.end(), [&](const Song& s) { return s.id == *current; });
    if (it != songs.end())
        setCurrentSongIndex(it - songs.begin());
}

void AppState::deleteSong(std::int64_t songIndex) {
    Batch batch(*this);
    if (!apply(edits::deleteSong(setlist(), songIndex)))
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
    setSetlist(edits::importSongs(setlist(), std::move(built), replace));
    const std::int64_t first =
        replace ? 0 : std::max<std::int64_t>(count(setlist().songs) - added, 0);
    setCurrentSongIndex(first);
    setCurrentSectionIndex(0);
    setCurrentStepIndex(0);
    return added;
}

void AppState::newSet() {
    Batch batch(*this);
    setSetlist(edits::newSet(setlist()));
    setCurrentSongIndex(0);
    setCurrentSectionIndex(0);
    setCurrentStepIndex(0);
}

} // namespace strata
