#pragma once

#include "engine/moment_fire.h"
#include "model/setlist.h"

#include <cstdint>
#include <optional>
#include <span>
#include <unordered_set>

namespace strata {

// The Moment bookkeeping of one section visit: which Moments and layer rules have fired, and the
// bars-to-next count on the visit's first playing tick (what "bars after start" counts from).
// Knows nothing of levels or playback; the caller decides whether a tick may fire at all.
class MomentScheduler {
public:
    // Evaluates one tick of `section` with `layers`' rules: fires what is due and has not fired in
    // this visit. `muted` starts as what is muted now and receives each firing's mutes in turn, so
    // fired Moments and rules compose; within one Moment unmute wins over mute. Moments go first
    // in section order, then rules in layer order and rule order: a later one wins on a layer.
    MomentFire tick(const Section& section, std::span<const Layer> layers,
                    std::optional<std::int64_t> barsToNext, UuidSet& muted);
    // Marks the Moment fired and applies its mutes to `muted`, whatever its anchor.
    void fire(const Moment& moment, UuidSet& muted);

    // A new section visit: nothing has fired, no start count.
    void reset();

    bool hasFired(const Uuid& momentOrRuleID) const { return fired_.contains(momentOrRuleID); }
    std::optional<std::int64_t> sectionStartBars() const { return startBars_; }

private:
    std::unordered_set<Uuid> fired_;
    std::optional<std::int64_t> startBars_;
};

} // namespace strata
