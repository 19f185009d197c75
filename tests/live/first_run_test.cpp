// The first-run flow at the main view's first appearance: which sheet comes up, when, and what is
// stored.

#include "live_rig.h"

using namespace strata;
using namespace strata::testing;
using namespace std::chrono_literals;

namespace {

struct Stored {
    enum Kind { absent, boolean, text };
    Kind kind = absent;
    bool value = false;
    std::string textValue;
};

void put(MemorySettings& settings, std::string_view key, const Stored& stored) {
    if (stored.kind == Stored::boolean)
        settings.setBool(key, stored.value);
    else if (stored.kind == Stored::text)
        settings.setString(key, stored.textValue);
}

} // namespace

TEST_F(LiveTest, FirstRunFlagsDecideBetweenModeChooserAndQuickStart) {
    struct Row {
        const char* name;
        Stored chooser;
        Stored seen;
        bool showsChooser;
        bool showsQuickStart;
        std::optional<bool> seenAfter;
    };
    const Stored absent{};
    const Stored yes{Stored::boolean, true, ""};
    const Stored no{Stored::boolean, false, ""};
    const std::vector<Row> rows{
        {"first launch ever", absent, absent, true, false, std::nullopt},
        {"chooser switched off", no, absent, false, true, true},
        {"later launches", no, yes, false, false, true},
        {"chooser on, quick start seen", yes, yes, true, false, true},
        {"chooser off stored as INI text", {Stored::text, false, "false"}, no, false, true, true},
        {"wrong type counts as true", {Stored::text, false, "maybe"}, no, true, false, false},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        live.reset();
        link.reset();
        service.reset();
        settings.remove(LiveCoordinator::kShowModeChooserKey);
        settings.remove(LiveCoordinator::kHasSeenQuickStartKey);
        put(settings, LiveCoordinator::kShowModeChooserKey, row.chooser);
        put(settings, LiveCoordinator::kHasSeenQuickStartKey, row.seen);
        start(makeSet({{"One", "Verse"}}, ControlMode::ccMute));

        live->appear();
        EXPECT_EQ(live->showModeChooser(), row.showsChooser);
        EXPECT_EQ(settings.boolValue(LiveCoordinator::kHasSeenQuickStartKey), row.seenAfter);
        loop.advance(399ms);
        EXPECT_FALSE(live->showQuickStart());
        loop.advance(1ms);
        EXPECT_EQ(live->showQuickStart(), row.showsQuickStart);
        EXPECT_FALSE(live->showSetup());

        // Appearing again (the window shown once more) offers nothing new.
        live->showQuickStart.set(false);
        live->appear();
        loop.advance(1s);
        EXPECT_FALSE(live->showQuickStart());
    }
}
