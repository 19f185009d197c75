#include "engine/moment_scheduler.h"

namespace strata {

namespace {

void applyMomentMute(const Moment& moment, UuidSet& muted) {
    muted.insert(moment.muteLayerIDs.begin(), moment.muteLayerIDs.end());
    for (const Uuid& id : moment.unmuteLayerIDs)
        muted.erase(id);
}

} // namespace

MomentFire MomentScheduler::tick(const Section& section, std::span<const Layer> layers,
                                 std::optional<std::int64_t> barsToNext, UuidSet& muted) {
    MomentFire result;
    if (barsToNext && !startBars_)
        startBars_ = barsToNext;
    for (const Moment& moment : section.moments) {
        if (!anchorIsDue(moment.anchor, barsToNext, startBars_) || fired_.contains(moment.id))
            continue;
        fired_.insert(moment.id);
        applyMomentMute(moment, muted);
        result.moments.push_back(moment);
        result.anyFired = true;
    }
    for (const Layer& layer : layers) {
        for (const LayerRule& rule : layer.rules) {
            if (!rule.enabled)
                continue;
            if (!rule.allSections && !rule.sectionNames.contains(section.name))
                continue;
            if (!anchorIsDue(rule.anchor, barsToNext, startBars_) || fired_.contains(rule.id))
                continue;
            fired_.insert(rule.id);
            if (rule.effect == LayerRule::Effect::muteOut)
                muted.insert(layer.id);
            else
                muted.erase(layer.id);
            result.anyFired = true;
        }
    }
    return result;
}

void MomentScheduler::fire(const Moment& moment, UuidSet& muted) {
    fired_.insert(moment.id);
    applyMomentMute(moment, muted);
}

void MomentScheduler::reset() {
    fired_.clear();
    startBars_.reset();
}

} // namespace strata
