#pragma once

#include <chrono>
#include <functional>
#include <memory>

namespace strata {

using Clock = std::chrono::steady_clock;
using TimePoint = Clock::time_point;
using Duration = Clock::duration;
using Task = std::function<void()>;

// Seconds as a Duration, for the many delays given in seconds.
constexpr Duration seconds(double s) {
    return std::chrono::duration_cast<Duration>(std::chrono::duration<double>(s));
}

// Handle of a timer or a descriptor watch. The work stops when the handle is reset or destroyed;
// it is safe to drop a handle from inside its own callback and after the loop is gone.
class LoopHandle {
public:
    virtual ~LoopHandle() = default;
};
using TimerHandle = std::unique_ptr<LoopHandle>;

// The main thread's run loop. Everything stateful in the core lives on this thread; other threads
// reach it only through post().
class MainLoop {
public:
    virtual ~MainLoop() = default;

    // Monotonic time of the loop (virtual in tests). Thread-safe.
    virtual TimePoint now() const = 0;

    // Thread-safe. Runs the task on the main thread after the current event, in posting order.
    virtual void post(Task task) = 0;

    // Main thread only. Runs the task once, `delay` from now, unless the handle is gone by then.
    // Timers are precise (no coalescing), since auto-advance and Moments are musical time.
    [[nodiscard]] virtual TimerHandle after(Duration delay, Task task) = 0;

    // Main thread only. Runs the task every `period`, the first time one period from now.
    [[nodiscard]] virtual TimerHandle every(Duration period, Task task) = 0;

    // Main thread only. Runs the task on the main thread whenever `fd` is readable.
    [[nodiscard]] virtual TimerHandle watchReadable(int fd, Task task) = 0;
};

} // namespace strata
