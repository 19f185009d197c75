// The end of a bank settle is decided on the MIDI queue: the mutes that wait for it go out while
// the main thread is held busy and runs nothing (the main loop is only ever stalled here).
#include "midi_rig.h"

#include <gtest/gtest.h>

using namespace strata;
using namespace strata::testing;

namespace {

constexpr Duration kStep = std::chrono::milliseconds(1);

// Time passes a millisecond at a time with the main loop held, the MIDI system's cycles as
// `cycles` says, until the DAW has heard `expected`; returns how long that took, none when it
// has not heard it within `patience`. The queue is drained twice a step: a settle's check hands
// its end on to the queue as a job of its own.
std::optional<Duration> heldUntilHeard(MidiRig& rig, const Packets& expected, Duration patience,
                                       const std::function<void()>& cycles = {}) {
    for (Duration waited{}; waited <= patience; waited += kStep) {
        rig.service->drain();
        rig.service->drain();
        if (rig.heard() == expected)
            return waited;
        rig.loop.stall(kStep);
        if (cycles)
            cycles();
    }
    return std::nullopt;
}

} // namespace

TEST(MackieSettle, EndsAndSendsWhatWaitedWhileTheMainLoopIsHeld) {
    enum class Cycles { none, keepUp, inputHeldBack, stopped };
    struct Case {
        const char* what;
        Cycles cycles;
        bool dawJustConnected;
        Duration atLeast;
        // Beyond it: the check's own period, and for the limit the bank moves' cycles.
        Duration slack = std::chrono::milliseconds(10);
    };
    const Duration answer = MidiService::kSettleTime; // over 4 cycles of a millisecond
    const Case cases[] = {
        {"a DAW that has just connected: its full report is awaited", Cycles::none, true,
         MidiService::kConnectionSettle},
        {"no cycles: the time the DAW takes to answer", Cycles::none, false, answer},
        {"cycles whose input keeps up: the time and the cycles to answer", Cycles::keepUp, false,
         answer},
        {"an input thread held back: no longer than the limit", Cycles::inputHeldBack, false,
         MidiService::kSettleLimit, std::chrono::milliseconds(100)},
        {"a server that runs no more cycles: no longer than the limit", Cycles::stopped, false,
         MidiService::kSettleLimit, std::chrono::milliseconds(100)},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        MidiRig rig;
        std::uint64_t cycles = 0;
        std::uint64_t delivered = 0;
        bool running = c.cycles != Cycles::none;
        bool inputFollows = true;
        const auto runCycles = [&] {
            if (!running)
                return;
            ++cycles;
            if (inputFollows)
                delivered = cycles;
            rig.midi.setCycles(cycles, delivered);
        };
        if (c.cycles != Cycles::none)
            rig.midi.runInCycles(std::chrono::milliseconds(1));
        if (!c.dawJustConnected) {
            // Long enough ago for its report to be in, with the cycles of that time.
            for (int ms = 0; ms < 400; ++ms) {
                rig.loop.stall(kStep);
                runCycles();
            }
        }
        inputFollows = c.cycles != Cycles::inputHeldBack;
        running = running && c.cycles != Cycles::stopped;
        const auto layers = makeLayers(8);
        rig.queueMackie(layers, idsAt(layers, {1, 6}));
        Packets expected = bankMove(0);
        press(expected, mute(1));
        press(expected, mute(6));
        const auto waited = heldUntilHeard(rig, expected, seconds(5), runCycles);
        ASSERT_TRUE(waited) << "the presses never went out; heard " << rig.heard().size();
        EXPECT_GE(*waited, c.atLeast);
        EXPECT_LE(*waited, c.atLeast + c.slack);
        EXPECT_FALSE(rig.settling());
    }
}

TEST(MackieSettle, ASupersededSettleDoesNotEndTheOneAfterIt) {
    MidiRig rig;
    rig.loop.stall(std::chrono::milliseconds(400)); // the DAW's report on connecting is in
    const auto layers = makeLayers(8);
    rig.queueMackie(layers, idsAt(layers, {2}));
    rig.service->drain();
    // Well into the first settle, the bank moves on: a settle of its own, which ends only its
    // own time after its moves, long after the first would have.
    const Duration into = MidiService::kSettleTime - std::chrono::milliseconds(5);
    for (Duration t{}; t < into; t += kStep) {
        rig.loop.stall(kStep);
        rig.service->drain();
    }
    rig.service->resetMackieShadow();
    rig.queueMackie(layers, idsAt(layers, {2}), 8);
    Packets expected = bankMove(0);
    const Packets second = bankMove(1);
    expected.insert(expected.end(), second.begin(), second.end());
    press(expected, mute(2));
    const auto waited = heldUntilHeard(rig, expected, seconds(5));
    ASSERT_TRUE(waited);
    EXPECT_GE(*waited, MidiService::kSettleTime);
    EXPECT_LE(*waited, MidiService::kSettleTime + std::chrono::milliseconds(10));
}

// Ardour's CC toggles held back while an earlier toggle of their CC awaits its answer: when none
// comes, they go once the wait for it is over, with the main loop held as well.
TEST(ArdourCCWait, AHeldBackToggleGoesWhenNoAnswerComesWhileTheMainLoopIsHeld) {
    MidiRig rig;
    const MidiRef synth = rig.midi.addDestination("Synth");
    auto layers = makeLayers(1);
    layers[0].portName = "Synth"; // CC 20 on channel 1
    const Bytes toggle20{0xB0, 20, 0x7F};
    const auto push = [&](std::initializer_list<std::size_t> muted) {
        rig.service->sendSectionState(layers, idsAt(layers, muted), ControlMode::ccMute,
                                      std::nullopt, 0, DawHost::ardour);
        rig.service->drain();
    };
    const auto after = [&](Duration d) {
        rig.loop.stall(d);
        rig.service->drain();
        rig.service->drain();
        return rig.midi.receivedBy(synth);
    };
    push({0});
    push({});
    EXPECT_EQ(after(MidiService::kEchoHold - kStep), Packets{toggle20});
    EXPECT_EQ(after(kStep), (Packets{toggle20, toggle20}));
}
