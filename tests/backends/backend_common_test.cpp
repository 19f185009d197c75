#include "common/midi_object_table.h"
#include "common/posix_thread_priority.h"
#include "common/setup_coalescer.h"

#include <cerrno>
#include <gtest/gtest.h>
#include <pthread.h>
#include <sched.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

namespace strata {
namespace {

using Table = MidiObjectTable<int>;

std::vector<std::string> names(const std::vector<MidiPortInfo>& ports) {
    std::vector<std::string> out;
    for (const auto& p : ports)
        out.push_back(p.name.value_or("?"));
    return out;
}

TEST(MidiObjectTable, ListingsKeepRefsAndTheOrderOfFirstSighting) {
    Table table;
    const MidiRef ours = table.add(MidiObjectKind::virtualDestination, "Strata", 0, 0);
    const auto first = table.listing(MidiObjectKind::systemSource, {{7, "b"}, {3, "a"}});
    // The system lists in its own order; a port seen later still goes behind the others.
    const auto second =
        table.listing(MidiObjectKind::systemSource, {{9, "aardvark"}, {3, "a"}, {7, "b"}});
    ASSERT_EQ(first.size(), 2u);
    EXPECT_EQ(names(table.snapshot(second)), (std::vector<std::string>{"b", "a", "aardvark"}));
    // Gone and back: the same ref, with the name it has now.
    table.listing(MidiObjectKind::systemSource, {{9, "aardvark"}});
    const auto back = table.listing(MidiObjectKind::systemSource, {{7, "b renamed"}});
    ASSERT_EQ(back.size(), 1u);
    EXPECT_EQ(back[0], first[0]);
    EXPECT_EQ(table.find(back[0])->name, "b renamed");
    // One key is a different object in another kind; no ref is handed out twice.
    const auto dest = table.listing(MidiObjectKind::systemDestination, {{7, "b in"}});
    ASSERT_EQ(dest.size(), 1u);
    EXPECT_NE(dest[0], back[0]);
    EXPECT_NE(dest[0], ours);
    EXPECT_EQ(table.find(dest[0], MidiObjectKind::systemSource), nullptr);
    EXPECT_NE(table.find(dest[0], MidiObjectKind::systemDestination), nullptr);
    EXPECT_EQ(table.find(0), nullptr);
    EXPECT_EQ(table.find(dest[0] + 1), nullptr);
}

TEST(MidiObjectTable, SnapshotsPutOurDestinationsFirstAndCarryAliases) {
    Table table;
    const MidiRef xt = table.add(MidiObjectKind::virtualDestination, "Strata XT", 0, 1);
    const auto system = table.listing(MidiObjectKind::systemDestination, {{4, "synth"}});
    const std::array<MidiRef, 2> own{0, xt};
    const auto listed = table.snapshot(ownFirst(own, system), [](const Table::Object& obj) {
        return obj.kind == MidiObjectKind::systemDestination
                   ? std::vector<std::string>{"alias of " + obj.name}
                   : std::vector<std::string>{};
    });
    ASSERT_EQ(listed.size(), 2u);
    EXPECT_EQ(listed[0].ref, xt);
    EXPECT_EQ(listed[0].displayName, "Strata XT");
    EXPECT_TRUE(listed[0].aliases.empty());
    EXPECT_EQ(listed[1].name, "synth");
    EXPECT_EQ(listed[1].aliases, std::vector<std::string>{"alias of synth"});
}

TEST(SetupCoalescer, ABurstBecomesOneNotificationAfterAQuietSpellOrTheBound) {
    using namespace std::chrono_literals;
    const SetupCoalescer::Clock::time_point t0{};
    const struct {
        const char* what;
        std::vector<std::chrono::milliseconds> notices;
        std::chrono::milliseconds checkedAt;
        bool due;
    } cases[] = {
        {"nothing happened", {}, 100ms, false},
        {"still within the quiet spell", {0ms, 4ms}, 13ms, false},
        {"quiet spell over", {0ms, 4ms}, 14ms, true},
        // A steady stream of notices one ms apart never leaves a quiet spell of ten.
        {"steady stream, before the bound", {0ms, 10ms - 1ms, 18ms, 27ms, 36ms, 45ms}, 49ms, false},
        {"steady stream, at the bound", {0ms, 9ms, 18ms, 27ms, 36ms, 45ms}, 50ms, true},
    };
    for (const auto& c : cases) {
        SetupCoalescer setup(10ms);
        for (auto at : c.notices)
            setup.changed(t0 + at);
        EXPECT_EQ(setup.takeDue(t0 + c.checkedAt), c.due) << c.what;
        EXPECT_FALSE(setup.takeDue(t0 + c.checkedAt + 1h) && c.due) << c.what << ": only once";
    }
    SetupCoalescer setup(10ms);
    EXPECT_EQ(setup.dueAt(), std::nullopt);
    setup.changed(t0 + 2ms);
    EXPECT_EQ(setup.dueAt(), t0 + 12ms);
    setup.cancel();
    EXPECT_FALSE(setup.takeDue(t0 + 1h));
}

// Real-time scheduling is asked for, never required: what the request reports must be what the
// thread now runs at, granted or refused, and a refusal leaves the thread as it was.
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

} // namespace
} // namespace strata
