#pragma once

#include "platform/main_loop.h"
#include "platform/serial_queue.h"

#include <atomic>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <utility>

namespace strata {

// The liveness token that the MIDI service's handlers, jobs and posted tasks hold instead of the
// service itself. Backend handlers enter it for the length of their call; close() refuses new
// entries at once and waits for those inside to leave, so the destructor never runs while a
// handler is inside the service (and a busy input thread cannot hold it off). Queue jobs only check
// `alive`: the destructor stops the queue before any member goes. Main-thread tasks check `alive`
// too; they cannot overlap the destructor, which runs on the same thread.
struct ServiceLife {
    std::atomic<bool> alive{true};
    std::mutex mutex;
    std::condition_variable left;
    int inside = 0;

    bool enter() {
        std::lock_guard lock(mutex);
        if (!alive.load())
            return false;
        ++inside;
        return true;
    }
    void leave() {
        std::lock_guard lock(mutex);
        if (--inside == 0)
            left.notify_all();
    }
    void close() {
        std::unique_lock lock(mutex);
        alive.store(false);
        left.wait(lock, [this] { return inside == 0; });
    }

    // Keeps a handler inside for its scope.
    struct Entry {
        explicit Entry(ServiceLife& l) : life(l), entered(l.enter()) {}
        ~Entry() {
            if (entered)
                life.leave();
        }
        Entry(const Entry&) = delete;
        Entry& operator=(const Entry&) = delete;
        ServiceLife& life;
        const bool entered;
    };
};

// Hands work to the main thread or the MIDI queue on behalf of the service and its parts; nothing
// handed over runs once the service is going.
class ServiceTasks {
public:
    ServiceTasks(MainLoop& loop, std::shared_ptr<ServiceLife> life, SerialQueue& queue)
        : loop_(loop), life_(std::move(life)), queue_(queue) {}

    template <typename F>
    void onMain(F&& task) {
        loop_.post([life = life_, task = std::forward<F>(task)]() mutable {
            if (life->alive.load())
                task();
        });
    }
    template <typename F>
    void onQueue(F&& job) {
        queue_.submit([this, life = life_, job = std::forward<F>(job)]() mutable {
            if (!life->alive.load())
                return;
            if (beforeJob_)
                beforeJob_();
            job();
            if (afterJob_)
                afterJob_();
        });
    }
    // A job that only reads what the DAW reported (it writes no output): the before-job hook is
    // left out.
    template <typename F>
    void onQueueQuiet(F&& job) {
        queue_.submit([this, life = life_, job = std::forward<F>(job)]() mutable {
            if (!life->alive.load())
                return;
            job();
            if (afterJob_)
                afterJob_();
        });
    }
    // A job that joins the MIDI queue once the main loop's clock reaches `due`, as if handed
    // over by onQueue then, but without the job hooks: it must write no output, and hands what
    // does to onQueue. The queue keeps the time itself, so the job waits for no main-thread
    // timer. The queue must run on the loop's clock (MidiService makes it so).
    template <typename F>
    void onQueueAt(TimePoint due, F&& job) {
        queue_.submitAt(due, [life = life_, job = std::forward<F>(job)]() mutable {
            if (life->alive.load())
                job();
        });
    }
    // Run on the MIDI queue around every job handed over here (prepared answers are settled
    // before and prepared again after). Set once, before the first job.
    void setJobHooks(std::function<void()> before, std::function<void()> after) {
        beforeJob_ = std::move(before);
        afterJob_ = std::move(after);
    }

    MainLoop& loop() const { return loop_; }
    SerialQueue& queue() const { return queue_; }
    bool alive() const { return life_->alive.load(); }

private:
    MainLoop& loop_;
    std::shared_ptr<ServiceLife> life_;
    SerialQueue& queue_;
    std::function<void()> beforeJob_;
    std::function<void()> afterJob_;
};

} // namespace strata
