#include "model/setlist.h"

#include <gtest/gtest.h>
#include <unordered_set>

using namespace strata;

TEST(Uuid, ParsesEitherCaseAndPrintsUpperCase) {
    struct Row {
        std::string text;
        std::optional<std::string> printed;
    };
    const std::vector<Row> rows = {
        {"0f1e2d3c-4b5a-6978-8796-a5b4c3d2e1f0", "0F1E2D3C-4B5A-6978-8796-A5B4C3D2E1F0"},
        {"0F1E2D3C-4B5A-6978-8796-A5B4C3D2E1F0", "0F1E2D3C-4B5A-6978-8796-A5B4C3D2E1F0"},
        {"00000000-0000-0000-0000-000000000000", "00000000-0000-0000-0000-000000000000"},
        {"0F1E2D3C-4B5A-6978-8796-A5B4C3D2E1F", std::nullopt},   // short
        {"0F1E2D3C-4B5A-6978-8796-A5B4C3D2E1F00", std::nullopt}, // long
        {"0F1E2D3C4B5A-6978-8796-A5B4C3D2E1F0-", std::nullopt},  // dashes misplaced
        {"0F1E2D3C-4B5A-6978-8796-A5B4C3D2E1G0", std::nullopt},  // not hex
        {"{F1E2D3C-4B5A-6978-8796-A5B4C3D2E1F}", std::nullopt},
        {" 0F1E2D3C-4B5A-6978-8796-A5B4C3D2E1F", std::nullopt},
        {"0F1E2D3C+4B5A-6978-8796-A5B4C3D2E1F0", std::nullopt},
        {"", std::nullopt},
    };
    for (const auto& row : rows) {
        const auto id = Uuid::parse(row.text);
        EXPECT_EQ(id ? std::optional(id->string()) : std::nullopt, row.printed) << row.text;
    }
}

TEST(Uuid, RandomIdsAreVersion4AndDistinct) {
    std::unordered_set<Uuid> seen;
    for (int i = 0; i < 1000; ++i) {
        const Uuid id = Uuid::random();
        const std::string text = id.string();
        EXPECT_EQ(text[14], '4') << text;
        EXPECT_NE(std::string("89AB").find(text[19]), std::string::npos) << text;
        EXPECT_EQ(Uuid::parse(text), id);
        seen.insert(id);
    }
    EXPECT_EQ(seen.size(), 1000u);
}

TEST(Records, EqualityCoversEveryFieldIncludingIds) {
    const Section a = Section::named("Chorus");
    Section b = a;
    EXPECT_EQ(a, b);
    b.id = Uuid::random(); // same content, other id: another section
    EXPECT_NE(a, b);

    // One change in any field makes a different record.
    Moment base = Moment::fresh();
    base.name = "m";
    base.muteLayerIDs = {Uuid::random()};
    std::vector<std::function<void(Moment&)>> edits = {
        [](Moment& m) { m.id = Uuid::random(); },
        [](Moment& m) { m.name = "n"; },
        [](Moment& m) { m.anchor = FireAnchor::barsAfterStart(0); },
        [](Moment& m) { m.trigger = AdvanceTrigger{}; },
        [](Moment& m) { std::swap(m.muteLayerIDs, m.unmuteLayerIDs); },
        [](Moment& m) { m.programChanges.emplace_back(); },
        [](Moment& m) { m.ccSends.emplace_back(); },
    };
    for (std::size_t i = 0; i < edits.size(); ++i) {
        Moment changed = base;
        edits[i](changed);
        EXPECT_NE(changed, base) << i;
    }
    // Sets compare independently of insertion order.
    const Uuid x = Uuid::random(), y = Uuid::random();
    SectionStep s1 = SectionStep::fresh(), s2 = s1;
    s1.mutedLayerIDs = {x, y};
    s2.mutedLayerIDs = {y, x};
    EXPECT_EQ(s1, s2);
}

TEST(Records, DefaultsOfNewRecords) {
    // A record made with its type's defaults has the nil id; a new one from fresh() has an id of
    // its own.
    const SectionStep step;
    EXPECT_TRUE(step.id.isNil());
    EXPECT_FALSE(SectionStep::fresh().id.isNil());
    EXPECT_NE(Moment::fresh().id, Moment::fresh().id);
    EXPECT_EQ(Layer::fresh().name, Layer().name);
    EXPECT_TRUE(step.mutedLayerIDs.empty());
    EXPECT_FALSE(step.advanceBars);
    EXPECT_FALSE(step.returnToMain);
    const LayerRule rule;
    EXPECT_TRUE(rule.enabled);
    EXPECT_EQ(rule.effect, LayerRule::Effect::swellIn);
    EXPECT_EQ(rule.anchor, FireAnchor::barsBeforeSectionEnd(2));
    EXPECT_TRUE(rule.allSections);
    const Section section = Section::named("Bridge");
    ASSERT_EQ(section.steps.size(), 1u);
    EXPECT_NE(section.steps[0].id, Section::named("Bridge").steps[0].id);
    EXPECT_FALSE(section.jumpTrigger);
    EXPECT_TRUE(section.moments.empty());
}

TEST(Records, DefaultLayersKeepTheirIdsForTheWholeRun) {
    const auto& layers = Layer::defaults();
    ASSERT_EQ(layers.size(), 4u);
    const char* names[] = {"Piano", "Poly", "Pad", "Lead"};
    for (std::size_t i = 0; i < 4; ++i) {
        EXPECT_EQ(layers[i].name, names[i]);
        EXPECT_EQ(layers[i].channel, static_cast<std::int64_t>(i + 1));
        EXPECT_EQ(layers[i].muteCC, static_cast<std::int64_t>(20 + i));
        EXPECT_EQ(layers[i].portName, "");
        EXPECT_TRUE(layers[i].rules.empty());
    }
    EXPECT_EQ(Setlist::empty().layers, layers);
    EXPECT_EQ(Setlist::empty().layers, Setlist::empty().layers);
}

TEST(Records, DefaultSetShape) {
    const Setlist a = Setlist::empty(), b = Setlist::empty();
    EXPECT_EQ(a.name, "Untitled Set");
    EXPECT_EQ(a.controlMode, ControlMode::mackieControl);
    EXPECT_EQ(a.mackiePort, "Strata");
    EXPECT_FALSE(a.mackieTrackOffset);
    ASSERT_EQ(a.songs.size(), 1u);
    EXPECT_EQ(a.songs[0].name, "New Song");
    EXPECT_FALSE(a.songs[0].tempo);
    EXPECT_FALSE(a.songs[0].key);
    EXPECT_NE(a.songs[0].id, b.songs[0].id);
    const std::vector<std::string> names = {"Intro",  "Verse 1", "Chorus", "Verse 2",
                                            "Chorus", "Bridge",  "Chorus", "Outro"};
    ASSERT_EQ(a.songs[0].sections.size(), names.size());
    std::unordered_set<Uuid> ids;
    for (std::size_t i = 0; i < names.size(); ++i) {
        const Section& s = a.songs[0].sections[i];
        EXPECT_EQ(s.name, names[i]);
        ASSERT_EQ(s.steps.size(), 1u);
        EXPECT_TRUE(s.steps[0].mutedLayerIDs.empty());
        EXPECT_FALSE(s.jumpTrigger);
        EXPECT_TRUE(s.moments.empty());
        ids.insert(s.id);
        EXPECT_NE(s.id, b.songs[0].sections[i].id);
    }
    EXPECT_EQ(ids.size(), names.size()); // the three choruses are distinct sections
}

TEST(Records, EffectiveTransportSettings) {
    struct Row {
        std::optional<std::int64_t> offset;
        std::int64_t effective;
    };
    for (const Row& row : std::vector<Row>{{std::nullopt, 0},
                                           {0, 0},
                                           {7, 0},
                                           {8, 8},
                                           {13, 8},
                                           {-9, -8},
                                           {-7, 0},
                                           {INT64_MAX, INT64_MAX / 8 * 8},
                                           {INT64_MIN, INT64_MIN}}) {
        Setlist s;
        s.mackieTrackOffset = row.offset;
        EXPECT_EQ(s.effectiveTrackOffset(), row.effective) << row.offset.value_or(-1);
    }
    Setlist s;
    EXPECT_EQ(s.effectiveControlMode(), ControlMode::ccMute);
    s.controlMode = ControlMode::mackieControl;
    EXPECT_EQ(s.effectiveControlMode(), ControlMode::mackieControl);
    EXPECT_EQ(s.effectiveMackiePort(), "Strata");
    s.mackiePort = "";
    EXPECT_EQ(s.effectiveMackiePort(), "Strata");
    s.mackiePort = "IAC";
    EXPECT_EQ(s.effectiveMackiePort(), "IAC");
}
