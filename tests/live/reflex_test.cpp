// Moves answered by the MIDI side before the main thread has run: the mutes go out at once, and
// the main thread takes the position over later, once, without sending again.

#include "live_rig.h"
#include "model/setlist_codec.h"

#include <atomic>
#include <thread>

using namespace strata;
using namespace strata::testing;

namespace {

class ReflexTest : public LiveTest {
protected:
    // One song of five sections, each muting its own layer (section 0 none); section 3 has a
    // jump trigger (CC 27) and a second step muting A and B. A second song follows.
    void startShow() {
        Setlist set = makeSet(
            {{"One", "Intro", "Verse", "Bridge", "Chorus", "Outro"}, {"Two", "Start", "End"}},
            ControlMode::ccMute);
        muteAt(set, 0, 1, 0, {1});
        muteAt(set, 0, 2, 0, {2});
        muteAt(set, 0, 3, 0, {3});
        muteAt(set, 0, 4, 0, {1, 2});
        set.songs[0].sections[3].steps.push_back(SectionStep::fresh());
        muteAt(set, 0, 3, 1, {0, 1});
        set.songs[0].sections[1].steps.push_back(SectionStep::fresh());
        muteAt(set, 0, 1, 1, {0});
        muteAt(set, 1, 0, 0, {0, 3});
        set.songs[0].sections[3].jumpTrigger =
            AdvanceTrigger{"Pedal", AdvanceTrigger::Kind::cc, 27};
        storeNextTrigger(settings, {"Pedal", AdvanceTrigger::Kind::note, 36});
        start(std::move(set));
        live->appear();
        settle();
        ASSERT_EQ(synthHeard(), ccRound({}));
    }
    // Back to a section of the first song.
    void goTo(std::int64_t k) {
        app->setCurrentSongIndex(0);
        app->jump(k);
    }
    // Lets the MIDI queue send without running anything the main thread was handed.
    void sendOnly() { service->drain(); }
};

const Bytes kNextPress{0x90, 36, 100};
const Bytes kJumpPress{0xB0, 27, 127};
Bytes program(std::uint8_t n) {
    return {0xC0, n};
}

} // namespace

TEST_F(ReflexTest, PressesAreAnsweredBeforeTheMainThreadRunsAndTakenOverOnce) {
    startShow();
    struct Case {
        const char* name;
        Position from; // reached on the main thread, after the last case's presses
        std::vector<Bytes> presses;
        Packets before; // heard while the main thread has not run
        Position after;
    };
    const std::vector<Case> cases{
        {"one NEXT", {0, 0, 0}, {kNextPress}, ccRound({1}), {0, 1, 0}},
        {"two NEXTs: the second steps on from the first",
         {0, 0, 0},
         {kNextPress, kNextPress},
         concat({ccRound({1}), ccRound({2})}),
         {0, 2, 0}},
        {"a jump trigger", {0, 0, 0}, {kJumpPress}, ccRound({3}), {0, 3, 0}},
        {"a program change", {0, 0, 0}, {program(4)}, ccRound({1, 2}), {0, 4, 0}},
        {"NEXT, then a jump",
         {0, 0, 0},
         {kNextPress, kJumpPress},
         concat({ccRound({1}), ccRound({3})}),
         {0, 3, 0}},
        // Section 3's second step mutes A and B.
        {"a program change keeps the step, as the main thread does",
         {0, 1, 1},
         {program(3)},
         ccRound({0, 1}),
         {0, 3, 1}},
        {"NEXT from where the main thread moved", {0, 2, 0}, {kNextPress}, ccRound({3}), {0, 3, 0}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        app->jump(c.from.section);
        for (std::int64_t i = 0; i < c.from.step; ++i)
            app->nextStep();
        settle();
        synthHeard();
        for (const Bytes& message : c.presses)
            footswitch(message);
        sendOnly();
        EXPECT_EQ(synthHeard(), c.before);
        EXPECT_EQ(position(), c.from); // the main thread has not run
        settle();
        EXPECT_EQ(position(), c.after);
        EXPECT_EQ(synthHeard(), Packets{}); // nothing a second time
        EXPECT_FALSE(live->allOn());
    }
}

TEST_F(ReflexTest, WhatTheSnapshotCannotAnswerWaitsForTheMainThread) {
    startShow();
    struct Case {
        const char* name;
        std::function<void()> prepare;
        Bytes press;
        Position after;
        Packets heard; // once the main thread has run
    };
    const std::vector<Case> cases{
        {"NEXT on the song's last section goes to the next song",
         [&] { goTo(4); },
         kNextPress,
         {1, 0, 0},
         ccRound({0, 3})},
        {"a jump to the section already current resets the step",
         [&] {
             goTo(3);
             app->nextStep();
         },
         kJumpPress,
         {0, 3, 0},
         ccRound({3})},
        {"a program change out of the song", [&] { goTo(0); }, program(9), {0, 0, 0}, {}},
        {"a press while learning is learned",
         [&] {
             goTo(0);
             live->learnJumpTrigger(section(2).id);
         },
         kNextPress,
         {0, 0, 0},
         {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        c.prepare();
        settle();
        synthHeard();
        footswitch(c.press);
        sendOnly();
        EXPECT_EQ(synthHeard(), Packets{});
        settle();
        EXPECT_EQ(position(), c.after);
        EXPECT_EQ(synthHeard(), c.heard);
    }
    // The learn took the press.
    EXPECT_EQ(section(2).jumpTrigger, (AdvanceTrigger{"Pedal", AdvanceTrigger::Kind::note, 36}));
}

TEST_F(ReflexTest, AnEditBeforeTheMoveIsTakenOverIsSentAfterIt) {
    startShow();
    footswitch(kNextPress);
    sendOnly();
    EXPECT_EQ(synthHeard(), ccRound({1}));
    // The main thread, still busy with an edit, mutes A in the section the press went to.
    app->toggleLayer(layer(0).id, section(1).id, 0);
    settle();
    EXPECT_EQ(position(), (Position{0, 1, 0}));
    EXPECT_EQ(synthHeard(), ccRound({0, 1}));
}

TEST_F(ReflexTest, PressesFromAnotherThreadWhileTheMainThreadEditsEndWhereTheyShould) {
    startShow();
    // Four NEXT presses from section 0 on an input thread, each after the main thread has made
    // one more edit (of the second song: a new snapshot each time) and taken over what it could.
    std::atomic<int> edits{0};
    std::atomic<bool> done{false};
    std::thread input([&] {
        for (int i = 0; i < 4; ++i) {
            while (edits.load() <= i)
                std::this_thread::yield();
            footswitch(kNextPress);
        }
        done = true;
    });
    while (!done.load()) {
        app->renameSong(1, "Two " + std::to_string(edits.load()));
        ++edits;
        loop.runPending();
    }
    input.join();
    settle();
    EXPECT_EQ(position(), (Position{0, 4, 0}));
    // One round per press, in order, none twice.
    EXPECT_EQ(synthHeard(), concat({ccRound({1}), ccRound({2}), ccRound({3}), ccRound({1, 2})}));
}

TEST_F(ReflexTest, ACoordinatorMadeAnewOverTheSameEngineStepsFromThePositionItPublishes) {
    startShow();
    footswitch(kNextPress);
    settle();
    EXPECT_EQ(position(), (Position{0, 1, 0}));
    live.reset();
    app->jump(3);
    live = std::make_unique<LiveCoordinator>(*app, *service, *link, loop, settings, location());
    live->appear();
    settle();
    synthHeard();
    footswitch(kNextPress);
    sendOnly();
    EXPECT_EQ(synthHeard(), ccRound({1, 2}));
    settle();
    EXPECT_EQ(position(), (Position{0, 4, 0}));
}
