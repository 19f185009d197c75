// Musical time from MIDI clock, through the real input path on virtual time: a DAW's clock source
// sends Start, clocks and Stop into the in-memory MIDI system, and steps, Moments and the toolbar's
// reading follow the clocks.

#include "live_rig.h"
#include "support/records.h"

using namespace strata;
using namespace strata::testing;
using namespace std::chrono_literals;

namespace {

// Microseconds between clocks at `bpm`.
std::chrono::microseconds clockInterval(double bpm) {
    return std::chrono::microseconds(static_cast<std::int64_t>(60.0e6 / bpm / 24.0 + 0.5));
}

class ClockTimeTest : public LiveTest {
protected:
    ClockTimeTest() { dawClock = midi.addSource("DAW Clock"); }

    // Afresh, on song "One": section "Verse" with the given steps' bar counts (none: the step
    // holds), then "Chorus". The set takes its time from "DAW Clock" unless `source` says
    // otherwise.
    void startWith(const std::vector<std::optional<std::int64_t>>& bars,
                   TimeSource source = TimeSource::midiClock) {
        live.reset();
        link.reset();
        service.reset();
        app->setCurrentSectionIndex(0);
        app->setCurrentStepIndex(0);
        Setlist set = makeSet({{"One", "Verse", "Chorus"}}, ControlMode::ccMute);
        auto& steps = set.songs[0].sections[0].steps;
        growTo(steps, bars.size());
        for (std::size_t i = 0; i < bars.size(); ++i)
            steps[i].advanceBars = bars[i];
        if (source == TimeSource::midiClock) {
            set.timeSource = source;
            set.clockDevice = "DAW Clock";
        }
        start(std::move(set));
        live->appear();
        settle();
    }
    void send(MidiRef from, Bytes message) {
        midi.sendFromSource(from, {std::move(message)});
        settle();
    }
    void transport(std::uint8_t status) { send(dawClock, {status}); }
    // `count` clocks at `bpm`, each after its interval of virtual time; stops at the first clock
    // after which `until` holds, returning how many were sent.
    int clocks(int count, double bpm, const std::function<bool()>& until = {}) {
        for (int i = 1; i <= count; ++i) {
            loop.advance(clockInterval(bpm));
            send(dawClock, {0xF8});
            if (until && until())
                return i;
        }
        return count;
    }
    std::int64_t step() const { return app->currentStepIndex(); }
    void addMoment(FireAnchor anchor, std::size_t layer) {
        app->updateSetlist([&](Setlist& set) {
            Moment m = Moment::fresh();
            m.anchor = anchor;
            m.muteLayerIDs.insert(set.layers.at(layer).id);
            set.songs[0].sections[0].moments.push_back(std::move(m));
            return true;
        });
        settle();
    }

    MidiRef dawClock = 0;
};

} // namespace

TEST_F(ClockTimeTest, StopFreezesTheCountAndPlayingAgainTimesTheStepFromThere) {
    startWith({1, 1, std::nullopt});
    transport(0xFA);
    clocks(49, 120); // downbeat and two beats
    transport(0xFC);
    clocks(200, 120); // a stopped DAW keeps sending clocks: they count nothing
    EXPECT_EQ(step(), 0);
    send(dawClock, {0xF2, 8, 0}); // bar 2
    transport(0xFB);
    const int n = clocks(200, 120, [&] { return step() == 1; });
    EXPECT_EQ(n, 97); // the clock at the pointer, then one bar
}

TEST_F(ClockTimeTest, MomentsCountBarsOfClocks) {
    struct Row {
        const char* name;
        std::vector<std::optional<std::int64_t>> bars;
        FireAnchor anchor;
        int firesAfter; // clocks after the downbeat; -1: not within 8 bars
    };
    const std::vector<Row> rows{
        // An 8-bar section (4 + 4): two bars before its end is after six bars.
        {"last 2 bars of a known section", {4, 4}, FireAnchor::barsBeforeSectionEnd(2), 576},
        {"after 3 bars of a known section", {4, 4}, FireAnchor::barsAfterStart(3), 288},
        {"after 1 bar of an open section", {4, std::nullopt}, FireAnchor::barsAfterStart(1), 96},
        {"an open section has no end", {4, std::nullopt}, FireAnchor::barsBeforeSectionEnd(2), -1},
        {"on enter", {4, std::nullopt}, FireAnchor::onSectionEnter(), 0},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        startWith(row.bars);
        app->updateSetlist([](Setlist& set) {
            set.songs[0].sections[0].moments.clear();
            return true;
        });
        addMoment(row.anchor, 2);
        transport(0xFA);
        const auto fired = [&] {
            return app->activeMomentMutedIDs().has_value() &&
                   app->activeMomentMutedIDs()->contains(layer(2).id);
        };
        clocks(1, 120);
        int n = 0;
        if (!fired()) {
            n = clocks(8 * 96, 120, fired);
            if (!fired())
                n = -1;
        }
        EXPECT_EQ(n, row.firesAfter);
    }
}

TEST_F(ClockTimeTest, OnlyTheChosenSourceAndOnlyForASetThatChoseTheClock) {
    // A set on Cadenzo: the clock is heard but times nothing.
    startWith({1, std::nullopt}, TimeSource::cadenzo);
    transport(0xFA);
    clocks(200, 120);
    EXPECT_EQ(step(), 0);
    EXPECT_FALSE(live->clockReading().heard); // nobody follows the clock's device

    // Chosen (another device's clocks counting for nothing is the MIDI input's test).
    live->setClockDevice("DAW Clock");
    live->setTimeSource(TimeSource::midiClock);
    settle();
    EXPECT_EQ(app->setlist().timeSource, TimeSource::midiClock);
    transport(0xFA);
    EXPECT_EQ(clocks(200, 120, [&] { return step() == 1; }), 97);

    // Cadenzo playing does not arm the wall-clock timer, but its FIRE still jumps.
    cue(R"({"type":"HELLO","host":"stage"})");
    app->setCurrentStepIndex(0);
    settle();
    cue(R"({"type":"LIVE_STATE","songIdx":0,"sectionIdx":0,"playing":true,"bpm":120})");
    settle();
    EXPECT_FALSE(live->stepClock().armed());
    cue(R"({"type":"FIRE","songIdx":0,"sectionIdx":1})");
    settle();
    EXPECT_EQ(app->currentSectionIndex(), 1);
}
