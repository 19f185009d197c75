#include "engine_fixture.h"

#include <functional>

using namespace strata;
using strata::testing::EngineTest;
using strata::testing::makeSet;

namespace {
using Names = std::vector<std::string>;
}

class Editing : public EngineTest {};

TEST_F(Editing, GridSectionOperationsKeepThePerformerInPlace) {
    struct Case {
        const char* what;
        std::int64_t current;
        std::function<void(AppState&)> op;
        Names sections;
        std::int64_t currentAfter;
    };
    const Case cases[] = {
        {"add appends", 1, [](AppState& a) { a.addSection(); }, {"A", "B", "C", "New Section"}, 1},
        {"duplicate inserts after",
         2,
         [](AppState& a) { a.duplicateSection(1); },
         {"A", "B", "B", "C"},
         2},
        {"move the current section down",
         0,
         [](AppState& a) { a.moveSectionDown(0); },
         {"B", "A", "C"},
         1},
        {"move another section across the current one",
         1,
         [](AppState& a) { a.moveSectionUp(2); },
         {"A", "C", "B"},
         2},
        {"move to the end", 0, [](AppState& a) { a.moveSection(0, 3); }, {"B", "C", "A"}, 2},
        {"move the first up", 0, [](AppState& a) { a.moveSectionUp(0); }, {"A", "B", "C"}, 0},
        {"move the last down", 2, [](AppState& a) { a.moveSectionDown(2); }, {"A", "B", "C"}, 2},
        {"move with a far target",
         0,
         [](AppState& a) { a.moveSection(0, 99); },
         {"B", "C", "A"},
         2},
        {"delete an earlier section", 1, [](AppState& a) { a.deleteSection(0); }, {"B", "C"}, 1},
        {"delete the current last section",
         2,
         [](AppState& a) { a.deleteSection(2); },
         {"A", "B"},
         1},
        {"rename", 0, [](AppState& a) { a.renameSection(1, "Bridge"); }, {"A", "Bridge", "C"}, 0},
        {"out of range does nothing",
         1,
         [](AppState& a) {
             a.duplicateSection(3);
             a.moveSection(-1, 0);
             a.deleteSection(3);
             a.renameSection(-1, "x");
         },
         {"A", "B", "C"},
         1},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        load(makeSet({{"Song", {"A", "B", "C"}}, {"Other", {"X"}}}));
        position(0, c.current, 1);
        c.op(*app);
        EXPECT_EQ(sectionNames(), c.sections);
        EXPECT_EQ(app->currentSectionIndex(), c.currentAfter);
        EXPECT_EQ(sectionNames(1), Names{"X"}); // only the current song is edited
    }
}

TEST_F(Editing, DeletingSectionsToNothingLeavesAnEmptySong) {
    load(makeSet({{"Song", {"A"}}}));
    app->deleteSection(0);
    EXPECT_TRUE(song().sections.empty());
    EXPECT_EQ(app->currentSectionIndex(), 0);
    EXPECT_EQ(app->currentSection(), nullptr);
}

TEST_F(Editing, DuplicateCopiesStepsButNotTriggersMomentsOrMomentary) {
    Setlist set = makeSet({{"Song", {"A", "B", "C"}}});
    Section& b = set.songs[0].sections[1];
    b.steps.resize(2);
    b.steps[0].mutedLayerIDs = {set.layers[0].id};
    b.steps[1].advanceBars = 4;
    b.steps[1].returnToMain = true;
    b.jumpTrigger = AdvanceTrigger{"FCB", AdvanceTrigger::Kind::note, 36};
    b.moments.emplace_back();
    set.songs[0].sections[2].steps.clear(); // a section without steps
    load(set);

    app->duplicateSection(1);
    const Section& copy = section(2);
    EXPECT_NE(copy.id, b.id);
    EXPECT_EQ(copy.name, "B");
    ASSERT_EQ(copy.steps.size(), 2u);
    for (std::size_t i = 0; i < 2; ++i) {
        EXPECT_NE(copy.steps[i].id, b.steps[i].id);
        EXPECT_EQ(copy.steps[i].mutedLayerIDs, b.steps[i].mutedLayerIDs);
        EXPECT_EQ(copy.steps[i].advanceBars, b.steps[i].advanceBars);
        EXPECT_FALSE(copy.steps[i].returnToMain);
    }
    EXPECT_FALSE(copy.jumpTrigger);
    EXPECT_TRUE(copy.moments.empty());

    app->duplicateSection(3);
    ASSERT_EQ(section(4).steps.size(), 1u);
    EXPECT_EQ(section(4).steps[0].mutedLayerIDs, UuidSet{});
}

TEST_F(Editing, StepOperations) {
    Setlist set = makeSet({{"Song", {"A", "B"}}, {"Other", {"X"}}});
    set.songs[0].sections[0].steps[0].mutedLayerIDs = {set.layers[0].id, set.layers[1].id};
    set.songs[0].sections[1].steps.clear();
    load(set);

    // A new step starts from the last step's mutes.
    app->addStep(section(0));
    app->addStep(section(1));
    ASSERT_EQ(section(0).steps.size(), 2u);
    EXPECT_EQ(names(section(0).steps[1].mutedLayerIDs), (Names{"A", "B"}));
    EXPECT_NE(section(0).steps[1].id, section(0).steps[0].id);
    ASSERT_EQ(section(1).steps.size(), 1u);
    EXPECT_TRUE(section(1).steps[0].mutedLayerIDs.empty());

    // The last remaining step stays.
    app->deleteStep(section(1), 0);
    EXPECT_EQ(section(1).steps.size(), 1u);

    // Deleting step 2 of 3 while standing on step 2 moves back to the new last step.
    app->addStep(section(0));
    app->setCurrentStepIndex(2);
    app->deleteStep(section(0), 1);
    EXPECT_EQ(section(0).steps.size(), 2u);
    EXPECT_EQ(app->currentStepIndex(), 1);

    // Momentary: never the main step.
    app->toggleMomentary(section(0), 0);
    app->toggleMomentary(section(0), 2);
    EXPECT_FALSE(section(0).steps[0].returnToMain);
    app->toggleMomentary(section(0), 1);
    EXPECT_TRUE(section(0).steps[1].returnToMain);

    app->setAdvanceBars(3, section(0), 1); // stored unchecked
    EXPECT_EQ(section(0).steps[1].advanceBars, 3);
    app->setAdvanceBars(std::nullopt, section(0), 1);
    EXPECT_FALSE(section(0).steps[1].advanceBars);

    // Sections of another song are not found.
    const Section elsewhere = section(0, 1);
    const Song before = song(1);
    app->addStep(elsewhere);
    app->setAdvanceBars(2, elsewhere, 0);
    app->setJumpTrigger(AdvanceTrigger{}, elsewhere.id);
    app->addMoment(elsewhere);
    EXPECT_EQ(song(1), before);
}

TEST_F(Editing, MomentsAreNumberedFromTheirCount) {
    load(makeSet({{"Song", {"A"}}}));
    for (int i = 0; i < 3; ++i)
        app->addMoment(section(0));
    app->renameSection(0, "A"); // no change, no write
    const auto names = [&] {
        Names out;
        for (const auto& m : section(0).moments)
            out.push_back(m.name);
        return out;
    };
    EXPECT_EQ(names(), (Names{"Moment 1", "Moment 2", "Moment 3"}));
    EXPECT_EQ(section(0).moments[0].anchor, FireAnchor::barsBeforeSectionEnd(2));

    app->deleteMoment(section(0).moments[1], section(0));
    app->addMoment(section(0));
    EXPECT_EQ(names(), (Names{"Moment 1", "Moment 3", "Moment 3"}));
}

TEST_F(Editing, MomentsBindingReadsAndWritesWhileTheStateLives) {
    load(makeSet({{"Song", {"A", "B"}}}));
    app->addMoment(section(1));
    MomentsBinding binding = app->momentsBinding(section(1));
    ASSERT_EQ(binding.get().size(), 1u);

    auto moments = binding.get();
    moments[0].name = "Swell";
    moments.emplace_back();
    binding.set(moments);
    EXPECT_EQ(section(1).moments, moments);

    app->addSong(); // the binding follows the current song: no section of that id there
    EXPECT_TRUE(binding.get().empty());
    binding.set({});
    EXPECT_EQ(song(0).sections[1].moments, moments);

    app.reset();
    EXPECT_TRUE(binding.get().empty());
    binding.set(moments); // must not touch freed memory
}

TEST_F(Editing, JumpTriggersOfTheCurrentSong) {
    load(makeSet({{"Song", {"A", "B", "C"}}}));
    const AdvanceTrigger note{"FCB1010", AdvanceTrigger::Kind::note, 36};
    const AdvanceTrigger cc{"FCB1010", AdvanceTrigger::Kind::cc, 64};
    app->setJumpTrigger(note, section(0).id);
    app->setJumpTrigger(cc, section(2).id);
    app->setJumpTrigger(cc, Uuid::random());
    EXPECT_EQ(app->currentJumpTriggers(),
              (std::map<std::int64_t, AdvanceTrigger>{{0, note}, {2, cc}}));
    app->setJumpTrigger(std::nullopt, section(0).id);
    EXPECT_EQ(app->currentJumpTriggers().size(), 1u);
    load(makeSet({}));
    EXPECT_TRUE(app->currentJumpTriggers().empty());
}

TEST_F(Editing, EveryEditIsOneWriteAndNoOpsWriteNothing) {
    load(makeSet({{"Song", {"A", "B"}}}));
    std::vector<Setlist> seen;
    auto c = app->setlist.changed.connect([&](const Setlist& s) { seen.push_back(s); });
    int changes = 0;
    auto d = app->changed.connect([&] { ++changes; });

    app->duplicateSection(0);
    app->deleteSection(0); // a write and two index writes: still one notification of the whole
    app->deleteMoment(Moment{}, section(0));
    app->moveSectionUp(0);
    app->renameCurrentSong("Song");
    EXPECT_EQ(seen.size(), 2u);
    EXPECT_EQ(changes, 2);
    EXPECT_EQ(seen.back().songs[0].sections.size(), 2u);
}

TEST_F(Editing, ReplacingTheCurrentSectionDropsItsMomentOverride) {
    load(makeSet({{"Song", {"A", "B", "C"}}, {"Two", {"X"}}}));
    position(0, 1, 0);
    armMomentState();
    app->deleteSection(0); // index 1 now holds C
    EXPECT_FALSE(app->activeMomentMutedIDs().has_value());

    armMomentState();
    app->renameSection(1, "C2"); // same section, still current
    app->addSection();
    EXPECT_TRUE(app->activeMomentMutedIDs().has_value());

    app->deleteSong(0); // index 0 now holds "Two"
    EXPECT_FALSE(app->activeMomentMutedIDs().has_value());
}

TEST_F(Editing, LayersAddUpToTheLevelsCapAndDeleteFromEveryStep) {
    Setlist set = makeSet({{"Song", {"A", "B"}}, {"Two", {"X"}}}, {"P", "Q"});
    set.layers[0].channel = 7;
    const Uuid q = set.layers[1].id;
    for (auto& s : set.songs)
        s.sections[0].steps[0].mutedLayerIDs = {q};
    Moment m;
    m.muteLayerIDs = {q};
    set.songs[0].sections[1].moments.push_back(m);
    load(set, StrataMode::essentials);

    app->addLayer("Port 1");
    const Layer& added = app->setlist().layers.back();
    EXPECT_EQ(added.name, "Layer 3");
    EXPECT_EQ(added.portName, "Port 1");
    EXPECT_EQ(added.channel, 8);
    EXPECT_EQ(added.muteCC, 22);
    for (int i = 0; i < 10; ++i)
        app->addLayer("");
    EXPECT_EQ(app->setlist().layers.size(), 8u);
    app->setMode(StrataMode::pro);
    for (int i = 0; i < 10; ++i)
        app->addLayer("");
    EXPECT_EQ(app->setlist().layers.size(), 16u);
    EXPECT_EQ(app->setlist().layers.back().channel, 16);

    app->deleteLayer(q);
    EXPECT_EQ(app->setlist().layers.size(), 15u);
    EXPECT_TRUE(section(0).steps[0].mutedLayerIDs.empty());
    EXPECT_TRUE(section(0, 1).steps[0].mutedLayerIDs.empty());
    EXPECT_EQ(section(1).moments[0].muteLayerIDs, UuidSet{q}); // Moments keep their references
}
