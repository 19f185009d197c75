#pragma once

#include "platform/main_loop.h"

#include <memory>
#include <optional>

namespace strata {

// The one-shot timer behind auto-advance: at most one pending action, armed on the main loop's
// precise timers so that a step of 16 s ends within a few milliseconds of 16 s.
//
// A scheduled action that is cancelled never runs; cancelling one that already ran (or is
// running) does nothing. Main thread only.
class StepClock {
public:
    explicit StepClock(MainLoop& loop);
    ~StepClock();
    StepClock(const StepClock&) = delete;
    StepClock& operator=(const StepClock&) = delete;

    // Cancels whatever is pending and runs `action` `seconds` from now.
    void schedule(double seconds, Task action);
    // Cancels whatever is pending; the clock is idle afterwards.
    void cancel();

    // Whether an action is pending.
    bool armed() const;
    // When the pending action is due; none when idle.
    std::optional<TimePoint> dueAt() const;

private:
    struct Work;

    MainLoop& loop_;
    // The last scheduled item. It stays here after it ran; the next schedule or cancel drops it.
    std::shared_ptr<Work> work_;
};

} // namespace strata
