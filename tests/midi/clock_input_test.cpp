// The MIDI clock's way in: the chosen device's realtime bytes reach the main thread as clock
// states, stamped on the main loop's (virtual) clock, and the trigger parser reads presses around
// them unchanged.

#include "midi_rig.h"

#include <gtest/gtest.h>

using namespace strata;
using namespace strata::testing;

namespace {

struct ClockRig : MidiRig {
    MidiRef daw = plugSource("DAW Clock");
    MidiRef pedal = plugSource("Pedal");
    std::vector<ClockState> states;
    int presses = 0;
    ConnectionBag subscriptions;

    ClockRig() {
        subscriptions +=
            service->clockChanged.connect([this](const ClockState& s) { states.push_back(s); });
        subscriptions += service->advancePressed.connect([this] { ++presses; });
        service->advanceTrigger.set(AdvanceTrigger{"Pedal", AdvanceTrigger::Kind::note, 60});
        service->resolveTriggerSource();
    }
    void play(MidiRef source, const Packets& packets) {
        midi.sendFromSource(source, packets);
        loop.runPending();
    }
};

TEST(ClockInput, OnlyTheChosenDevicesRealtimeBytesAreFollowed) {
    ClockRig rig;
    rig.play(rig.daw, {{0xFA}, {0xF8}});
    EXPECT_TRUE(rig.states.empty()) << "no device chosen";

    rig.service->setClockDevice("DAW Clock");
    rig.play(rig.pedal, {{0xFA}, {0xF8}});
    EXPECT_TRUE(rig.states.empty()) << "another device";

    rig.play(rig.daw, {{0xFA}});
    rig.loop.advance(std::chrono::milliseconds(20));
    // One packet may carry several messages: one state after all of them.
    rig.play(rig.daw, {{0xF8, 0xF8}});
    ASSERT_EQ(rig.states.size(), 2u);
    EXPECT_TRUE(rig.states[1].playing);
    EXPECT_EQ(rig.states[1].ticks, 1);
    EXPECT_EQ(rig.states[1].atMicros - rig.states[0].atMicros, 20000);
    // A pointer brings its data bytes.
    rig.play(rig.daw, {{0xFC, 0xF2, 16, 0}});
    EXPECT_FALSE(rig.states.back().playing);
    EXPECT_EQ(rig.states.back().position, 96);

    // A new device starts a new follower.
    rig.service->setClockDevice("Pedal");
    rig.play(rig.pedal, {{0xF8}});
    EXPECT_EQ(rig.states.back().position, 0);
}

TEST(ClockInput, TriggersAroundAndInsideRealtimeBytesStillFire) {
    ClockRig rig;
    rig.service->setClockDevice("Pedal"); // the footswitch's device sends clock as well
    struct Case {
        const char* name;
        Packets packets;
        int presses;
    };
    const std::vector<Case> cases{
        {"a clock before the note", {{0xF8, 0x90, 60, 100}}, 1},
        {"a clock inside the note", {{0x90, 0xF8, 60, 0xFA, 100}}, 1},
        {"clocks alone", {{0xF8}, {0xFA}, {0xFC}}, 0},
        {"a pointer is no note", {{0xF2, 60, 100}}, 0},
    };
    for (const Case& c : cases) {
        rig.presses = 0;
        rig.play(rig.pedal, c.packets);
        EXPECT_EQ(rig.presses, c.presses) << c.name;
    }
}

} // namespace
