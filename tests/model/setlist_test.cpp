#include "model/setlist.h"

#include <gtest/gtest.h>
#include <tuple>
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

// What a user starts from: records made with their type's defaults carry the nil id, new ones from
// fresh() an id of their own; the default set's layers keep their ids for the whole run, and every
// section of a new set is a section of its own (the three choruses too).
TEST(Records, NewRecordsAndTheDefaultSet) {
    EXPECT_TRUE(SectionStep().id.isNil());
    EXPECT_NE(Moment::fresh().id, Moment::fresh().id);
    const Section section = Section::named("Bridge");
    ASSERT_EQ(section.steps.size(), 1u);
    EXPECT_NE(section.steps[0].id, Section::named("Bridge").steps[0].id);

    const auto& layers = Layer::defaults();
    const std::vector<std::tuple<std::string, std::int64_t, std::int64_t>> expectedLayers = {
        {"Piano", 1, 20}, {"Poly", 2, 21}, {"Pad", 3, 22}, {"Lead", 4, 23}};
    ASSERT_EQ(layers.size(), expectedLayers.size());
    for (std::size_t i = 0; i < layers.size(); ++i)
        EXPECT_EQ(std::tuple(layers[i].name, layers[i].channel, *layers[i].muteCC),
                  expectedLayers[i]);

    const Setlist a = Setlist::empty(), b = Setlist::empty();
    EXPECT_EQ(a.layers, layers);
    EXPECT_EQ(a.name, "Untitled Set");
    EXPECT_EQ(a.controlMode, ControlMode::mackieControl);
    EXPECT_EQ(a.mackiePort, "Strata");
    ASSERT_EQ(a.songs.size(), 1u);
    EXPECT_EQ(a.songs[0].name, "New Song");
    EXPECT_NE(a.songs[0].id, b.songs[0].id);
    const std::vector<std::string> names = {"Intro",  "Verse 1", "Chorus", "Verse 2",
                                            "Chorus", "Bridge",  "Chorus", "Outro"};
    ASSERT_EQ(a.songs[0].sections.size(), names.size());
    std::unordered_set<Uuid> ids;
    for (std::size_t i = 0; i < names.size(); ++i) {
        const Section& s = a.songs[0].sections[i];
        EXPECT_EQ(s.name, names[i]);
        ASSERT_EQ(s.steps.size(), 1u);
        ids.insert(s.id);
        EXPECT_NE(s.id, b.songs[0].sections[i].id);
    }
    EXPECT_EQ(ids.size(), names.size());
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
