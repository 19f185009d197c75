#include "platform/serial_queue.h"

namespace strata {

SerialQueue::SerialQueue(std::string label, ClockFn clock)
    : label_(std::move(label)),
      clock_(clock ? std::move(clock) : ClockFn([] { return std::chrono::steady_clock::now(); })) {
    worker_ = std::thread([this] { run(); });
}

SerialQueue::~SerialQueue() {
    {
        std::lock_guard lock(mutex_);
        stopping_ = true;
    }
    cv_.notify_all();
    worker_.join();
}

void SerialQueue::admitDueLocked() {
    if (timed_.empty())
        return;
    const TimePoint now = clock_();
    while (!timed_.empty() && timed_.begin()->first.first <= now) {
        auto first = timed_.begin();
        jobs_.push_back(std::move(first->second));
        timed_.erase(first);
    }
}

void SerialQueue::submit(Job job) {
    {
        std::lock_guard lock(mutex_);
        // What fell due before this submission goes ahead of it.
        admitDueLocked();
        jobs_.push_back(std::move(job));
    }
    cv_.notify_one();
}

void SerialQueue::submitAt(TimePoint due, Job job) {
    {
        std::lock_guard lock(mutex_);
        admitDueLocked();
        timed_.emplace(std::make_pair(due, ++timedSequence_), std::move(job));
    }
    // The worker may sleep until a later due time.
    cv_.notify_one();
}

void SerialQueue::submitAndWait(Job job) {
    std::mutex doneMutex;
    std::condition_variable doneCv;
    bool done = false;
    submit([&] {
        job();
        std::lock_guard lock(doneMutex);
        done = true;
        doneCv.notify_all();
    });
    std::unique_lock lock(doneMutex);
    doneCv.wait(lock, [&] { return done; });
}

std::size_t SerialQueue::timedPending() const {
    std::lock_guard lock(mutex_);
    return timed_.size();
}

void SerialQueue::run() {
    for (;;) {
        Job job;
        {
            std::unique_lock lock(mutex_);
            for (;;) {
                admitDueLocked();
                if (!jobs_.empty())
                    break;
                if (stopping_)
                    return; // everything submitted has run; timed jobs not yet due are dropped
                if (timed_.empty()) {
                    cv_.wait(lock);
                } else {
                    // On the steady clock for as long as the queue's clock has still to go; a
                    // clock that stands still (virtual time) is looked at again then.
                    cv_.wait_for(lock, timed_.begin()->first.first - clock_());
                }
            }
            job = std::move(jobs_.front());
            jobs_.pop_front();
        }
        job();
    }
}

} // namespace strata
