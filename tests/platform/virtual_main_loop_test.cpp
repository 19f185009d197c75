#include "platform/virtual_main_loop.h"

#include <gtest/gtest.h>
#include <thread>
#include <vector>

using namespace strata;
using namespace std::chrono_literals;

// Timers run in due order at their virtual time, those due together in scheduling order; a task
// posted by a timer runs before later timers.
TEST(VirtualMainLoop, TimersRunInDueOrderAtTheirVirtualTime) {
    VirtualMainLoop loop;
    const auto start = loop.now();
    std::vector<std::pair<int, Duration>> ran;
    auto a = loop.after(300ms, [&] { ran.emplace_back(1, loop.now() - start); });
    auto b = loop.after(100ms, [&] { ran.emplace_back(2, loop.now() - start); });
    auto c = loop.after(100ms, [&] {
        ran.emplace_back(3, loop.now() - start);
        loop.post([&] { ran.emplace_back(4, loop.now() - start); });
    });

    loop.advance(99ms);
    EXPECT_TRUE(ran.empty());
    loop.advance(1s);
    EXPECT_EQ(ran, (std::vector<std::pair<int, Duration>>{
                       {2, 100ms}, {3, 100ms}, {4, 100ms}, {1, 300ms}}));
    EXPECT_EQ(loop.now() - start, Duration(1099ms));
}
// A repeating timer fires once a period from its start, until its handle is dropped.
TEST(VirtualMainLoop, DroppingAHandleCancelsEvenFromInsideTheTask) {
    VirtualMainLoop loop;
    const auto start = loop.now();
    int oneShot = 0;
    std::vector<Duration> repeats;
    auto h = loop.after(10ms, [&] { ++oneShot; });
    h.reset();
    TimerHandle rep;
    rep = loop.every(2s, [&] {
        repeats.push_back(loop.now() - start);
        if (repeats.size() == 3)
            rep.reset(); // a timer may stop itself
    });
    loop.advance(10s);
    EXPECT_EQ(oneShot, 0);
    EXPECT_EQ(repeats, (std::vector<Duration>{2s, 4s, 6s}));
    EXPECT_EQ(loop.armedTimerCount(), 0u);
}

TEST(VirtualMainLoop, PostsFromOtherThreadsRunInOrderOnTheDrivingThread) {
    VirtualMainLoop loop;
    std::vector<int> order;
    std::thread producer([&] {
        for (int i = 0; i < 100; ++i)
            loop.post([&order, i] { order.push_back(i); });
    });
    producer.join();
    EXPECT_EQ(loop.runPending(), 100u);
    ASSERT_EQ(order.size(), 100u);
    for (int i = 0; i < 100; ++i)
        EXPECT_EQ(order[i], i);
}
