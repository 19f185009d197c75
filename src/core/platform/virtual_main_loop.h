#pragma once

#include "platform/main_loop.h"

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <map>
#include <mutex>
#include <optional>
#include <set>

namespace strata {

// A MainLoop on virtual time, for tests and benchmarks: nothing runs until the test says so.
// post() is thread-safe (other threads hand work to it like to the real loop); everything else,
// and every task, runs on the thread that drives the loop.
class VirtualMainLoop final : public MainLoop {
public:
    VirtualMainLoop();
    ~VirtualMainLoop() override;

    TimePoint now() const override;
    void post(Task task) override;
    TimerHandle after(Duration delay, Task task) override;
    TimerHandle every(Duration period, Task task) override;
    TimerHandle watchReadable(int fd, Task task) override;

    // Runs posted tasks (including ones they post) until none is left. Returns how many ran.
    std::size_t runPending();

    // Moves virtual time forward by `d`, running every posted task and every timer that falls due
    // on the way, in time order; tasks posted meanwhile run at the time they were posted.
    void advance(Duration d);
    void advanceTo(TimePoint t);
    // Moves virtual time forward by `d` and runs nothing: a main thread held busy (building a
    // window, say) while the other threads go on. What fell due meanwhile runs late, at the next
    // advance (posted tasks at the next runPending too).
    void stall(Duration d) { setNow(now() + d); }

    // Blocks the driving thread until another thread posts, or until `timeout` of real time has
    // passed. For tests that wait on real I/O threads (JACK). Returns whether something is pending.
    bool waitForPost(std::chrono::milliseconds timeout);

    // Runs the read callbacks of watched descriptors whose descriptor is readable right now
    // (poll with zero timeout), then pending posts. Returns how many callbacks ran.
    std::size_t pollDescriptors();

    // Timers currently armed (not cancelled, not yet run for one-shots).
    std::size_t armedTimerCount() const;
    // Due time of the earliest armed timer, if any.
    std::optional<TimePoint> nextDue() const;

private:
    struct Entry;
    struct Handle;
    void runDueAt(TimePoint t);

    // Read from any thread (MIDI threads stamp activity with it); written by the driving thread.
    std::atomic<Duration::rep> now_;
    void setNow(TimePoint t) { now_.store(t.time_since_epoch().count()); }
    std::uint64_t sequence_ = 0;
    // Timers ordered by (due, sequence).
    std::map<std::pair<TimePoint, std::uint64_t>, std::shared_ptr<Entry>> timers_;
    std::set<std::shared_ptr<Entry>> watches_;

    mutable std::mutex postMutex_;
    std::condition_variable postCv_;
    std::deque<Task> posted_;
};

} // namespace strata
