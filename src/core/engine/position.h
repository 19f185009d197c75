#pragma once

#include "model/setlist.h"

#include <cstdint>
#include <optional>

namespace strata {

// Where the performer stands: indices of the song, its section and the section's step. The
// section may be -1 in a song without sections (reached by going back into it).
struct Position {
    std::int64_t song = 0;
    std::int64_t section = 0;
    std::int64_t step = 0;

    friend bool operator==(const Position&, const Position&) = default;
};

// Where the performer stands once `set` replaces the document under them (undo, redo): on the
// song and section they were on (`songID`, `sectionID`) when `set` still holds them, found by
// id; otherwise the position `was` clamped into `set`. The step stays within the same section's
// steps and starts over anywhere else.
Position followInto(const Setlist& set, Position was, std::optional<Uuid> songID,
                    std::optional<Uuid> sectionID);

} // namespace strata
