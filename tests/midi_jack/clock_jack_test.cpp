// MIDI clock through a real JACK server: a client plays the DAW's clock output, one clock every
// few process cycles with a tempo step mid-song, and Strata counts every clock and reads the
// tempo the cycles give. Nothing here is timed by the wall clock: Strata's main loop runs on
// virtual time that moves on by the DAW's own cycles, so a machine that holds the test off the
// CPU for seconds neither reads as a silent clock source nor bends the tempo Strata reads. (Steps
// that end on their count of clocks are the coordinator's, in memory: ClockTimeTest.)
#include "jack_rig.h"
#include "jack_server_suite.h"

#include <gtest/gtest.h>
#include <iostream>

namespace strata {
namespace {

using testing::JackRig;
using testing::JackServerSuite;
using testing::JackTestClient;

struct ClockStage {
    explicit ClockStage(const std::string& server) : rig(server), daw(server, "dawclock") {
        out = daw.addOutput("out");
        rig.service->setClockDevice(daw.fullName(out));
        subscription = rig.service->clockChanged.connect([this](const ClockState& s) {
            last = s;
            ++states;
        });
    }

    bool begin() {
        if (!daw.ok())
            return false;
        const std::string name = daw.fullName(out);
        if (!rig.driver.runUntil([&] {
                const auto& sources = rig.service->sources();
                return std::find(sources.begin(), sources.end(), name) != sources.end();
            }))
            return false;
        return daw.waitCycles(4) && rig.quiesce();
    }
    enum class Sent { heard, lost, failed };
    // Sends one message `cycles` process cycles after the last (virtual time moves on by as
    // much) and waits until Strata's main thread has taken its state in. A message the server
    // lost in a missed cycle (the backend saw an xrun, and several cycles went by without it) is
    // reported lost rather than waited for.
    Sent send(std::uint8_t status, int cycles) {
        if (!daw.waitCycles(cycles))
            return Sent::failed;
        rig.loop.advance(std::chrono::duration_cast<Duration>(rig.backend->cyclePeriod() * cycles));
        const int before = states;
        const std::uint64_t xruns = rig.backend->counters().xruns;
        const std::uint64_t sentAt = rig.backend->cycleCount();
        if (!daw.send(out, {status}))
            return Sent::failed;
        const auto deadline = std::chrono::steady_clock::now() + testing::kPatience;
        while (std::chrono::steady_clock::now() < deadline) {
            // Run what the MIDI threads posted without moving virtual time.
            rig.loop.waitForPost(std::chrono::milliseconds(1));
            rig.loop.runPending();
            if (states > before)
                return Sent::heard;
            if (rig.backend->counters().xruns > xruns && rig.backend->cycleCount() > sentAt + 16)
                return Sent::lost;
        }
        return Sent::failed;
    }

    JackRig rig;
    JackTestClient daw;
    std::size_t out = 0;
    Connection subscription;
    ClockState last;
    int states = 0;
};

class ClockThroughJack : public JackServerSuite {};

TEST_F(ClockThroughJack, EveryClockCountsAndTheTempoIsTheDawsAcrossATempoStep) {
    ClockStage stage(server_->name());
    ASSERT_TRUE(stage.begin());
    ASSERT_EQ(stage.send(0xFA, 1), ClockStage::Sent::heard);
    EXPECT_TRUE(stage.last.playing);
    int sent = 0;
    int lost = 0;
    while (stage.last.ticks < 2 * 96 && sent < 4 * 96) {
        // Four cycles a clock for the first bar Strata heard, then two: the tempo doubles.
        const int cycles = stage.states < 2 || stage.last.ticks < 95 ? 4 : 2;
        const ClockStage::Sent result = stage.send(0xF8, cycles);
        ASSERT_NE(result, ClockStage::Sent::failed) << sent;
        ++sent;
        if (result == ClockStage::Sent::lost) {
            ++lost;
            continue;
        }
        EXPECT_TRUE(stage.last.playing) << sent;
    }
    EXPECT_EQ(stage.last.ticks, 2 * 96);
    EXPECT_LE(stage.last.ticks + 1, sent);
    if (lost == 0) {
        // Nothing lost: every clock counted, and a beat after the step the tempo read is the
        // DAW's exactly (24 clocks of 2 cycles of 256 frames at 48 kHz: 234.375 BPM).
        EXPECT_EQ(stage.last.ticks + 1, sent);
        ASSERT_TRUE(stage.last.bpm.has_value());
        EXPECT_NEAR(*stage.last.bpm, 60.0 * 48000 / (24 * 2 * 256), 0.01);
    } else {
        std::cout << "note: " << lost << " clocks lost in missed cycles\n";
    }
    ASSERT_EQ(stage.send(0xFC, 1), ClockStage::Sent::heard);
    EXPECT_FALSE(stage.last.playing);
}

} // namespace
} // namespace strata
