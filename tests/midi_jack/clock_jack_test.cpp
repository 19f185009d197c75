// MIDI clock through a real JACK server: a client plays the DAW's clock output, one clock every
// few process cycles with a tempo step mid-song, and the set's timed steps end on their count of
// clocks. Nothing here times anything by the wall clock: the steps are checked clock by clock.
#include "cuelink/cadenzo_link.h"
#include "engine/app_state.h"
#include "jack_rig.h"
#include "jack_server_suite.h"
#include "live/live_coordinator.h"
#include "support/test_support.h"

#include <gtest/gtest.h>

namespace strata {
namespace {

using testing::JackRig;
using testing::JackServerSuite;
using testing::JackTestClient;
using testing::TempDir;

struct ClockStage {
    explicit ClockStage(const std::string& server) : rig(server), daw(server, "dawclock") {
        out = daw.addOutput("out");
        app = std::make_unique<AppState>(StoreLocation::under(dir.path()), rig.settings, rig.loop);
        app->setMode(StrataMode::pro);
        Setlist set;
        set.name = "Show";
        Song song = Song::fresh();
        song.name = "One";
        Section verse = Section::named("Verse");
        verse.steps.resize(3, verse.steps.at(0));
        verse.steps[0].advanceBars = 1;
        verse.steps[1].advanceBars = 1;
        song.sections.push_back(std::move(verse));
        set.songs.push_back(std::move(song));
        set.timeSource = TimeSource::midiClock;
        set.clockDevice = daw.fullName(out);
        app->setSetlist(std::move(set));
        link = std::make_unique<CadenzoLink>(rig.loop, CadenzoLink::Options{.openSocket = false});
        live = std::make_unique<LiveCoordinator>(*app, *rig.service, *link, rig.loop, rig.settings,
                                                 StoreLocation::under(dir.path()));
        subscription = rig.service->clockChanged.connect([this](const ClockState& s) {
            last = s;
            ++states;
        });
    }
    ~ClockStage() {
        subscription = Connection();
        live.reset();
        link.reset();
        app.reset();
    }

    bool begin() {
        if (!daw.ok())
            return false;
        const std::string name = daw.fullName(out);
        if (!rig.driver.runUntil([&] {
                const auto& sources = rig.service->sources();
                return std::find(sources.begin(), sources.end(), name) != sources.end();
            }))
            return false;
        if (!daw.waitCycles(4))
            return false;
        live->appear();
        return rig.quiesce();
    }
    // Sends one message `cycles` process cycles after the last, and waits until Strata's main
    // thread has taken its state in.
    bool send(std::uint8_t status, int cycles) {
        if (!daw.waitCycles(cycles))
            return false;
        const int before = states;
        if (!daw.send(out, {status}))
            return false;
        return rig.driver.runUntil([&] { return states > before; });
    }

    TempDir dir;
    JackRig rig;
    JackTestClient daw;
    std::size_t out = 0;
    std::unique_ptr<AppState> app;
    std::unique_ptr<CadenzoLink> link;
    std::unique_ptr<LiveCoordinator> live;
    Connection subscription;
    ClockState last;
    int states = 0;
};

class ClockThroughJack : public JackServerSuite {};

TEST_F(ClockThroughJack, TimedStepsEndOnTheirClockAcrossATempoStep) {
    ClockStage stage(server_->name());
    ASSERT_TRUE(stage.begin());
    ASSERT_TRUE(stage.send(0xFA, 1));
    EXPECT_TRUE(stage.last.playing);
    std::vector<int> advancedAt; // clocks after the downbeat
    std::int64_t step = stage.app->currentStepIndex();
    for (int clock = 0; clock <= 2 * 96; ++clock) {
        // Four cycles a clock for the first bar, then two: the tempo doubles.
        ASSERT_TRUE(stage.send(0xF8, clock < 96 ? 4 : 2)) << clock;
        ASSERT_EQ(stage.last.ticks, clock);
        if (stage.app->currentStepIndex() != step) {
            step = stage.app->currentStepIndex();
            advancedAt.push_back(clock);
        }
    }
    EXPECT_EQ(advancedAt, (std::vector<int>{96, 192}));
    EXPECT_EQ(step, 2);
    ASSERT_TRUE(stage.send(0xFC, 1));
    EXPECT_FALSE(stage.last.playing);
}

} // namespace
} // namespace strata
