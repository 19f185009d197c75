#include "midi/clock_follower.h"

#include <cstdint>
#include <gtest/gtest.h>
#include <string>
#include <vector>

using namespace strata;

namespace {

// One message of a scripted source: its bytes and arrival time in microseconds.
struct Msg {
    std::vector<std::uint8_t> bytes;
    std::int64_t at = 0;
};

constexpr std::uint8_t kClock = 0xF8, kStart = 0xFA, kContinue = 0xFB, kStop = 0xFC;

// `count` clocks, the first at `from`, `interval` apart.
std::vector<Msg> clocks(int count, std::int64_t from, std::int64_t interval) {
    std::vector<Msg> out;
    for (int i = 0; i < count; ++i)
        out.push_back({{kClock}, from + i * interval});
    return out;
}

std::vector<Msg> operator+(std::vector<Msg> a, const std::vector<Msg>& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

ClockState run(ClockFollower& f, const std::vector<Msg>& script) {
    for (const Msg& m : script)
        f.feed(m.bytes.data(), m.bytes.size(), m.at);
    return f.state();
}

// At 120 BPM a clock comes every 500000 / 24 µs; 20000 µs is 125 BPM exactly.
constexpr std::int64_t k125 = 20000;
constexpr std::int64_t k100 = 25000;

TEST(ClockFollower, TransportAndPosition) {
    struct Case {
        std::string name;
        std::vector<Msg> script;
        bool playing;
        std::int64_t position, ticks, bar, beat;
    };
    const std::vector<Case> cases = {
        {"clocks alone do not play", clocks(30, 0, k125), false, 0, 0, 0, 0},
        {"start, first clock is the downbeat",
         std::vector<Msg>{{{kStart}, 0}} + clocks(1, 10, k125), true, 0, 0, 0, 0},
        {"start and one bar and a beat", std::vector<Msg>{{{kStart}, 0}} + clocks(121, 10, k125),
         true, 120, 120, 1, 1},
        {"stop keeps the position",
         std::vector<Msg>{{{kStart}, 0}} + clocks(49, 10, k125) +
             std::vector<Msg>{{{kStop}, 1'000'000}} + clocks(10, 1'000'010, k125),
         false, 48, 48, 0, 2},
        {"continue without a pointer counts on from the last clock",
         std::vector<Msg>{{{kStart}, 0}} + clocks(49, 10, k125) +
             std::vector<Msg>{{{kStop}, 1'000'000}, {{kContinue}, 1'100'000}} +
             clocks(1, 1'100'010, k125),
         true, 49, 49, 0, 2},
        // Sixteenth 40 = bar 2 (from 0), beat 2: 240 clocks.
        {"pointer then continue resumes at the pointer",
         std::vector<Msg>{{{kStart}, 0}} + clocks(10, 10, k125) +
             std::vector<Msg>{
                 {{kStop}, 300'000}, {{0xF2, 40, 0}, 310'000}, {{kContinue}, 320'000}} +
             clocks(3, 330'000, k125),
         true, 242, 11, 2, 2},
        {"pointer with a high byte", std::vector<Msg>{{{0xF2, 0, 1}, 0}}, false, 768, 0, 8, 0},
        {"pointer while playing is ignored",
         std::vector<Msg>{{{kStart}, 0}, {{0xF2, 40, 0}, 5}} + clocks(2, 10, k125), true, 1, 1, 0,
         0},
        {"a broken pointer is ignored", std::vector<Msg>{{{0xF2, 0x90, 0}, 0}, {{0xF2, 4}, 1}},
         false, 0, 0, 0, 0},
        {"restart counts ticks on",
         std::vector<Msg>{{{kStart}, 0}} + clocks(97, 10, k125) +
             std::vector<Msg>{{{kStart}, 2'000'000}} + clocks(25, 2'000'010, k125),
         true, 24, 120, 0, 1},
    };
    for (const Case& c : cases) {
        ClockFollower f;
        const ClockState s = run(f, c.script);
        EXPECT_EQ(s.playing, c.playing) << c.name;
        EXPECT_EQ(s.position, c.position) << c.name;
        EXPECT_EQ(s.ticks, c.ticks) << c.name;
        EXPECT_EQ(s.bar(), c.bar) << c.name;
        EXPECT_EQ(s.beatInBar(), c.beat) << c.name;
    }
}

TEST(ClockFollower, TempoIsTheMeanOfTheLastBeat) {
    struct Case {
        std::string name;
        std::vector<Msg> script;
        std::optional<double> bpm;
    };
    const std::vector<Case> cases = {
        {"one clock gives no tempo", clocks(1, 0, k125), std::nullopt},
        {"two clocks", clocks(2, 0, k125), 125.0},
        {"a steady source", clocks(100, 0, k125), 125.0},
        // Jitter of ±1 ms on alternate clocks averages out over the beat.
        {"jitter",
         [] {
             std::vector<Msg> out;
             for (int i = 0; i < 49; ++i)
                 out.push_back({{kClock}, i * k125 + (i % 2 ? 1000 : 0)});
             return out;
         }(),
         125.0},
        // After a step from 125 to 100 BPM the reading lags: 12 of the 24 intervals are new.
        // (12 × 20 ms + 12 × 25 ms over 24 intervals: 22.5 ms a clock.)
        {"12 clocks after a step", clocks(48, 0, k125) + clocks(12, 47 * k125 + k100, k100),
         1000.0 / 9},
        // (20 ms + 23 × 25 ms over 24 intervals.)
        {"23 clocks after a step", clocks(48, 0, k125) + clocks(23, 47 * k125 + k100, k100),
         12000.0 / 119},
        {"24 clocks after a step", clocks(48, 0, k125) + clocks(24, 47 * k125 + k100, k100), 100.0},
        // A gap of two seconds is not an interval: the tempo starts afresh after it.
        {"after a silence", clocks(30, 0, k125) + clocks(2, 29 * k125 + 2'000'000, k100), 100.0},
    };
    for (const Case& c : cases) {
        ClockFollower f;
        const ClockState s = run(f, c.script);
        ASSERT_EQ(s.bpm.has_value(), c.bpm.has_value()) << c.name;
        if (c.bpm) {
            EXPECT_NEAR(*s.bpm, *c.bpm, 1e-9) << c.name;
        }
    }
}

TEST(ClockFollower, SilenceOfTwoSecondsStops) {
    ClockFollower f;
    run(f, std::vector<Msg>{{{kStart}, 0}} + clocks(24, 10, k125));
    const std::int64_t last = 10 + 23 * k125;
    EXPECT_FALSE(f.expire(last + 1'999'999));
    EXPECT_TRUE(f.state().playing);
    EXPECT_TRUE(f.expire(last + 2'000'000));
    EXPECT_FALSE(f.state().playing);
    EXPECT_FALSE(f.state().bpm.has_value());
    EXPECT_EQ(f.state().atMicros, last + 2'000'000);
    EXPECT_FALSE(f.expire(last + 5'000'000)); // once
    // The position stays, as after Stop.
    EXPECT_EQ(f.state().position, 23);
}

} // namespace
