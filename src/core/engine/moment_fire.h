#pragma once

#include "model/setlist.h"

#include <cstdint>
#include <optional>
#include <vector>

namespace strata {

// What one evaluation of the current section's Moments and the layer rules fired.
struct MomentFire {
    // The section's Moments that fired, in section order. Rules are never listed.
    std::vector<Moment> moments;
    // True when anything (a Moment or a rule) fired, which means the override mute set was
    // rewritten and the mute state has to be sent again.
    bool anyFired = false;

    friend bool operator==(const MomentFire&, const MomentFire&) = default;
};

// Whether an anchor is due, given the cue link's bars to the next section and the value that
// count had on the section's first playing tick. A negative bar count counts as 0.
constexpr bool anchorIsDue(const FireAnchor& anchor, std::optional<std::int64_t> barsToNext,
                           std::optional<std::int64_t> sectionStartBars) {
    const std::int64_t n = anchor.bars < 0 ? 0 : anchor.bars;
    switch (anchor.kind) {
    case FireAnchor::Kind::manual:
        return false;
    case FireAnchor::Kind::onSectionEnter:
        return true;
    case FireAnchor::Kind::barsAfterStart: {
        if (!barsToNext || !sectionStartBars)
            return false;
        // The counts come off the network: an elapsed count too large to represent is due, one
        // too small is not.
        std::int64_t elapsed = 0;
        if (__builtin_sub_overflow(*sectionStartBars, *barsToNext, &elapsed))
            return *barsToNext < 0;
        return elapsed >= n;
    }
    case FireAnchor::Kind::barsBeforeSectionEnd:
        return barsToNext && *barsToNext <= n;
    }
    return false;
}

} // namespace strata
