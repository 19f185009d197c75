// OSC subscriptions on virtual time: how long one holds, what renews it, and the cap.

#include "remote/osc_subscribers.h"

#include <gtest/gtest.h>

using namespace strata;

namespace {

const TimePoint t0 = TimePoint{} + std::chrono::hours(1);

std::vector<std::uint16_t> portsAt(OscSubscribers& list, TimePoint now) {
    std::vector<std::uint16_t> ports;
    for (const auto& s : list.current(now))
        ports.push_back(s.port);
    return ports;
}

TEST(OscSubscribers, ASubscriptionHoldsForItsTimeAndARenewalCountsFromItsOwnMoment) {
    OscSubscribers list;
    ASSERT_TRUE(list.subscribe("127.0.0.1", 9000, t0));
    EXPECT_EQ(portsAt(list, t0 + OscSubscribers::kHold - seconds(1)),
              std::vector<std::uint16_t>{9000});
    EXPECT_TRUE(portsAt(list, t0 + OscSubscribers::kHold).empty());
    // Gone for good: the time going back (a caller's clock never does) brings nothing back.
    EXPECT_TRUE(portsAt(list, t0).empty());

    OscSubscribers renewed(seconds(60));
    ASSERT_TRUE(renewed.subscribe("10.0.0.5", 9000, t0));
    ASSERT_TRUE(renewed.subscribe("10.0.0.5", 9000, t0 + seconds(50)));
    EXPECT_EQ(renewed.current(t0 + seconds(100)).size(), 1U);
    EXPECT_TRUE(renewed.current(t0 + seconds(110)).empty());
    // A renewal that arrives out of order never shortens what holds.
    ASSERT_TRUE(renewed.subscribe("10.0.0.6", 9000, t0 + seconds(200)));
    ASSERT_TRUE(renewed.subscribe("10.0.0.6", 9000, t0 + seconds(150)));
    EXPECT_EQ(renewed.current(t0 + seconds(255)).size(), 1U);
}

// An address and port is one subscriber: another port of the same address, or the same port of
// another address, is another.
TEST(OscSubscribers, AFullListRefusesNewcomersUntilSomeoneExpires) {
    OscSubscribers list(seconds(60), 3);
    ASSERT_TRUE(list.subscribe("10.0.0.5", 1, t0));
    ASSERT_TRUE(list.subscribe("10.0.0.5", 2, t0 + seconds(10)));
    ASSERT_TRUE(list.subscribe("10.0.0.6", 2, t0 + seconds(20)));
    // A flood of new source ports: all refused, the three listening stay.
    for (std::uint16_t port = 100; port < 1100; ++port)
        EXPECT_FALSE(list.subscribe("10.0.0.5", port, t0 + seconds(30))) << port;
    EXPECT_EQ(portsAt(list, t0 + seconds(30)), (std::vector<std::uint16_t>{1, 2, 2}));
    // Those listening still renew while the list is full, and stay one each.
    EXPECT_TRUE(list.subscribe("10.0.0.5", 2, t0 + seconds(40)));
    EXPECT_EQ(list.current(t0 + seconds(40)).size(), 3U);
    // The first one's time ends: a place is free for one newcomer, not two.
    EXPECT_TRUE(list.subscribe("10.0.0.5", 4, t0 + seconds(60)));
    EXPECT_FALSE(list.subscribe("10.0.0.5", 5, t0 + seconds(60)));
    EXPECT_EQ(portsAt(list, t0 + seconds(60)), (std::vector<std::uint16_t>{2, 2, 4}));
}

} // namespace
