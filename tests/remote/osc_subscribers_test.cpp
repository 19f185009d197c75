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

TEST(OscSubscribers, AnAddressAndPortIsOneSubscriber) {
    OscSubscribers list;
    struct Case {
        const char* address;
        std::uint16_t port;
        std::size_t countAfter;
    };
    const Case cases[] = {
        {"10.0.0.5", 9000, 1}, // new
        {"10.0.0.5", 9000, 1}, // the same again
        {"10.0.0.5", 9001, 2}, // another port of the same address
        {"10.0.0.6", 9000, 3}, // another address on the same port
    };
    for (const Case& c : cases) {
        ASSERT_TRUE(list.subscribe(c.address, c.port, t0));
        EXPECT_EQ(list.current(t0).size(), c.countAfter) << c.address << ":" << c.port;
    }
}

TEST(OscSubscribers, AFullListRefusesNewcomersUntilSomeoneExpires) {
    OscSubscribers list(seconds(60), 3);
    ASSERT_TRUE(list.subscribe("10.0.0.5", 1, t0));
    ASSERT_TRUE(list.subscribe("10.0.0.5", 2, t0 + seconds(10)));
    ASSERT_TRUE(list.subscribe("10.0.0.5", 3, t0 + seconds(20)));
    // A flood of new source ports: all refused, the three listening stay.
    for (std::uint16_t port = 100; port < 1100; ++port)
        EXPECT_FALSE(list.subscribe("10.0.0.5", port, t0 + seconds(30))) << port;
    EXPECT_EQ(portsAt(list, t0 + seconds(30)), (std::vector<std::uint16_t>{1, 2, 3}));
    // Those listening still renew while the list is full.
    EXPECT_TRUE(list.subscribe("10.0.0.5", 2, t0 + seconds(40)));
    // The first one's time ends: a place is free for one newcomer, not two.
    EXPECT_TRUE(list.subscribe("10.0.0.5", 4, t0 + seconds(60)));
    EXPECT_FALSE(list.subscribe("10.0.0.5", 5, t0 + seconds(60)));
    EXPECT_EQ(portsAt(list, t0 + seconds(60)), (std::vector<std::uint16_t>{2, 3, 4}));
}

} // namespace
