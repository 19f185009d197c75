#include "engine/position.h"
#include "engine/set_edits.h"
#include "engine_fixture.h"
#include "support/records.h"

#include <functional>

using namespace strata;
using namespace strata::testing;

// The edits as pure functions: no fixture, no position. An edit that finds nothing to do returns
// none, which is what keeps a no-op from becoming a write (and an undo step).
TEST(SetEdits, AnEditThatFindsNothingToDoReturnsNone) {
    const Setlist set = makeSet({{"Song", "A", "B"}, {"Other", "X"}});
    const Uuid a = set.songs[0].sections[0].id;
    const Uuid x = set.songs[1].sections[0].id; // a section of another song
    const Uuid layer = set.layers[0].id;
    using Edit = std::function<edits::Edited(Setlist)>;
    struct Case {
        const char* what;
        Edit edit;
        bool changes;
    };
    // clang-format off
    const Case cases[] = {
        {"add a step",                  [&](Setlist s) { return edits::addStep(s, 0, a); },              true},
        {"add a step elsewhere",        [&](Setlist s) { return edits::addStep(s, 0, x); },              false},
        {"add a step, no such song",    [&](Setlist s) { return edits::addStep(s, 5, a); },              false},
        {"advance bars elsewhere",      [&](Setlist s) { return edits::setAdvanceBars(s, 0, x, 0, 2); }, false},
        {"jump trigger elsewhere",      [&](Setlist s) { return edits::setJumpTrigger(s, 0, x, AdvanceTrigger{}); }, false},
        {"add a Moment elsewhere",      [&](Setlist s) { return edits::addMoment(s, 0, x); },            false},
        {"delete the only step",        [&](Setlist s) { return edits::deleteStep(s, 0, a, 0); },        false},
        {"main step momentary",         [&](Setlist s) { return edits::toggleMomentary(s, 0, a, 0); },   false},
        {"same advance bars",           [&](Setlist s) { return edits::setAdvanceBars(s, 0, a, 0, {}); }, false},
        {"new advance bars",            [&](Setlist s) { return edits::setAdvanceBars(s, 0, a, 0, 4); }, true},
        {"toggle a layer",              [&](Setlist s) { return edits::toggleLayer(s, 0, a, 0, layer); }, true},
        {"toggle beyond the steps",     [&](Setlist s) { return edits::toggleLayer(s, 0, a, 1, layer); }, false},
        {"toggle elsewhere",            [&](Setlist s) { return edits::toggleLayer(s, 0, x, 0, layer); }, false},
        {"delete an unknown Moment",    [&](Setlist s) { return edits::deleteMoment(s, 0, a, Uuid::random()); }, false},
        {"same Moments",                [&](Setlist s) { return edits::setMoments(s, 0, a, {}); },       false},
        {"trigger of unknown Moment",   [&](Setlist s) { return edits::setMomentTrigger(s, Uuid::random(), AdvanceTrigger{}); }, false},
        {"same section name",           [&](Setlist s) { return edits::renameSection(s, 0, 1, "B"); },   false},
        {"move onto itself",            [&](Setlist s) { return edits::moveSection(s, 0, 1, 2); },       false},
        {"move to the front",           [&](Setlist s) { return edits::moveSection(s, 0, 1, -3); },      true},
        {"layer beyond the cap",        [&](Setlist s) { return edits::addLayer(s, 4, ""); },            false},
        {"layer within the cap",        [&](Setlist s) { return edits::addLayer(s, 5, ""); },            true},
        {"delete an unknown layer",     [&](Setlist s) { return edits::deleteLayer(s, Uuid::random()); }, false},
        {"same set name",               [&](Setlist s) { return edits::renameSet(s, "Test Set"); },      false},
        {"move a song past the end",    [&](Setlist s) { return edits::moveSong(s, 0, 9); },             true},
        {"delete no song",              [&](Setlist s) { return edits::deleteSong(s, 2); },              false},
    };
    // clang-format on
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const auto edited = c.edit(set);
        ASSERT_EQ(edited.has_value(), c.changes);
        if (edited) {
            EXPECT_NE(*edited, set);
        }
    }
}

TEST(Position, ARestoredSetIsFollowedByIdElseClamped) {
    const Setlist set = makeSet({{"One", "a", "b"}, {"Two", "c", "d", "e"}, {"Empty"}});
    const Uuid two = set.songs[1].id;
    const Uuid d = set.songs[1].sections[1].id;
    Setlist threeSteps = set;
    growTo(threeSteps.songs[1].sections[1].steps, 3);
    struct Case {
        const char* what;
        const Setlist& into;
        Position was;
        std::optional<Uuid> song, section;
        Position expected;
    };
    const Case cases[] = {
        {"song and section found by id", threeSteps, {0, 0, 2}, two, d, {1, 1, 2}},
        {"the step clamped into the section", set, {0, 0, 2}, two, d, {1, 1, 0}},
        {"unknown ids: clamped, the step starts over",
         set,
         {7, 9, 2},
         Uuid::random(),
         Uuid::random(),
         {2, 0, 0}},
        {"a song without sections keeps no section",
         set,
         {2, -1, 0},
         std::nullopt,
         std::nullopt,
         {2, -1, 0}},
        {"an empty set", Setlist{}, {3, 2, 1}, two, d, {0, 0, 0}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        EXPECT_EQ(followInto(c.into, c.was, c.song, c.section), c.expected);
    }
}
