#include "platform/thread_priority.h"

#include <algorithm>
#include <cstring>

namespace strata {

int priorityBelow(int engine) {
    if (engine < 1)
        return kFallbackRealTimePriority;
    return std::max(1, engine - 1);
}

std::string describe(std::string_view who, const RealTimeRequest& request) {
    std::string line(who);
    if (request.granted)
        return line + " runs real-time (SCHED_FIFO " + std::to_string(request.priority) + ")";
    char buffer[128];
    // The GNU strerror_r returns the text, which need not be in the buffer.
    const char* why = ::strerror_r(request.error, buffer, sizeof buffer);
    return line + " stays at normal priority (real-time " + std::to_string(request.priority) +
           " refused: " + why + ")";
}

RealTimeThreads::RealTimeThreads(int priority, Raise raise, Log log)
    : priority_(priority), raise_(std::move(raise)), log_(std::move(log)) {}

RealTimeRequest RealTimeThreads::raiseCurrentThread(std::string_view who) {
    const RealTimeRequest request = raise_(priority_);
    bool say = false;
    {
        std::lock_guard lock(mutex_);
        bool& said = request.granted ? grantSaid_ : refusalSaid_;
        say = !said;
        said = true;
    }
    if (say && log_) {
        std::string line = describe(who, request);
        if (!request.granted)
            line += "; Strata works the same, without precedence over other programs";
        log_(line);
    }
    return request;
}

} // namespace strata
