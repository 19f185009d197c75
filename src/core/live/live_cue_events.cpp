// The coordinator's answers to Cadenzo: FIRE jumps and messages, live ticks that time anchored
// Moments, and setlist snapshots merged into the open set.
#include "live/live_coordinator.h"
#include "platform/log.h"

#include <algorithm>

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
    // A Moment fired for a bar line ahead of it sends its changes for that bar line, with its
    // mutes (pushSectionState).
    for (const PatchChange& change : moment.programChanges)
        if (!change.portName.empty())
            midi_.sendProgramChange(change.program, change.channel, change.portName, advancingAt_);
    for (const CCSend& send : moment.ccSends)
        if (!send.portName.empty())
            midi_.sendControlChange(send.cc, send.value, send.channel, send.portName, advancingAt_);
}

void LiveCoordinator::handleLiveTick(const LiveState& state) {
    STRATA_ASSERT_THREAD(thread_);
    // Playing starts (after a stop, or a Cadenzo first heard playing): the current step is timed
    // from now. Otherwise a new tempo re-times the rest of the step.
    const bool playing = state.playing.value_or(false);
    const bool started = playing && !cadenzoPlaying_;
    cadenzoPlaying_ = playing;
    // A set timed by another source takes nothing from Cadenzo's transport.
    if (countsTicks())
        return;
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

} // namespace strata
