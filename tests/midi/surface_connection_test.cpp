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
