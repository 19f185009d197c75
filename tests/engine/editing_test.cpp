#include "engine_fixture.h"
#include "support/records.h"

#include <functional>

using namespace strata;
using namespace strata::testing;

class Editing : public EngineTest {};

TEST_F(Editing, GridSectionOperationsKeepThePerformerInPlace) {
    using Op = std::function<void(AppState&)>;
    struct Case {
        const char* what;
        std::int64_t current;
        Op op;
        Names sections;
        std::int64_t currentAfter;
    };
    // clang-format off
    const Case cases[] = {
        {"add appends",                 1, [](AppState& a) { a.addSection(); },         {"A", "B", "C", "New Section"}, 1},
        {"duplicate inserts after",     2, [](AppState& a) { a.duplicateSection(1); },  {"A", "B", "B", "C"}, 2},
        {"move the current one down",   0, [](AppState& a) { a.moveSectionDown(0); },   {"B", "A", "C"}, 1},
        {"move one across the current", 1, [](AppState& a) { a.moveSectionUp(2); },     {"A", "C", "B"}, 2},
        {"move far past the end",       0, [](AppState& a) { a.moveSection(0, 99); },   {"B", "C", "A"}, 2},
        {"move the first up",           0, [](AppState& a) { a.moveSectionUp(0); },     {"A", "B", "C"}, 0},
        {"move the last down",          2, [](AppState& a) { a.moveSectionDown(2); },   {"A", "B", "C"}, 2},
        {"delete an earlier one",       1, [](AppState& a) { a.deleteSection(0); },     {"B", "C"}, 1},
        {"delete the current last one", 2, [](AppState& a) { a.deleteSection(2); },     {"A", "B"}, 1},
        {"rename",                      0, [](AppState& a) { a.renameSection(1, "D"); }, {"A", "D", "C"}, 0},
        {"out of range does nothing",   1, [](AppState& a) { a.duplicateSection(3); a.moveSection(-1, 0);
                                                              a.deleteSection(3); a.renameSection(-1, "x"); },
                                                                                         {"A", "B", "C"}, 1},
    };
    // clang-format on
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        load(makeSet({{"Song", "A", "B", "C"}, {"Other", "X"}}));
        position(0, c.current, 1);
        c.op(*app);
        EXPECT_EQ(sectionNames(), c.sections);
        EXPECT_EQ(app->currentSectionIndex(), c.currentAfter);
        EXPECT_EQ(sectionNames(1), Names{"X"}); // only the current song is edited
    }
}

TEST_F(Editing, DuplicateCopiesStepsButNotTriggersMomentsOrMomentary) {
    Setlist set = makeSet({{"Song", "A", "B"}});
    Section& a = set.songs[0].sections[0];
    growTo(a.steps, 2);
    a.steps[0].mutedLayerIDs = {set.layers[0].id};
    a.steps[1].advanceBars = 4;
    a.steps[1].returnToMain = true;
    a.jumpTrigger = AdvanceTrigger{"FCB", AdvanceTrigger::Kind::note, 36};
    a.moments.push_back(Moment::fresh());
    set.songs[0].sections[1].steps.clear();
    load(set);

    app->duplicateSection(0);
    const Section& copy = section(1);
    EXPECT_NE(copy.id, a.id);
    EXPECT_EQ(copy.name, "A");
    ASSERT_EQ(copy.steps.size(), 2u);
    for (std::size_t i = 0; i < 2; ++i) {
        EXPECT_NE(copy.steps[i].id, a.steps[i].id);
        EXPECT_EQ(copy.steps[i].mutedLayerIDs, a.steps[i].mutedLayerIDs);
        EXPECT_EQ(copy.steps[i].advanceBars, a.steps[i].advanceBars);
        EXPECT_FALSE(copy.steps[i].returnToMain);
    }
    EXPECT_FALSE(copy.jumpTrigger);
    EXPECT_TRUE(copy.moments.empty());

    app->duplicateSection(2); // a section without steps gets one
    EXPECT_EQ(section(3).steps.size(), 1u);
}

TEST_F(Editing, StepOperations) {
    Setlist set = makeSet({{"Song", "A", "B"}, {"Other", "X"}});
    set.songs[0].sections[0].steps[0].mutedLayerIDs = {set.layers[0].id, set.layers[1].id};
    set.songs[0].sections[1].steps.clear();
    load(set);

    app->addStep(section(0).id); // starts from the last step's mutes
    app->addStep(section(1).id);
    EXPECT_EQ(names(section(0).steps.at(1).mutedLayerIDs), (Names{"A", "B"}));
    EXPECT_NE(section(0).steps.at(1).id, section(0).steps.at(0).id); // a copy, with its own id
    EXPECT_TRUE(section(1).steps.at(0).mutedLayerIDs.empty());

    app->deleteStep(section(1).id, 0); // never the last one
    EXPECT_EQ(section(1).steps.size(), 1u);
    app->addStep(section(0).id);
    app->setCurrentStepIndex(2);
    app->deleteStep(section(0).id, 1);
    EXPECT_EQ(section(0).steps.size(), 2u);
    EXPECT_EQ(app->currentStepIndex(), 1);

    app->toggleMomentary(section(0).id, 0); // never the main step
    app->toggleMomentary(section(0).id, 1);
    EXPECT_FALSE(section(0).steps[0].returnToMain);
    EXPECT_TRUE(section(0).steps[1].returnToMain);
    app->setAdvanceBars(3, section(0).id, 1);
    EXPECT_EQ(section(0).steps[1].advanceBars, 3);
}

TEST_F(Editing, MomentsAreNumberedFromTheirCountAndTheirBindingIsSafeAfterTheStateIsGone) {
    load(makeSet({{"Song", "A", "B"}})); // the Moments of B: found by id, not by place
    for (int i = 0; i < 3; ++i)
        app->addMoment(section(1).id);
    app->deleteMoment(section(1).moments[1].id, section(1).id);
    app->addMoment(section(1).id);
    const MomentsBinding binding = app->momentsBinding(section(1).id);
    auto moments = binding.get();
    Names names;
    for (const auto& m : moments)
        names.push_back(m.name);
    EXPECT_EQ(names, (Names{"Moment 1", "Moment 3", "Moment 3"}));
    EXPECT_NE(moments[1].id, moments[2].id);
    EXPECT_EQ(moments[0].anchor, FireAnchor::barsBeforeSectionEnd(2));

    moments[0].name = "Swell";
    binding.set(moments);
    EXPECT_EQ(section(1).moments, moments);
    app->addSong(); // another song is current: the section is not found there
    EXPECT_TRUE(binding.get().empty());
    app.reset();
    EXPECT_TRUE(binding.get().empty());
    binding.set(moments);
}

TEST_F(Editing, ReplacingTheCurrentSectionDropsItsMomentOverride) {
    load(makeSet({{"Song", "A", "B", "C"}, {"Two", "X"}}));
    position(0, 1, 0);
    armMomentState();
    app->deleteSection(0); // index 1 now holds C
    EXPECT_FALSE(app->activeMomentMutedIDs());

    armMomentState();
    app->renameSection(1, "C2"); // still the same section
    app->addSection();
    EXPECT_TRUE(app->activeMomentMutedIDs());
    app->deleteSong(0); // index 0 now holds "Two"
    EXPECT_FALSE(app->activeMomentMutedIDs());
}

TEST_F(Editing, LayersAddUpToTheCapAndLeaveEveryStepWhenDeleted) {
    Setlist set = makeSet({{"Song", "A", "B"}, {"Two", "X"}}, {"P", "Q"});
    set.layers[0].channel = 7;
    const Uuid q = set.layers[1].id;
    set.songs[1].sections[0].steps[0].mutedLayerIDs = {q};
    set.songs[0].sections[1].moments.push_back(Moment::fresh());
    set.songs[0].sections[1].moments[0].muteLayerIDs = {q};
    load(set, StrataMode::essentials);

    for (int i = 0; i < 10; ++i)
        app->addLayer(i == 0 ? "Port 1" : "");
    const auto& layers = app->setlist().layers;
    ASSERT_EQ(layers.size(), 8u);
    EXPECT_EQ(layers[2], (Layer{layers[2].id, "Layer 3", "Port 1", 8, 22, {}}));
    EXPECT_NE(layers[2].id, layers[1].id);
    app->setMode(StrataMode::pro);
    for (int i = 0; i < 10; ++i)
        app->addLayer("");
    EXPECT_EQ(layers.size(), 16u);
    EXPECT_EQ(layers.back().channel, 16);

    app->deleteLayer(q);
    EXPECT_EQ(layers.size(), 15u);
    EXPECT_TRUE(section(0, 1).steps[0].mutedLayerIDs.empty());
    EXPECT_EQ(section(1).moments[0].muteLayerIDs, UuidSet{q}); // Moments keep their references
}
