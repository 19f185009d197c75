#include "platform/thread_priority.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <pthread.h>
#include <sched.h>

namespace strata {

int priorityBelow(int engine) {
    if (engine < 1)
        return kFallbackRealTimePriority;
    return std::max(1, engine - 1);
}

RealTimeRequest raiseCurrentThread(int priority) {
    RealTimeRequest request;
    request.priority = priority;
    sched_param param{};
    param.sched_priority = priority;
    // pthread_setschedparam changes nothing when it fails: the thread keeps its policy.
    const int error = ::pthread_setschedparam(::pthread_self(), SCHED_FIFO, &param);
    request.granted = error == 0;
    request.error = error;
    return request;
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

} // namespace strata
