// The coordinator end to end on virtual time: MIDI presses, Cadenzo datagrams and commands move the
// set, and what reaches the DAW, on the set's host, follows each change exactly once.

#include "live_rig.h"
#include "support/records.h"

#include <functional>

using namespace strata;
using namespace strata::testing;

TEST_F(LiveTest, FootswitchWalksTheSetAndTheMackieMutesFollowOncePerChange) {
    Setlist set = makeSet({{"One", "Intro", "Verse", "Chorus"}, {"Two", "Verse", "Outro"}},
                          ControlMode::mackieControl);
    muteAt(set, 0, 0, 0, {0});
    muteAt(set, 0, 1, 0, {1});
    muteAt(set, 0, 2, 0, {0, 1});
    muteAt(set, 1, 1, 0, {3});
    storeNextTrigger(settings, {"Pedal", AdvanceTrigger::Kind::note, 36});
    start(std::move(set));
    settle();
    EXPECT_EQ(heard(), Packets{}); // nothing is sent before the coordinator starts

    live->start(); // the program starts it before it builds the window
    settleBanks();
    Packets first = bankMove(0);
    press(first, mute(0));
    EXPECT_EQ(heard(), first);
    live->appear(); // the window appears: nothing is sent a second time
    settle();
    EXPECT_EQ(heard(), Packets{});
    EXPECT_TRUE(live->showModeChooser()); // the first-run steps come with the window

    struct Press {
        Bytes message;
        Position after;
        Packets daw;
    };
    const std::vector<Press> walk{
        {{0x90, 36, 100}, {0, 1, 0}, presses({mute(0), mute(1)})},
        {{0x80, 36, 0}, {0, 1, 0}, {}},   // a release is no press
        {{0x90, 37, 100}, {0, 1, 0}, {}}, // another key is no trigger
        {{0x90, 36, 1}, {0, 2, 0}, presses({mute(0)})},
        {{0x90, 36, 127}, {1, 0, 0}, presses({mute(0), mute(1)})},
        {{0x90, 36, 127}, {1, 1, 0}, presses({mute(3)})},
        {{0x90, 36, 127}, {1, 1, 0}, {}}, // the set does not wrap
    };
    for (std::size_t i = 0; i < walk.size(); ++i) {
        SCOPED_TRACE("press " + std::to_string(i));
        footswitch(walk[i].message);
        settle();
        EXPECT_EQ(position(), walk[i].after);
        EXPECT_EQ(heard(), walk[i].daw);
    }
}

TEST_F(LiveTest, CCMutesGoOutOnceForEachChangeAndChangesOfOneTurnAreSentTogether) {
    Setlist set = makeSet({{"One", "Intro", "Verse", "Chorus"}}, ControlMode::ccMute);
    muteAt(set, 0, 1, 0, {1});
    muteAt(set, 0, 2, 0, {2, 3});
    storeNextTrigger(settings, {"Pedal", AdvanceTrigger::Kind::cc, 80});
    show(std::move(set));
    EXPECT_EQ(synthHeard(), ccRound({}));

    footswitch({0xB0, 80, 127});
    settle();
    EXPECT_EQ(synthHeard(), ccRound({1}));

    // Several changes in one turn: one send, of the final state.
    app->setCurrentSectionIndex(0);
    app->setCurrentSectionIndex(2);
    app->toggleLayer(layer(0).id, section(2).id, 0);
    settle();
    EXPECT_EQ(synthHeard(), ccRound({0, 2, 3}));

    // A change undone within the same turn sends nothing.
    app->setCurrentSectionIndex(0);
    app->setCurrentSectionIndex(2);
    settle();
    EXPECT_EQ(synthHeard(), Packets{});

    // Renaming a layer is no change of the mute output; re-routing one is.
    app->updateSetlist([](Setlist& s) {
        s.layers[0].name = "Piano";
        return true;
    });
    settle();
    EXPECT_EQ(synthHeard(), Packets{});
    app->updateSetlist([](Setlist& s) {
        s.layers[3].muteCC = 90;
        return true;
    });
    settle();
    Packets rerouted = ccRound({0, 2, 3});
    rerouted[3] = {0xB3, 90, 0x00};
    EXPECT_EQ(synthHeard(), rerouted);
}

TEST_F(LiveTest, LiveTicksFiringMomentsOrRulesSendTheirMessagesThenTheMuteStateOnce) {
    Setlist set = makeSet({{"One", "Verse", "Chorus"}}, ControlMode::mackieControl);
    Moment swell = Moment::fresh();
    swell.name = "Swell";
    swell.anchor = FireAnchor::barsBeforeSectionEnd(2);
    swell.muteLayerIDs = {set.layers[1].id};
    swell.programChanges = {PatchChange{Uuid::random(), "Synth", 2, 5},
                            PatchChange{Uuid::random(), "", 3, 9}};
    swell.ccSends = {CCSend{Uuid::random(), "Synth", 3, 7, 100},
                     CCSend{Uuid::random(), "", 3, 8, 1}};
    Moment drop = Moment::fresh();
    drop.anchor = FireAnchor::barsBeforeSectionEnd(2);
    drop.ccSends = {CCSend{Uuid::random(), "Synth", 16, 300, -4}}; // clamped on the way out
    set.songs[0].sections[0].moments = {swell, drop};
    LayerRule rule = LayerRule::fresh();
    rule.effect = LayerRule::Effect::muteOut;
    rule.anchor = FireAnchor::barsBeforeSectionEnd(1);
    set.layers[2].rules = {rule};
    show(std::move(set));
    settleBanks();
    heard();
    synthHeard();

    // Not yet due, then stopped: nothing fires, nothing is sent.
    cue(R"({"type":"LIVE_STATE","songIdx":0,"sectionIdx":0,"barsToNext":4,"playing":true})");
    cue(R"({"type":"LIVE_STATE","songIdx":0,"sectionIdx":0,"barsToNext":2,"playing":false})");
    settle();
    EXPECT_EQ(heard(), Packets{});
    EXPECT_EQ(synthHeard(), Packets{});

    cue(R"({"type":"LIVE_STATE","songIdx":0,"sectionIdx":1,"barsToNext":2,"playing":true})");
    service->drain(); // the push happened in the tick itself, not through the key watcher
    EXPECT_EQ(synthHeard(), (Packets{{0xC1, 5}, {0xB2, 7, 100}, {0xBF, 127, 0}}));
    EXPECT_EQ(heard(), presses({mute(1)}));
    settle();
    EXPECT_EQ(heard(), Packets{});
    EXPECT_EQ(position(), (Position{0, 0, 0})); // a tick never moves the performer

    // A tick where only a rule fires still pushes the mute state, once.
    cue(R"({"type":"LIVE_STATE","songIdx":0,"sectionIdx":0,"barsToNext":1,"playing":true})");
    service->drain();
    EXPECT_EQ(heard(), presses({mute(2)}));
    EXPECT_EQ(synthHeard(), Packets{});
    settle();
    EXPECT_EQ(heard(), Packets{});

    // Everything fired: later ticks send nothing.
    cue(R"({"type":"LIVE_STATE","songIdx":0,"sectionIdx":0,"barsToNext":0,"playing":true})");
    settle();
    EXPECT_EQ(heard(), Packets{});
    EXPECT_EQ(synthHeard(), Packets{});
}

TEST_F(LiveTest, AllOnUnmutesAtOnceAndHoldsUntilTheSectionsMixIsSentAgain) {
    Setlist set = makeSet({{"One", "Verse", "Chorus"}}, ControlMode::ccMute);
    muteAt(set, 0, 0, 0, {0});
    muteAt(set, 0, 1, 0, {1});
    set.songs[0].sections[0].steps.push_back(SectionStep::fresh());
    show(std::move(set));
    synthHeard();
    EXPECT_FALSE(live->allOn());

    // During a Moment: everything sounds when panic() returns and the Moment ends; then the
    // step's own mix comes back through the key watcher, and ALL ON no longer holds.
    Moment m = Moment::fresh();
    m.muteLayerIDs = {layer(1).id};
    live->testMoment(m);
    settle();
    EXPECT_EQ(synthHeard(), ccRound({0, 1}));
    live->panic();
    EXPECT_EQ(synthHeard(), ccRound({}));
    EXPECT_EQ(app->activeMomentMutedIDs(), std::nullopt);
    EXPECT_TRUE(live->allOn());
    settle();
    EXPECT_EQ(synthHeard(), ccRound({0}));
    EXPECT_FALSE(live->allOn());
    EXPECT_TRUE(app->hasFired(m.id));

    // Otherwise ALL ON holds until something puts the section's mix back.
    struct Row {
        const char* change;
        std::function<void()> make;
        bool putsTheMixBack;
    };
    const std::vector<Row> rows{
        {"renaming the set", [&] { app->renameSet("Renamed"); }, false},
        {"entering stage mode", [&] { app->setStageMode(true); }, false},
        {"the next step", [&] { app->nextStep(); }, true},
        {"the next section", [&] { app->advance(); }, true},
        {"a mute edit", [&] { app->toggleLayer(layer(2).id, app->currentSection()->id, 0); }, true},
        {"the feature level", [&] { live->setMode(StrataMode::essentials); }, true},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.change);
        live->panic();
        settle();
        EXPECT_TRUE(live->allOn());
        EXPECT_EQ(synthHeard(), ccRound({}));
        row.make();
        settle();
        EXPECT_EQ(live->allOn(), !row.putsTheMixBack);
        EXPECT_EQ(synthHeard().empty(), !row.putsTheMixBack);
    }
}

// The coordinator resends when its keys change: they must change with everything that changes
// what is sent, and stay put for everything else.
TEST_F(LiveTest, KeysChangeExactlyWithWhatIsSent) {
    Setlist set =
        makeSet({{"One", "a"}, {"Two", "a"}, {"Three", "a", "b", "c"}}, ControlMode::mackieControl);
    set.songs[2].sections[1].jumpTrigger =
        AdvanceTrigger{"FCB1010", AdvanceTrigger::Kind::note, 36};
    set.mackiePort = "MCU";
    set.mackieTrackOffset = -9;
    growTo(set.layers, 3);
    muteAt(set, 2, 2, 0, {1, 0});
    start(std::move(set));
    app->setCurrentSongIndex(2);
    app->setCurrentSectionIndex(2);

    struct Row {
        const char* change;
        std::function<void(Setlist&)> apply;
        bool sectionKey, jumpKey;
    };
    const auto trigger = [](int n) {
        return AdvanceTrigger{"FCB1010", AdvanceTrigger::Kind::cc, n};
    };
    const std::vector<Row> rows{
        {"a layer renamed", [](Setlist& s) { s.layers[0].name = "Renamed"; }, false, false},
        {"another song's jump trigger",
         [&](Setlist& s) { s.songs[0].sections[0].jumpTrigger = trigger(20); }, false, false},
        {"an offset in the same bank", [](Setlist& s) { s.mackieTrackOffset = -15; }, false, false},
        {"an offset in another bank", [](Setlist& s) { s.mackieTrackOffset = 8; }, true, false},
        {"the surface's port", [](Setlist& s) { s.mackiePort = "Other"; }, true, false},
        {"the muted layers", [](Setlist& s) { s.songs[2].sections[2].steps[0].mutedLayerIDs = {}; },
         true, false},
        {"a layer's channel", [](Setlist& s) { s.layers[2].channel = 9; }, true, false},
        {"a layer's mute CC", [](Setlist& s) { s.layers[1].muteCC = 7; }, true, false},
        {"a layer's port", [](Setlist& s) { s.layers[0].portName = "Elsewhere"; }, true, false},
        {"the default DAW host written out", [](Setlist& s) { s.dawHost = DawHost::logic; }, false,
         false},
        {"another DAW host", [](Setlist& s) { s.dawHost = DawHost::ardour; }, true, false},
        {"the control mode", [](Setlist& s) { s.controlMode = ControlMode::ccMute; }, true, false},
        {"the current song's jump trigger",
         [&](Setlist& s) { s.songs[2].sections[0].jumpTrigger = trigger(64); }, false, true},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.change);
        const auto section = LiveCoordinator::sectionStateKey(*app);
        const auto jump = LiveCoordinator::jumpTriggerKey(*app);
        app->updateSetlist([&](Setlist& s) {
            row.apply(s);
            return true;
        });
        EXPECT_EQ(LiveCoordinator::sectionStateKey(*app) != section, row.sectionKey);
        EXPECT_EQ(LiveCoordinator::jumpTriggerKey(*app) != jump, row.jumpKey);
    }
    const auto section = LiveCoordinator::sectionStateKey(*app);
    app->setCurrentSectionIndex(1);
    EXPECT_NE(LiveCoordinator::sectionStateKey(*app), section) << "the position is part of it";
}

// The DAW host chosen for a set reaches what the coordinator sends, and the toolbar switches it.
TEST_F(LiveTest, TheSetsHostReachesEverySendSectionChangesPanicAndHostSwitch) {
    Setlist set = makeSet({{"One", "Intro", "Verse", "Chorus"}}, ControlMode::ccMute);
    muteAt(set, 0, 1, 0, {1});
    set.dawHost = DawHost::ardour;
    show(std::move(set));
    EXPECT_EQ(synthHeard(), Packets{}); // every track is taken to sound at first

    // A section change toggles what changes (the toggles through a whole walk, with their
    // echoes: DawHostCC in the MIDI suite).
    app->advance();
    settle();
    EXPECT_EQ(synthHeard(), ccToggles({1}));

    // ALL ON toggles what is muted (the coordinator hands the host on to the panic too), once
    // the answer to the last toggle could have come.
    loop.advance(MidiService::kEchoHold);
    live->panic();
    settle();
    EXPECT_EQ(synthHeard(), ccToggles({1}));
    loop.advance(MidiService::kEchoHold);
    app->advance(); // the chorus mutes nothing, as the panic left it
    settle();
    EXPECT_EQ(synthHeard(), Packets{});

    // Back on Logic Pro / MainStage: every layer's state, at once and once.
    live->setDawHost(DawHost::logic);
    EXPECT_FALSE(app->setlist().dawHost);
    service->drain();
    EXPECT_EQ(synthHeard(), ccRound({}));
    settle();
    EXPECT_EQ(synthHeard(), Packets{});
    live->setDawHost(DawHost::logic); // no change: nothing
    settle();
    EXPECT_EQ(synthHeard(), Packets{});
}
