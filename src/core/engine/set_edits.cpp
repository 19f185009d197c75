#include "engine/set_edits.h"

#include "engine/indices.h"
#include "model/setlist_import.h"

#include <algorithm>
#include <iterator>

namespace strata::edits {

using namespace indices;

namespace {

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

// Runs `edit` on the song at `song`; the set when it changed something, none otherwise.
template <typename Edit>
Edited onSong(Setlist set, std::int64_t song, Edit edit) {
    if (!inRange(song, set.songs))
        return std::nullopt;
    if (!edit(set.songs[static_cast<std::size_t>(song)]))
        return std::nullopt;
    return set;
}

template <typename Edit>
Edited onSection(Setlist set, std::int64_t song, Uuid sectionID, Edit edit) {
    return onSong(std::move(set), song, [&](Song& s) {
        const auto it =
            std::find_if(s.sections.begin(), s.sections.end(),
                         [&](const Section& section) { return section.id == sectionID; });
        return it != s.sections.end() && edit(*it);
    });
}

template <typename Edit>
Edited onStep(Setlist set, std::int64_t song, Uuid sectionID, std::int64_t step, Edit edit) {
    return onSection(std::move(set), song, sectionID, [&](Section& s) {
        return inRange(step, s.steps) && edit(s.steps[static_cast<std::size_t>(step)]);
    });
}

// Assigns when the value differs; returns whether it did.
template <typename T>
bool change(T& field, T value) {
    if (field == value)
        return false;
    field = std::move(value);
    return true;
}

} // namespace

// ---- Steps
// ---------------------------------------------------------------------------------------

Edited addStep(Setlist set, std::int64_t song, Uuid sectionID) {
    return onSection(std::move(set), song, sectionID, [](Section& s) {
        SectionStep step = SectionStep::fresh();
        if (!s.steps.empty())
            step.mutedLayerIDs = s.steps.back().mutedLayerIDs;
        s.steps.push_back(std::move(step));
        return true;
    });
}

Edited deleteStep(Setlist set, std::int64_t song, Uuid sectionID, std::int64_t step) {
    return onSection(std::move(set), song, sectionID, [&](Section& s) {
        if (!inRange(step, s.steps) || s.steps.size() < 2)
            return false;
        s.steps.erase(s.steps.begin() + step);
        return true;
    });
}

Edited setAdvanceBars(Setlist set, std::int64_t song, Uuid sectionID, std::int64_t step,
                      std::optional<std::int64_t> bars) {
    return onStep(std::move(set), song, sectionID, step,
                  [&](SectionStep& s) { return change(s.advanceBars, bars); });
}

Edited toggleMomentary(Setlist set, std::int64_t song, Uuid sectionID, std::int64_t step) {
    if (step <= 0)
        return std::nullopt;
    return onStep(std::move(set), song, sectionID, step, [](SectionStep& s) {
        s.returnToMain = !s.returnToMain;
        return true;
    });
}

Edited toggleLayer(Setlist set, std::int64_t song, Uuid sectionID, std::int64_t step,
                   Uuid layerID) {
    return onStep(std::move(set), song, sectionID, step, [&](SectionStep& s) {
        if (s.mutedLayerIDs.erase(layerID) == 0)
            s.mutedLayerIDs.insert(layerID);
        return true;
    });
}

// ---- Moments and triggers
// ------------------------------------------------------------------------

Edited addMoment(Setlist set, std::int64_t song, Uuid sectionID) {
    return onSection(std::move(set), song, sectionID, [](Section& s) {
        Moment moment = Moment::fresh();
        // Numbered from the stored count, so names can repeat after a deletion.
        moment.name = "Moment " + std::to_string(s.moments.size() + 1);
        moment.anchor = FireAnchor::barsBeforeSectionEnd(2);
        s.moments.push_back(std::move(moment));
        return true;
    });
}

Edited deleteMoment(Setlist set, std::int64_t song, Uuid sectionID, Uuid momentID) {
    return onSection(std::move(set), song, sectionID, [&](Section& s) {
        return std::erase_if(s.moments, [&](const Moment& m) { return m.id == momentID; }) > 0;
    });
}

Edited setMoments(Setlist set, std::int64_t song, Uuid sectionID, std::vector<Moment> moments) {
    return onSection(std::move(set), song, sectionID,
                     [&](Section& s) { return change(s.moments, std::move(moments)); });
}

Edited setJumpTrigger(Setlist set, std::int64_t song, Uuid sectionID,
                      std::optional<AdvanceTrigger> trigger) {
    return onSection(std::move(set), song, sectionID,
                     [&](Section& s) { return change(s.jumpTrigger, std::move(trigger)); });
}

Edited setMomentTrigger(Setlist set, Uuid momentID, std::optional<AdvanceTrigger> trigger) {
    for (Song& song : set.songs)
        for (Section& section : song.sections)
            for (Moment& moment : section.moments)
                if (moment.id == momentID)
                    return change(moment.trigger, std::move(trigger)) ? Edited(std::move(set))
                                                                      : std::nullopt;
    return std::nullopt;
}

// ---- Sections
// ------------------------------------------------------------------------------------

Edited addSection(Setlist set, std::int64_t song) {
    return onSong(std::move(set), song, [](Song& s) {
        s.sections.push_back(Section::named("New Section"));
        return true;
    });
}

Edited renameSection(Setlist set, std::int64_t song, std::int64_t section, std::string name) {
    return onSong(std::move(set), song, [&](Song& s) {
        return inRange(section, s.sections) &&
               change(s.sections[static_cast<std::size_t>(section)].name, std::move(name));
    });
}

Edited duplicateSection(Setlist set, std::int64_t song, std::int64_t section) {
    return onSong(std::move(set), song, [&](Song& s) {
        if (!inRange(section, s.sections))
            return false;
        const Section& original = s.sections[static_cast<std::size_t>(section)];
        Section copy = Section::fresh();
        copy.name = original.name;
        for (const SectionStep& step : original.steps) {
            SectionStep c = SectionStep::fresh();
            c.mutedLayerIDs = step.mutedLayerIDs;
            c.advanceBars = step.advanceBars;
            copy.steps.push_back(std::move(c));
        }
        if (copy.steps.empty())
            copy.steps.push_back(SectionStep::fresh());
        s.sections.insert(s.sections.begin() + section + 1, std::move(copy));
        return true;
    });
}

Edited moveSection(Setlist set, std::int64_t song, std::int64_t section, std::int64_t target) {
    return onSong(std::move(set), song, [&](Song& s) {
        if (!inRange(section, s.sections))
            return false;
        const std::int64_t to = std::clamp<std::int64_t>(target, 0, count(s.sections));
        return moveElement(s.sections, static_cast<std::size_t>(section),
                           static_cast<std::size_t>(to));
    });
}

Edited deleteSection(Setlist set, std::int64_t song, std::int64_t section) {
    return onSong(std::move(set), song, [&](Song& s) {
        if (!inRange(section, s.sections))
            return false;
        s.sections.erase(s.sections.begin() + section);
        return true;
    });
}

Edited renameSong(Setlist set, std::int64_t song, std::string name) {
    return onSong(std::move(set), song, [&](Song& s) { return change(s.name, std::move(name)); });
}

// ---- Layers
// ----------------------------------------------------------------------------------------

Edited addLayer(Setlist set, std::size_t cap, std::string portName) {
    if (set.layers.size() >= cap)
        return std::nullopt;
    std::int64_t highestChannel = 0;
    for (const Layer& layer : set.layers)
        highestChannel = std::max(highestChannel, layer.channel);
    const auto existing = count(set.layers);
    Layer layer = Layer::fresh();
    layer.name = "Layer " + std::to_string(existing + 1);
    layer.portName = std::move(portName);
    // Stored channels may be anything; a new layer's channel is a valid one.
    layer.channel = std::clamp<std::int64_t>(highestChannel + 1, 1, 16);
    layer.muteCC = existing + 20;
    set.layers.push_back(std::move(layer));
    return set;
}

Edited deleteLayer(Setlist set, Uuid layerID) {
    if (std::erase_if(set.layers, [&](const Layer& l) { return l.id == layerID; }) == 0)
        return std::nullopt;
    for (Song& song : set.songs)
        for (Section& section : song.sections)
            for (SectionStep& step : section.steps)
                step.mutedLayerIDs.erase(layerID);
    return set;
}

// ---- The set and its songs
// -------------------------------------------------------------------------

Edited renameSet(Setlist set, std::string name) {
    if (!change(set.name, std::move(name)))
        return std::nullopt;
    return set;
}

Edited addSong(Setlist set) {
    set.songs.push_back(newDefaultSong());
    return set;
}

Edited moveSong(Setlist set, std::int64_t from, std::int64_t to) {
    if (!inRange(from, set.songs))
        return std::nullopt;
    const std::int64_t dest = std::clamp<std::int64_t>(to, 0, count(set.songs));
    if (!moveElement(set.songs, static_cast<std::size_t>(from), static_cast<std::size_t>(dest)))
        return std::nullopt;
    return set;
}

Edited deleteSong(Setlist set, std::int64_t song) {
    if (!inRange(song, set.songs))
        return std::nullopt;
    set.songs.erase(set.songs.begin() + song);
    return set;
}

Setlist importSongs(Setlist set, std::vector<Song> songs, bool replace) {
    if (replace)
        set.songs = std::move(songs);
    else
        set.songs.insert(set.songs.end(), std::make_move_iterator(songs.begin()),
                         std::make_move_iterator(songs.end()));
    return set;
}

Setlist newSet(Setlist set) {
    set.name = "Untitled Set";
    set.songs.clear();
    set.songs.push_back(newDefaultSong());
    return set;
}

} // namespace strata::edits
