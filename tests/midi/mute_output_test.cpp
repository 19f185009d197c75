#include "midi_rig.h"

#include <gtest/gtest.h>
#include <limits>

using namespace strata;
using namespace strata::testing;

TEST(MackieOutput, FirstSendMovesTheBankThenPressesWhatDiffersFromTheLedsTheDawReports) {
    MidiRig rig;
    const auto layers = makeLayers(5);
    rig.queueMackie(layers, idsAt(layers, {1, 3}));
    rig.settle();
    // The bank moves go out at once; the presses that depend on them wait for the bank to settle.
    EXPECT_EQ(rig.heard(), bankMove(0));
    EXPECT_TRUE(rig.service->mackieShadow().settling[0]);
    // The DAW's session has tracks 2 and 3 muted already; it says so after the bank move, before
    // the presses.
    rig.midi.sendToDestination(rig.service->virtualDestinationRef(false), {ledReport({1, 2})});
    // The DAW connected just before: its full-state report is awaited, whatever arrives first.
    EXPECT_GE(rig.settleBanks(), MidiService::kConnectionSettle);

    Packets expected = bankMove(0);
    press(expected, mute(2)); // unmute track 3
    press(expected, mute(3)); // mute track 4; track 2 is muted already
    EXPECT_EQ(rig.heard(), expected);
    EXPECT_TRUE(rig.heardXT().empty());

    const auto shadow = rig.service->mackieShadow();
    EXPECT_EQ(shadow.bankPositionedAt, 0);
    EXPECT_FALSE(shadow.bankPositionedAtXT);
    EXPECT_EQ(shadow.muted[1], true);
    EXPECT_EQ(shadow.muted[2], false);
    EXPECT_EQ(shadow.muted[3], true);

    // The same state again sends nothing at all; a change presses only what differs, at once.
    rig.midi.clearHeard();
    rig.queueMackie(layers, idsAt(layers, {1, 3}));
    rig.settle();
    EXPECT_TRUE(rig.heard().empty());
    rig.queueMackie(layers, idsAt(layers, {3, 4}));
    rig.settle();
    EXPECT_EQ(rig.heard(), presses({mute(1), mute(4)}));
    EXPECT_FALSE(rig.settling());
}

TEST(MackieOutput, ASettleWaitsForTheBankReportALaggingInputThreadStillHolds) {
    // A MIDI system that runs in cycles of a millisecond, whose input thread the machine may
    // hold back: it hands on what the cycles read only up to `delivered`.
    MidiRig rig;
    rig.midi.runInCycles(std::chrono::milliseconds(1));
    std::uint64_t cycles = 0;
    std::uint64_t delivered = 0;
    const auto run = [&](int ms, bool inputKeepsUp) {
        for (int i = 0; i < ms; ++i) {
            rig.loop.advance(std::chrono::milliseconds(1));
            ++cycles;
            if (inputKeepsUp)
                delivered = cycles;
            rig.midi.setCycles(cycles, delivered);
            rig.settle();
        }
    };
    const MidiRef feedback = rig.service->virtualDestinationRef(false);
    const auto layers = makeLayers(8);
    rig.queueMackie(layers, {});
    rig.settle();
    rig.midi.sendToDestination(feedback, {ledReport({})});
    run(400, true);
    ASSERT_FALSE(rig.settling());

    // Tracks 9-16 next; the DAW has track 9 muted already and says so a cycle after the bank
    // has moved, but the input thread is held back well beyond the settle's time, nearly to its
    // limit (the limit itself: MackieSettle.EndsAndSendsWhatWaitedWhileTheMainLoopIsHeld).
    rig.midi.clearHeard();
    rig.service->resetMackieShadow();
    rig.queueMackie(layers, idsAt(layers, {0}), 8);
    rig.settle();
    const auto limit =
        std::chrono::duration_cast<std::chrono::milliseconds>(MidiService::kSettleLimit);
    run(static_cast<int>(limit.count()) - 50, false);
    EXPECT_TRUE(rig.settling()) << "the bank's report has not reached the queue";
    EXPECT_EQ(rig.heard(), bankMove(1));

    // The report goes through; the settle ends on it, and track 9 is left as it is.
    rig.midi.sendToDestination(feedback, {ledReport({0})});
    run(10, true);
    EXPECT_FALSE(rig.settling());
    EXPECT_EQ(rig.heard(), bankMove(1));
}

TEST(MackieOutput, ASettleOutlastsAServerStalledWithItsBankMovesStillWaiting) {
    // In cycles of a millisecond; the server stalls, far beyond the settle's limit, while the bank
    // moves still wait to go out.
    MidiRig rig;
    rig.midi.runInCycles(std::chrono::milliseconds(1));
    rig.midi.setCycles(10, 10); // the DAW connected well before
    rig.midi.holdOutput(true);
    const auto layers = makeLayers(8);
    rig.queueMackie(layers, idsAt(layers, {0}), 8);
    rig.settle();
    for (int ms = 0; ms < 5000; ++ms) {
        rig.loop.advance(std::chrono::milliseconds(1));
        rig.settle();
    }
    EXPECT_TRUE(rig.settling());
    EXPECT_EQ(rig.heard(), bankMove(1));

    // It runs again: the moves go out, and the DAW says that track 9 is muted already.
    rig.midi.holdOutput(false);
    rig.midi.sendToDestination(rig.service->virtualDestinationRef(false), {ledReport({0})});
    for (std::uint64_t cycle = 1; cycle <= 400; ++cycle) {
        rig.loop.advance(std::chrono::milliseconds(1));
        rig.midi.setCycles(cycle, cycle);
        rig.settle();
    }
    EXPECT_FALSE(rig.settling());
    EXPECT_EQ(rig.heard(), bankMove(1));
}

TEST(MackieOutput, SectionChangesDuringASettleEndInTheLatestState) {
    MidiRig rig;
    const auto layers = makeLayers(4);
    rig.queueMackie(layers, idsAt(layers, {0}));
    rig.queueMackie(layers, idsAt(layers, {1}));
    rig.settle();
    rig.queueMackie(layers, idsAt(layers, {1, 2}));
    rig.settleBanks();
    Packets expected = bankMove(0);
    press(expected, mute(1));
    press(expected, mute(2));
    EXPECT_EQ(rig.heard(), expected);

    // After a reset to another bank: a program change on the way is not held back by the
    // settle, and the strips of the new bank start unknown.
    const MidiRef synth = rig.midi.addDestination("Synth");
    rig.midi.clearHeard();
    rig.service->resetMackieShadow();
    rig.queueMackie(layers, idsAt(layers, {3}), 8);
    rig.service->sendProgramChange(5, 1, "Synth");
    rig.settle();
    EXPECT_EQ(rig.midi.receivedBy(synth), (Packets{{0xC0, 5}}));
    EXPECT_EQ(rig.heard(), bankMove(1));
    EXPECT_TRUE(rig.settling());
    rig.settleBanks();
    expected = bankMove(1);
    press(expected, mute(3));
    EXPECT_EQ(rig.heard(), expected);
}

TEST(MackieOutput, OnlyTheFirstSixteenOfTwentyLayersArePressed) {
    MidiRig rig;
    const auto layers = makeLayers(20);
    UuidSet all;
    for (const auto& l : layers)
        all.insert(l.id);
    rig.sendMackie(layers, all);
    Packets main = bankMove(0);
    Packets xt = bankMove(1);
    for (std::uint8_t note = mute(0); note <= mute(7); ++note) {
        press(main, note);
        press(xt, note);
    }
    EXPECT_EQ(rig.heard(), main);
    EXPECT_EQ(rig.heardXT(), xt);
}

TEST(MackieOutput, OffsetsRoundTowardZeroToABankAndNeverBelowTheFirst) {
    struct Case {
        std::int64_t offset;
        int rightPresses;
        std::int64_t stored;
    };
    for (const Case c :
         {Case{-5, 0, 0}, Case{3, 0, 0}, Case{15, 1, 8}, Case{-9, 0, 0}, Case{64, 8, 64},
          // A corrupt offset is held to the last bank a session can have.
          Case{std::numeric_limits<std::int64_t>::max(), 256, MidiService::kMaxBankOffset}}) {
        MidiRig rig;
        rig.sendMackie(makeLayers(2), {}, c.offset);
        EXPECT_EQ(rig.heard(), bankMove(c.rightPresses)) << c.offset;
        EXPECT_EQ(rig.service->mackieShadow().bankPositionedAt, c.stored) << c.offset;
    }
}

TEST(MackieOutput, MainSurfacePortFallsBackToStrataAndCanBeADevice) {
    MidiRig rig;
    const MidiRef device = rig.midi.addDestination("Surface Box");
    const auto layers = makeLayers(1);
    rig.sendMackie(layers, idsAt(layers, {0}), 0, std::string());
    Packets expected = bankMove(0);
    press(expected, mute(0));
    EXPECT_EQ(rig.heard(), expected);

    // Another surface: what was known of the strips of "Strata" says nothing about it.
    rig.service->resetMackieShadow();
    rig.midi.clearHeard();
    rig.sendMackie(layers, idsAt(layers, {0}), 0, std::string("Surface Box"));
    EXPECT_TRUE(rig.heard().empty());
    EXPECT_EQ(rig.midi.receivedBy(device), expected);
}

TEST(MackieOutput, ResetRepositionsTheBanksAndKeepsWhatIsKnownOfTheSameTracks) {
    // A DAW resends nothing for bank presses that do not move its bank, so after a reset the
    // shadow of strips that show the same tracks again is kept (pressing them from an emptied
    // shadow would unmute tracks that are muted); strips that will show other tracks start
    // unknown, with or without a reset, and their mutes are pressed again.
    struct Case {
        bool reset;
        std::int64_t offsetAfter;
        Packets main, xt;
    };
    Packets movedMain = bankMove(1), movedXT = bankMove(2);
    press(movedMain, mute(0));
    press(movedXT, mute(0));
    for (const Case& c : {Case{true, 0, bankMove(0), bankMove(1)},
                          Case{true, 8, movedMain, movedXT}, Case{false, 8, movedMain, movedXT}}) {
        SCOPED_TRACE(std::string(c.reset ? "reset, " : "") + "offset " +
                     std::to_string(c.offsetAfter));
        MidiRig rig;
        const auto layers = makeLayers(9);
        rig.sendMackie(layers, idsAt(layers, {0, 8}));
        if (c.reset)
            rig.service->resetMackieShadow();
        rig.midi.clearHeard();
        rig.sendMackie(layers, idsAt(layers, {0, 8}), c.offsetAfter);
        EXPECT_EQ(rig.heard(), c.main);
        EXPECT_EQ(rig.heardXT(), c.xt);
    }
}

TEST(MackieOutput, PanicReleasesEveryMutedSlotAndReturnsWhenSent) {
    struct Case {
        DawHost host;
        std::size_t layers;
        std::int64_t offset;
        std::vector<std::size_t> muted;
        Packets main, xt;
    };
    const Case cases[] = {
        // The extender is always positioned by the panic, however many layers there are.
        {DawHost::logic, 5, 0, {0, 4}, presses({mute(0), mute(4)}), bankMove(1)},
        // Ardour banks both units as one group from the main unit: the panic never presses the
        // extender's bank buttons.
        {DawHost::ardour, 4, 8, {0}, presses({mute(0)}), {}},
        {DawHost::ardour, 12, 8, {0, 9}, presses({mute(0)}), presses({mute(1)})},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(rawValue(c.host)) + ", " + std::to_string(c.layers) + " layers");
        MidiRig rig;
        const auto layers = makeLayers(c.layers);
        rig.push(layers, idsAt(layers, c.muted), ControlMode::mackieControl, c.host, c.offset);
        rig.midi.clearHeard();

        // No drain: the panic has run on the queue by the time it returns.
        rig.service->panicAllOn(layers, ControlMode::mackieControl, std::nullopt, c.offset, c.host);
        EXPECT_EQ(rig.midi.heardPackets(rig.daw), c.main);
        EXPECT_EQ(rig.midi.heardPackets(rig.dawXT), c.xt);
        const auto shadow = rig.service->mackieShadow();
        for (const std::size_t slot : c.muted)
            EXPECT_EQ(shadow.muted[slot], false) << slot;

        // With nothing muted it only moves banks that are not in place: here, none.
        rig.midi.clearHeard();
        rig.service->panicAllOn(layers, ControlMode::mackieControl, std::nullopt, c.offset, c.host);
        rig.settleBanks();
        EXPECT_TRUE(rig.heard().empty());
        EXPECT_TRUE(rig.heardXT().empty());
    }
}

TEST(CCMuteOutput, EveryLayerEveryTimeWithClampedChannelsAndDefaultNumbers) {
    MidiRig rig;
    const MidiRef synth = rig.midi.addDestination("Synth");
    auto layers = makeLayers(6);
    for (auto& l : layers)
        l.portName = "Synth";
    layers[0].channel = 0;  // -> 1, CC 20 (no muteCC)
    layers[1].channel = 17; // -> 16, CC 21
    layers[2].muteCC = 200; // top bit cleared: 72
    layers[3].muteCC = 300; // no byte: skipped
    layers[4].muteCC = -1;  // no byte: skipped
    layers[5].muteCC = 7;   // stays 7
    layers[5].channel = 3;

    const auto shadowBefore = rig.service->mackieShadow();
    for (int round = 0; round < 2; ++round) {
        rig.service->sendSectionState(layers, idsAt(layers, {1, 5}), ControlMode::ccMute,
                                      std::nullopt, 0);
        rig.settle();
    }
    const Packets once{{0xB0, 20, 127}, {0xBF, 21, 0}, {0xB0, 72, 127}, {0xB2, 7, 0}};
    Packets twice = once;
    twice.insert(twice.end(), once.begin(), once.end());
    EXPECT_EQ(rig.midi.receivedBy(synth), twice);
    EXPECT_TRUE(rig.heard().empty());
    const auto shadowAfter = rig.service->mackieShadow();
    EXPECT_EQ(shadowAfter.muted, shadowBefore.muted);
    EXPECT_EQ(shadowAfter.bankPositionedAt, shadowBefore.bankPositionedAt);

    // The panic sends every layer sounding.
    rig.midi.clearHeard();
    rig.service->panicAllOn(layers, ControlMode::ccMute, std::nullopt, 0);
    EXPECT_EQ(rig.midi.receivedBy(synth),
              (Packets{{0xB0, 20, 127}, {0xBF, 21, 127}, {0xB0, 72, 127}, {0xB2, 7, 127}}));
}

// A row left on "No port" must not end up anywhere: not on the surface, not on a device that
// happens to have no name, and the MIDI light must not claim that something went out.
TEST(CCMuteOutput, ARowWithoutAPortSendsNothingAnywhere) {
    struct Row {
        DawHost host;
        Packets synthHears; // the layer that has a port: muted, sounding, then the panic
    };
    const std::vector<Row> rows{
        {DawHost::logic, {{0xB0, 21, 0}, {0xB0, 21, 127}, {0xB0, 21, 127}}},
        // Toggles: one to mute, one to sound again; the panic finds it sounding already.
        {DawHost::ardour, {{0xB0, 21, 127}, {0xB0, 21, 127}}},
    };
    for (const auto& [host, synthHears] : rows) {
        SCOPED_TRACE(rawValue(host));
        MidiRig rig;
        const MidiRef nameless = rig.midi.addDestination("");
        const MidiRef synth = rig.midi.addDestination("Synth");
        rig.settle();
        auto layers = makeLayers(2);
        layers[1].portName = "Synth";
        for (const UuidSet& muted : {idsAt(layers, {0, 1}), UuidSet{}}) {
            rig.service->sendSectionState(layers, muted, ControlMode::ccMute, std::nullopt, 0,
                                          host);
            rig.settle();
            // Ardour's next toggle of a CC waits for the answer to the last, or for this long.
            rig.loop.advance(MidiService::kEchoHold);
            rig.settle();
        }
        rig.service->panicAllOn(layers, ControlMode::ccMute, std::nullopt, 0, host);
        EXPECT_EQ(rig.midi.receivedBy(synth), synthHears);
        EXPECT_TRUE(rig.midi.receivedBy(nameless).empty());
        EXPECT_TRUE(rig.heard().empty());
    }

    MidiRig rig;
    const MidiRef nameless = rig.midi.addDestination("");
    rig.settle();
    rig.service->sendProgramChange(5, 1, "");
    rig.service->sendControlChange(7, 64, 1, "");
    rig.settle();
    EXPECT_TRUE(rig.midi.receivedBy(nameless).empty());
    EXPECT_TRUE(rig.heard().empty());
    EXPECT_EQ(rig.service->lastTxAt(), std::nullopt);
}

TEST(OneOffSends, ProgramAndControlChangesAreClamped) {
    MidiRig rig;
    const MidiRef synth = rig.midi.addDestination("Synth");
    rig.service->sendControlChange(200, -3, 20, "Synth");
    rig.service->sendProgramChange(300, 0, "Synth");
    rig.service->sendProgramChange(-4, 10, "Synth");
    rig.service->sendControlChange(7, 64, 2, "Strata");
    rig.settle();
    EXPECT_EQ(rig.midi.receivedBy(synth),
              (Packets{{0xBF, 0x7F, 0x00}, {0xC0, 0x7F}, {0xC9, 0x00}}));
    EXPECT_EQ(rig.heard(), (Packets{{0xB1, 7, 64}}));
}
