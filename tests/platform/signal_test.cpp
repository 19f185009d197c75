#include "platform/signal.h"

#include <gtest/gtest.h>
#include <memory>
#include <optional>

using namespace strata;

TEST(Signal, CallsSlotsInConnectionOrderUntilDisconnectedEvenByAnotherSlotDuringEmission) {
    Signal<int> s;
    std::vector<std::string> log;
    auto a = s.connect([&](int v) { log.push_back("a" + std::to_string(v)); });
    std::optional<Connection> b = s.connect([&](int v) { log.push_back("b" + std::to_string(v)); });
    s.notify(1);
    b.reset();
    s.notify(2);
    Connection d;
    auto c = s.connect([&](int v) {
        log.push_back("c" + std::to_string(v));
        d.disconnect();
    });
    d = s.connect([&](int v) { log.push_back("d" + std::to_string(v)); });
    s.notify(3);
    EXPECT_EQ(log, (std::vector<std::string>{"a1", "b1", "a2", "a3", "c3"}));
    EXPECT_EQ(s.slotCount(), 2u);
}

// A connection that outlives its signal, and a slot that destroys the signal while it notifies.
TEST(Signal, EitherEndMayGoFirst) {
    Connection c;
    {
        Signal<> s;
        c = s.connect([] {});
    }
    c.disconnect(); // must not touch the destroyed signal
    EXPECT_FALSE(c.connected());

    auto s = std::make_unique<Signal<int>>();
    int laterCalls = 0;
    auto first = s->connect([&](int) { s.reset(); });
    auto later = s->connect([&](int) { ++laterCalls; });
    s->notify(1); // the pass ends with the signal; AddressSanitizer builds check the rest
    EXPECT_FALSE(s);
    EXPECT_EQ(laterCalls, 0);
}

TEST(Published, NotifiesEveryWriteWithTheNewValue) {
    Published<int> p(1);
    std::vector<int> seen;
    auto c = p.changed.connect([&](const int& v) { seen.push_back(v); });
    p.set(2);
    p.set(2);
    EXPECT_EQ(seen, (std::vector<int>{2, 2}));
    EXPECT_EQ(p.get(), 2);
}
