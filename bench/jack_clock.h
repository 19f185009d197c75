#pragma once

#include <chrono>
#include <jack/jack.h>

namespace strata::bench {

// JACK's clock (µs) minus the steady clock (µs), sampled around one reading: JACK's clock runs at
// the steady clock's rate but not necessarily from its origin.
inline double jackMinusSteadyMicros() {
    const auto a = std::chrono::steady_clock::now();
    const double jack = static_cast<double>(jack_get_time());
    const auto b = std::chrono::steady_clock::now();
    const double steady =
        std::chrono::duration<double, std::micro>((a + (b - a) / 2).time_since_epoch()).count();
    return jack - steady;
}

} // namespace strata::bench
