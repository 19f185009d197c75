#pragma once

#include "platform/main_loop.h"

#include <algorithm>

namespace strata {

// A token bucket: `perSecond` events on average, `burst` at once. Times come from the caller (a
// steady clock in the servers, virtual time in tests).
class RateGate {
public:
    RateGate(double perSecond, double burst) : rate_(perSecond), burst_(burst), tokens_(burst) {}

    bool allow(TimePoint now) {
        if (started_) {
            const double elapsed = std::chrono::duration<double>(now - last_).count();
            tokens_ = std::min(burst_, tokens_ + std::max(0.0, elapsed) * rate_);
        }
        started_ = true;
        last_ = std::max(last_, now);
        if (tokens_ < 1.0)
            return false;
        tokens_ -= 1.0;
        return true;
    }

private:
    double rate_;
    double burst_;
    double tokens_;
    TimePoint last_{};
    bool started_ = false;
};

// Passes state updates on at most once per `interval`: the first change at once, changes that
// follow within the interval together at its end (the latest state then).
class UpdatePacer {
public:
    explicit UpdatePacer(Duration interval) : interval_(interval) {}

    // A change happened at `now`: zero when it goes out at once (and it counts as sent), else how
    // long until it may (a later call of due() sends it).
    Duration changed(TimePoint now) {
        if (!sentOnce_ || now - lastSent_ >= interval_) {
            sentOnce_ = true;
            lastSent_ = now;
            pending_ = false;
            return Duration::zero();
        }
        pending_ = true;
        return interval_ - (now - lastSent_);
    }
    // The wait ended: whether a change is waiting (and it counts as sent now).
    bool due(TimePoint now) {
        if (!pending_ || now - lastSent_ < interval_)
            return false;
        pending_ = false;
        lastSent_ = now;
        return true;
    }
    bool pending() const { return pending_; }

private:
    Duration interval_;
    TimePoint lastSent_{};
    bool sentOnce_ = false;
    bool pending_ = false;
};

} // namespace strata
