#pragma once

#include "model/setlist.h"

#include <cstddef>
#include <span>
#include <vector>

namespace strata {

// How many layers a feature level shows and drives: 8 (one Mackie surface) in Essentials, 16 (with
// the extender) in Pro.
constexpr std::size_t visibleLayerCap(StrataMode mode) {
    return mode == StrataMode::pro ? 16 : 8;
}

// The layers the grid shows and the coordinator drives: the first 8 or 16 of the stored list, in
// stored order. The stored list itself is never cut, so switching the level loses nothing. The
// view refers into `layers` and is valid as long as that vector is not changed.
inline std::span<const Layer> visibleLayers(StrataMode mode, const std::vector<Layer>& layers) {
    const std::size_t cap = visibleLayerCap(mode);
    return {layers.data(), layers.size() < cap ? layers.size() : cap};
}

} // namespace strata
