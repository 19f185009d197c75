#include "engine_fixture.h"
#include "support/records.h"

#include <functional>

using namespace strata;
using namespace strata::testing;

namespace {

// Songs with the given numbers of sections.
Setlist setOfSizes(const std::vector<int>& sizes) {
    std::vector<Names> songs;
    for (int n : sizes)
        songs.push_back(Names(static_cast<std::size_t>(n) + 1, "x"));
    return makeSet(songs);
}

using Op = std::function<void(AppState&)>;
const Op advance = [](AppState& a) { a.advance(); };
const Op retreat = [](AppState& a) { a.retreat(); };
Op jumpTo(std::int64_t i) {
    return [i](AppState& a) { a.jump(i); };
}

} // namespace

class Navigation : public EngineTest {};

TEST_F(Navigation, MovesThroughTheSetWithoutWrapping) {
    struct Case {
        const char* what;
        std::vector<int> sizes;
        std::array<std::int64_t, 3> from;
        Op op;
        std::array<std::int64_t, 3> to;
        bool cleared; // Moment bookkeeping reset
    };
    // clang-format off
    const Case cases[] = {
        {"advance within a song",         {3, 2},    {0, 1, 2},  advance, {0, 2, 0},  true},
        {"advance off a song's end",      {3, 2},    {0, 2, 1},  advance, {1, 0, 0},  true},
        {"advance at the set's end",      {3, 2},    {1, 1, 1},  advance, {1, 1, 0},  false},
        {"advance without a song",        {},        {0, 0, 1},  advance, {0, 0, 1},  false},
        {"advance from an empty song",    {2, 0, 3}, {1, -1, 0}, advance, {2, 0, 0},  true},
        {"retreat within a song",         {3, 2},    {0, 2, 1},  retreat, {0, 1, 0},  true},
        {"retreat into the last section", {3, 2},    {1, 0, 1},  retreat, {0, 2, 0},  true},
        {"retreat into an empty song",    {0, 2},    {1, 0, 0},  retreat, {0, -1, 0}, true},
        {"retreat at the set's start",    {3},       {0, 0, 1},  retreat, {0, 0, 0},  false},
        {"retreat without a song",        {},        {0, 0, 2},  retreat, {0, 0, 0},  false},
        {"jump",                          {4},       {0, 0, 1},  jumpTo(2), {0, 2, 0}, true},
        {"jump to the current section",   {4},       {0, 2, 1},  jumpTo(2), {0, 2, 0}, false},
        {"jump past the end",             {4},       {0, 1, 1},  jumpTo(4), {0, 1, 1}, false},
        {"jump below 0",                  {4},       {0, 1, 1},  jumpTo(-1), {0, 1, 1}, false},
        {"jump without a song",           {},        {0, 0, 1},  jumpTo(0), {0, 0, 1}, false},
    };
    // clang-format on
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        load(setOfSizes(c.sizes));
        position(c.from[0], c.from[1], c.from[2]);
        const Moment armed = armMomentState();
        c.op(*app);
        EXPECT_EQ(positionNow(), c.to);
        EXPECT_EQ(!app->activeMomentMutedIDs().has_value(), c.cleared);
        EXPECT_EQ(!app->hasFired(armed.id), c.cleared);
    }
}

TEST_F(Navigation, IndexObserversSeeTheResetAlreadyDone) {
    load(setOfSizes({3, 3}));
    armMomentState();
    app->dueMoments(6, true);
    app->setCurrentSongIndex(0); // same value: no reset
    ASSERT_EQ(app->sectionStartBars(), 6);

    std::optional<bool> overrideSeen;
    auto c = app->currentSongIndex.changed.connect(
        [&](std::int64_t) { overrideSeen = app->activeMomentMutedIDs().has_value(); });
    int changes = 0;
    auto d = app->changed.connect([&] { ++changes; });
    app->setCurrentSongIndex(1);
    EXPECT_EQ(overrideSeen, false);
    EXPECT_FALSE(app->sectionStartBars());
    EXPECT_EQ(changes, 1); // one for the whole operation
}

TEST_F(Navigation, StepsFollowTheLevelAndSnapBackFromMomentarySteps) {
    struct Case {
        const char* what;
        StrataMode mode;
        std::vector<bool> momentary; // per step
        std::int64_t from;
        bool next;
        std::int64_t to;
        int pushes;
    };
    const auto pro = StrataMode::pro, ess = StrataMode::essentials;
    // clang-format off
    const Case cases[] = {
        {"onto a momentary step",        pro, {false, true},         0, true,  1, 1},
        {"off a momentary step",         pro, {false, true, false},  1, true,  0, 1},
        {"back from a momentary step",   pro, {false, true},         1, false, 0, 1},
        {"the last step holds",          pro, {false, false, false}, 2, true,  2, 0},
        {"the main step holds",          pro, {false, false, false}, 0, false, 0, 0},
        {"next from past the end holds", pro, {false, false},        5, true,  5, 0},
        {"back from past the end",       pro, {false, false, false}, 7, false, 1, 1},
        {"Essentials has no next",       ess, {false, false},        0, true,  0, 0},
        {"Essentials has no back",       ess, {false, false},        1, false, 1, 0},
    };
    // clang-format on
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        Setlist set = setOfSizes({2});
        auto& steps = set.songs[0].sections[0].steps;
        growTo(steps, c.momentary.size());
        for (std::size_t i = 0; i < steps.size(); ++i)
            steps[i].returnToMain = c.momentary[i];
        load(set, c.mode);
        position(0, 0, c.from);
        const Moment armed = armMomentState();
        int pushes = 0;
        app->pushNow = [&] { ++pushes; };

        c.next ? app->nextStep() : app->prevStep();
        EXPECT_EQ(app->currentStepIndex(), c.to);
        EXPECT_EQ(pushes, c.pushes);
        EXPECT_TRUE(app->hasFired(armed.id)); // step changes keep the section's Moments
    }
}

TEST_F(Navigation, DerivedRecordsGiveNothingOutOfRange) {
    load(setOfSizes({}));
    EXPECT_FALSE(app->currentSong() || app->currentSection() || app->nextSection() ||
                 app->currentStep());

    Setlist set = setOfSizes({2, 3});
    const auto& steps = set.songs[0].sections[1].steps;
    growTo(set.songs[0].sections[1].steps, 3);
    load(set);
    position(0, 1, 9);
    EXPECT_EQ(app->currentSection()->id, set.songs[0].sections[1].id);
    EXPECT_EQ(app->nextSection(), nullptr);         // never the next song's
    EXPECT_EQ(app->currentStep()->id, steps[2].id); // clamped in Pro
    app->setMode(StrataMode::essentials);
    EXPECT_EQ(app->currentStep()->id, steps[0].id); // always the main step
    position(0, -1, 0);
    EXPECT_EQ(app->currentSection(), nullptr);
    EXPECT_EQ(app->nextSection()->id, set.songs[0].sections[0].id);
}

TEST_F(Navigation, TheLevelIsStoredOnEveryWriteAndReadAtStart) {
    EXPECT_EQ(settings.writeCount(AppState::kModeKey), 0);
    EXPECT_EQ(app->mode(), StrataMode::essentials); // nothing stored
    app->setMode(StrataMode::pro);
    app->setMode(StrataMode::pro);
    EXPECT_EQ(settings.writeCount(AppState::kModeKey), 2);
    EXPECT_EQ(settings.stringValue(AppState::kModeKey), "pro");

    for (const char* stored : {"pro", "Pro", ""}) {
        MemorySettings other;
        other.setString(AppState::kModeKey, stored);
        AppState state(location(), other, loop);
        EXPECT_EQ(state.mode() == StrataMode::pro, std::string(stored) == "pro") << stored;
    }
}
