#include "engine_fixture.h"

#include <functional>

using namespace strata;
using strata::testing::EngineTest;
using strata::testing::makeSet;
using strata::testing::makeSetOfSizes;

namespace {

struct Position {
    std::int64_t song, section, step;
    friend bool operator==(const Position&, const Position&) = default;
    friend std::ostream& operator<<(std::ostream& os, const Position& p) {
        return os << "(" << p.song << ", " << p.section << ", " << p.step << ")";
    }
};

struct NavCase {
    const char* what;
    std::vector<int> sectionCounts;
    Position from;
    std::function<void(AppState&)> op;
    Position to;
    bool bookkeepingCleared;
};

const auto advance = [](AppState& a) { a.advance(); };
const auto retreat = [](AppState& a) { a.retreat(); };
const auto jumpTo = [](std::int64_t i) { return [i](AppState& a) { a.jump(i); }; };

} // namespace

class Navigation : public EngineTest {};

TEST_F(Navigation, MovesThroughTheSetWithoutWrapping) {
    const NavCase cases[] = {
        {"advance within a song", {3, 2}, {0, 1, 2}, advance, {0, 2, 0}, true},
        {"advance off a song's end", {3, 2}, {0, 2, 1}, advance, {1, 0, 0}, true},
        {"advance at the set's end", {3, 2}, {1, 1, 1}, advance, {1, 1, 0}, false},
        {"advance without a song", {}, {0, 0, 1}, advance, {0, 0, 1}, false},
        {"advance out of a song without sections", {2, 0, 3}, {1, -1, 0}, advance, {2, 0, 0}, true},
        {"retreat within a song", {3, 2}, {0, 2, 1}, retreat, {0, 1, 0}, true},
        {"retreat into the previous song's last section",
         {3, 2},
         {1, 0, 1},
         retreat,
         {0, 2, 0},
         true},
        {"retreat into a song without sections", {0, 2}, {1, 0, 0}, retreat, {0, -1, 0}, true},
        {"retreat at the set's start", {3}, {0, 0, 1}, retreat, {0, 0, 0}, false},
        {"retreat without a song", {}, {0, 0, 2}, retreat, {0, 0, 0}, false},
        {"jump to a section", {4}, {0, 0, 1}, jumpTo(2), {0, 2, 0}, true},
        {"jump to the current section", {4}, {0, 2, 1}, jumpTo(2), {0, 2, 0}, false},
        {"jump past the end", {4}, {0, 1, 1}, jumpTo(4), {0, 1, 1}, false},
        {"jump to a negative index", {4}, {0, 1, 1}, jumpTo(-1), {0, 1, 1}, false},
        {"jump without a song", {}, {0, 0, 1}, jumpTo(0), {0, 0, 1}, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        load(makeSetOfSizes(c.sectionCounts));
        position(c.from.song, c.from.section, c.from.step);
        const Moment armed = armMomentState();

        c.op(*app);

        EXPECT_EQ((Position{app->currentSongIndex(), app->currentSectionIndex(),
                            app->currentStepIndex()}),
                  c.to);
        EXPECT_EQ(!app->activeMomentMutedIDs().has_value(), c.bookkeepingCleared);
        EXPECT_EQ(!app->hasFired(armed.id), c.bookkeepingCleared);
    }
}

TEST_F(Navigation, IndexWritesResetMomentBookkeepingOnlyWhenTheValueChanges) {
    load(makeSetOfSizes({3, 3}));
    armMomentState();
    app->dueMoments(6, true); // captures the section's start count
    ASSERT_EQ(app->sectionStartBars(), 6);

    app->setCurrentSectionIndex(0); // same value
    app->setCurrentSongIndex(0);
    app->setCurrentStepIndex(2); // steps never reset
    EXPECT_TRUE(app->activeMomentMutedIDs().has_value());
    EXPECT_EQ(app->sectionStartBars(), 6);

    int overrideWrites = 0;
    auto c = app->activeMomentMutedIDs.changed.connect([&](const auto&) { ++overrideWrites; });
    std::optional<bool> overrideSeenByIndexObserver;
    auto d = app->currentSongIndex.changed.connect([&](std::int64_t) {
        overrideSeenByIndexObserver = app->activeMomentMutedIDs().has_value();
    });
    app->setCurrentSongIndex(1);
    EXPECT_FALSE(app->activeMomentMutedIDs().has_value());
    EXPECT_FALSE(app->sectionStartBars().has_value());
    EXPECT_EQ(overrideWrites, 1);
    // Observers of the index already see the cleared state.
    EXPECT_EQ(overrideSeenByIndexObserver, false);
}

TEST_F(Navigation, StepsFollowTheFeatureLevelAndMomentarySteps) {
    struct StepCase {
        const char* what;
        StrataMode mode;
        std::vector<bool> momentary; // per step; step 0 is the main step
        std::int64_t from;
        bool forward;
        std::int64_t to;
        int pushes;
    };
    const StepCase cases[] = {
        {"next onto a momentary step", StrataMode::pro, {false, true}, 0, true, 1, 1},
        {"next from a momentary step snaps back",
         StrataMode::pro,
         {false, true, false},
         1,
         true,
         0,
         1},
        {"prev from a momentary step", StrataMode::pro, {false, true}, 1, false, 0, 1},
        {"next on the last step holds", StrataMode::pro, {false, false, false}, 2, true, 2, 0},
        {"prev on the main step holds", StrataMode::pro, {false, false, false}, 0, false, 0, 0},
        {"next from an index past the end holds", StrataMode::pro, {false, false}, 5, true, 5, 0},
        {"prev from an index past the end", StrataMode::pro, {false, false, false}, 7, false, 1, 1},
        {"next in Essentials", StrataMode::essentials, {false, false}, 0, true, 0, 0},
        {"prev in Essentials", StrataMode::essentials, {false, false}, 1, false, 1, 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        Setlist set = makeSetOfSizes({2});
        auto& steps = set.songs[0].sections[0].steps;
        steps.clear();
        for (bool m : c.momentary) {
            SectionStep step;
            step.returnToMain = m;
            steps.push_back(step);
        }
        load(set, c.mode);
        position(0, 0, c.from);
        const Moment armed = armMomentState();
        int pushes = 0;
        app->pushNow = [&] { ++pushes; };

        c.forward ? app->nextStep() : app->prevStep();

        EXPECT_EQ(app->currentStepIndex(), c.to);
        EXPECT_EQ(pushes, c.pushes);
        EXPECT_EQ(app->currentSectionIndex(), 0);
        // A step change keeps the Moment override of the section.
        EXPECT_TRUE(app->activeMomentMutedIDs().has_value());
        EXPECT_TRUE(app->hasFired(armed.id));
    }
}

TEST_F(Navigation, DerivedRecordsGiveNothingOutOfRange) {
    load(makeSetOfSizes({}));
    EXPECT_EQ(app->currentSong(), nullptr);
    EXPECT_EQ(app->currentSection(), nullptr);
    EXPECT_EQ(app->nextSection(), nullptr);
    EXPECT_EQ(app->currentStep(), nullptr);
    app->nextStep();
    EXPECT_EQ(app->currentStepIndex(), 0);

    Setlist set = makeSetOfSizes({2, 3});
    set.songs[0].sections[1].steps.resize(3);
    load(set);
    position(0, 1, 0);
    ASSERT_NE(app->currentSection(), nullptr);
    EXPECT_EQ(app->currentSection()->id, set.songs[0].sections[1].id);
    EXPECT_EQ(app->nextSection(), nullptr); // never looks into the next song
    position(0, -1, 0);
    EXPECT_EQ(app->currentSection(), nullptr);
    EXPECT_EQ(app->nextSection()->id, set.songs[0].sections[0].id);
    position(-1, 0, 0);
    EXPECT_EQ(app->currentSong(), nullptr);

    // The step index is clamped in Pro and ignored in Essentials.
    position(0, 1, 9);
    EXPECT_EQ(app->currentStep()->id, set.songs[0].sections[1].steps[2].id);
    app->setMode(StrataMode::essentials);
    EXPECT_EQ(app->currentStep()->id, set.songs[0].sections[1].steps[0].id);
    position(0, 1, -4);
    app->setMode(StrataMode::pro);
    EXPECT_EQ(app->currentStep()->id, set.songs[0].sections[1].steps[0].id);
}

TEST_F(Navigation, EveryWriteOfTheModeIsStored) {
    EXPECT_EQ(settings.writeCount(AppState::kModeKey), 0); // reading it at start writes nothing
    app->setMode(StrataMode::pro);
    app->setMode(StrataMode::pro);
    EXPECT_EQ(settings.writeCount(AppState::kModeKey), 2);
    EXPECT_EQ(settings.stringValue(AppState::kModeKey), "pro");
    app->setMode(StrataMode::essentials);
    EXPECT_EQ(settings.stringValue(AppState::kModeKey), "essentials");

    for (const auto& [stored, expected] :
         std::vector<std::pair<std::optional<std::string>, StrataMode>>{
             {"pro", StrataMode::pro},
             {"Pro", StrataMode::essentials},
             {"", StrataMode::essentials},
             {std::nullopt, StrataMode::essentials}}) {
        MemorySettings other;
        if (stored)
            other.setString(AppState::kModeKey, *stored);
        AppState state(location(), other, loop);
        EXPECT_EQ(state.mode(), expected) << stored.value_or("(absent)");
    }
}

TEST_F(Navigation, OneOperationEmitsChangedOnce) {
    load(makeSetOfSizes({3, 2}));
    position(0, 2, 1);
    int changes = 0;
    auto c = app->changed.connect([&] { ++changes; });
    app->advance(); // song, section and step all move
    EXPECT_EQ(changes, 1);
    app->jump(7); // nothing to do
    EXPECT_EQ(changes, 1);
}
