#include "midi/reflex_snapshot.h"

#include <algorithm>

namespace strata {

const UuidSet& ReflexSnapshot::mutesAt(const ReflexPosition& at) const {
    static const UuidSet none;
    if (at.section < 0 || at.section >= static_cast<std::int64_t>(sections.size()))
        return none;
    const auto& steps = sections[static_cast<std::size_t>(at.section)].steps;
    if (steps.empty())
        return none;
    if (!pro)
        return steps.front();
    const auto last = static_cast<std::int64_t>(steps.size()) - 1;
    return steps[static_cast<std::size_t>(std::clamp<std::int64_t>(at.step, 0, last))];
}

std::optional<ReflexPosition> reflexTarget(const ReflexSnapshot& snapshot,
                                           const ReflexPosition& from, ReflexTrigger trigger,
                                           std::int64_t argument, std::int64_t song) {
    const auto count = static_cast<std::int64_t>(snapshot.sections.size());
    // A position the snapshot does not describe: its song changed since, or no section is current.
    if (from.song != snapshot.position.song || from.section < 0 || from.section >= count)
        return std::nullopt;
    ReflexPosition to = from;
    switch (trigger) {
    case ReflexTrigger::next:
        // The last section moves on to the next song (or holds): not this snapshot's to answer.
        if (from.section >= count - 1)
            return std::nullopt;
        to.section = from.section + 1;
        to.step = 0;
        break;
    case ReflexTrigger::cue:
        if (song >= 0 && song < snapshot.songCount && song != from.song)
            return std::nullopt;
        [[fallthrough]];
    case ReflexTrigger::jump:
        to.section = argument;
        to.step = 0;
        break;
    case ReflexTrigger::program:
        to.section = argument;
        break;
    }
    // A move within the section keeps a Moment's override in force, which the snapshot does not
    // hold; and out of range nothing happens at all.
    if (to.section == from.section || to.section < 0 || to.section >= count)
        return std::nullopt;
    return to;
}

} // namespace strata
