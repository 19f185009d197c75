#include "midi/clock_follower.h"

namespace strata {

bool ClockFollower::feed(const std::uint8_t* bytes, std::size_t length, std::int64_t atMicros) {
    if (length == 0 || bytes == nullptr)
        return false;
    switch (bytes[0]) {
    case 0xF8:
        lastHeard_ = atMicros;
        clock(atMicros);
        state_.atMicros = atMicros;
        return true;
    case 0xFA:
        lastHeard_ = atMicros;
        state_.playing = true;
        state_.position = 0;
        located_ = true;
        awaitingFirst_ = true;
        state_.atMicros = atMicros;
        return true;
    case 0xFB:
        lastHeard_ = atMicros;
        if (state_.playing)
            return false;
        state_.playing = true;
        awaitingFirst_ = true;
        state_.atMicros = atMicros;
        return true;
    case 0xFC:
        lastHeard_ = atMicros;
        if (!state_.playing)
            return false;
        state_.playing = false;
        state_.atMicros = atMicros;
        return true;
    case 0xF2: {
        if (length < 3 || (bytes[1] & 0x80) || (bytes[2] & 0x80))
            return false;
        lastHeard_ = atMicros;
        // A pointer while playing is not how a source relocates; the clocks keep counting.
        if (state_.playing)
            return false;
        const std::int64_t sixteenths = bytes[1] | (bytes[2] << 7);
        state_.position = sixteenths * kClocksPerSixteenth;
        located_ = true;
        state_.atMicros = atMicros;
        return true;
    }
    default:
        return false;
    }
}

void ClockFollower::clock(std::int64_t atMicros) {
    // A clock after a silence starts the timing afresh: the gap is no interval of the tempo.
    if (timed_ > 0) {
        const std::size_t last = (next_ + times_.size() - 1) % times_.size();
        if (atMicros - times_[last] >= kSilenceMicros)
            forgetTempo();
    }
    times_[next_] = atMicros;
    next_ = (next_ + 1) % times_.size();
    if (timed_ < times_.size())
        ++timed_;
    if (timed_ >= 2) {
        const std::size_t newest = (next_ + times_.size() - 1) % times_.size();
        const std::size_t oldest = (next_ + times_.size() - timed_) % times_.size();
        const double span = static_cast<double>(times_[newest] - times_[oldest]);
        if (span > 0)
            state_.bpm = 60.0e6 * static_cast<double>(timed_ - 1) / span /
                         static_cast<double>(kClocksPerBeat);
    }

    if (!state_.playing)
        return;
    if (awaitingFirst_) {
        awaitingFirst_ = false;
        if (located_) {
            located_ = false;
            return;
        }
    }
    ++state_.position;
    ++state_.ticks;
}

void ClockFollower::forgetTempo() {
    timed_ = 0;
    next_ = 0;
    state_.bpm.reset();
}

bool ClockFollower::expire(std::int64_t nowMicros) {
    if (!lastHeard_ || nowMicros - *lastHeard_ < kSilenceMicros)
        return false;
    lastHeard_.reset();
    const bool changed = state_.playing || state_.bpm.has_value();
    state_.playing = false;
    forgetTempo();
    if (changed)
        state_.atMicros = nowMicros;
    return changed;
}

} // namespace strata
