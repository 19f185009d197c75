// Auto-advance on virtual time: when the clock is armed, for how long, and what re-arms or leaves
// it alone.

#include "live_rig.h"
#include "support/records.h"

#include <cmath>
#include <functional>

using namespace strata;
using namespace strata::testing;
using namespace std::chrono_literals;

namespace {

std::string liveState(const std::string& extra) {
    return R"({"type":"LIVE_STATE","songIdx":0,"sectionIdx":0)" + extra + "}";
}

double secondsUntil(const VirtualMainLoop& loop, const StepClock& clock) {
    const auto due = clock.dueAt();
    return due ? std::chrono::duration<double>(*due - loop.now()).count() : -1.0;
}

class AutoAdvanceTest : public LiveTest {
protected:
    // Song "One" with a first section of three steps; the first two carry `bars`.
    void startWith(std::optional<std::int64_t> bars, std::optional<double> songTempo) {
        Setlist set = makeSet({{"One", "Verse", "Chorus"}}, ControlMode::ccMute);
        set.songs[0].tempo = songTempo;
        auto& steps = set.songs[0].sections[0].steps;
        growTo(steps, 3);
        steps[0].advanceBars = bars;
        steps[1].advanceBars = bars;
        show(std::move(set));
    }
    // Cadenzo's state arrives, and keeps arriving twice a second as while it plays.
    void plays(const std::string& extra) {
        const std::string state = liveState(extra);
        cue(state);
        ticks = loop.every(500ms, [this, state] { cue(state); });
        settle();
    }
    // The same, then the performer enters the step afresh.
    void cadenzo(const std::string& extra) {
        plays(extra);
        rearm();
    }
    void cadenzoGoesSilent() { ticks.reset(); }
    // A fresh start for the next row of a table: new objects, the performer on the first step.
    void restartWith(std::optional<std::int64_t> bars, std::optional<double> songTempo) {
        ticks.reset();
        live.reset();
        link.reset();
        service.reset();
        app->setCurrentSectionIndex(0);
        app->setCurrentStepIndex(0);
        startWith(bars, songTempo);
    }
    // Re-arms through a real key change: section 1 and back, in two turns.
    void rearm() {
        app->setCurrentSectionIndex(1);
        settle();
        app->setCurrentSectionIndex(0);
        settle();
    }
    const StepClock& clock() { return live->stepClock(); }

    TimerHandle ticks;
};

} // namespace

TEST_F(AutoAdvanceTest, ArmsForTheBarsAtTheTempoOfCadenzoOrTheSongOrTheFallback) {
    struct Row {
        const char* state;
        std::optional<std::int64_t> bars;
        std::optional<double> songTempo;
        double seconds; // -1: not armed
    };
    const std::vector<Row> rows{
        {R"(,"playing":true,"bpm":120)", 8, 77, 16.0},
        {R"(,"playing":true,"bpm":90)", 2, std::nullopt, 16.0 / 3.0},
        {R"(,"playing":true)", 4, 100, 9.6},
        {R"(,"playing":true)", 4, std::nullopt, 8.0},
        {R"(,"playing":true,"bpm":null)", 1, std::nullopt, 2.0},
        {R"(,"playing":true,"bpm":0)", 4, 100, -1}, // no fallback past a tempo given
        {R"(,"playing":true)", 4, 0, -1},           // the song's 0 neither
        {R"(,"playing":true,"bpm":-60)", 4, 100, -1},
        {R"(,"playing":true,"bpm":1e-300)", 4, 100, -1}, // would never come due
        {R"(,"playing":true,"bpm":120)", 0, 100, -1},
        {R"(,"playing":true,"bpm":120)", -2, 100, -1},
        {R"(,"playing":true,"bpm":120)", std::nullopt, 100, -1},
        {R"(,"playing":false,"bpm":120)", 8, 100, -1},
        {R"(,"bpm":120)", 8, 100, -1},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.state);
        restartWith(row.bars, row.songTempo);
        cadenzo(row.state);
        EXPECT_NEAR(secondsUntil(loop, clock()), row.seconds, 1e-6);
        EXPECT_EQ(clock().armed(), row.seconds >= 0);
    }
}

// A 4-bar step at 120 BPM lasts 8 s. Half-way through, something happens; the step ends on its
// bar unless the position or its timing changed.
TEST_F(AutoAdvanceTest, HalfWayThroughAStepOnlyPositionTempoAndBarsChangeItsEnd) {
    struct Row {
        const char* what;
        const char* state; // Cadenzo's live state from the start
        std::function<void()> halfWay;
        double endsAt; // seconds from the step's start
    };
    const auto editSet = [this](const std::function<void(Setlist&)>& edit) {
        app->updateSetlist([&](Setlist& set) {
            edit(set);
            return true;
        });
        settle();
    };
    const auto firstStep = [](Setlist& set) -> SectionStep& {
        return set.songs[0].sections[0].steps[0];
    };
    const std::vector<Row> rows{
        {"a Moment fires at bar 2", R"(,"playing":true,"bpm":120)",
         [&] {
             cue(liveState(R"(,"playing":true,"bpm":120,"barsToNext":2)"));
             settle();
             ASSERT_TRUE(app->activeMutedIDs().count(layer(2).id)) << "the Moment fired";
         },
         8.0},
        {"a layer's CC is edited", R"(,"playing":true,"bpm":120)",
         [&] { editSet([](Setlist& set) { set.layers[0].muteCC = 70; }); }, 8.0},
        {"Cadenzo stops", R"(,"playing":true,"bpm":120)",
         [&] { plays(R"(,"playing":false,"bpm":120)"); }, 8.0},
        {"Cadenzo goes silent and says goodbye", R"(,"playing":true,"bpm":120)",
         [&] {
             cadenzoGoesSilent();
             cue(R"({"type":"GOODBYE"})");
             ASSERT_FALSE(link->connection().isConnected());
         },
         8.0},
        {"Cadenzo's tempo halves", R"(,"playing":true,"bpm":120)",
         [&] { plays(R"(,"playing":true,"bpm":60)"); }, 4.0 + 8.0},
        {"the song's tempo halves", R"(,"playing":true)",
         [&] { editSet([](Setlist& set) { set.songs[0].tempo = 60.0; }); }, 4.0 + 8.0},
        {"the step's bars double", R"(,"playing":true,"bpm":120)",
         [&] { editSet([&](Setlist& set) { firstStep(set).advanceBars = 8; }); }, 4.0 + 12.0},
        {"the step's bars drop below what was played", R"(,"playing":true,"bpm":120)",
         [&] { editSet([&](Setlist& set) { firstStep(set).advanceBars = 1; }); }, 4.0},
        {"the performer leaves the step and comes back", R"(,"playing":true,"bpm":120)",
         [&] { rearm(); }, 4.0 + 8.0},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        restartWith(4, 120.0);
        editSet([](Setlist& set) {
            Moment swell = Moment::fresh();
            swell.anchor = FireAnchor::barsBeforeSectionEnd(2);
            swell.muteLayerIDs = {set.layers[2].id};
            set.songs[0].sections[0].moments = {swell};
        });
        cadenzo(row.state);
        const auto start = loop.now();
        ASSERT_EQ(clock().dueAt(), start + 8s);

        loop.advance(4s);
        row.halfWay();
        const auto end = start + seconds(row.endsAt);
        EXPECT_EQ(clock().dueAt(), end);
        if (end > loop.now()) {
            loop.advanceTo(end - 1ms);
            EXPECT_EQ(app->currentStepIndex(), 0);
        }
        loop.advanceTo(end);
        EXPECT_EQ(app->currentStepIndex(), 1);
    }
}

TEST_F(AutoAdvanceTest, WhenCadenzoStartsPlayingTheCurrentStepIsTimedFromThen) {
    struct Row {
        const char* what;
        std::vector<std::string> before; // live states while the step is entered and played
    };
    const std::vector<Row> rows{
        {"no live state", {}},
        {"stopped", {R"(,"playing":false,"bpm":120)"}},
        {"playing not said", {R"(,"bpm":120)"}},
        {"heard, then lost", {R"(,"playing":true,"bpm":120)", "goodbye"}},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        restartWith(8, 100.0); // a song tempo alone arms nothing
        for (const std::string& state : row.before)
            cue(state == "goodbye" ? R"({"type":"GOODBYE"})" : liveState(state));
        rearm(); // the step is entered
        EXPECT_FALSE(clock().armed());
        loop.advance(3s);
        plays(R"(,"playing":true,"bpm":120)");
        EXPECT_EQ(clock().dueAt(), loop.now() + 16s);
        // Further ticks of a Cadenzo that keeps playing leave it be.
        loop.advance(10s);
        EXPECT_EQ(clock().dueAt(), loop.now() + 6s);
    }
}

// The virtual loop, except that every one-shot timer fires `lateness` after its time, as a busy
// machine's timers do.
class LateLoop final : public MainLoop {
public:
    LateLoop(VirtualMainLoop& loop, Duration lateness) : loop_(loop), lateness_(lateness) {}
    TimePoint now() const override { return loop_.now(); }
    void post(Task task) override { loop_.post(std::move(task)); }
    TimerHandle after(Duration delay, Task task) override {
        return loop_.after(delay + lateness_, std::move(task));
    }
    TimerHandle every(Duration period, Task task) override {
        return loop_.every(period, std::move(task));
    }
    TimerHandle watchReadable(int fd, Task task) override {
        return loop_.watchReadable(fd, std::move(task));
    }

private:
    VirtualMainLoop& loop_;
    Duration lateness_;
};

// Timed steps follow one another, each pushing its mutes once; each is counted from the bar where
// the one before ended, not from when a late timer ran; after a stall longer than a step, from
// when the advance happened, so it is not rushed.
TEST_F(AutoAdvanceTest, TimedStepsFollowOnTheBarAndALateTimerNeitherDelaysNorRushesThem) {
    struct Row {
        Duration lateness;
        Duration firstAdvanceAt; // the 16 s step, run late
        Duration secondDue;      // when the next step is due
    };
    for (const Row& row : {Row{0ms, 16s, 32s}, Row{30ms, 16s + 30ms, 32s}, Row{20s, 36s, 52s}}) {
        SCOPED_TRACE(std::chrono::duration<double>(row.lateness).count());
        restartWith(8, std::nullopt);
        LateLoop late(loop, row.lateness);
        live = std::make_unique<LiveCoordinator>(*app, *service, *link, late, settings, location());
        live->appear();
        cadenzo(R"(,"playing":true,"bpm":120)");
        const auto start = loop.now();
        synthHeard();
        loop.advanceTo(start + row.firstAdvanceAt - 1ms);
        EXPECT_EQ(app->currentStepIndex(), 0);
        loop.advance(1ms);
        EXPECT_EQ(app->currentStepIndex(), 1);
        service->drain();
        EXPECT_EQ(synthHeard(), ccRound({})) << "the step change pushes its mute state, once";
        EXPECT_EQ(clock().dueAt(), start + row.secondDue);
        loop.advanceTo(start + row.secondDue + row.lateness - 1ms);
        EXPECT_EQ(app->currentStepIndex(), 1);
        loop.advance(1ms);
        EXPECT_EQ(app->currentStepIndex(), 2);
        settle();
        EXPECT_FALSE(clock().armed()); // the last step has no bars
        ticks.reset();
        live.reset();
    }
}

TEST(StepClock, ACancelledOrReplacedItemNeverRuns) {
    VirtualMainLoop loop;
    StepClock clock(loop);
    std::vector<int> ran;
    clock.schedule(2.0, [&] { ran.push_back(1); });
    clock.schedule(3.0, [&] { ran.push_back(2); });
    loop.advance(2500ms);
    EXPECT_TRUE(ran.empty());
    loop.advance(500ms);
    EXPECT_EQ(ran, std::vector<int>{2});
    EXPECT_FALSE(clock.armed());
    clock.cancel(); // after it ran: harmless

    clock.schedule(1.0, [&] { ran.push_back(3); });
    clock.cancel();
    loop.advance(5s);
    EXPECT_EQ(ran, std::vector<int>{2});

    // An action that schedules again (the next timed step) leaves exactly that one pending.
    clock.schedule(1.0, [&] {
        ran.push_back(4);
        clock.schedule(1.0, [&] { ran.push_back(5); });
    });
    loop.advance(1s);
    EXPECT_TRUE(clock.armed());
    loop.advance(1s);
    EXPECT_EQ(ran, (std::vector<int>{2, 4, 5}));
    EXPECT_EQ(loop.armedTimerCount(), 0u);
}

// A MIDI system that writes sends at their frame wants them a little ahead: the step changes that
// much before its bar, and its mutes are queued with the bar as their due time. Whatever happens
// in that short window, the steps stay on the bar grid.
TEST_F(AutoAdvanceTest, WithASendLeadTheStepChangesAheadAndItsMutesAreDueOnTheBar) {
    constexpr Duration lead = 15ms;
    struct Row {
        const char* what;
        std::function<void()> inTheWindow;
        Duration nextStepLasts; // from the bar
    };
    const std::vector<Row> rows{
        {"nothing", [] {}, 16s},
        {"Cadenzo's tempo halves", [&] { plays(R"(,"playing":true,"bpm":60)"); }, 32s},
        {"a Moment fires", [&] { cue(liveState(R"(,"playing":true,"bpm":120,"barsToNext":2)")); },
         16s},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        midi.setSendLead(lead);
        restartWith(8, std::nullopt);
        cadenzo(R"(,"playing":true,"bpm":120)");
        const TimePoint bar = loop.now() + 16s;
        EXPECT_EQ(clock().dueAt(), bar - lead);
        midi.recordTimedSends();

        loop.advanceTo(bar - lead - 1ms);
        EXPECT_EQ(app->currentStepIndex(), 0);
        loop.advanceTo(bar - lead);
        EXPECT_EQ(app->currentStepIndex(), 1);
        service->drain();
        const auto sent = midi.timedSends();
        ASSERT_EQ(sent.size(), 4u) << "one round of CC mutes";
        for (const auto& s : sent) {
            EXPECT_EQ(s.endpoint, synth);
            EXPECT_EQ(s.due, std::optional<TimePoint>(bar));
        }
        settle();
        loop.advance(5ms);
        row.inTheWindow();
        settle();
        // The next step is counted from the bar, not from the early change.
        EXPECT_EQ(clock().dueAt(), bar + row.nextStepLasts - lead);
    }
}

// The performer presses NEXT between the early step change and its bar: the next section's
// mutes go out as soon as they can, queued behind the timed ones (the MIDI system keeps their
// order, so they follow them at the bar), and nothing is timed for the step left behind.
TEST_F(AutoAdvanceTest, ANextPressJustBeforeTheBarIsSentUntimedBehindTheTimedStep) {
    midi.setSendLead(15ms);
    storeNextTrigger(settings, {"Pedal", AdvanceTrigger::Kind::note, 36});
    startWith(8, std::nullopt);
    cadenzo(R"(,"playing":true,"bpm":120)");
    const TimePoint bar = loop.now() + 16s;
    midi.recordTimedSends();
    loop.advanceTo(bar - 15ms);
    service->drain();
    EXPECT_EQ(app->currentStepIndex(), 1);

    loop.advance(5ms);
    footswitch({0x90, 36, 100});
    settle();
    EXPECT_EQ(app->currentSectionIndex(), 1);
    EXPECT_EQ(app->currentStepIndex(), 0);
    const auto sent = midi.timedSends();
    ASSERT_EQ(sent.size(), 8u) << "the timed round, then the press's";
    for (std::size_t i = 0; i < sent.size(); ++i)
        EXPECT_EQ(sent[i].due, i < 4 ? std::optional<TimePoint>(bar) : std::nullopt) << i;
    EXPECT_FALSE(clock().armed()) << "the Chorus has no timed steps";
}
