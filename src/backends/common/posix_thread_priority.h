#pragma once

#include "platform/thread_priority.h"

namespace strata {

// Switches the calling thread to SCHED_FIFO at `priority` (pthread_setschedparam). Refused (no
// rtprio limit for the user, no CAP_SYS_NICE; Debian's jackd2 sets the limit up for the `audio`
// group), the thread stays as it was. The call behind RealTimeThreads in the program.
RealTimeRequest raiseCurrentThread(int priority);

} // namespace strata
