#include "engine_fixture.h"

using namespace strata;
using strata::testing::EngineTest;
using strata::testing::makeSet;

namespace {

using Names = std::vector<std::string>;

struct MomentSpec {
    std::string name;
    FireAnchor anchor;
    Names unmute, mute;
};

struct RuleSpec {
    std::string layer;
    LayerRule::Effect effect;
    FireAnchor anchor;
    bool allSections = true;
    std::set<std::string> sectionNames = {};
    bool enabled = true;
};

struct Tick {
    std::optional<std::int64_t> bars;
    bool playing;
    Names fired; // Moments listed in the result, in order
    bool any;
    Names muted; // activeMutedIDs after the tick, sorted
};

struct DueCase {
    const char* what;
    std::string sectionName;
    Names stepMutes;
    std::vector<MomentSpec> moments;
    std::vector<RuleSpec> rules;
    std::vector<Tick> ticks;
};

const auto enter = FireAnchor::onSectionEnter;
const auto after = FireAnchor::barsAfterStart;
const auto before = FireAnchor::barsBeforeSectionEnd;
const auto swell = LayerRule::Effect::swellIn;
const auto muteOut = LayerRule::Effect::muteOut;

} // namespace

class Moments : public EngineTest {
protected:
    // One song with the given section (and a second section to leave to), layers A-D.
    void setUp(const DueCase& c) {
        Setlist set = makeSet({{"Song", {c.sectionName, "Other"}}});
        auto layerID = [&](const std::string& n) {
            for (const auto& l : set.layers)
                if (l.name == n)
                    return l.id;
            throw std::runtime_error(n);
        };
        auto idSet = [&](const Names& names) {
            UuidSet s;
            for (const auto& n : names)
                s.insert(layerID(n));
            return s;
        };
        Section& section = set.songs[0].sections[0];
        section.steps[0].mutedLayerIDs = idSet(c.stepMutes);
        for (const auto& m : c.moments) {
            Moment moment;
            moment.name = m.name;
            moment.anchor = m.anchor;
            moment.unmuteLayerIDs = idSet(m.unmute);
            moment.muteLayerIDs = idSet(m.mute);
            section.moments.push_back(moment);
        }
        for (const auto& r : c.rules) {
            LayerRule rule;
            rule.effect = r.effect;
            rule.anchor = r.anchor;
            rule.allSections = r.allSections;
            rule.sectionNames = r.sectionNames;
            rule.enabled = r.enabled;
            for (auto& l : set.layers)
                if (l.name == r.layer)
                    l.rules.push_back(rule);
        }
        load(set, StrataMode::pro);
    }

    static Names momentNames(const MomentFire& fire) {
        Names out;
        for (const auto& m : fire.moments)
            out.push_back(m.name);
        return out;
    }
};

TEST_F(Moments, FireOncePerVisitInOrderAndCompose) {
    const DueCase cases[] = {
        {"stopped ticks consume nothing",
         "Verse",
         {"B"},
         {{"M", enter(), {}, {"A"}}},
         {},
         {{8, false, {}, false, {"B"}},
          {8, true, {"M"}, true, {"A", "B"}},
          {7, true, {}, false, {"A", "B"}}}},
        {"bar anchors count from the first playing tick",
         "Verse",
         {},
         {{"after2", after(2), {}, {"A"}}, {"last2", before(2), {}, {"B"}}},
         {},
         {{8, true, {}, false, {}},
          {7, true, {}, false, {}},
          {6, true, {"after2"}, true, {"A"}},
          {3, true, {}, false, {"A"}},
          {2, true, {"last2"}, true, {"A", "B"}},
          {1, true, {}, false, {"A", "B"}}}},
        {"without bar counts only on-enter fires",
         "Verse",
         {},
         {{"enter", enter(), {}, {"A"}},
          {"after0", after(0), {}, {"B"}},
          {"last99", before(99), {}, {"C"}}},
         {{"D", muteOut, enter()}, {"C", muteOut, before(5)}},
         {{std::nullopt, true, {"enter"}, true, {"A", "D"}},
          {std::nullopt, true, {}, false, {"A", "D"}}}},
        {"zero and negative bar counts",
         "Verse",
         {},
         {{"after0", after(0), {}, {"A"}}, {"lastNeg", before(-3), {}, {"B"}}},
         {},
         {{std::nullopt, true, {}, false, {}},
          {5, true, {"after0"}, true, {"A"}},
          {1, true, {}, false, {"A"}},
          {0, true, {"lastNeg"}, true, {"A", "B"}}}},
        {"manual Moments never fire by themselves",
         "Verse",
         {},
         {{"hand", FireAnchor::manual(), {}, {"A"}}},
         {},
         {{8, true, {}, false, {}}, {0, true, {}, false, {}}}},
        {"a Moment without layers still makes the override",
         "Verse",
         {"A"},
         {{"patch only", enter(), {}, {}}},
         {},
         {{4, true, {"patch only"}, true, {"A"}}}},
        {"unmute wins within one Moment",
         "Verse",
         {"C"},
         {{"M", enter(), {"A"}, {"A", "B"}}},
         {},
         {{4, true, {"M"}, true, {"B", "C"}}}},
        {"Moments compose from the step's mutes",
         "Verse",
         {"B", "C"},
         {{"out A", enter(), {}, {"A"}}, {"in B", enter(), {"B"}, {}}},
         {},
         {{4, true, {"out A", "in B"}, true, {"A", "C"}}}},
        {"a rule runs after the Moments and wins",
         "Verse",
         {},
         {{"out A", enter(), {}, {"A"}}},
         {{"A", swell, enter()}},
         {{4, true, {"out A"}, true, {}}}},
        {"two rules on one layer take turns",
         "Verse",
         {"A"},
         {},
         {{"A", swell, enter()}, {"A", muteOut, before(1)}},
         {{4, true, {}, true, {}}, {2, true, {}, false, {}}, {1, true, {}, true, {"A"}}}},
        {"rules are not listed and disabled rules do nothing",
         "Verse",
         {},
         {},
         {{"A", muteOut, enter(), true, {}, false}, {"B", muteOut, enter()}},
         {{4, true, {}, true, {"B"}}}},
        {"a rule's section names match exactly",
         "Chorus",
         {},
         {},
         {{"A", muteOut, enter(), false, {"Chorus"}},
          {"B", muteOut, enter(), false, {"chorus", "Chorus 2"}}},
         {{4, true, {}, true, {"A"}}}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        setUp(c);
        for (std::size_t t = 0; t < c.ticks.size(); ++t) {
            SCOPED_TRACE("tick " + std::to_string(t));
            const Tick& tick = c.ticks[t];
            const MomentFire fire = app->dueMoments(tick.bars, tick.playing);
            EXPECT_EQ(momentNames(fire), tick.fired);
            EXPECT_EQ(fire.anyFired, tick.any);
            EXPECT_EQ(names(app->activeMutedIDs()), tick.muted);
        }
    }
}

TEST_F(Moments, NothingFiresInEssentialsUntilProIsChosen) {
    setUp({"", "Verse", {}, {{"M", enter(), {}, {"A"}}}, {{"B", muteOut, enter()}}, {}});
    app->setMode(StrataMode::essentials);
    EXPECT_EQ(app->dueMoments(8, true), MomentFire{});
    EXPECT_FALSE(app->sectionStartBars().has_value());
    app->setMode(StrataMode::pro);
    const MomentFire fire = app->dueMoments(7, true);
    EXPECT_EQ(momentNames(fire), Names{"M"});
    EXPECT_EQ(app->sectionStartBars(), 7);
    EXPECT_EQ(names(app->activeMutedIDs()), (Names{"A", "B"}));
}

TEST_F(Moments, LeavingAndReturningReArmsEverything) {
    setUp({"", "Verse", {}, {{"M", enter(), {}, {"A"}}}, {{"B", muteOut, enter()}}, {}});
    EXPECT_TRUE(app->dueMoments(4, true).anyFired);
    EXPECT_FALSE(app->dueMoments(3, true).anyFired);

    app->advance(); // "Other": the rule matches every section, the Moment belongs to "Verse"
    MomentFire fire = app->dueMoments(8, true);
    EXPECT_TRUE(fire.anyFired);
    EXPECT_TRUE(fire.moments.empty());
    EXPECT_EQ(names(app->activeMutedIDs()), Names{"B"});

    app->retreat();
    fire = app->dueMoments(8, true);
    EXPECT_EQ(momentNames(fire), Names{"M"});
    EXPECT_EQ(app->sectionStartBars(), 8);
}

TEST_F(Moments, HandFiredMomentsOverrideTheMixUntilAllOn) {
    setUp({"", "Verse", {"C"}, {{"M", before(2), {"C"}, {"A"}}}, {}, {}});
    const Moment m = section(0).moments[0];
    app->setMode(StrataMode::essentials); // TEST works in any level, for any anchor
    int writes = 0;
    auto c = app->activeMomentMutedIDs.changed.connect([&](const auto&) { ++writes; });
    app->fireManually(m);
    EXPECT_EQ(writes, 1);
    EXPECT_EQ(names(app->activeMutedIDs()), Names{"A"});
    EXPECT_EQ(app->enabledLayers().size(), 3u);

    // A Moment fired by hand does not fire again by itself in this section.
    app->setMode(StrataMode::pro);
    EXPECT_FALSE(app->dueMoments(1, true).anyFired);

    // ALL ON drops the override but keeps what fired.
    app->setActiveMomentMutedIDs(std::nullopt);
    EXPECT_EQ(names(app->activeMutedIDs()), Names{"C"});
    EXPECT_FALSE(app->dueMoments(0, true).anyFired);

    // A present but empty override means everything plays.
    app->setActiveMomentMutedIDs(UuidSet{});
    EXPECT_TRUE(app->activeMutedIDs().empty());
    EXPECT_EQ(app->enabledLayers().size(), 4u);
}

TEST_F(Moments, ToggleLayerEditsTheStoredStepOnly) {
    Setlist set = makeSet({{"One", {"Verse", "Chorus"}}, {"Two", {"Intro"}}});
    set.songs[0].sections[0].steps.resize(2);
    load(set);
    const Section verse = section(0);
    const Section otherSongSection = section(0, 1);

    app->toggleLayer(layer("A"), verse, 1);
    EXPECT_EQ(names(section(0).steps[1].mutedLayerIDs), Names{"A"});
    app->toggleLayer(layer("A"), verse, 1);
    EXPECT_EQ(section(0), verse); // twice is no change at all

    int setlistWrites = 0;
    auto c = app->setlist.changed.connect([&](const Setlist&) { ++setlistWrites; });
    app->toggleLayer(layer("A"), otherSongSection, 0);
    app->toggleLayer(layer("A"), verse, 2);
    app->toggleLayer(layer("A"), verse, -1);
    EXPECT_EQ(setlistWrites, 0);

    // Under an override the stored change waits for the override to go.
    app->fireManually(Moment{});
    app->toggleLayer(layer("B"), verse, 0);
    EXPECT_EQ(setlistWrites, 1);
    EXPECT_TRUE(app->activeMutedIDs().empty());
    app->setActiveMomentMutedIDs(std::nullopt);
    EXPECT_EQ(names(app->activeMutedIDs()), Names{"B"});
}

TEST_F(Moments, VisibleLayersFollowTheLevel) {
    std::vector<std::string> layerNames;
    for (int i = 0; i < 20; ++i)
        layerNames.push_back("L" + std::to_string(i));
    load(makeSet({{"Song", {"Verse"}}}, layerNames), StrataMode::essentials);
    EXPECT_EQ(app->visibleLayers().size(), 8u);
    EXPECT_EQ(app->visibleLayers().front().name, "L0");
    app->setMode(StrataMode::pro);
    EXPECT_EQ(app->visibleLayers().size(), 16u);
    EXPECT_EQ(app->visibleLayers().back().name, "L15");
    EXPECT_EQ(app->setlist().layers.size(), 20u); // the stored list is never cut
    EXPECT_EQ(visibleLayers(StrataMode::pro, std::vector<Layer>(3)).size(), 3u);
    // Muted layers beyond the cap still count as muted for enabledLayers.
    app->toggleLayer(layer("L19"), section(0), 0);
    EXPECT_EQ(app->enabledLayers().size(), 19u);
}
