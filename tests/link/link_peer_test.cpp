// The set's time from Ableton Link with a real peer in the session: Debian's command-line Link
// utility, driven through its terminal, inside a private network namespace. Strata's session
// must see the peer, its tempo and its tempo changes, and its transport; steps and a bar-anchored
// Moment then follow the session's bars.

#include "engine/engine_fixture.h"
#include "link_beat_session.h"
#include "midi_jack/jack_rig.h"
#include "pty_peer.h"

#include <cmath>
#include <gtest/gtest.h>
#include <vector>

using namespace strata;
using namespace strata::testing;

namespace {

// The utility's keys (its usage screen): Link on/off, start/stop sync on/off, tempo down/up by
// one, start/stop.
constexpr const char* kLinkOnOff = "a";
constexpr const char* kSyncOnOff = "s";
constexpr const char* kSlower = "w";
constexpr const char* kFaster = "e";
constexpr const char* kStartStop = " ";

} // namespace

TEST(LinkPeer, StrataFollowsThePeersTempoTransportAndBars) {
    JackTestServer server; // the utility plays its metronome through JACK
    std::string error;
    ASSERT_TRUE(server.start(&error)) << error;
    PtyPeer peer(STRATA_LINK_PEER);
    ASSERT_TRUE(peer.running());
    peer.type(kLinkOnOff);
    peer.type(kSyncOnOff);

    CoreStack core;
    core.makeState();
    core.app->setMode(StrataMode::pro); // steps
    Setlist set = makeSet({{"One", "Verse"}}, {"Pad"});
    Section& verse = set.songs[0].sections[0];
    verse.steps.resize(3, verse.steps.at(0));
    verse.steps[0].advanceBars = 2;
    verse.steps[1].advanceBars = 2;
    Moment moment = Moment::fresh();
    moment.anchor = FireAnchor::barsAfterStart(1);
    moment.muteLayerIDs.insert(set.layers[0].id);
    verse.moments.push_back(moment);
    set.timeSource = TimeSource::link;
    core.app->setSetlist(std::move(set));
    core.loop.runPending();
    core.makeLive();
    LinkBeatSession session(core.loop);
    core.live->setBeatSession(&session);
    // However the test ends, the coordinator lets go of the session before it goes.
    struct Detach {
        LiveCoordinator& live;
        ~Detach() { live.setBeatSession(nullptr); }
    } detach{*core.live};
    core.live->appear();
    RealTimeDriver driver(core.loop);

    const auto reading = [&] { return core.live->clockReading(); };
    ASSERT_TRUE(driver.runUntil([&] { return reading().peers == 1; })) << peer.screen();
    ASSERT_TRUE(driver.runUntil([&] { return reading().bpm == 120; })) << peer.screen();
    EXPECT_FALSE(reading().playing);
    const auto pressUntil = [&](const char* key, std::int64_t bpm) {
        return stepTempo(
            peer, key, bpm, [&] { return reading().bpm; },
            [&](const auto& done) { return driver.runUntil(done); });
    };
    // Slower than the session Strata starts at (120), then faster.
    ASSERT_TRUE(pressUntil(kSlower, 117)) << peer.screen();
    ASSERT_TRUE(pressUntil(kFaster, 122)) << peer.screen();

    // Session beats at which the step changed and the Moment fired.
    std::vector<double> steps;
    std::optional<double> fired;
    ConnectionBag watch;
    std::int64_t step = 0;
    watch += core.app->changed.connect([&] {
        if (core.app->currentStepIndex() != step) {
            step = core.app->currentStepIndex();
            steps.push_back(session.capture().beat);
        }
        if (!fired && core.app->activeMomentMutedIDs().has_value())
            fired = session.capture().beat;
    });
    peer.type(kStartStop);
    ASSERT_TRUE(driver.runUntil([&] { return reading().playing; })) << peer.screen();
    // The session read a second ahead is two beats on at 122 BPM (a reading ahead taken the
    // wrong way, or not at all, is off by two beats or more; the margin is for the real time
    // that passes between two readings).
    {
        const BeatSessionState now = session.capture();
        const BeatSessionState ahead = session.captureAt(now.at + std::chrono::seconds(1));
        EXPECT_NEAR(ahead.beat - now.beat, 122.0 / 60.0, 0.5) << now.tempo;
        EXPECT_EQ(ahead.at, now.at + std::chrono::seconds(1));
    }
    // Where playing started, and the session's first bar line from there.
    const double start = session.capture().startBeat;
    const double barLine = std::ceil(start / 4 - 1e-6) * 4;
    const auto sessionText = [&] {
        const BeatSessionState now = session.capture();
        return "session: beat " + std::to_string(now.beat) + ", started at " +
               std::to_string(now.startBeat) + ", tempo " + std::to_string(now.tempo) +
               (now.playing ? ", playing" : ", stopped") + "; step " +
               std::to_string(core.app->currentStepIndex());
    };
    ASSERT_TRUE(driver.runUntil([&] { return core.app->currentStepIndex() == 2; }))
        << sessionText();
    ASSERT_EQ(steps.size(), 2u);
    ASSERT_TRUE(fired.has_value());
    // Never early: a bar of the session's beats has gone by before the Moment, two before the
    // first step change, four before the second (how late each came depends on the machine).
    EXPECT_GE(*fired, barLine + 4 - 1e-3);
    EXPECT_GE(steps[0], barLine + 8 - 1e-3);
    EXPECT_GE(steps[1], barLine + 16 - 1e-3);

    peer.type(kStartStop);
    ASSERT_TRUE(driver.runUntil([&] { return !reading().playing; })) << peer.screen();
    // Back to Cadenzo: Strata leaves the session.
    core.live->setTimeSource(TimeSource::cadenzo);
    core.loop.runPending();
    EXPECT_FALSE(session.capture().enabled);
}
