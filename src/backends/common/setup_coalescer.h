#pragma once

#include <chrono>
#include <optional>

namespace strata {

// A MIDI system reports one client appearing as a burst of port and connection notices. This
// turns such a burst into one setup notification: due once no notice came for `quiet`, and at
// the latest `5 * quiet` after the first notice, so that a steady stream cannot hold it off.
// Times are passed in, so it runs on whatever clock its caller uses. Single-threaded.
class SetupCoalescer {
public:
    using Clock = std::chrono::steady_clock;

    explicit SetupCoalescer(Clock::duration quiet) : quiet_(quiet) {}

    void changed(Clock::time_point now) {
        if (!pending_)
            first_ = now;
        pending_ = true;
        last_ = now;
    }
    // Forgets a pending notification (one was sent by other means).
    void cancel() { pending_ = false; }
    bool pending() const { return pending_; }
    // When the pending notification is due; none when nothing is pending.
    std::optional<Clock::time_point> dueAt() const {
        if (!pending_)
            return std::nullopt;
        return std::min(last_ + quiet_, first_ + 5 * quiet_);
    }
    // True once, when a pending notification has come due at `now`; it is then no longer pending.
    bool takeDue(Clock::time_point now) {
        if (!pending_ || (now - last_ < quiet_ && now - first_ < 5 * quiet_))
            return false;
        pending_ = false;
        return true;
    }

private:
    Clock::duration quiet_;
    bool pending_ = false;
    Clock::time_point first_{};
    Clock::time_point last_{};
};

} // namespace strata
