#include "engine_fixture.h"

using namespace strata;
using namespace strata::testing;

namespace {

struct MomentDef {
    std::string name;
    FireAnchor anchor;
    Names unmute, mute;
};

struct RuleDef {
    std::string layer;
    LayerRule::Effect effect;
    FireAnchor anchor;
    std::set<std::string> onlyIn = {}; // empty: every section
    bool enabled = true;
};

struct Tick {
    std::optional<std::int64_t> bars;
    bool playing;
    Names fired; // Moments in the result, in order
    bool any;
    Names muted; // after the tick
};

struct Scene {
    std::string sectionName;
    Names stepMutes;
    std::vector<MomentDef> moments;
    std::vector<RuleDef> rules;
};

const auto enter = FireAnchor::onSectionEnter();
const auto after = FireAnchor::barsAfterStart;
const auto before = FireAnchor::barsBeforeSectionEnd;
const auto in = LayerRule::Effect::swellIn;
const auto out = LayerRule::Effect::muteOut;

} // namespace

class Moments : public EngineTest {
protected:
    // The scene's section first in a song with a second section "Other"; layers A-D.
    void stage(const Scene& scene) {
        load(makeSet({{"Song", scene.sectionName, "Other"}}));
        Setlist set = app->setlist();
        const auto idSet = [&](const Names& names) {
            UuidSet s;
            for (const auto& n : names)
                s.insert(layer(n).id);
            return s;
        };
        Section& section = set.songs[0].sections[0];
        section.steps[0].mutedLayerIDs = idSet(scene.stepMutes);
        for (const auto& m : scene.moments)
            section.moments.push_back(Moment{
                Uuid::random(), m.name, m.anchor, {}, idSet(m.unmute), idSet(m.mute), {}, {}});
        for (const auto& r : scene.rules) {
            for (auto& l : set.layers)
                if (l.name == r.layer)
                    l.rules.push_back(LayerRule{Uuid::random(), r.enabled, r.effect, r.anchor,
                                                r.onlyIn.empty(), r.onlyIn});
        }
        app->setSetlist(set);
    }
    static Names fired(const MomentFire& fire) {
        Names out;
        for (const auto& m : fire.moments)
            out.push_back(m.name);
        return out;
    }
};

TEST_F(Moments, FireOncePerVisitInOrderAndCompose) {
    struct Case {
        const char* what;
        Scene scene;
        std::vector<Tick> ticks;
    };
    const Case cases[] = {
        {"stopped ticks consume nothing",
         {"Verse", {"B"}, {{"M", enter, {}, {"A"}}}, {}},
         {{8, false, {}, false, {"B"}},
          {8, true, {"M"}, true, {"A", "B"}},
          {7, true, {}, false, {"A", "B"}}}},
        {"bar anchors count from the first playing tick",
         {"Verse", {}, {{"after2", after(2), {}, {"A"}}, {"last2", before(2), {}, {"B"}}}, {}},
         {{8, true, {}, false, {}},
          {7, true, {}, false, {}},
          {6, true, {"after2"}, true, {"A"}},
          {3, true, {}, false, {"A"}},
          {2, true, {"last2"}, true, {"A", "B"}}}},
        {"without bar counts only on-enter fires",
         {"Verse",
          {},
          {{"enter", enter, {}, {"A"}},
           {"after0", after(0), {}, {"B"}},
           {"last9", before(9), {}, {"C"}}},
          {{"D", out, enter}, {"C", out, before(5)}}},
         {{std::nullopt, true, {"enter"}, true, {"A", "D"}},
          {std::nullopt, true, {}, false, {"A", "D"}}}},
        {"zero and negative bar counts",
         {"Verse", {}, {{"after0", after(0), {}, {"A"}}, {"lastNeg", before(-3), {}, {"B"}}}, {}},
         {{std::nullopt, true, {}, false, {}},
          {5, true, {"after0"}, true, {"A"}},
          {1, true, {}, false, {"A"}},
          {0, true, {"lastNeg"}, true, {"A", "B"}}}},
        {"manual Moments never fire by themselves",
         {"Verse", {}, {{"hand", FireAnchor::manual(), {}, {"A"}}}, {}},
         {{8, true, {}, false, {}}, {0, true, {}, false, {}}}},
        {"a Moment without layers still makes the override",
         {"Verse", {"A"}, {{"patch only", enter, {}, {}}}, {}},
         {{4, true, {"patch only"}, true, {"A"}}}},
        {"unmute wins within one Moment",
         {"Verse", {"C"}, {{"M", enter, {"A"}, {"A", "B"}}}, {}},
         {{4, true, {"M"}, true, {"B", "C"}}}},
        {"Moments compose from the step's mutes",
         {"Verse", {"B", "C"}, {{"out A", enter, {}, {"A"}}, {"in B", enter, {"B"}, {}}}, {}},
         {{4, true, {"out A", "in B"}, true, {"A", "C"}}}},
        {"a rule runs after the Moments and wins",
         {"Verse", {}, {{"out A", enter, {}, {"A"}}}, {{"A", in, enter}}},
         {{4, true, {"out A"}, true, {}}}},
        {"two rules on one layer take turns",
         {"Verse", {"A"}, {}, {{"A", in, enter}, {"A", out, before(1)}}},
         {{4, true, {}, true, {}}, {2, true, {}, false, {}}, {1, true, {}, true, {"A"}}}},
        {"rules are never listed; disabled rules do nothing",
         {"Verse", {}, {}, {{"A", out, enter, {}, false}, {"B", out, enter}}},
         {{4, true, {}, true, {"B"}}}},
        {"a rule's section names match exactly",
         {"Chorus",
          {},
          {},
          {{"A", out, enter, {"Chorus"}}, {"B", out, enter, {"chorus", "Chorus 2"}}}},
         {{4, true, {}, true, {"A"}}}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        stage(c.scene);
        for (std::size_t t = 0; t < c.ticks.size(); ++t) {
            SCOPED_TRACE("tick " + std::to_string(t));
            const Tick& tick = c.ticks[t];
            const MomentFire fire = app->dueMoments(tick.bars, tick.playing);
            EXPECT_EQ(fired(fire), tick.fired);
            EXPECT_EQ(fire.anyFired, tick.any);
            EXPECT_EQ(names(app->activeMutedIDs()), tick.muted);
        }
    }
}

TEST_F(Moments, EssentialsFiresNothingAndRevisitsReArm) {
    stage({"Verse", {}, {{"M", enter, {}, {"A"}}}, {{"B", out, enter}}});
    app->setMode(StrataMode::essentials);
    EXPECT_EQ(app->dueMoments(8, true), MomentFire{});
    EXPECT_FALSE(app->sectionStartBars());
    app->setMode(StrataMode::pro);
    EXPECT_EQ(fired(app->dueMoments(7, true)), Names{"M"});
    EXPECT_EQ(names(app->activeMutedIDs()), (Names{"A", "B"}));

    app->advance(); // the rule applies everywhere; the Moment belongs to the first section
    const MomentFire other = app->dueMoments(8, true);
    EXPECT_TRUE(other.anyFired && other.moments.empty());
    EXPECT_EQ(names(app->activeMutedIDs()), Names{"B"});
    app->retreat();
    EXPECT_EQ(fired(app->dueMoments(8, true)), Names{"M"});
}

TEST_F(Moments, HandFiredMomentsHoldUntilAllOn) {
    stage({"Verse", {"C"}, {{"M", before(2), {"C"}, {"A"}}}, {}});
    app->setMode(StrataMode::essentials); // TEST ignores the level and the anchor
    app->fireManually(section(0).moments[0]);
    EXPECT_EQ(names(app->activeMutedIDs()), Names{"A"});
    EXPECT_EQ(app->enabledLayers().size(), 3u);

    app->setMode(StrataMode::pro);
    app->setActiveMomentMutedIDs(std::nullopt); // ALL ON
    EXPECT_EQ(names(app->activeMutedIDs()), Names{"C"});
    EXPECT_FALSE(app->dueMoments(1, true).anyFired); // what fired stays fired

    app->setActiveMomentMutedIDs(UuidSet{}); // present but empty: everything plays
    EXPECT_EQ(app->enabledLayers().size(), 4u);
}

TEST_F(Moments, ToggleLayerEditsOnlyTheStoredStep) {
    load(makeSet({{"One", "Verse"}, {"Two", "Intro"}}));
    const Section verse = section(0);
    app->toggleLayer(layer("A").id, verse.id, 0);
    EXPECT_EQ(names(app->activeMutedIDs()), Names{"A"});
    app->toggleLayer(layer("A").id, verse.id, 0);
    EXPECT_EQ(section(0), verse); // twice is no change at all

    armMomentState(); // under an override the stored change waits for the override to go
    app->toggleLayer(layer("B").id, verse.id, 0);
    EXPECT_TRUE(app->activeMutedIDs().empty());
    app->setActiveMomentMutedIDs(std::nullopt);
    EXPECT_EQ(names(app->activeMutedIDs()), Names{"B"});
}
