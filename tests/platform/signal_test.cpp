#include "platform/signal.h"

#include <gtest/gtest.h>
#include <memory>
#include <optional>

using namespace strata;

TEST(Signal, CallsSlotsInConnectionOrderUntilDisconnected) {
    Signal<int> s;
    std::vector<std::string> log;
    auto a = s.connect([&](int v) { log.push_back("a" + std::to_string(v)); });
    std::optional<Connection> b = s.connect([&](int v) { log.push_back("b" + std::to_string(v)); });
    s.notify(1);
    b.reset();
    s.notify(2);
    EXPECT_EQ(log, (std::vector<std::string>{"a1", "b1", "a2"}));
}

TEST(Signal, SlotMayDisconnectAnotherDuringEmission) {
    Signal<> s;
    int secondCalls = 0;
    Connection second;
    auto first = s.connect([&] { second.disconnect(); });
    second = s.connect([&] { ++secondCalls; });
    s.notify();
    EXPECT_EQ(secondCalls, 0);
    EXPECT_EQ(s.slotCount(), 1u);
}

TEST(Signal, ConnectionMayOutliveTheSignal) {
    Connection c;
    {
        Signal<> s;
        c = s.connect([] {});
    }
    c.disconnect(); // must not touch the destroyed signal
    EXPECT_FALSE(c.connected());
}

TEST(Signal, SlotMayDestroyTheSignalDuringEmission) {
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
