#pragma once

#include "model/setlist.h"

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

// The document edits behind the editor's operations, as pure functions: each takes the set and
// the ids it needs by value and returns the edited set, or none when the edit finds nothing to do
// (so the caller writes nothing). Nothing here knows the performer's position; where an edit
// concerns "the current song" the caller passes that song's index. Ids, never references: the
// caller's references into the old document would dangle once the result replaces it.
namespace strata::edits {

// The new document, or none when nothing changed.
using Edited = std::optional<Setlist>;

// ---- Steps of one section (found by id among the sections of song `song`) ----------------------

// Appends a step that starts from the last step's mutes.
Edited addStep(Setlist set, std::int64_t song, Uuid sectionID);
// Never removes the last remaining step.
Edited deleteStep(Setlist set, std::int64_t song, Uuid sectionID, std::int64_t step);
Edited setAdvanceBars(Setlist set, std::int64_t song, Uuid sectionID, std::int64_t step,
                      std::optional<std::int64_t> bars);
// The main step (0) is never momentary.
Edited toggleMomentary(Setlist set, std::int64_t song, Uuid sectionID, std::int64_t step);
// Flips one layer's mute in one step.
Edited toggleLayer(Setlist set, std::int64_t song, Uuid sectionID, std::int64_t step, Uuid layerID);

// ---- Moments and triggers
// ------------------------------------------------------------------------

// Appends "Moment n" (n from the stored count) two bars before the section's end.
Edited addMoment(Setlist set, std::int64_t song, Uuid sectionID);
Edited deleteMoment(Setlist set, std::int64_t song, Uuid sectionID, Uuid momentID);
Edited setMoments(Setlist set, std::int64_t song, Uuid sectionID, std::vector<Moment> moments);
Edited setJumpTrigger(Setlist set, std::int64_t song, Uuid sectionID,
                      std::optional<AdvanceTrigger> trigger);
// The Moment with that id, wherever it is in the set.
Edited setMomentTrigger(Setlist set, Uuid momentID, std::optional<AdvanceTrigger> trigger);

// ---- Sections of one song, by index
// --------------------------------------------------------------

Edited addSection(Setlist set, std::int64_t song);
Edited renameSection(Setlist set, std::int64_t song, std::int64_t section, std::string name);
// The copy follows the original: name, mutes and timing of every step; never momentary, no jump
// trigger, no Moments, fresh ids.
Edited duplicateSection(Setlist set, std::int64_t song, std::int64_t section);
// List-reorder move: the section ends up before the one that stood at `target` (clamped; the
// count means the end).
Edited moveSection(Setlist set, std::int64_t song, std::int64_t section, std::int64_t target);
Edited deleteSection(Setlist set, std::int64_t song, std::int64_t section);
Edited renameSong(Setlist set, std::int64_t song, std::string name);

// ---- Layers
// ----------------------------------------------------------------------------------------

// Appends "Layer n" on the channel after the highest (kept within 1-16) with mute CC 19 + n,
// while the set has fewer than `cap` layers.
Edited addLayer(Setlist set, std::size_t cap, std::string portName);
// Removes the layer and its id from every step's mutes; Moments keep their references.
Edited deleteLayer(Setlist set, Uuid layerID);

// ---- The set and its songs
// -------------------------------------------------------------------------

Edited renameSet(Setlist set, std::string name);
Edited addSong(Setlist set);
// List-reorder move, as for sections.
Edited moveSong(Setlist set, std::int64_t from, std::int64_t to);
Edited deleteSong(Setlist set, std::int64_t song);
// Replaces the songs with `songs`, or appends them.
Setlist importSongs(Setlist set, std::vector<Song> songs, bool replace);
// "Untitled Set" with one fresh default song; keeps the layers and the transport settings.
Setlist newSet(Setlist set);

} // namespace strata::edits
