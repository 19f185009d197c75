// Triggers that move the position reach the DAW through a real JACK server while the main thread
// is held busy, and the main thread takes the position over afterwards without a second send; and
// mutes behind a bank move reach it while the main thread is held the whole time (the settle
// between them is watched on the MIDI side). Here only what JACK shows: the cycle an answer leaves
// in, presses the DAW takes as one, and where the DAW ends; the bytes of each answer and its
// take-over are the coordinator's tests (ReflexTest, FireReflexTest).
#include "cuelink/cadenzo_link.h"
#include "engine/app_state.h"
#include "jack_rig.h"
#include "jack_server_suite.h"
#include "live/live_coordinator.h"
#include "support/test_support.h"

#include <functional>
#include <gtest/gtest.h>
#include <string>

namespace strata {
namespace {

using testing::DawSimulator;
using testing::intended;
using testing::JackRig;
using testing::JackServerSuite;
using testing::JackTestClient;
using testing::TempDir;

// The muted layers of each section of the one song: 0 {0}, 1 {1, 3}, 2 {2}, 3 {0, 5}, 4 {6, 7}.
const std::vector<std::vector<int>> kSectionMutes{{0}, {1, 3}, {2}, {0, 5}, {6, 7}};

// Mute presses of the DAW's mute buttons among `received`.
std::vector<DawSimulator::Received> mutePressesIn(const std::vector<DawSimulator::Received>& all) {
    std::vector<DawSimulator::Received> presses;
    for (const auto& r : all)
        if (r.bytes.size() == 3 && (r.bytes[0] & 0xF0) == 0x90 && r.bytes[1] >= 0x10 &&
            r.bytes[1] < 0x18 && r.bytes[2] > 0)
            presses.push_back(r);
    return presses;
}

// The whole live setup on the JACK rig: the set, the coordinator, a DAW playing the Mackie host
// with 24 tracks, and a pedal whose note 60 is NEXT and whose CC 27 jumps to section 4.
struct Stage {
    explicit Stage(const std::string& server)
        : rig(server), daw(server, "daw", {24, {}, 0, 8}), pedal(server, "pedal") {
        app = std::make_unique<AppState>(StoreLocation::under(dir.path()), rig.settings, rig.loop);
        app->setMode(StrataMode::pro);
        Setlist set;
        set.name = "Show";
        set.controlMode = ControlMode::mackieControl;
        set.layers = testing::makeLayers(8);
        Song song = Song::fresh();
        song.name = "One";
        for (std::size_t k = 0; k < kSectionMutes.size(); ++k) {
            Section section = Section::named("S" + std::to_string(k));
            section.steps.at(0).mutedLayerIDs = testing::idsAt(set.layers, kSectionMutes[k]);
            song.sections.push_back(std::move(section));
        }
        song.sections[4].jumpTrigger = AdvanceTrigger{"pedal:out", AdvanceTrigger::Kind::cc, 27};
        set.songs.push_back(std::move(song));
        app->setSetlist(std::move(set));
        link = std::make_unique<CadenzoLink>(rig.loop, CadenzoLink::Options{.openSocket = false});
        live = std::make_unique<LiveCoordinator>(*app, *rig.service, *link, rig.loop, rig.settings,
                                                 StoreLocation::under(dir.path()));
        out = pedal.addOutput("out");
    }
    // Wires everything, appears and waits until the DAW shows section 0 and the answers to the
    // next presses are prepared. The server runs the DAW after Strata in each cycle (see
    // DawSimulator::connectUnit), so that it reads an answer in the cycle that sent it.
    bool begin() {
        if (!daw.ok() || !pedal.ok() || !rig.wire(daw, 0, true))
            return false;
        rig.service->advanceTrigger.set(
            AdvanceTrigger{"pedal:out", AdvanceTrigger::Kind::note, 60});
        if (!rig.driver.runUntil([&] {
                rig.service->resolveTriggerSource();
                return rig.service->footswitchSource() != 0;
            }))
            return false;
        if (!pedal.waitCycles(3))
            return false;
        live->appear();
        if (!rig.quiesce() || !rig.driver.runUntil([&] { return rig.service->answersPrepared(); }))
            return false;
        pedal.takeSent();
        daw.takeReceived();
        return daw.mutes() == session(0, 0);
    }

    // The DAW's session once the layers on tracks offset.. show section `k`.
    std::vector<bool> session(std::size_t k, int offset,
                              std::vector<bool> from = std::vector<bool>(24)) const {
        return intended(std::move(from), offset, 8, kSectionMutes.at(k));
    }

    // Holds the main thread, from before `trigger` sends, until the DAW shows `want` (or a broken
    // run gives up); then lets it run again. Returns whether the DAW showed it while held.
    bool answeredWhileHeld(const std::function<void()>& trigger, const std::vector<bool>& want) {
        bool ran = false;
        bool seen = false;
        rig.loop.post([&] {
            ran = true;
            seen = testing::waitUntil([&] { return daw.mutes() == want; });
        });
        trigger();
        if (!rig.driver.runUntil([&] { return ran; }))
            return false;
        return seen;
    }

    // Mute buttons pressed since the last call.
    int mutePresses() { return static_cast<int>(mutePressesIn(daw.takeReceived()).size()); }
    std::int64_t section() const { return app->currentSectionIndex(); }

    TempDir dir;
    JackRig rig;
    DawSimulator daw;
    JackTestClient pedal;
    std::size_t out = 0;
    std::unique_ptr<AppState> app;
    std::unique_ptr<CadenzoLink> link;
    std::unique_ptr<LiveCoordinator> live;
};

const std::vector<std::uint8_t> kNextOn{0x90, 60, 100};

class ReflexThroughJack : public JackServerSuite {};

TEST_F(ReflexThroughJack, AKnownAnswerReachesTheDawInTheCycleThatReadsThePress) {
    struct Case {
        const char* name;
        std::vector<std::uint8_t> press;
        std::size_t section;
        int mutePresses;
    };
    const std::vector<Case> cases{
        {"NEXT", kNextOn, 1, 3},
        {"a jump trigger", {0xB0, 27, 127}, 4, 3},
        {"a program change", {0xC0, 3}, 3, 1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Stage stage(server_->name());
        ASSERT_TRUE(stage.begin());
        const std::uint64_t answeredBefore = stage.rig.backend->counters().answeredInCycle;
        const auto want = stage.session(c.section, 0);
        // With the main thread held throughout.
        EXPECT_TRUE(stage.answeredWhileHeld([&] { stage.pedal.send(stage.out, c.press); }, want));
        const auto sent = stage.pedal.takeSent();
        ASSERT_EQ(sent.size(), 1u);
        const auto presses = mutePressesIn(stage.daw.takeReceived());
        ASSERT_EQ(presses.size(), static_cast<std::size_t>(c.mutePresses));
        for (const auto& p : presses)
            EXPECT_EQ(p.frame, sent[0].cycleFrame) << "the answer left in a later cycle";
        EXPECT_EQ(stage.rig.backend->counters().answeredInCycle, answeredBefore + 1);
        // The main thread takes the move over once, at the first step; nothing is pressed again.
        ASSERT_TRUE(stage.rig.driver.runUntil(
            [&] { return stage.section() == static_cast<std::int64_t>(c.section); }));
        ASSERT_TRUE(stage.rig.quiesce());
        EXPECT_EQ(stage.app->currentStepIndex(), 0);
        EXPECT_EQ(stage.daw.mutes(), want);
        EXPECT_EQ(stage.mutePresses(), 0);
        EXPECT_EQ(stage.daw.mergedPresses(), 0);
    }
}

TEST_F(ReflexThroughJack, WhatCannotBeAnsweredAheadTakesTheQueuedPathAndEndsRight) {
    struct Case {
        const char* name;
        std::function<void(Stage&)> before; // just before the press
        std::vector<std::uint8_t> press;
        std::size_t section;
        int bank; // the first track the DAW's main unit shows in the end
    };
    const std::vector<Case> cases{
        // The toolbar moves the bank to tracks 8-15 and the pedal is pressed at once: the press
        // waits behind the bank moves and is pressed once they have settled.
        {"a press across a bank move", [](Stage& stage) { stage.live->setMackieTrackOffset(8); },
         kNextOn, 1, 8},
        // The DAW connects anew: its report is awaited (a settle).
        {"a jump while a newly connected DAW's report is awaited",
         [](Stage& stage) {
             ASSERT_TRUE(stage.rig.unwire(stage.daw, 0));
             ASSERT_TRUE(stage.rig.wire(stage.daw, 0, true));
             EXPECT_FALSE(stage.rig.service->answersPrepared());
         },
         {0xB0, 27, 127},
         4,
         0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Stage stage(server_->name());
        ASSERT_TRUE(stage.begin());
        const std::uint64_t answeredBefore = stage.rig.backend->counters().answeredInCycle;
        c.before(stage);
        stage.pedal.send(stage.out, c.press);
        ASSERT_TRUE(stage.rig.driver.runUntil(
            [&] { return stage.section() == static_cast<std::int64_t>(c.section); }));
        ASSERT_TRUE(stage.rig.driver.runUntil([&] { return !stage.rig.settling(); }));
        ASSERT_TRUE(stage.rig.quiesce());
        EXPECT_EQ(stage.rig.backend->counters().answeredInCycle, answeredBefore)
            << "nothing can be answered ahead";
        EXPECT_EQ(stage.daw.bank(0), c.bank);
        // Tracks the bank moved away from keep section 0's mutes.
        EXPECT_EQ(stage.daw.mutes(), stage.session(c.section, c.bank, stage.session(0, 0)));
        EXPECT_EQ(stage.daw.mergedPresses(), 0);
        EXPECT_EQ(stage.daw.mutesBesideBankMoves(), 0);
    }
}

TEST_F(ReflexThroughJack, TwoPressesInConsecutiveCyclesLandOnTheSecondSectionWithNothingMerged) {
    Stage stage(server_->name());
    ASSERT_TRUE(stage.begin());
    // The second press goes out as soon as the first has: in the next cycle, or a few later on
    // a busy machine. Either it is answered from a table prepared again, or it takes the queued
    // path; the DAW must end on section 2 without a press taken as one with another.
    stage.pedal.send(stage.out, kNextOn);
    ASSERT_TRUE(
        stage.pedal.waitUntil([&](const auto&) { return !stage.pedal.takeSent().empty(); }));
    stage.pedal.send(stage.out, kNextOn);
    ASSERT_TRUE(stage.rig.driver.runUntil([&] { return stage.section() == 2; }));
    ASSERT_TRUE(stage.rig.quiesce());
    EXPECT_EQ(stage.section(), 2);
    EXPECT_EQ(stage.daw.mutes(), stage.session(2, 0));
    EXPECT_EQ(stage.mutePresses(), 6); // tracks 0, 1, 3, then 1, 2, 3
    EXPECT_EQ(stage.daw.mergedPresses(), 0);
}

// A main thread that never gets round to anything: its clock runs in real time, and nothing
// handed to it runs.
class HeldMainLoop final : public MainLoop {
public:
    TimePoint now() const override { return Clock::now(); }
    void post(Task) override {}
    TimerHandle after(Duration, Task) override { return std::make_unique<LoopHandle>(); }
    TimerHandle every(Duration, Task) override { return std::make_unique<LoopHandle>(); }
    TimerHandle watchReadable(int, Task) override { return std::make_unique<LoopHandle>(); }
};

class SettleThroughJack : public JackServerSuite {};

TEST_F(SettleThroughJack, MutesBehindBankMovesReachTheDawWhileTheMainThreadIsHeld) {
    DawSimulator::Options options;
    options.tracks = 32;
    options.mutedAtStart = {9};
    options.mainBank = 24; // left elsewhere in the session
    DawSimulator daw(server_->name(), "daw", options);
    ASSERT_TRUE(daw.ok());

    HeldMainLoop loop;
    MemorySettings settings;
    JackMidiBackend::Options backendOptions;
    backendOptions.serverName = server_->name();
    backendOptions.retryInterval = std::chrono::milliseconds(100);
    JackMidiBackend backend(backendOptions);
    {
        MidiService service(backend, loop, settings);
        ASSERT_TRUE(testing::waitUntil([&] { return backend.available(); }));
        const MidiRef source = service.virtualSourceRef(false);
        ASSERT_TRUE(daw.connectUnit(0, backend.jackPortName(source),
                                    backend.jackPortName(service.virtualDestinationRef(false))));
        ASSERT_TRUE(testing::waitUntil([&] { return backend.counters().subscriptions > 0; }));
        service.drain();

        // The first push after the DAW connected, then a section on another bank: each waits for
        // its bank to settle (the first for the DAW's full report too) before its presses.
        struct Section {
            std::int64_t offset;
            std::vector<int> muted; // layer positions
        };
        const auto layers = testing::makeLayers(8);
        for (const Section& s : {Section{0, {1, 4}}, Section{8, {0, 3}}}) {
            SCOPED_TRACE("offset " + std::to_string(s.offset));
            service.sendSectionState(layers, testing::idsAt(layers, s.muted),
                                     ControlMode::mackieControl, std::nullopt, s.offset);
            const auto wanted = intended(daw.mutes(), static_cast<int>(s.offset), 8, s.muted);
            EXPECT_TRUE(testing::waitUntil([&] { return daw.mutes() == wanted; }))
                << "the mutes never reached the DAW";
            EXPECT_EQ(daw.bank(0), s.offset);
        }
        EXPECT_EQ(daw.mergedPresses(), 0);
        EXPECT_EQ(daw.mutesBesideBankMoves(), 0);
    }
}

} // namespace
} // namespace strata
