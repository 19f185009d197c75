// Which priority the mute path's threads ask for, and what the log says when the system grants
// or refuses it. The scheduling call itself is the platform's (backend_common_test.cpp);
// here it is scripted, so that a refusal can be had on any machine.

#include "platform/thread_priority.h"

#include <cerrno>
#include <gtest/gtest.h>
#include <string>
#include <thread>
#include <vector>

using namespace strata;

TEST(ThreadPriority, APriorityBelowTheEnginesOrTheFallbackWithoutOne) {
    struct Case {
        int engine;
        int expected;
    };
    for (const Case& c : {Case{-1, kFallbackRealTimePriority}, Case{0, kFallbackRealTimePriority},
                          Case{1, 1}, Case{2, 1}, Case{10, 9}, Case{88, 87}}) {
        SCOPED_TRACE(c.engine);
        EXPECT_EQ(priorityBelow(c.engine), c.expected);
    }
}

TEST(ThreadPriority, TheLogHearsTheFirstGrantAndTheFirstRefusalOnly) {
    const std::string refusedTail = " stays at normal priority (real-time 9 refused: Operation not "
                                    "permitted); Strata works the same, without precedence over "
                                    "other programs";
    struct Case {
        const char* what;
        std::vector<bool> answers; // for the threads "a", "b", "c", ... in turn
        std::vector<std::string> lines;
    };
    const Case cases[] = {
        {"all granted", {true, true, true}, {"a runs real-time (SCHED_FIFO 9)"}},
        {"all refused", {false, false, false}, {"a" + refusedTail}},
        {"refused after grants",
         {true, true, false, false},
         {"a runs real-time (SCHED_FIFO 9)", "c" + refusedTail}},
        {"granted after a refusal",
         {false, true, true},
         {"a" + refusedTail, "b runs real-time (SCHED_FIFO 9)"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        // The scheduling call answers from the script (true: granted), noting what it was asked.
        std::vector<int> asked;
        std::vector<std::string> lines;
        RealTimeThreads threads(
            9,
            [&](int priority) {
                const bool granted = c.answers.at(asked.size());
                asked.push_back(priority);
                return RealTimeRequest{priority, granted, granted ? 0 : EPERM};
            },
            [&](std::string_view line) { lines.emplace_back(line); });
        for (std::size_t k = 0; k < c.answers.size(); ++k) {
            const std::string who(1, static_cast<char>('a' + k));
            // What the thread learns is what the system answered.
            EXPECT_EQ(threads.raiseCurrentThread(who).granted, c.answers[k]) << who;
        }
        EXPECT_EQ(lines, c.lines);
        // Every thread asked for the one priority.
        EXPECT_EQ(asked, std::vector<int>(c.answers.size(), 9));
    }
}

TEST(ThreadPriority, ThreadsStartingTogetherStillMakeOneLine) {
    // The queue, the input thread and the cue link's reader start on their own, at any moment.
    std::vector<std::string> lines;
    RealTimeThreads threads(
        5,
        [](int priority) {
            return RealTimeRequest{priority, false, EPERM};
        },
        [&](std::string_view line) { lines.emplace_back(line); });
    std::vector<std::thread> starting;
    for (int k = 0; k < 8; ++k)
        starting.emplace_back([&threads] { (void)threads.raiseCurrentThread("t"); });
    for (std::thread& t : starting)
        t.join();
    EXPECT_EQ(lines.size(), 1u);
}
