#pragma once

#include <algorithm>
#include <cmath>
#include <cstdio>
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

// Prints "what (n): median, p99, min and max" of microsecond values.
inline void printSpread(const char* what, const std::vector<double>& micros) {
    if (micros.empty()) {
        std::printf("%s: none\n", what);
        return;
    }
    std::printf("%s (%zu): median %.0f us, p99 %.0f us, min %.0f us, max %.0f us\n", what,
                micros.size(), percentile(micros, 0.5), percentile(micros, 0.99),
                percentile(micros, 0.0), percentile(micros, 1.0));
}

} // namespace strata::bench
