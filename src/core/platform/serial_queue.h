#pragma once

#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>
#include <string>
#include <thread>

namespace strata {

// One worker thread; jobs run one at a time, in submission order.
class SerialQueue {
public:
    using Job = std::function<void()>;

    explicit SerialQueue(std::string label);
    // Runs the jobs already submitted, then stops the worker.
    ~SerialQueue();
    SerialQueue(const SerialQueue&) = delete;
    SerialQueue& operator=(const SerialQueue&) = delete;

    // Thread-safe; never blocks on the jobs.
    void submit(Job job);

    // Submits the job and waits until it has run. Must not be called from the queue's own thread.
    void submitAndWait(Job job);

    // Waits until every job submitted before the call has run (tests drain the queue with it).
    void drain() {
        submitAndWait([] {});
    }

    // True on the queue's worker thread.
    bool isCurrent() const { return std::this_thread::get_id() == worker_.get_id(); }
    // The same, for STRATA_ASSERT_THREAD: the worker is the thread the queue's jobs belong to.
    bool onOwnerThread() const { return isCurrent(); }

    const std::string& label() const { return label_; }

private:
    void run();

    std::string label_;
    std::mutex mutex_;
    std::condition_variable cv_;
    std::deque<Job> jobs_;
    bool stopping_ = false;
    std::thread worker_;
};

} // namespace strata
