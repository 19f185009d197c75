#include "platform/virtual_main_loop.h"

#include <poll.h>
#include <vector>

namespace strata {

struct VirtualMainLoop::Entry {
    Task task;
    Duration period{0};
    int fd = -1;
    bool cancelled = false;
};

struct VirtualMainLoop::Handle final : LoopHandle {
    explicit Handle(std::shared_ptr<Entry> e) : entry(std::move(e)) {}
    ~Handle() override { entry->cancelled = true; }
    std::shared_ptr<Entry> entry;
};

// Virtual time starts at an arbitrary but non-zero point so that "the distant past" is distinct.
VirtualMainLoop::VirtualMainLoop() {
    setNow(TimePoint{} + std::chrono::hours(1));
}
VirtualMainLoop::~VirtualMainLoop() = default;

TimePoint VirtualMainLoop::now() const {
    return TimePoint(Duration(now_.load()));
}

void VirtualMainLoop::post(Task task) {
    {
        std::lock_guard lock(postMutex_);
        posted_.push_back(std::move(task));
    }
    postCv_.notify_all();
}

TimerHandle VirtualMainLoop::after(Duration delay, Task task) {
    auto entry = std::make_shared<Entry>();
    entry->task = std::move(task);
    if (delay < Duration::zero())
        delay = Duration::zero();
    timers_.emplace(std::make_pair(now() + delay, ++sequence_), entry);
    return std::make_unique<Handle>(entry);
}

TimerHandle VirtualMainLoop::every(Duration period, Task task) {
    auto entry = std::make_shared<Entry>();
    entry->task = std::move(task);
    entry->period = period > Duration::zero() ? period : Duration(1);
    timers_.emplace(std::make_pair(now() + entry->period, ++sequence_), entry);
    return std::make_unique<Handle>(entry);
}

TimerHandle VirtualMainLoop::watchReadable(int fd, Task task) {
    auto entry = std::make_shared<Entry>();
    entry->task = std::move(task);
    entry->fd = fd;
    watches_.insert(entry);
    return std::make_unique<Handle>(entry);
}

std::size_t VirtualMainLoop::runPending() {
    std::size_t ran = 0;
    for (;;) {
        Task task;
        {
            std::lock_guard lock(postMutex_);
            if (posted_.empty())
                break;
            task = std::move(posted_.front());
            posted_.pop_front();
        }
        task();
        ++ran;
    }
    return ran;
}

void VirtualMainLoop::runDueAt(TimePoint t) {
    for (;;) {
        runPending();
        auto it = timers_.begin();
        while (it != timers_.end() && it->second->cancelled)
            it = timers_.erase(it);
        if (it == timers_.end() || it->first.first > t)
            break;
        const TimePoint due = it->first.first;
        auto entry = it->second;
        timers_.erase(it);
        // A timer that fell due during a stall runs late, at the time reached by then, and a
        // repeating one goes on a period from then rather than catching up.
        if (due > now())
            setNow(due);
        if (entry->period > Duration::zero())
            timers_.emplace(std::make_pair(now() + entry->period, ++sequence_), entry);
        entry->task();
    }
}

void VirtualMainLoop::advance(Duration d) {
    advanceTo(now() + d);
}

void VirtualMainLoop::advanceTo(TimePoint t) {
    if (t < now())
        t = now();
    runDueAt(t);
    setNow(t);
    runPending();
}

bool VirtualMainLoop::waitForPost(std::chrono::milliseconds timeout) {
    std::unique_lock lock(postMutex_);
    return postCv_.wait_for(lock, timeout, [this] { return !posted_.empty(); });
}

std::size_t VirtualMainLoop::pollDescriptors() {
    std::size_t ran = 0;
    std::vector<std::shared_ptr<Entry>> ready;
    for (auto it = watches_.begin(); it != watches_.end();) {
        if ((*it)->cancelled) {
            it = watches_.erase(it);
            continue;
        }
        pollfd p{(*it)->fd, POLLIN, 0};
        if (::poll(&p, 1, 0) > 0 && (p.revents & POLLIN))
            ready.push_back(*it);
        ++it;
    }
    for (auto& entry : ready) {
        if (entry->cancelled)
            continue;
        entry->task();
        ++ran;
    }
    runPending();
    return ran;
}

std::size_t VirtualMainLoop::armedTimerCount() const {
    std::size_t n = 0;
    for (const auto& [key, entry] : timers_)
        if (!entry->cancelled)
            ++n;
    return n;
}

std::optional<TimePoint> VirtualMainLoop::nextDue() const {
    for (const auto& [key, entry] : timers_)
        if (!entry->cancelled)
            return key.first;
    return std::nullopt;
}

} // namespace strata
