#include "midi/clock_input.h"

#include <chrono>

namespace strata {

ClockInput::ClockInput(ServiceTasks& tasks, Signal<const ClockState&>& changed)
    : tasks_(tasks), changed_(changed) {}

void ClockInput::setDevice(std::optional<std::string> device) {
    std::string stable = device && !device->empty() ? stableDeviceName(*device) : std::string();
    std::lock_guard lock(lock_);
    if (stable == device_)
        return;
    device_ = std::move(stable);
    ++generation_;
}

bool ClockInput::handle(const DeviceIdentity& source, const std::uint8_t* bytes, std::size_t length,
                        TimePoint handedAt, std::chrono::microseconds age) {
    std::uint64_t generation = 0;
    {
        std::lock_guard lock(lock_);
        if (device_.empty() || !source.answersTo(device_))
            return false;
        generation = generation_;
    }
    if (generation != followed_) {
        follower_ = ClockFollower{};
        followed_ = generation;
    }
    const std::int64_t now =
        std::chrono::duration_cast<std::chrono::microseconds>(handedAt.time_since_epoch()).count();
    bool changed = follower_.expire(now);
    // Realtime bytes may sit anywhere, even inside another message; a song position pointer
    // brings its two data bytes.
    for (std::size_t i = 0; i < length; ++i) {
        const std::uint8_t b = bytes[i];
        if (b == 0xF8 || b == 0xFA || b == 0xFB || b == 0xFC) {
            changed = follower_.feed(&b, 1, now) || changed;
        } else if (b == 0xF2 && i + 2 < length) {
            changed = follower_.feed(bytes + i, 3, now) || changed;
            i += 2;
        }
    }
    if (changed) {
        ClockState state = follower_.state();
        state.earlierMicros = age.count();
        tasks_.onMain([this, state] { changed_.notify(state); });
    }
    return true;
}

} // namespace strata
