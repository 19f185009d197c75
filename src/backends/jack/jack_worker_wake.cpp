#include "jack/jack_worker_wake.h"

#include <cerrno>
#include <ctime>

namespace strata {

JackWorkerWake::JackWorkerWake() {
    sem_init(&semaphore_, 0, 0);
}

JackWorkerWake::~JackWorkerWake() {
    sem_destroy(&semaphore_);
}

void JackWorkerWake::post() {
    sem_post(&semaphore_);
}

void JackWorkerWake::postIfAsleep() {
    // Pairs with the fence in announceSleep(): the work published before this fence is seen by
    // the worker's last look, or the worker's announcement is seen here.
    std::atomic_thread_fence(std::memory_order_seq_cst);
    if (asleep_.load(std::memory_order_relaxed) &&
        asleep_.exchange(false, std::memory_order_acq_rel))
        sem_post(&semaphore_);
}

void JackWorkerWake::announceSleep() {
    asleep_.store(true, std::memory_order_relaxed);
    std::atomic_thread_fence(std::memory_order_seq_cst);
}

void JackWorkerWake::cancelSleep() {
    asleep_.store(false, std::memory_order_relaxed);
}

void JackWorkerWake::sleepUntil(Clock::time_point until) {
    // The steady clock is CLOCK_MONOTONIC on Linux.
    const auto since = until.time_since_epoch();
    const auto seconds = std::chrono::duration_cast<std::chrono::seconds>(since);
    timespec deadline{};
    deadline.tv_sec = static_cast<time_t>(seconds.count());
    deadline.tv_nsec = static_cast<long>(
        std::chrono::duration_cast<std::chrono::nanoseconds>(since - seconds).count());
    while (sem_clockwait(&semaphore_, CLOCK_MONOTONIC, &deadline) != 0 && errno == EINTR) {
    }
    asleep_.store(false, std::memory_order_relaxed);
    // Posts made before this point are answered by the pass that follows.
    while (sem_trywait(&semaphore_) == 0) {
    }
}

} // namespace strata
