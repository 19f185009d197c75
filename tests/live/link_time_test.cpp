// Musical time from a network beat session, on virtual time: a session that follows a straight
// beat timeline (support/timeline_session.h) stands in for the network, and steps, Moments and
// the toolbar's reading follow its beats.

#include "live_rig.h"
#include "support/records.h"
#include "support/timeline_session.h"

#include <cmath>

using namespace strata;
using namespace strata::testing;
using namespace std::chrono_literals;

namespace {

class LinkTimeTest : public LiveTest {
protected:
    ~LinkTimeTest() override {
        if (live)
            live->setBeatSession(nullptr);
    }

    // Song "One": "Verse" with the given steps' bar counts (none: the step holds), then "Chorus";
    // its time from the session unless `source` says otherwise.
    void startWith(const std::vector<std::optional<std::int64_t>>& bars,
                   TimeSource source = TimeSource::link) {
        if (live)
            live->setBeatSession(nullptr);
        live.reset();
        link.reset();
        service.reset();
        session = std::make_unique<TimelineSession>(loop);
        Setlist set = makeSet({{"One", "Verse", "Chorus"}}, ControlMode::ccMute);
        auto& steps = set.songs[0].sections[0].steps;
        growTo(steps, bars.size());
        for (std::size_t i = 0; i < bars.size(); ++i)
            steps[i].advanceBars = bars[i];
        if (source != TimeSource::cadenzo)
            set.timeSource = source;
        start(std::move(set));
        app->setCurrentSectionIndex(0);
        app->setCurrentStepIndex(0);
        live->setBeatSession(session.get());
        live->appear();
        settle();
        step = 0;
        stepBeats.clear();
        watch.clear();
        watch += app->changed.connect([this] {
            if (app->currentStepIndex() != step) {
                step = app->currentStepIndex();
                stepBeats.push_back(std::round(session->beatAt(loop.now()) * 1e6) / 1e6);
            }
        });
    }
    // Moves virtual time on until the session reaches `beat`.
    void runTo(double beat) {
        loop.advanceTo(session->timeAtBeat(beat));
        settle();
    }

    std::unique_ptr<TimelineSession> session;
    std::int64_t step = 0;
    std::vector<double> stepBeats; // the session's beats at which the step changed
    ConnectionBag watch;
};

} // namespace

TEST_F(LinkTimeTest, AStepEndsOnTheSessionsBeatGridWhateverTheTempoDoes) {
    struct Row {
        const char* name;
        double startBeat;                               // where the peer starts the transport
        std::vector<std::pair<double, double>> tempoAt; // (beat, bpm) changes while playing
        std::vector<double> advancedAt;                 // beats at which the step changed
    };
    const std::vector<Row> rows{
        {"steady 120", 0, {}, {8, 16}},
        {"124 to 90 mid-step", 0, {{5.5, 90}}, {8, 16}},
        {"speeding up each bar", 0, {{4, 140}, {8, 160}, {12, 200}}, {8, 16}},
        {"started mid-bar: from the next bar line", 2, {{3.25, 77}}, {12, 20}},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        startWith({2, 2, std::nullopt});
        session->setTempo(124);
        session->startAt(row.startBeat);
        settle();
        for (const auto& [beat, bpm] : row.tempoAt) {
            runTo(beat);
            session->setTempo(bpm);
            settle();
        }
        runTo(row.startBeat + 40);
        EXPECT_EQ(stepBeats, row.advancedAt);
        EXPECT_EQ(app->currentStepIndex(), 2);   // the last step holds
        EXPECT_FALSE(live->stepClock().armed()); // no wall-clock timer took part
    }
}

TEST_F(LinkTimeTest, PlayingNoticedLateCountsFromItsBeatJoiningLateFromTheLastBarLine) {
    struct Row {
        const char* name;
        double noticedAfter; // beats between the peer's start and the coordinator reading it
        double advancedAt;
    };
    for (const Row& row : std::vector<Row>{{"at once", 0, 4},
                                           {"a fraction of a beat late", 0.5, 4},
                                           {"joined two bars in", 8, 12},
                                           {"joined mid-bar: from its bar line", 9.5, 12}}) {
        SCOPED_TRACE(row.name);
        startWith({1, std::nullopt});
        session->startAt(0, false);
        // The change is on its way to the main loop while the session plays on.
        loop.advanceTo(session->timeAtBeat(row.noticedAfter));
        session->changed.notify();
        settle();
        runTo(20);
        EXPECT_EQ(stepBeats, std::vector<double>{row.advancedAt});
    }
}

TEST_F(LinkTimeTest, TheSessionRunsOnlyForASetOnLinkAndTheToolbarReadsIt) {
    startWith({1, std::nullopt}, TimeSource::cadenzo);
    EXPECT_FALSE(session->enabled());
    session->startAt(0);
    runTo(12);
    EXPECT_EQ(app->currentStepIndex(), 0); // a set on Cadenzo takes nothing from the session
    EXPECT_FALSE(live->clockReading().heard);

    live->setTimeSource(TimeSource::link);
    settle();
    EXPECT_TRUE(session->enabled());
    EXPECT_EQ(app->setlist().timeSource, TimeSource::link);
    session->setPeers(1);
    session->setTempo(119.6);
    settle();
    EXPECT_EQ(live->clockReading(), (LiveCoordinator::ClockReading{true, true, 120, 1}));
    // Joined while the session played: the step runs from the bar line it joined on.
    runTo(16 - 1e-3);
    EXPECT_EQ(app->currentStepIndex(), 0);
    runTo(16);
    EXPECT_EQ(app->currentStepIndex(), 1);

    session->stop();
    session->setPeers(3);
    settle();
    EXPECT_EQ(live->clockReading(), (LiveCoordinator::ClockReading{true, false, 120, 3}));
    runTo(40);
    EXPECT_EQ(app->currentStepIndex(), 1); // stopped: no bar goes by

    // A MIDI clock state still on its way changes nothing while the set is on Link.
    ClockState clock;
    clock.playing = true;
    clock.bpm = 90;
    live->handleClockState(clock);
    EXPECT_EQ(live->clockReading(), (LiveCoordinator::ClockReading{true, false, 120, 3}));

    live->setTimeSource(TimeSource::cadenzo);
    settle();
    EXPECT_FALSE(session->enabled());
    EXPECT_FALSE(app->setlist().timeSource);
    EXPECT_FALSE(live->clockReading().heard);
}
