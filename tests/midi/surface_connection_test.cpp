#include "midi_rig.h"

#include <gtest/gtest.h>

using namespace strata;
using namespace strata::testing;

TEST(SurfaceConnection, ADawConnectingLaterIsBroughtToTheCurrentStateFromWhatItReports) {
    struct Case {
        const char* what;
        Bytes report; // the newcomer's LEDs, sent while the bank settles
        Packets presses;
    };
    Packets muteFirst;
    press(muteFirst, mute(0));
    Packets unmuteSecond;
    press(unmuteSecond, mute(1));
    for (const Case& c :
         {Case{"nothing muted there", ledReport({}), muteFirst},
          Case{"its session has track 1 and 2 muted", ledReport({0, 1}), unmuteSecond},
          Case{"it reports nothing", {}, muteFirst}}) {
        MidiRig rig;
        const auto layers = makeLayers(9);
        rig.push(layers, idsAt(layers, {0, 8}));
        rig.midi.clearHeard();

        // A DAW restarts and connects to "Strata" again: that unit is forgotten, its bank is
        // positioned again and, once the DAW's own report is in, what differs is pressed.
        const auto newcomer = rig.midi.listen(rig.service->virtualSourceRef(false));
        rig.settle();
        EXPECT_EQ(rig.midi.heardPackets(newcomer), bankMove(0)) << c.what;
        EXPECT_TRUE(rig.service->mackieShadow().settling[0]) << c.what;
        if (!c.report.empty())
            rig.midi.sendToDestination(rig.service->virtualDestinationRef(false), {c.report});
        const Duration waited = rig.settleBanks();
        EXPECT_GE(waited, MidiService::kConnectionSettle) << c.what;
        Packets expected = bankMove(0);
        expected.insert(expected.end(), c.presses.begin(), c.presses.end());
        EXPECT_EQ(rig.midi.heardPackets(newcomer), expected) << c.what;
        EXPECT_TRUE(rig.heardXT().empty()) << "the extender is left alone: " << c.what;
    }
}

TEST(SurfaceConnection, TheExtenderIsBroughtUpToDateOnItsOwn) {
    MidiRig rig;
    const auto layers = makeLayers(10);
    rig.push(layers, idsAt(layers, {9}));
    rig.midi.clearHeard();
    const auto newcomer = rig.midi.listen(rig.service->virtualSourceRef(true));
    rig.settleBanks();
    Packets expected = bankMove(1);
    press(expected, mute(1));
    EXPECT_EQ(rig.midi.heardPackets(newcomer), expected);
    EXPECT_TRUE(rig.heard().empty());

    // With eight layers or fewer the extender is not used: a connection to it sends nothing.
    rig.push(makeLayers(3), {});
    rig.midi.clearHeard();
    rig.midi.listen(rig.service->virtualSourceRef(true));
    rig.settleBanks();
    EXPECT_TRUE(rig.heardXT().empty());
    EXPECT_TRUE(rig.heard().empty());
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

// Its changes reaching the toolbar: the toolbar's QML test.
TEST(SurfaceConnection, AnEngineStartedWithoutMidiSaysSo) {
    MemoryMidiProbe gone;
    gone.setAvailable(false);
    VirtualMainLoop loop;
    MemorySettings settings;
    MidiService service(gone, loop, settings);
    EXPECT_FALSE(service.midiAvailable.get());
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
        rig.service->sendSectionState(layers, {}, ControlMode::mackieControl, std::nullopt,
                                      c.offset);
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
    rig.service->sendSectionState(makeLayers(8), {}, ControlMode::mackieControl, std::nullopt, 0);
    rig.settle();
    Packets expected;
    press(expected, mackie::kBankLeft, 33);
    EXPECT_EQ(rig.midi.heardPackets(newcomer), expected);
}
