// Mute output per DAW host: Logic Pro / MainStage (each unit banks on its own, CC mutes carry the
// state) and Ardour (main unit and extender bank as one group of 16 strips, CC mutes toggle).
#include "midi/ardour_midi_map.h"
#include "midi_rig.h"

#include <array>
#include <gtest/gtest.h>

using namespace strata;
using namespace strata::testing;

namespace {

bool heardChannelRight(MidiRig& rig) {
    for (const auto& p : rig.heard())
        if (p == Bytes{mackie::kNoteOn, mackie::kChannelRight, mackie::kPressVelocity})
            return true;
    return false;
}

// Runs the main loop a millisecond at a time until `done` holds (at most five seconds).
template <typename Done>
bool runUntil(MidiRig& rig, Done done) {
    for (int i = 0; i < 5000; ++i) {
        rig.settle();
        if (done())
            return true;
        rig.loop.advance(std::chrono::milliseconds(1));
    }
    return false;
}

} // namespace

TEST(DawHostMackie, BankingSequencesPerHostOffsetAndExtender) {
    // Per offset 0, 8, 16, 24: the main unit's bank-right and channel-right presses after its
    // return to the first bank, and the extender's bank-right presses (-1: its bank is not moved).
    struct Row {
        DawHost host;
        bool extender;
        std::array<int, 4> right, channelRight, rightXT;
    };
    const Row rows[] = {
        {DawHost::logic, false, {0, 1, 2, 3}, {0, 0, 0, 0}, {-1, -1, -1, -1}},
        {DawHost::logic, true, {0, 1, 2, 3}, {0, 0, 0, 0}, {1, 2, 3, 4}},
        {DawHost::ardour, false, {0, 1, 2, 3}, {0, 0, 0, 0}, {-1, -1, -1, -1}},
        // One group of 16 strips, banked from the main unit: banks of 16, then channel moves.
        {DawHost::ardour, true, {0, 0, 1, 1}, {0, 8, 0, 8}, {-1, -1, -1, -1}},
    };
    for (const Row& row : rows) {
        for (std::size_t i = 0; i < 4; ++i) {
            const auto offset = static_cast<std::int64_t>(8 * i);
            SCOPED_TRACE(std::string(rawValue(row.host)) + (row.extender ? " with" : " without") +
                         " extender, offset " + std::to_string(offset));
            MidiRig rig;
            const auto layers = makeLayers(row.extender ? 12 : 4);
            const auto muted = row.extender ? idsAt(layers, {1, 9}) : idsAt(layers, {1});
            rig.push(layers, muted, ControlMode::mackieControl, row.host, offset);

            Packets main = bankMove(row.right[i]);
            press(main, mackie::kChannelRight, row.channelRight[i]);
            press(main, mute(1));
            Packets xt;
            if (row.rightXT[i] >= 0)
                xt = bankMove(row.rightXT[i]);
            if (row.extender)
                press(xt, mute(1)); // layer 10: the extender's second strip
            EXPECT_EQ(rig.heard(), main);
            EXPECT_EQ(rig.heardXT(), xt);
            EXPECT_EQ(rig.service->mackieShadow().bankPositionedAt, offset);
        }
    }
}

TEST(DawHostMackie, ArdourChannelMovesFollowTheSettledBankAndTheLedsAfterThemCount) {
    MidiRig rig;
    const auto layers = makeLayers(12);
    // Wanted at offset 24: layers 1 and 10 muted.
    rig.service->sendSectionState(layers, idsAt(layers, {0, 9}), ControlMode::mackieControl,
                                  std::nullopt, 24, DawHost::ardour);
    rig.settle();
    EXPECT_EQ(rig.heard(), bankMove(1));
    EXPECT_TRUE(rig.heardXT().empty());
    EXPECT_TRUE(rig.service->mackieShadow().settling[0]);

    // The group now shows tracks 17-32; the host says track 17 and track 26 are muted. That is
    // about tracks the strips will not show once the channel moves are done.
    const MidiRef feedback = rig.service->virtualDestinationRef(false);
    const MidiRef feedbackXT = rig.service->virtualDestinationRef(true);
    rig.midi.sendToDestination(feedback, {ledReport({0})});
    rig.midi.sendToDestination(feedbackXT, {ledReport({1})});

    // The channel moves go out once the bank has settled, and start a settle of their own.
    ASSERT_TRUE(runUntil(rig, [&] { return heardChannelRight(rig); }));
    Packets expected = bankMove(1);
    press(expected, mackie::kChannelRight, 8);
    EXPECT_EQ(rig.heard(), expected);
    EXPECT_TRUE(rig.settling());

    // Tracks 25-40 now: 28 and 34 are muted.
    rig.midi.sendToDestination(feedback, {ledReport({3})});
    rig.midi.sendToDestination(feedbackXT, {ledReport({1})});
    rig.settleBanks();
    press(expected, mute(0)); // mute track 25
    press(expected, mute(3)); // unmute track 28
    EXPECT_EQ(rig.heard(), expected);
    EXPECT_TRUE(rig.heardXT().empty()) << "track 34 is muted already";

    // A reset back to the same place moves the group again, the extender never; the host's
    // reports after the channel moves say the tracks are as wanted.
    rig.midi.clearHeard();
    rig.service->resetMackieShadow();
    rig.service->sendSectionState(layers, idsAt(layers, {0, 9}), ControlMode::mackieControl,
                                  std::nullopt, 24, DawHost::ardour);
    ASSERT_TRUE(runUntil(rig, [&] { return heardChannelRight(rig); }));
    rig.midi.sendToDestination(feedback, {ledReport({0})});
    rig.midi.sendToDestination(feedbackXT, {ledReport({1})});
    rig.settleBanks();
    expected = bankMove(1);
    press(expected, mackie::kChannelRight, 8);
    EXPECT_EQ(rig.heard(), expected);
    EXPECT_TRUE(rig.heardXT().empty());
}

// CC mutes on Ardour toggle: a send presses 127 only for the layers whose state changes. Here the
// host gives no feedback: a toggle counts as done once its answer could have come.
TEST(DawHostCC, ArdourTogglesOnlyWhatChangesThroughAWalkWithPanicAndResync) {
    MidiRig rig;
    const MidiRef synth = rig.midi.addDestination("Synth");
    auto layers = makeLayers(4);
    for (std::size_t i = 0; i < layers.size(); ++i) {
        layers[i].portName = "Synth";
        layers[i].channel = static_cast<std::int64_t>(i) + 1; // CC 20+i on channel i+1
    }
    const auto step = [&](std::initializer_list<std::size_t> muted) {
        rig.loop.advance(MidiService::kEchoHold);
        rig.midi.clearHeard();
        rig.push(layers, idsAt(layers, muted), ControlMode::ccMute, DawHost::ardour);
        return rig.midi.receivedBy(synth);
    };

    EXPECT_EQ(step({1, 3}), ccToggles({1, 3}));
    EXPECT_EQ(step({1, 3}), Packets{});
    EXPECT_EQ(step({3, 0}), ccToggles({0, 1}));

    // The panic toggles what is believed muted, and nothing else.
    rig.loop.advance(MidiService::kEchoHold);
    rig.midi.clearHeard();
    rig.service->panicAllOn(layers, ControlMode::ccMute, std::nullopt, 0, DawHost::ardour);
    EXPECT_EQ(rig.midi.receivedBy(synth), ccToggles({0, 3}));
    EXPECT_EQ(step({0}), ccToggles({0}));

    // Resetting the Mackie shadow (mode, port, bank, feature level) keeps the CC state.
    rig.service->resetMackieShadow();
    EXPECT_EQ(step({0}), Packets{});
    // "Resync CC mutes": every track is taken to sound again.
    rig.service->resyncCCMutes();
    EXPECT_EQ(step({0}), ccToggles({0}));
}

// The host's echoes: what answers our own toggle, and what does not.
TEST(DawHostCC, ArdourEchoesAnswerOurTogglesOrAreChangesByHand) {
    MidiRig rig;
    const MidiRef synth = rig.midi.addDestination("Synth");
    const MidiRef synthOut = rig.plugSource("Synth");
    auto layers = makeLayers(2);
    for (auto& l : layers)
        l.portName = "Synth"; // CC 20 and 21 on channel 1
    const Bytes toggle20{0xB0, 20, 0x7F}, toggle21{0xB0, 21, 0x7F};
    const auto sent = [&] {
        rig.settle();
        auto out = rig.midi.receivedBy(synth);
        rig.midi.clearHeard();
        return out;
    };
    const auto push = [&](std::initializer_list<std::size_t> muted) {
        rig.service->sendSectionState(layers, idsAt(layers, muted), ControlMode::ccMute,
                                      std::nullopt, 0, DawHost::ardour);
        return sent();
    };
    const auto echo = [&](std::uint8_t cc, bool muted) {
        rig.midi.sendFromSource(synthOut, {{0xB0, cc, static_cast<std::uint8_t>(muted ? 127 : 0)}});
        return sent();
    };

    // The track was muted already: our toggle unmuted it, and its answer says so. One more press,
    // and that press's answer is taken as it is, whatever it says: nothing can loop.
    EXPECT_EQ(push({0}), Packets{toggle20});
    EXPECT_EQ(echo(20, false), Packets{toggle20});
    EXPECT_EQ(echo(20, false), Packets{});
    EXPECT_EQ(echo(20, false), Packets{}) << "no toggle of ours is waiting: a change by hand";
    // The next state presses again (once).
    EXPECT_EQ(push({0}), Packets{toggle20});
    EXPECT_EQ(echo(20, true), Packets{}) << "answered as asked";

    // A change by hand stays until a section asks for something else.
    EXPECT_EQ(echo(21, true), Packets{});
    EXPECT_EQ(push({0, 1}), Packets{});
    EXPECT_EQ(push({0}), Packets{toggle21});
    EXPECT_EQ(echo(21, false), Packets{});

    // While a toggle waits for its answer, the next toggle of that CC waits for it too...
    EXPECT_EQ(push({}), Packets{toggle20});
    EXPECT_EQ(push({0}), Packets{});
    EXPECT_EQ(echo(20, false), Packets{toggle20}) << "answered: the state asked meanwhile goes";
    EXPECT_EQ(echo(20, true), Packets{});
    // ... or, when no answer comes, until the wait for it is over.
    EXPECT_EQ(push({}), Packets{toggle20});
    EXPECT_EQ(push({0}), Packets{});
    rig.loop.advance(MidiService::kEchoHold - std::chrono::milliseconds(1));
    EXPECT_EQ(sent(), Packets{});
    rig.loop.advance(std::chrono::milliseconds(1));
    EXPECT_EQ(sent(), Packets{toggle20});
}

// In cycles of a millisecond, from cycle 10. What counts about an echo is the cycle it was read
// in, however late the input thread hands it on; and a toggle sent ahead is answered only by what
// is read once it is due.
TEST(DawHostCC, AnEchoCountsByWhenItWasReadAgainstWhenTheToggleWentOut) {
    struct Row {
        const char* what;
        std::optional<int> dueInMs; // the toggle sent ahead, due this long after the send
        Duration handedOnAfter;     // from the send
        std::uint64_t readIn;       // the cycle the echo was read in; 0: as it is handed on
        bool pressedAgain;
    };
    const auto late = MidiService::kEchoHold + std::chrono::milliseconds(50);
    const Row rows[] = {
        // The input thread is busy: the echo is handed on after the wait for it is over.
        {"read two cycles after the toggle: the track was muted already", {}, late, 12, true},
        {"read after the wait: a change by hand", {}, late, 0, false},
        // The track was muted already, so the DAW's own report says "unmuted" once the toggle
        // has gone out.
        {"read before the toggle is due: a report of the state before it", 15,
         std::chrono::milliseconds(5), 0, false},
        {"read after: the answer, the track was muted already", 15, std::chrono::milliseconds(17),
         0, true},
    };
    const Bytes toggle20{0xB0, 20, 0x7F};
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        MidiRig rig;
        rig.midi.runInCycles(std::chrono::milliseconds(1));
        rig.midi.setCycles(10, 10);
        rig.midi.recordTimedSends();
        const MidiRef synth = rig.midi.addDestination("Synth");
        const MidiRef synthOut = rig.plugSource("Synth");
        auto layers = makeLayers(1);
        layers[0].portName = "Synth"; // CC 20 on channel 1
        std::optional<TimePoint> due;
        if (row.dueInMs)
            due = rig.loop.now() + std::chrono::milliseconds(*row.dueInMs);
        rig.service->sendSectionState(layers, idsAt(layers, {0}), ControlMode::ccMute, std::nullopt,
                                      0, DawHost::ardour, due);
        rig.settle();
        const auto timed = rig.midi.timedSends();
        ASSERT_EQ(timed.size(), 1u);
        EXPECT_EQ(timed[0].bytes, toggle20);
        EXPECT_EQ(timed[0].due, due);
        rig.midi.clearHeard();

        rig.loop.advance(row.handedOnAfter);
        const auto cycle =
            10 + static_cast<std::uint64_t>(row.handedOnAfter / std::chrono::milliseconds(1));
        rig.midi.setCycles(cycle, cycle, row.readIn);
        rig.midi.sendFromSource(synthOut, {{0xB0, 20, 0}});
        rig.settle();
        EXPECT_EQ(rig.midi.receivedBy(synth), row.pressedAgain ? Packets{toggle20} : Packets{});
    }
}

// The generated binding map binds a channel + CC to the first layer that uses it, whatever its
// port; the output drives that layer alone.
TEST(DawHostCC, AChannelAndCCThatTwoLayersShareDrivesOnlyTheFirstAsTheMapBindsIt) {
    MidiRig rig;
    const MidiRef synth = rig.midi.addDestination("Synth");
    auto layers = makeLayers(3);
    layers[0].portName = "Strata"; // channel 1, CC 20
    layers[1].portName = "Synth";
    layers[1].muteCC = 20; // channel 1, CC 20 as well, on another port
    layers[2].portName = "Synth";
    layers[2].channel = 2;
    layers[2].muteCC = 20; // channel 2: its own binding
    Setlist set;
    set.layers = layers;
    const std::string map = ArdourMidiMap::generate(set);
    EXPECT_NE(map.find("uses CC 20 on channel 1 like layer 1: not bound"), std::string::npos);
    EXPECT_NE(map.find(R"(<Binding channel="2" ctl="20" uri="/route/mute 3"/>)"),
              std::string::npos);

    rig.loop.advance(MidiService::kConnectionSettle);
    rig.push(layers, idsAt(layers, {0, 1, 2}), ControlMode::ccMute, DawHost::ardour);
    EXPECT_EQ(rig.heard(), (Packets{{0xB0, 20, 0x7F}}));
    EXPECT_EQ(rig.midi.receivedBy(synth), (Packets{{0xB1, 20, 0x7F}}));
}

TEST(DawHostCC, EchoesComeFromOurOwnDestinationsOrFromTheSameDevice) {
    MidiRig rig;
    const MidiRef ardourIn = rig.midi.addDestination("ardour:MIDI Control In");
    rig.midi.notifySetupChanged();
    rig.loop.runPending();
    auto layers = makeLayers(3);
    layers[0].portName = "Strata";
    layers[1].portName = "ardour:MIDI Control In";
    layers[2].portName = "ardour:MIDI Control In";
    layers[2].muteCC = 21; // the same CC as layer 2 on the same channel: layer 2 drives it
    rig.loop.advance(MidiService::kConnectionSettle);
    rig.push(layers, idsAt(layers, {0, 1, 2}), ControlMode::ccMute, DawHost::ardour);
    EXPECT_EQ(rig.heard(), (Packets{{0xB0, 20, 0x7F}}));
    EXPECT_EQ(rig.midi.receivedBy(ardourIn), (Packets{{0xB0, 21, 0x7F}}));
    rig.loop.advance(MidiService::kEchoHold);

    // The host unmutes both tracks by itself. Its echo for a layer on "Strata" arrives on our
    // destination of that name; for its own input port, from its output port.
    const MidiRef ardourOut = rig.plugSource("ardour:MIDI Control Out");
    const MidiRef other = rig.plugSource("Other Device");
    rig.midi.sendToDestination(rig.service->virtualDestinationRef(false), {{0xB0, 20, 0}});
    rig.midi.sendFromSource(other, {{0xB0, 21, 0}}); // another device: not an echo
    rig.settle();
    rig.midi.clearHeard();
    rig.push(layers, idsAt(layers, {0, 1, 2}), ControlMode::ccMute, DawHost::ardour);
    EXPECT_EQ(rig.heard(), (Packets{{0xB0, 20, 0x7F}}));
    EXPECT_TRUE(rig.midi.receivedBy(ardourIn).empty());

    rig.midi.sendFromSource(ardourOut, {{0xB0, 21, 0}});
    rig.settle();
    rig.push(layers, idsAt(layers, {0, 1, 2}), ControlMode::ccMute, DawHost::ardour);
    EXPECT_EQ(rig.midi.receivedBy(ardourIn), (Packets{{0xB0, 21, 0x7F}}));
}

// Ardour quits and starts again: toggles meanwhile reached nobody, and what we believed of its
// tracks is gone with it. Once it is back it is brought to the section.
TEST(DawHostCC, ADestinationThatComesBackIsBroughtToTheSection) {
    MidiRig rig;
    const auto plugArdour = [&] {
        const MidiRef ref = rig.midi.addDestination("ardour:MIDI Control In");
        rig.midi.notifySetupChanged();
        rig.settle();
        return ref;
    };
    MidiRef ardourIn = plugArdour();
    auto layers = makeLayers(2);
    for (auto& l : layers)
        l.portName = "ardour:MIDI Control In";
    rig.push(layers, idsAt(layers, {0}), ControlMode::ccMute, DawHost::ardour);
    EXPECT_EQ(rig.midi.receivedBy(ardourIn), (Packets{{0xB0, 20, 0x7F}}));
    rig.loop.advance(MidiService::kEchoHold);

    rig.midi.removeEndpoint(ardourIn);
    rig.midi.notifySetupChanged();
    rig.settle();
    rig.push(layers, idsAt(layers, {0, 1}), ControlMode::ccMute, DawHost::ardour);
    ardourIn = plugArdour();
    EXPECT_EQ(rig.midi.receivedBy(ardourIn), (Packets{{0xB0, 20, 0x7F}, {0xB0, 21, 0x7F}}));
}

TEST(DawHostCC, ADawThatHasJustConnectedIsToggledOnlyAfterItsEchoes) {
    MidiRig rig; // the DAW connects to "Strata" as the rig starts
    auto layers = makeLayers(2);
    for (auto& l : layers)
        l.portName = "Strata";
    rig.service->sendSectionState(layers, idsAt(layers, {1}), ControlMode::ccMute, std::nullopt, 0,
                                  DawHost::ardour);
    rig.settle();
    EXPECT_TRUE(rig.heard().empty());
    EXPECT_TRUE(rig.settling());
    // Its session has track 1 muted, and it says so.
    rig.midi.sendToDestination(rig.service->virtualDestinationRef(false), {{0xB0, 20, 127}});
    const Duration waited = rig.settleBanks();
    EXPECT_GE(waited, MidiService::kConnectionSettle);
    EXPECT_EQ(rig.heard(), (Packets{{0xB0, 20, 0x7F}, {0xB0, 21, 0x7F}}));
}
