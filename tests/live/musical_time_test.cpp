// Musical time from MIDI clock and from a network beat session, on virtual time: a DAW's clock
// source sends Start, clocks and Stop into the in-memory MIDI system, and a session that follows
// a straight beat timeline (support/timeline_session.h) stands in for the network. Steps, Moments
// and the toolbar's reading follow the clocks or the session's beats. Both count the same clocks
// (the session's beats as 24 clocks each), so the Moments' bars are counted once, on the clock.

#include "live_rig.h"
#include "support/records.h"
#include "support/timeline_session.h"

#include <algorithm>
#include <cmath>

using namespace strata;
using namespace strata::testing;
using namespace std::chrono_literals;

namespace {

// A time, in whole microseconds.
std::optional<std::int64_t> inMicros(std::optional<TimePoint> at) {
    if (!at)
        return std::nullopt;
    return std::chrono::floor<std::chrono::microseconds>(at->time_since_epoch()).count();
}

// Microseconds between clocks at `bpm`.
std::chrono::microseconds clockInterval(double bpm) {
    return std::chrono::microseconds(static_cast<std::int64_t>(60.0e6 / bpm / 24.0 + 0.5));
}

class MusicalTimeTest : public LiveTest {
protected:
    MusicalTimeTest() { dawClock = midi.addSource("DAW Clock"); }
    ~MusicalTimeTest() override {
        if (live)
            live->setBeatSession(nullptr);
    }

    // Afresh, on song "One": section "Verse" with the given steps' bar counts (none: the step
    // holds), then "Chorus"; its time from `source` ("DAW Clock" for MIDI clock), a session
    // offered either way.
    void startWith(const std::vector<std::optional<std::int64_t>>& bars, TimeSource source) {
        if (live)
            live->setBeatSession(nullptr);
        live.reset();
        link.reset();
        service.reset();
        session = std::make_unique<TimelineSession>(loop);
        app->setCurrentSectionIndex(0);
        app->setCurrentStepIndex(0);
        Setlist set = makeSet({{"One", "Verse", "Chorus"}}, ControlMode::ccMute);
        auto& steps = set.songs[0].sections[0].steps;
        growTo(steps, bars.size());
        for (std::size_t i = 0; i < bars.size(); ++i)
            steps[i].advanceBars = bars[i];
        if (source != TimeSource::cadenzo)
            set.timeSource = source;
        if (source == TimeSource::midiClock)
            set.clockDevice = "DAW Clock";
        start(std::move(set));
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
    // Start, then the downbeat: tick 0, `bpm` after Start.
    void startClock(double bpm) {
        transport(0xFA);
        ticked = -1;
        clockTo(0, bpm);
    }
    // Clocks at `bpm`, each after its interval of virtual time, up to and including tick `last`
    // (counted from the downbeat).
    void clockTo(std::int64_t last, double bpm) {
        for (; ticked < last; ++ticked) {
            loop.advance(clockInterval(bpm));
            send(dawClock, {0xF8});
        }
    }
    // Adds a Moment to "Verse" that fires `bars` bars after its start: mutes layer 2 and sends
    // CC 20 to "Synth".
    void addBarMoment(std::int64_t bars) {
        app->updateSetlist([&](Setlist& set) {
            Moment m = Moment::fresh();
            m.anchor = FireAnchor::barsAfterStart(bars);
            m.muteLayerIDs.insert(set.layers.at(2).id);
            CCSend cc = CCSend::fresh();
            cc.portName = "Synth";
            cc.cc = 20;
            cc.value = 1;
            m.ccSends = {cc};
            set.songs[0].sections[0].moments = {std::move(m)};
            return true;
        });
        settle();
    }
    // Moves virtual time on until the session reaches `beat`.
    void runTo(double beat) {
        loop.advanceTo(session->timeAtBeat(beat));
        settle();
    }

    MidiRef dawClock = 0;
    std::int64_t ticked = -1; // the clock's latest tick since Start
    std::unique_ptr<TimelineSession> session;
    std::int64_t step = 0;
    std::vector<double> stepBeats; // the session's beats at which the step changed
    ConnectionBag watch;
};

} // namespace

TEST_F(MusicalTimeTest, StopFreezesTheCountAndPlayingAgainTimesTheStepFromThere) {
    startWith({1, 1, std::nullopt}, TimeSource::midiClock);
    transport(0xFA);
    clocks(49, 120); // downbeat and two beats
    transport(0xFC);
    clocks(200, 120); // a stopped DAW keeps sending clocks: they count nothing
    EXPECT_EQ(app->currentStepIndex(), 0);
    send(dawClock, {0xF2, 8, 0}); // bar 2
    transport(0xFB);
    const int n = clocks(200, 120, [&] { return app->currentStepIndex() == 1; });
    EXPECT_EQ(n, 97); // the clock at the pointer, then one bar
}

TEST_F(MusicalTimeTest, MomentsCountBarsOfClocks) {
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
        startWith(row.bars, TimeSource::midiClock);
        app->updateSetlist([&](Setlist& set) {
            Moment m = Moment::fresh();
            m.anchor = row.anchor;
            m.muteLayerIDs.insert(set.layers.at(2).id);
            set.songs[0].sections[0].moments = {std::move(m)};
            return true;
        });
        settle();
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

TEST_F(MusicalTimeTest, OnlyTheChosenSourceAndOnlyForASetThatChoseTheClock) {
    // A set on Cadenzo: the clock is heard but times nothing.
    startWith({1, std::nullopt}, TimeSource::cadenzo);
    transport(0xFA);
    clocks(200, 120);
    EXPECT_EQ(app->currentStepIndex(), 0);
    EXPECT_FALSE(live->clockReading().heard); // nobody follows the clock's device

    // Chosen (another device's clocks counting for nothing is the MIDI input's test).
    live->setClockDevice("DAW Clock");
    live->setTimeSource(TimeSource::midiClock);
    settle();
    EXPECT_EQ(app->setlist().timeSource, TimeSource::midiClock);
    transport(0xFA);
    EXPECT_EQ(clocks(200, 120, [&] { return app->currentStepIndex() == 1; }), 97);

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

TEST_F(MusicalTimeTest, AStepEndsOnTheSessionsBeatGridWhateverTheTempoDoes) {
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
        startWith({2, 2, std::nullopt}, TimeSource::link);
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

TEST_F(MusicalTimeTest, PlayingNoticedLateCountsFromItsBeatJoiningLateFromTheLastBarLine) {
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
        startWith({1, std::nullopt}, TimeSource::link);
        session->startAt(0, false);
        // The change is on its way to the main loop while the session plays on.
        loop.advanceTo(session->timeAtBeat(row.noticedAfter));
        session->changed.notify();
        settle();
        runTo(20);
        EXPECT_EQ(stepBeats, std::vector<double>{row.advancedAt});
    }
}

TEST_F(MusicalTimeTest, TheSessionRunsOnlyForASetOnLinkAndTheToolbarReadsIt) {
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

// A MIDI system that writes sends at their frame wants them a send lead ahead: the session's
// future is known, so a step's end and a bar line's Moment are decided that lead before their bar
// line, and all they send (the mutes, the Moment's own CC) is due on it. The steps stay on the
// session's bar grid through a tempo change. Without a lead, they are decided on the bar line
// and sent at once, as ever.
// With a send lead, a step's end and the bar line's Moments are decided that lead ahead of the bar
// line, and everything they send is due at it: on Link, read from the session as of the bar line;
// on MIDI clock, placed from the clock's latest tick and tempo (the clock's own tick then changes
// nothing). Without a lead they are decided when the bar line comes, and sent at once.
TEST_F(MusicalTimeTest, WithASendLeadStepsAndMomentsAreDecidedAheadAndDueOnTheirBarLine) {
    struct Bar {
        std::int64_t number;
        std::int64_t step;   // the step from this bar line on
        bool moment;         // the Moment has fired by then
        std::size_t packets; // a round of the four layers' CC mutes, and the Moment's CC
        double tempoAfter;   // a new tempo once this bar line has passed (0: none)
    };
    const std::vector<Bar> bars{
        {1, 1, false, 4, 0}, {2, 2, false, 4, 93}, {3, 3, false, 4, 0}, {4, 3, true, 5, 0}};
    for (const TimeSource source : {TimeSource::link, TimeSource::midiClock}) {
        const bool link = source == TimeSource::link;
        for (const Duration lead : {Duration(15ms), Duration::zero()}) {
            SCOPED_TRACE(std::string(link ? "Link, lead " : "MIDI clock, lead ") +
                         std::to_string(lead.count()));
            midi.setSendLead(lead);
            startWith({1, 1, 1, std::nullopt}, source);
            addBarMoment(4);
            double bpm = 124;
            if (link) {
                session->setTempo(bpm);
                session->startAt(0);
                settle();
            } else {
                startClock(bpm);
            }
            midi.recordTimedSends();
            std::size_t seen = 0;
            for (const Bar& bar : bars) {
                SCOPED_TRACE(bar.number);
                const std::int64_t tick = 96 * bar.number;
                // The bar line's time; a clock plays up to the tick before it.
                TimePoint at;
                if (link) {
                    at = session->timeAtBeat(4.0 * static_cast<double>(bar.number));
                } else {
                    clockTo(tick - 1, bpm);
                    at = loop.now() + clockInterval(bpm);
                }
                const std::int64_t before = app->currentStepIndex();
                loop.advanceTo(at - lead - 1ms);
                settle();
                EXPECT_EQ(app->currentStepIndex(), before);
                EXPECT_EQ(midi.timedSends().size(), seen) << "nothing before its time";
                loop.advanceTo(at - lead);
                settle();
                if (!link && lead == Duration::zero())
                    clockTo(tick, bpm);
                EXPECT_EQ(app->currentStepIndex(), bar.step);
                EXPECT_EQ(app->activeMomentMutedIDs().has_value(), bar.moment);
                const auto sent = midi.timedSends();
                ASSERT_EQ(sent.size(), seen + bar.packets);
                // To the microsecond: a clock's arrival is stamped in whole microseconds.
                for (std::size_t i = seen; i < sent.size(); ++i)
                    EXPECT_EQ(inMicros(sent[i].due),
                              inMicros(lead > Duration::zero() ? std::optional<TimePoint>(at)
                                                               : std::nullopt))
                        << i;
                seen = sent.size();
                if (!link) {
                    clockTo(tick, bpm); // the tick itself: nothing more
                    EXPECT_EQ(app->currentStepIndex(), bar.step);
                    EXPECT_EQ(midi.timedSends().size(), seen);
                }
                if (bar.tempoAfter > 0) {
                    bpm = bar.tempoAfter;
                    if (link) {
                        loop.advanceTo(
                            session->timeAtBeat(4.0 * static_cast<double>(bar.number) + 1));
                        session->setTempo(bpm);
                        settle();
                    }
                }
            }
            const auto all = midi.timedSends();
            EXPECT_EQ(std::count_if(all.end() - 5, all.end(),
                                    [](const auto& s) {
                                        return s.bytes == Bytes{0xB0, 20, 1};
                                    }),
                      1)
                << "the Moment's CC, timed with its mutes";
        }
    }
}

// Whatever reaches the coordinator between a step decided early and its bar line: the step is
// not advanced again and nothing is sent twice; the next step still ends on the session's bar
// line after it (at the new tempo), unless the session stopped.
TEST_F(MusicalTimeTest, WhatComesInsideTheLeadWindowNeverAdvancesOrSendsTwice) {
    constexpr Duration lead = 15ms;
    struct Row {
        const char* name;
        std::function<void()> inTheWindow;
        std::size_t untimed;  // packets the event sends itself, at once
        std::int64_t stepAt8; // the step from the next bar line on (beat 8)
    };
    const std::vector<Row> rows{
        {"nothing", [] {}, 0, 2},
        {"the tempo halves", [&] { session->setTempo(62); }, 0, 2},
        {"a peer joins", [&] { session->setPeers(1); }, 0, 2},
        {"the session stops", [&] { session->stop(); }, 0, 1},
        // The press counts its step from the bar line decided early.
        {"the performer steps on", [&] { app->nextStep(); }, 4, 3},
        {"a peer joins, then the performer steps on",
         [&] {
             session->setPeers(1);
             settle();
             app->nextStep();
         },
         4, 3},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        midi.setSendLead(lead);
        startWith({1, 1, 1, std::nullopt}, TimeSource::link);
        session->setTempo(124);
        session->startAt(0);
        settle();
        midi.recordTimedSends();
        const TimePoint bar = session->timeAtBeat(4);
        loop.advanceTo(bar - lead);
        settle();
        ASSERT_EQ(app->currentStepIndex(), 1);
        ASSERT_EQ(midi.timedSends().size(), 4u);

        loop.advance(5ms);
        row.inTheWindow();
        settle();
        loop.advanceTo(bar + 1ms);
        settle();
        const std::int64_t stepped = row.untimed > 0 ? 2 : 1;
        EXPECT_EQ(app->currentStepIndex(), stepped);
        auto sent = midi.timedSends();
        ASSERT_EQ(sent.size(), 4 + row.untimed);
        for (std::size_t i = 4; i < sent.size(); ++i)
            EXPECT_EQ(sent[i].due, std::nullopt) << i;

        const TimePoint next = session->timeAtBeat(8);
        loop.advanceTo(next - lead - 1ms);
        settle();
        EXPECT_EQ(app->currentStepIndex(), stepped);
        loop.advanceTo(next - lead);
        settle();
        EXPECT_EQ(app->currentStepIndex(), row.stepAt8);
        sent = midi.timedSends();
        const bool plays = row.stepAt8 != stepped;
        ASSERT_EQ(sent.size(), 4 + row.untimed + (plays ? 4 : 0));
        if (plays) {
            EXPECT_EQ(sent.back().due, std::optional<TimePoint>(next));
        }
        runTo(9);
        EXPECT_EQ(app->currentStepIndex(), row.stepAt8);
        EXPECT_EQ(midi.timedSends().size(), sent.size());
    }
}

// Whatever comes between a clock tick decided early and the tick itself (the clock here is shorter
// than the lead, so the tick before it comes in between too): the step is not advanced again and
// nothing is sent twice; the next step still ends on the clock's bar line after it (at the
// clock's new tempo), unless the clock stopped.
TEST_F(MusicalTimeTest, WhatComesBeforeADecidedClockTickNeverAdvancesOrSendsTwice) {
    constexpr Duration lead = 15ms;
    constexpr double bpm = 234;
    struct Row {
        const char* name;
        std::function<void()> inTheWindow;
        double bpmAfter;        // the clock's tempo from here on
        std::size_t untimed;    // packets the event sends itself, at once
        std::int64_t stepAt192; // the step from the next bar line on
    };
    const std::vector<Row> rows{
        {"nothing", [] {}, bpm, 0, 2},
        // The decided tick comes late, and the bar after it at the new tempo.
        {"the clock slows to half", [] {}, bpm / 2, 0, 2},
        {"the clock stops", [&] { transport(0xFC); }, bpm, 0, 1},
        // A press counts its step from the tick decided early, also once the tick before it came.
        {"the performer steps on", [&] { app->nextStep(); }, bpm, 4, 3},
        {"a tick, then the performer steps on",
         [&] {
             clockTo(95, bpm);
             app->nextStep();
         },
         bpm, 4, 3},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        midi.setSendLead(lead);
        startWith({1, 1, 1, std::nullopt}, TimeSource::midiClock);
        startClock(bpm);
        clockTo(94, bpm);
        midi.recordTimedSends();
        const TimePoint bar = loop.now() + 2 * clockInterval(bpm);
        loop.advanceTo(bar - lead);
        settle();
        ASSERT_EQ(app->currentStepIndex(), 1);
        ASSERT_EQ(midi.timedSends().size(), 4u);

        loop.advance(1ms);
        row.inTheWindow();
        settle();
        const bool plays = row.stepAt192 != 1;
        if (plays)
            clockTo(96, row.bpmAfter);
        const std::int64_t stepped = row.untimed > 0 ? 2 : 1;
        EXPECT_EQ(app->currentStepIndex(), stepped);
        auto sent = midi.timedSends();
        ASSERT_EQ(sent.size(), 4 + row.untimed);
        for (std::size_t i = 4; i < sent.size(); ++i)
            EXPECT_EQ(sent[i].due, std::nullopt) << i;

        // A stopped clock's ticks count nothing; a playing one's next bar line is tick 192.
        clockTo(189, row.bpmAfter);
        EXPECT_EQ(app->currentStepIndex(), stepped);
        const TimePoint next = loop.now() + 3 * clockInterval(row.bpmAfter);
        clockTo(190, row.bpmAfter);
        EXPECT_EQ(app->currentStepIndex(), stepped);
        clockTo(191, row.bpmAfter);
        loop.advanceTo(next - lead);
        settle();
        EXPECT_EQ(app->currentStepIndex(), row.stepAt192);
        sent = midi.timedSends();
        ASSERT_EQ(sent.size(), 4 + row.untimed + (plays ? 4 : 0));
        if (plays) {
            EXPECT_EQ(sent.back().due, std::optional<TimePoint>(next));
        }
        clockTo(200, row.bpmAfter);
        EXPECT_EQ(app->currentStepIndex(), row.stepAt192);
        EXPECT_EQ(midi.timedSends().size(), sent.size());
    }
}
