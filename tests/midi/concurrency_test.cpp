#include "midi_rig.h"

#include <atomic>
#include <gtest/gtest.h>
#include <thread>

using namespace strata;
using namespace strata::testing;

// Input, feedback and the main thread at once; run under ThreadSanitizer too.
TEST(Concurrency, InputFeedbackAndOutputRunTogetherConsistently) {
    MidiRig rig;
    const MidiRef pad = rig.plugSource("Pad");
    rig.midi.addDestination("Synth");
    rig.service->advanceTrigger.set(note("Pad", 61));
    rig.service->resolveTriggerSource();
    const JumpTriggerTable tableA{{1, note("Pad", 60)}}, tableB{{2, note("Pad", 60)}};
    rig.service->setJumpTriggers(tableA);

    int jumps = 0, nexts = 0;
    bool alternates = true;
    std::string last = "next";
    Connection j = rig.service->jumpRequested.connect([&](int key) {
        alternates = alternates && last == "next" && (key == 1 || key == 2);
        last = "jump";
        ++jumps;
    });
    Connection n = rig.service->advancePressed.connect([&] {
        alternates = alternates && last == "jump";
        last = "next";
        ++nexts;
    });

    const auto layers = makeLayers(5);
    // Banks in place first, so that no bank move forgets the LEDs the feedback thread sets.
    rig.sendMackie(layers, {});

    constexpr int kPresses = 400;
    std::thread input([&] {
        for (int i = 0; i < kPresses; ++i)
            rig.midi.sendFromSource(pad, {{0x90, 60, 100}, {0x90, 61, 100}});
    });
    std::thread feedback([&] {
        const MidiRef dst = rig.service->virtualDestinationRef(false);
        for (int i = 0; i < kPresses; ++i)
            rig.midi.sendToDestination(
                dst, {lcdMessage(0, i % 2 ? "Odd    " : "Even   "), {0x90, 0x17, 0x7F}});
    });
    std::thread other([&] {
        // Another thread may send too.
        for (int i = 0; i < 2000; ++i)
            rig.service->sendControlChange(i % 128, 1, 1, "Synth");
    });
    for (int i = 0; i < 200; ++i) {
        rig.queueMackie(layers, idsAt(layers, {static_cast<std::size_t>(i % 5)}));
        rig.service->setJumpTriggers(i % 2 ? tableA : tableB);
        rig.service->advanceTrigger.set(note("Pad", 61));
        if (i % 50 == 0)
            rig.service->panicAllOn(layers, ControlMode::ccMute, std::nullopt, 0);
        rig.loop.runPending();
    }
    input.join();
    feedback.join();
    other.join();
    rig.settle();

    EXPECT_EQ(jumps, kPresses);
    EXPECT_EQ(nexts, kPresses);
    EXPECT_TRUE(alternates);
    EXPECT_EQ(rig.service->mackieSlotNames.get().at(0), "Odd");
    EXPECT_EQ(rig.service->mackieShadow().muted[7], true);
}

TEST(Concurrency, DestructionWhileDeliveriesAreInFlightIsClean) {
    MidiRig rig;
    const MidiRef pad = rig.plugSource("Pad");
    rig.service->setJumpTriggers({{1, note("Pad", 60)}});
    std::atomic<int> jumps{0};
    Connection j = rig.service->jumpRequested.connect([&](int) { ++jumps; });
    const MidiRef feedbackDst = rig.service->virtualDestinationRef(false);
    const auto layers = makeLayers(9);

    std::atomic<bool> stop{false};
    std::atomic<int> delivered{0};
    std::thread input([&] {
        while (!stop.load()) {
            rig.midi.sendFromSource(pad, {{0x90, 60, 100}});
            ++delivered;
        }
    });
    std::thread feedback([&] {
        while (!stop.load())
            rig.midi.sendToDestination(feedbackDst, {lcdMessage(0, "Name   "), {0x90, 0x10, 0}});
    });
    while (delivered.load() < 50)
        std::this_thread::yield();
    for (int i = 0; i < 20; ++i)
        rig.queueMackie(layers, idsAt(layers, {0, 8}), 8);
    rig.loop.runPending();
    j.disconnect();
    rig.service.reset(); // queued jobs, posted tasks and running handlers are all in flight
    const int delivered0 = delivered.load();
    while (delivered.load() < delivered0 + 50)
        std::this_thread::yield();
    stop.store(true);
    input.join();
    feedback.join();
    rig.loop.runPending(); // tasks posted before and during destruction do nothing now

    EXPECT_GT(jumps.load(), 0);
    EXPECT_EQ(rig.midi.sourceNamed("Strata"), 0u);
    EXPECT_TRUE(rig.midi.destinations().empty());
    EXPECT_EQ(rig.midi.connectionCount(pad), 0u);
}
