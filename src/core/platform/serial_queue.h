#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <utility>

namespace strata {

// One worker thread; jobs run one at a time, in submission order.
//
// Timed jobs (submitAt) wait on a clock of the owner's choosing: the steady clock unless another
// is given, such as a main loop's (virtual in tests). A timed job joins the queue once that clock
// has reached its due time, as if submitted then: behind every job submitted before, ahead of
// every job submitted after. The worker sleeps on the steady clock until the earliest due time;
// on a clock that does not follow the steady clock (virtual time), a submission that finds the
// clock past a due time lets that job join first, so moving the clock and then draining runs
// what fell due.
class SerialQueue {
public:
    using Job = std::function<void()>;
    using TimePoint = std::chrono::steady_clock::time_point;
    using ClockFn = std::function<TimePoint()>;

    explicit SerialQueue(std::string label, ClockFn clock = {});
    // Runs the jobs already submitted (and the timed ones due by then), then stops the worker;
    // timed jobs not yet due are dropped.
    ~SerialQueue();
    SerialQueue(const SerialQueue&) = delete;
    SerialQueue& operator=(const SerialQueue&) = delete;

    // Thread-safe; never blocks on the jobs.
    void submit(Job job);
    // Thread-safe; never blocks on the jobs. The job joins the queue once the clock reaches
    // `due` (at once when it has); jobs due at the same time join in submission order.
    void submitAt(TimePoint due, Job job);

    // Submits the job and waits until it has run. Must not be called from the queue's own thread.
    void submitAndWait(Job job);

    // Waits until every job submitted before the call has run (tests drain the queue with it),
    // and the timed jobs due by the call.
    void drain() {
        submitAndWait([] {});
    }

    // Timed jobs not yet due.
    std::size_t timedPending() const;

    // True on the queue's worker thread.
    bool isCurrent() const { return std::this_thread::get_id() == worker_.get_id(); }
    // The same, for STRATA_ASSERT_THREAD: the worker is the thread the queue's jobs belong to.
    bool onOwnerThread() const { return isCurrent(); }

    const std::string& label() const { return label_; }

private:
    void run();
    // Moves the timed jobs due by now to the end of the queue, earliest first. Lock held.
    void admitDueLocked();

    std::string label_;
    ClockFn clock_;
    mutable std::mutex mutex_;
    std::condition_variable cv_;
    std::deque<Job> jobs_;
    // Ordered by due time, then by submission.
    std::map<std::pair<TimePoint, std::uint64_t>, Job> timed_;
    std::uint64_t timedSequence_ = 0;
    bool stopping_ = false;
    std::thread worker_;
};

} // namespace strata
