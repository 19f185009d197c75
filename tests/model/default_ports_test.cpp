// Where a new layer, program change or CC send points: where its siblings point, never at the
// surface by default.

#include "model/default_ports.h"

#include <gtest/gtest.h>

using namespace strata;

namespace {

Moment momentWith(std::vector<std::string> patchPorts, std::vector<std::string> ccPorts) {
    Moment m = Moment::fresh();
    for (auto& port : patchPorts)
        m.programChanges.push_back(PatchChange{Uuid::random(), std::move(port), 1, 0});
    for (auto& port : ccPorts)
        m.ccSends.push_back(CCSend{Uuid::random(), std::move(port), 1, 0, 0});
    return m;
}

// One song, one section per entry, holding those Moments.
Setlist setWith(std::vector<std::vector<Moment>> sections) {
    Setlist set;
    set.songs.emplace_back();
    for (auto& moments : sections) {
        Section section = Section::named("S");
        section.moments = std::move(moments);
        set.songs[0].sections.push_back(std::move(section));
    }
    return set;
}

} // namespace

TEST(DefaultPorts, ANewLayerFollowsTheLastLayerThatHasAPort) {
    struct Row {
        std::vector<std::string> layerPorts;
        std::string expected;
    };
    const std::vector<Row> rows{
        {{}, ""},
        {{"", ""}, ""},
        {{"Synth A", "Synth B"}, "Synth B"},
        {{"Synth A", ""}, "Synth A"},
        {{"Strata"}, "Strata"}, // a set that drives CC mutes through the surface keeps doing so
    };
    for (const Row& row : rows) {
        Setlist set;
        for (const auto& port : row.layerPorts) {
            set.layers.push_back(Layer::fresh());
            set.layers.back().portName = port;
        }
        EXPECT_EQ(defaultLayerPort(set), row.expected) << ::testing::PrintToString(row.layerPorts);
    }
}

TEST(DefaultPorts, ANewRowFollowsItsMomentThenTheSetAndEachKindItsOwn) {
    const Moment empty;
    const Moment own = momentWith({"Keys", ""}, {"FX"});
    struct Row {
        const char* what;
        Setlist set;
        Moment moment = Moment::fresh();
        std::string patch, cc;
    };
    const std::vector<Row> rows{
        {"a set without rows", setWith({{empty}}), empty, "", ""},
        {"the Moment's own last row with a port", setWith({{momentWith({"Other"}, {"Other"})}}),
         own, "Keys", "FX"},
        {"else the set's last row of that kind, in document order",
         setWith({{momentWith({"Early"}, {})}, {momentWith({"Late", ""}, {}), empty}}), empty,
         "Late", ""},
        {"rows without a port point nowhere", setWith({{momentWith({""}, {""})}}), empty, "", ""},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        EXPECT_EQ(defaultPatchPort(row.set, row.moment), row.patch);
        EXPECT_EQ(defaultCCPort(row.set, row.moment), row.cc);
    }
}
