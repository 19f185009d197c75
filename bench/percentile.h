#pragma once

#include <algorithm>
#include <cmath>
#include <vector>

namespace strata::bench {

// The p-quantile (0..1) of the values, interpolated between the two nearest ranks; NaN for none.
inline double percentile(std::vector<double> values, double p) {
    if (values.empty())
        return NAN;
    std::sort(values.begin(), values.end());
    const double rank = p * static_cast<double>(values.size() - 1);
    const auto lo = static_cast<std::size_t>(std::floor(rank));
    const auto hi = static_cast<std::size_t>(std::ceil(rank));
    return values[lo] + (values[hi] - values[lo]) * (rank - static_cast<double>(lo));
}

} // namespace strata::bench
