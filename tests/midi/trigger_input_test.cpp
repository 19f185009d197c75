#include "midi_rig.h"
#include "model/setlist_codec.h"

#include <gtest/gtest.h>

using namespace strata;
using namespace strata::testing;

namespace {

AdvanceTrigger cc(std::string device, int number) {
    return {std::move(device), AdvanceTrigger::Kind::cc, number};
}

// Records every event of the service as text, in the order the main thread sees them.
struct TriggerRig : MidiRig {
    std::vector<std::string> events;
    ConnectionBag subscriptions;
    MidiRef fcb = plugSource("FCB1010");
    MidiRef pedal = plugSource("Pedal");

    TriggerRig() {
        subscriptions += service->advancePressed.connect([this] { events.push_back("next"); });
        subscriptions += service->jumpRequested.connect(
            [this](int key) { events.push_back("jump " + std::to_string(key)); });
        subscriptions += service->sectionAdvanceRequest.connect(
            [this](int n) { events.push_back("program " + std::to_string(n)); });
        subscriptions += service->momentRequested.connect(
            [this](const Uuid& id) { events.push_back("moment " + id.string().substr(0, 4)); });
        subscriptions +=
            service->triggerLearned.connect([this](const std::optional<AdvanceTrigger>& t) {
                events.push_back(t ? "learned " + t->label() : std::string("refused"));
            });
    }

    void setNext(std::optional<AdvanceTrigger> t) {
        service->advanceTrigger.set(std::move(t));
        service->resolveTriggerSource();
    }
    std::vector<std::string> play(MidiRef source, const Packets& packets) {
        events.clear();
        midi.sendFromSource(source, packets);
        loop.runPending();
        return events;
    }
};

using Events = std::vector<std::string>;

} // namespace

TEST(TriggerInput, JumpTriggersMatchDeviceKindAndNumberAndBeatTheNextTrigger) {
    TriggerRig rig;
    rig.service->setJumpTriggers({{2, cc("FCB1010", 27)}, {4, note("Pedal", 60)}});
    rig.setNext(cc("Pedal", 27));
    ASSERT_EQ(rig.service->footswitchSource(), rig.pedal);

    // A pedal press and release: one jump.
    EXPECT_EQ(rig.play(rig.fcb, {{0xB0, 27, 127}, {0xB0, 27, 0}}), Events{"jump 2"});
    // The same CC from the NEXT source is the NEXT press there.
    EXPECT_EQ(rig.play(rig.pedal, {{0xB5, 27, 127}}), Events{"next"});
    // A jump trigger on the NEXT source wins over NEXT; the channel never matters.
    rig.setNext(note("Pedal", 60));
    EXPECT_EQ(rig.play(rig.pedal, {{0x9F, 60, 1}}), Events{"jump 4"});
    // Velocity 0 and Note Off are releases; pressure, bend and low CC values are not presses.
    EXPECT_EQ(
        rig.play(
            rig.pedal,
            {{0x90, 60, 0}, {0x80, 60, 64}, {0xA0, 60, 90, 0xE0, 1, 2}, {0xB0, 27, 63, 0xD0, 5}}),
        Events{});
    // A note from the wrong device, a CC where a note is wanted: nothing.
    EXPECT_EQ(rig.play(rig.fcb, {{0x90, 60, 100}, {0xB0, 60, 100}}), Events{});
}

TEST(TriggerInput, EventsArriveInParseOrderAndFragmentsAreDropped) {
    TriggerRig rig;
    rig.service->setJumpTriggers({{1, note("FCB1010", 36)}, {3, note("FCB1010", 38)}});
    // Running status is not supported: 0x24 0x7F after a full message are stray data bytes.
    EXPECT_EQ(rig.play(rig.fcb, {{0xC0, 3, 0x90, 36, 100, 0x24, 0x7F, 0xF8, 0xC1, 4}}),
              (Events{"program 3", "jump 1", "program 4"}));
    // A message cut by the end of its packet is dropped and not completed by the next packet.
    EXPECT_EQ(rig.play(rig.fcb, {{0x90, 36, 100, 0x90, 38}, {100}}), Events{"jump 1"});
    // A message cut short by the next status byte is dropped; that byte starts the next message
    // (never a program or note number above 127).
    EXPECT_EQ(rig.play(rig.fcb, {{0xC0, 0xC1, 5, 0x90, 0x90, 38, 100, 0xB0, 27, 0x90, 36, 1}}),
              (Events{"program 5", "jump 3", "jump 1"}));
}

TEST(TriggerInput, InputWithoutAConnectionValueHasTheEmptyName) {
    TriggerRig rig;
    rig.service->setJumpTriggers({{5, note("", 50)}});
    rig.setNext(note("", 51));
    EXPECT_EQ(rig.service->footswitchSource(), 0u); // an empty device name is never resolved
    rig.midi.deliverToInputPort(rig.service->inputPortRef(), {{0x90, 50, 9}, {0x90, 51, 9}}, 0);
    rig.loop.runPending();
    EXPECT_EQ(rig.events, Events{"jump 5"});
}

TEST(TriggerLearning, TakesTheFirstQualifyingMessageOfAnySource) {
    struct Case {
        Packets packets;
        Events events;
        bool stillLearning;
    };
    const std::vector<Case> cases{
        {{{0x90, 40, 1, 0xB0, 12, 127}}, {"learned Note 40 · FCB1010"}, false},
        {{{0x80, 40, 1, 0x90, 41, 0, 0xB3, 12, 64}}, {"learned CC 12 · FCB1010"}, false},
        {{{0xB0, 64, 127, 0x90, 40, 1}}, {"refused"}, false},
        {{{0xB0, 64, 0}}, {}, true},
        {{{0xC0, 5}}, {"program 5"}, true},
        // A controller message cut short by a note: the note is learned, not "CC 144".
        {{{0xB0, 0x90, 40, 1}}, {"learned Note 40 · FCB1010"}, false},
        // The flag is read once per delivery: two qualifying packets give two results.
        {{{0x90, 40, 1}, {0x90, 41, 1}},
         {"learned Note 40 · FCB1010", "learned Note 41 · FCB1010"},
         false},
    };
    for (const Case& c : cases) {
        // While learning, none of them fires.
        TriggerRig rig;
        rig.service->setJumpTriggers({{0, note("FCB1010", 40)}});
        rig.service->setMomentTriggers({{Uuid::random(), note("FCB1010", 41)}});
        rig.setNext(note("FCB1010", 40));
        rig.service->isLearningTrigger.set(true);
        EXPECT_EQ(rig.play(rig.fcb, c.packets), c.events);
        EXPECT_EQ(rig.service->isLearningTrigger.get(), c.stillLearning);
        // Nothing is stored by learning itself.
        EXPECT_EQ(rig.service->advanceTrigger.get(), note("FCB1010", 40));
    }
}

TEST(NextTrigger, IsStoredLoadedAndFollowsItsDeviceAcrossSetupChanges) {
    MidiRig first;
    first.service->advanceTrigger.set(cc("Late Pedal", 80));
    first.service->persistAdvanceTrigger();
    const auto stored = first.settings.bytesValue("strataAdvanceTrigger");
    ASSERT_TRUE(stored);
    EXPECT_EQ(decodeAdvanceTrigger(std::string(stored->begin(), stored->end())),
              cc("Late Pedal", 80));

    // A later start reads it back; the device is plugged in only afterwards.
    MidiRig rig(false);
    rig.settings.setBytes("strataAdvanceTrigger", *stored);
    rig.start();
    EXPECT_EQ(rig.service->advanceTrigger.get(), cc("Late Pedal", 80));
    EXPECT_EQ(rig.service->footswitchSource(), 0u);
    int presses = 0;
    Connection c = rig.service->advancePressed.connect([&] { ++presses; });
    const MidiRef pedal = rig.plugSource("Late Pedal");
    EXPECT_EQ(rig.service->footswitchSource(), pedal);
    rig.midi.notifySetupChanged(); // connecting again does not double the input
    rig.loop.runPending();
    EXPECT_EQ(rig.midi.connectionCount(pedal), 1u);
    rig.midi.sendFromSource(pedal, {{0xB0, 80, 127}});
    rig.loop.runPending();
    EXPECT_EQ(presses, 1);

    // Unplugged: no source any more.
    rig.midi.removeEndpoint(pedal);
    rig.midi.notifySetupChanged();
    rig.loop.runPending();
    EXPECT_EQ(rig.service->footswitchSource(), 0u);

    // Forgetting the trigger removes the key.
    rig.service->advanceTrigger.set(std::nullopt);
    rig.service->persistAdvanceTrigger();
    EXPECT_FALSE(rig.settings.contains("strataAdvanceTrigger"));
}

TEST(NextTrigger, GarbageInTheStoreIsIgnoredAndKept) {
    MidiRig rig(false);
    const Bytes garbage{'{', 'n', 'o', 0xFF};
    rig.settings.setBytes("strataAdvanceTrigger", garbage);
    rig.start();
    EXPECT_FALSE(rig.service->advanceTrigger.get());
    EXPECT_EQ(rig.settings.bytesValue("strataAdvanceTrigger"), garbage);
    EXPECT_EQ(rig.settings.writeCount("strataAdvanceTrigger"), 1);
}

TEST(TriggerLearning, OurOwnSurfaceOutputIsNeverReadAsInput) {
    // The in-memory system lists our own "Strata" source like any other; a push while learning
    // must not teach Strata its own bank and mute presses.
    TriggerRig rig;
    const Layer layer;
    rig.service->isLearningTrigger.set(true);
    rig.events.clear();
    rig.sendMackie({layer}, {layer.id});
    ASSERT_FALSE(rig.heard().empty());
    EXPECT_EQ(rig.events, Events{});
    EXPECT_TRUE(rig.service->isLearningTrigger.get());
}

TEST(TriggerInput, TriggersFollowTheirDeviceToANewNumberAndNeverFireFromAnotherDevice) {
    TriggerRig rig;
    const std::string fcb24 = "a2j:FCB1010 [24] (capture): FCB1010 MIDI 1";
    MidiRef fcb = rig.plugSource(fcb24);
    const MidiRef keys = rig.plugSource("a2j:Keystation [25] (capture): Keystation MIDI 1");

    // Learning stores the device without its number.
    rig.service->isLearningTrigger.set(true);
    EXPECT_EQ(rig.play(fcb, {{0x90, 60, 100}}),
              Events{"learned Note 60 \u00B7 a2j:FCB1010 (capture): FCB1010 MIDI 1"});
    rig.setNext(note("a2j:FCB1010 (capture): FCB1010 MIDI 1", 60));
    EXPECT_TRUE(rig.service->advanceTriggerConnected.get());
    // A jump trigger stored before, under the full name of that day, and a Moment's trigger.
    const Uuid moment = Uuid::parse("C0FFEE00-0000-4000-8000-000000000000").value();
    rig.service->setJumpTriggers({{1, cc(fcb24, 27)}});
    rig.service->setMomentTriggers({{moment, note("a2j:FCB1010 (capture): FCB1010 MIDI 1", 40)}});

    // Unplugged: NEXT is not connected. Back under another client number: everything fires.
    rig.midi.removeEndpoint(fcb);
    rig.midi.notifySetupChanged();
    rig.loop.runPending();
    EXPECT_FALSE(rig.service->advanceTriggerConnected.get());
    fcb = rig.plugSource("a2j:FCB1010 [28] (capture): FCB1010 MIDI 1");
    EXPECT_TRUE(rig.service->advanceTriggerConnected.get());
    EXPECT_EQ(rig.service->footswitchSource(), fcb);
    EXPECT_TRUE(rig.service->deviceConnected(fcb24));
    EXPECT_EQ(rig.play(fcb, {{0x90, 60, 1}, {0xB0, 27, 127}, {0x90, 40, 1}}),
              (Events{"next", "jump 1", "moment C0FF"}));
    EXPECT_EQ(rig.play(keys, {{0x90, 60, 1}, {0xB0, 27, 127}, {0x90, 40, 1}}), Events{});
    EXPECT_FALSE(rig.service->deviceConnected("a2j:FCB1010 (capture): FCB1010 MIDI 2"));
}

TEST(TriggerInput, APressFiresOneThingASectionJumpBeforeAMomentBeforeNext) {
    TriggerRig rig;
    const Uuid moment = Uuid::random();
    rig.setNext(note("Pedal", 50));
    rig.service->setMomentTriggers({{moment, note("Pedal", 50)}});
    rig.service->setJumpTriggers({{3, note("Pedal", 50)}});
    EXPECT_EQ(rig.play(rig.pedal, {{0x90, 50, 1}}), Events{"jump 3"});
    rig.service->setJumpTriggers({});
    EXPECT_EQ(rig.play(rig.pedal, {{0x90, 50, 1}}),
              Events{"moment " + moment.string().substr(0, 4)});
    rig.service->setMomentTriggers({});
    EXPECT_EQ(rig.play(rig.pedal, {{0x90, 50, 1}}), Events{"next"});
}
