#include "engine/position.h"

#include "engine/indices.h"

#include <algorithm>

namespace strata {

using namespace indices;

namespace {

// The index of the record with that id, if any.
template <typename Record>
std::optional<std::int64_t> indexOf(const std::vector<Record>& list, std::optional<Uuid> id) {
    if (!id)
        return std::nullopt;
    const auto it =
        std::find_if(list.begin(), list.end(), [&](const Record& r) { return r.id == *id; });
    if (it == list.end())
        return std::nullopt;
    return it - list.begin();
}

} // namespace

Position followInto(const Setlist& set, Position was, std::optional<Uuid> songID,
                    std::optional<Uuid> sectionID) {
    Position now = was;
    const auto& songs = set.songs;
    now.song = indexOf(songs, songID)
                   .value_or(std::clamp<std::int64_t>(was.song, 0,
                                                      std::max<std::int64_t>(count(songs) - 1, 0)));
    const Song* song =
        now.song < count(songs) ? &songs[static_cast<std::size_t>(now.song)] : nullptr;

    const auto followed = song ? indexOf(song->sections, sectionID) : std::nullopt;
    if (followed) {
        now.section = *followed;
    } else {
        const std::int64_t sections = song ? count(song->sections) : 0;
        // A song without sections keeps its "no section" position (0 or -1).
        if (sections > 0)
            now.section = std::clamp<std::int64_t>(was.section, 0, sections - 1);
        else if (was.section != -1)
            now.section = 0;
    }

    now.step = 0;
    if (followed) {
        const auto& steps = song->sections[static_cast<std::size_t>(*followed)].steps;
        if (!steps.empty())
            now.step = std::clamp<std::int64_t>(was.step, 0, count(steps) - 1);
    }
    return now;
}

} // namespace strata
