#include "common/midi_object_table.h"
#include "common/setup_coalescer.h"

#include <gtest/gtest.h>

namespace strata {
namespace {

using Seen = std::vector<std::pair<int, std::string>>;
using Table = MidiObjectTable<int>;

std::vector<std::string> names(const std::vector<MidiPortInfo>& ports) {
    std::vector<std::string> out;
    for (const auto& p : ports)
        out.push_back(p.name.value_or("?"));
    return out;
}

TEST(MidiObjectTable, ListingsKeepRefsAndTheOrderOfFirstSighting) {
    Table table;
    const MidiRef ours = table.add(MidiObjectKind::virtualDestination, "Strata", 0, 0);
    const auto first = table.listing(MidiObjectKind::systemSource, {{7, "b"}, {3, "a"}});
    // The system lists in its own order; a port seen later still goes behind the others.
    const auto second =
        table.listing(MidiObjectKind::systemSource, {{9, "aardvark"}, {3, "a"}, {7, "b"}});
    ASSERT_EQ(first.size(), 2u);
    EXPECT_EQ(names(table.snapshot(second)), (std::vector<std::string>{"b", "a", "aardvark"}));
    // Gone and back: the same ref, with the name it has now.
    table.listing(MidiObjectKind::systemSource, {{9, "aardvark"}});
    const auto back = table.listing(MidiObjectKind::systemSource, {{7, "b renamed"}});
    ASSERT_EQ(back.size(), 1u);
    EXPECT_EQ(back[0], first[0]);
    EXPECT_EQ(table.find(back[0])->name, "b renamed");
    // One key is a different object in another kind; no ref is handed out twice.
    const auto dest = table.listing(MidiObjectKind::systemDestination, {{7, "b in"}});
    ASSERT_EQ(dest.size(), 1u);
    EXPECT_NE(dest[0], back[0]);
    EXPECT_NE(dest[0], ours);
    EXPECT_EQ(table.find(dest[0], MidiObjectKind::systemSource), nullptr);
    EXPECT_NE(table.find(dest[0], MidiObjectKind::systemDestination), nullptr);
    EXPECT_EQ(table.find(0), nullptr);
    EXPECT_EQ(table.find(dest[0] + 1), nullptr);
}

TEST(MidiObjectTable, SnapshotsPutOurDestinationsFirstAndCarryAliases) {
    Table table;
    const MidiRef xt = table.add(MidiObjectKind::virtualDestination, "Strata XT", 0, 1);
    const auto system = table.listing(MidiObjectKind::systemDestination, {{4, "synth"}});
    const std::array<MidiRef, 2> own{0, xt};
    const auto listed = table.snapshot(ownFirst(own, system), [](const Table::Object& obj) {
        return obj.kind == MidiObjectKind::systemDestination
                   ? std::vector<std::string>{"alias of " + obj.name}
                   : std::vector<std::string>{};
    });
    ASSERT_EQ(listed.size(), 2u);
    EXPECT_EQ(listed[0].ref, xt);
    EXPECT_EQ(listed[0].displayName, "Strata XT");
    EXPECT_TRUE(listed[0].aliases.empty());
    EXPECT_EQ(listed[1].name, "synth");
    EXPECT_EQ(listed[1].aliases, std::vector<std::string>{"alias of synth"});
}

TEST(SetupCoalescer, ABurstBecomesOneNotificationAfterAQuietSpellOrTheBound) {
    using namespace std::chrono_literals;
    const SetupCoalescer::Clock::time_point t0{};
    const struct {
        const char* what;
        std::vector<std::chrono::milliseconds> notices;
        std::chrono::milliseconds checkedAt;
        bool due;
    } cases[] = {
        {"nothing happened", {}, 100ms, false},
        {"still within the quiet spell", {0ms, 4ms}, 13ms, false},
        {"quiet spell over", {0ms, 4ms}, 14ms, true},
        // A steady stream of notices one ms apart never leaves a quiet spell of ten.
        {"steady stream, before the bound", {0ms, 10ms - 1ms, 18ms, 27ms, 36ms, 45ms}, 49ms, false},
        {"steady stream, at the bound", {0ms, 9ms, 18ms, 27ms, 36ms, 45ms}, 50ms, true},
    };
    for (const auto& c : cases) {
        SetupCoalescer setup(10ms);
        for (auto at : c.notices)
            setup.changed(t0 + at);
        EXPECT_EQ(setup.takeDue(t0 + c.checkedAt), c.due) << c.what;
        EXPECT_FALSE(setup.takeDue(t0 + c.checkedAt + 1h) && c.due) << c.what << ": only once";
    }
    SetupCoalescer setup(10ms);
    EXPECT_EQ(setup.dueAt(), std::nullopt);
    setup.changed(t0 + 2ms);
    EXPECT_EQ(setup.dueAt(), t0 + 12ms);
    setup.cancel();
    EXPECT_FALSE(setup.takeDue(t0 + 1h));
}

} // namespace
} // namespace strata
