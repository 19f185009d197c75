#include "midi_rig.h"

#include <gtest/gtest.h>

using namespace strata;
using namespace strata::testing;

// A DAW restarts and connects to one unit again: that unit is forgotten, its bank is positioned
// again and, once the DAW's own report is in, what differs is pressed. The other unit is left
// alone.
TEST(SurfaceConnection, ADawConnectingLaterIsBroughtToTheCurrentStateFromWhatItReports) {
    struct Case {
        const char* what;
        bool extender; // the unit it connects to
        std::size_t layers;
        std::vector<std::size_t> muted;
        Bytes report;  // the newcomer's LEDs, sent while the bank settles
        int bankRight; // its bank-right presses after the return to the first bank; -1: no move
        Packets presses;
    };
    const Case cases[] = {
        {"nothing muted there", false, 9, {0, 8}, ledReport({}), 0, presses({mute(0)})},
        {"its session has track 1 and 2 muted",
         false,
         9,
         {0, 8},
         ledReport({0, 1}),
         0,
         presses({mute(1)})},
        {"it reports nothing", false, 9, {0, 8}, {}, 0, presses({mute(0)})},
        {"the extender", true, 10, {9}, {}, 1, presses({mute(1)})},
        // With eight layers or fewer the extender is not used: a connection to it sends nothing.
        {"the extender, unused", true, 3, {}, {}, -1, {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        MidiRig rig;
        const auto layers = makeLayers(c.layers);
        rig.push(layers, idsAt(layers, c.muted));
        rig.midi.clearHeard();

        const auto newcomer = rig.midi.listen(rig.service->virtualSourceRef(c.extender));
        rig.settle();
        // Its bank is positioned again at once; the presses wait for its report.
        const Packets moved = c.bankRight < 0 ? Packets{} : bankMove(c.bankRight);
        EXPECT_EQ(rig.midi.heardPackets(newcomer), moved);
        if (!c.report.empty())
            rig.midi.sendToDestination(rig.service->virtualDestinationRef(false), {c.report});
        const Duration waited = rig.settleBanks();
        if (c.bankRight >= 0) {
            EXPECT_GE(waited, MidiService::kConnectionSettle);
        }
        Packets expected = moved;
        expected.insert(expected.end(), c.presses.begin(), c.presses.end());
        EXPECT_EQ(rig.midi.heardPackets(newcomer), expected);
        EXPECT_TRUE((c.extender ? rig.heard() : rig.heardXT()).empty()) << "the other unit";
    }
}

TEST(SurfaceConnection, InCcModeTheLayersOnThatPortAreSentAgain) {
    MidiRig rig;
    const MidiRef synth = rig.midi.addDestination("Synth");
    auto layers = makeLayers(3);
    layers[0].portName = "Strata";
    layers[1].portName = "Synth";
    layers[2].portName = "Strata";
    rig.push(layers, idsAt(layers, {2}), ControlMode::ccMute);
    ASSERT_EQ(rig.midi.receivedBy(synth), (Packets{{0xB0, 21, 127}}));
    rig.midi.clearHeard();
    const auto newcomer = rig.midi.listen(rig.service->virtualSourceRef(false));
    rig.settle();
    EXPECT_EQ(rig.midi.heardPackets(newcomer), (Packets{{0xB0, 20, 127}, {0xB0, 22, 0}}));
    EXPECT_TRUE(rig.midi.receivedBy(synth).empty()) << "other ports are not sent to again";
}

TEST(SurfaceConnection, ADawConnectingWhileTheBankMovesGoOutGetsWhatItMayHaveMissed) {
    // A system in cycles of a millisecond: the return to the first track is handed over in cycle
    // 100 and its presses go out one every other cycle from there. A DAW reported connected in a
    // later cycle hears what goes out from the second cycle after its report; the moves before
    // that are pressed again, plus one for each bank-right press it hears behind the rest.
    struct Case {
        const char* what;
        std::int64_t offset;
        std::uint64_t reportedInCycle;
        bool stillGoingOut;
        int lefts;
        int rights;
    };
    // Where it gets a whole return again, that return's first move may itself go out before the
    // connection carries: one more.
    for (const Case& c : {Case{"a cycle later", 0, 101, true, 2, 0},
                          Case{"ten cycles later, with an offset", 16, 110, true, 6 + 2, 2},
                          Case{"after the last move can have gone out", 0, 170, true, 33, 0},
                          Case{"once nothing waits to go out", 0, 101, false, 33, 0}}) {
        MidiRig rig;
        rig.midi.runInCycles(std::chrono::milliseconds(1));
        rig.midi.setCycles(100, 100);
        rig.midi.holdOutput(true);
        const auto layers = makeLayers(8);
        rig.queueMackie(layers, {}, c.offset);
        rig.settle();
        rig.midi.setCycles(c.reportedInCycle, c.reportedInCycle);
        rig.midi.holdOutput(c.stillGoingOut);
        const auto newcomer = rig.midi.listen(rig.service->virtualSourceRef(false));
        rig.settle();
        Packets expected;
        press(expected, mackie::kBankLeft, c.lefts);
        press(expected, mackie::kBankRight, c.rights);
        EXPECT_EQ(rig.midi.heardPackets(newcomer), expected) << c.what;
    }

    // Reported connected just before the first push: its first moves may go out before the
    // connection carries, and are pressed once more.
    MidiRig rig;
    rig.midi.runInCycles(std::chrono::milliseconds(1));
    rig.midi.setCycles(100, 100);
    const auto newcomer = rig.midi.listen(rig.service->virtualSourceRef(false));
    rig.settle();
    rig.midi.setCycles(101, 101);
    rig.queueMackie(makeLayers(8), {});
    rig.settle();
    Packets expected;
    press(expected, mackie::kBankLeft, 33);
    EXPECT_EQ(rig.midi.heardPackets(newcomer), expected);
}
