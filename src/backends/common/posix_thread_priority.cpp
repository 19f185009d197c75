#include "common/posix_thread_priority.h"

#include <pthread.h>
#include <sched.h>

namespace strata {

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

} // namespace strata
