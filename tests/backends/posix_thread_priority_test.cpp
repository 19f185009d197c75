// Real-time scheduling is asked for, never required: what the request reports must be what the
// thread now runs at, granted or refused, and a refusal leaves the thread as it was.

#include "common/posix_thread_priority.h"

#include <cerrno>
#include <gtest/gtest.h>
#include <pthread.h>
#include <sched.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

using namespace strata;

namespace {

struct Policy {
    int policy = -1;
    int priority = -1;
};

Policy current() {
    Policy p;
    sched_param param{};
    if (::pthread_getschedparam(::pthread_self(), &p.policy, &param) == 0)
        p.priority = param.sched_priority;
    return p;
}

// Runs the request on a thread of its own, so that the test's thread keeps its scheduling.
std::pair<RealTimeRequest, Policy> requestOnAThread(int priority) {
    std::pair<RealTimeRequest, Policy> result;
    std::thread([&] {
        result.first = raiseCurrentThread(priority);
        result.second = current();
    }).join();
    return result;
}

} // namespace

TEST(PosixThreadPriority, WhatTheRequestReportsIsWhatTheThreadRunsAt) {
    const Policy before = current();
    // Granted where the process may (the capability or an rtprio limit), refused elsewhere:
    // either way the report and the thread agree.
    const auto [asked, after] = requestOnAThread(1);
    EXPECT_EQ(asked.priority, 1);
    if (asked.granted) {
        EXPECT_EQ(after.policy, SCHED_FIFO);
        EXPECT_EQ(after.priority, 1);
        EXPECT_EQ(describe("[x] reader", asked), "[x] reader runs real-time (SCHED_FIFO 1)");
    } else {
        EXPECT_EQ(after.policy, before.policy);
        EXPECT_NE(asked.error, 0);
    }
    // A priority no system grants is refused, and the thread keeps its ordinary scheduling.
    const auto [refused, unchanged] = requestOnAThread(0);
    EXPECT_FALSE(refused.granted);
    EXPECT_EQ(refused.error, EINVAL);
    EXPECT_EQ(unchanged.policy, before.policy);
    EXPECT_EQ(unchanged.priority, before.priority);
    EXPECT_EQ(describe("[x] reader", refused),
              "[x] reader stays at normal priority (real-time 0 refused: Invalid argument)");
    // The test's own thread was never touched.
    EXPECT_EQ(current().policy, before.policy);
}

TEST(PosixThreadPriority, AProcessWithoutTheRightIsRefusedAndKeepsItsScheduling) {
    // A child without an rtprio limit and in a user namespace of its own (so that no capability
    // of this process counts) is what a musician's session without real-time rights looks like.
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        const rlimit none{0, 0};
        if (::setrlimit(RLIMIT_RTPRIO, &none) != 0 || ::unshare(CLONE_NEWUSER) != 0)
            ::_exit(2); // cannot drop the right here
        const int policy = ::sched_getscheduler(0);
        const RealTimeRequest request = raiseCurrentThread(5);
        const bool kept = ::sched_getscheduler(0) == policy;
        ::_exit(!request.granted && request.error == EPERM && kept ? 0 : 1);
    }
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status));
    if (WEXITSTATUS(status) == 2)
        GTEST_SKIP() << "this system does not let a process give up its real-time right";
    EXPECT_EQ(WEXITSTATUS(status), 0);
}
