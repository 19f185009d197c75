#pragma once

#include <atomic>
#include <chrono>
#include <semaphore.h>

namespace strata {

// How the JACK backend's worker thread sleeps until there is work, and how the threads that give
// it work wake it.
//
// A POSIX semaphore: a post is an atomic increment, and enters the kernel (a futex wake, which
// never blocks) only while the worker waits on it; it is async-signal-safe, so the real-time
// process thread may post. Several posts before the worker looks count as one wake-up.
//
// The process callback posts only when the worker has announced that it goes to sleep, so a busy
// input stream costs at most one post per cycle and an idle one none. The announcement pairs with
// a fence on both sides: the worker announces, then looks for work once more; the callback
// publishes its work, then looks at the announcement. Whichever comes second sees the other, so
// a wake-up cannot be lost between the worker's last look and its sleep.
class JackWorkerWake {
public:
    using Clock = std::chrono::steady_clock;

    JackWorkerWake();
    ~JackWorkerWake();
    JackWorkerWake(const JackWorkerWake&) = delete;
    JackWorkerWake& operator=(const JackWorkerWake&) = delete;

    // Any thread, the real-time one too: wakes the worker whether it sleeps or not (it then
    // looks once more after its current pass).
    void post();
    // Real-time thread, after publishing work: wakes the worker only when it announced sleep.
    // No system call otherwise.
    void postIfAsleep();

    // Worker thread: announces sleep. Look for work afterwards; when there is some, call
    // cancelSleep() instead of sleepUntil().
    void announceSleep();
    void cancelSleep();
    // Worker thread: sleeps until posted or until `until` (steady clock), whichever is first.
    void sleepUntil(Clock::time_point until);

private:
    sem_t semaphore_;
    std::atomic<bool> asleep_{false};
};

} // namespace strata
