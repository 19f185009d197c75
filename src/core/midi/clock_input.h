#pragma once

#include "midi/clock_follower.h"
#include "midi/device_identity.h"
#include "midi/service_tasks.h"
#include "platform/signal.h"

#include <chrono>
#include <cstdint>
#include <mutex>
#include <optional>
#include <string>

namespace strata {

// MIDI clock input: the chosen source's realtime and song-position messages go to a ClockFollower
// on the input thread, stamped with the main loop's clock as they reach that thread (and with how
// long before that the MIDI system timed their arrival), and every change
// of the follower's state reaches the main thread as a value through `changed`.
//
// The source is named by its device, stored as learned triggers store theirs (the stable name);
// any source that answers to it is followed. Threads: setDevice and `changed` on the main thread,
// handle on the backend's input thread (one at a time).
class ClockInput {
public:
    ClockInput(ServiceTasks& tasks, Signal<const ClockState&>& changed);

    // The device to follow; none or empty follows nothing. A new device starts a new follower.
    void setDevice(std::optional<std::string> device);
    // One packet from `source`, handed over at `handedAt` (the main loop's clock) and `age` old
    // by then as the MIDI system timed it; input thread. Returns whether the packet came from
    // the clock's device (it is parsed for triggers all the same).
    bool handle(const DeviceIdentity& source, const std::uint8_t* bytes, std::size_t length,
                TimePoint handedAt, std::chrono::microseconds age);

private:
    ServiceTasks& tasks_;
    Signal<const ClockState&>& changed_;

    mutable std::mutex lock_;
    std::string device_;           // stable form; guarded by lock_
    std::uint64_t generation_ = 0; // guarded by lock_

    // Input thread only.
    ClockFollower follower_;
    std::uint64_t followed_ = 0; // the generation follower_ belongs to
};

} // namespace strata
