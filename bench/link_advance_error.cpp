// Auto-advance against Ableton Link's own beat grid, with a real peer: Debian's command-line Link
// utility (on a private JACK server, driven through its terminal) shares tempo and transport;
// Strata's Link session follows it and 50 one-bar steps advance on the session's bar lines, with
// a tempo step half-way (the peer's tempo key pressed 30 times, one BPM each). For each step: the
// session's beat, read through Link itself when the main thread changed the step, minus the bar
// line it was due on, in microseconds at the session's tempo. Prints median and p99.
//
// Joins Link's multicast group: run only inside a private network namespace, e.g.
//   tools/netns tools/shmns build/debug/bench/strata_link_advance_error

#include "engine/app_state.h"
#include "link/pty_peer.h"
#include "link_beat_session.h"
#include "live/live_coordinator.h"
#include "midi_jack/jack_rig.h"
#include "percentile.h"
#include "support/core_stack.h"
#include "support/large_set.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>

using namespace strata;
using namespace strata::testing;

int main() {
    constexpr int kSteps = 50;
    JackTestServer server;
    std::string error;
    if (!server.start(&error)) {
        std::fprintf(stderr, "no JACK server: %s\n", error.c_str());
        return 1;
    }
    PtyPeer peer("LinkHut");
    peer.type("a"); // Link on
    peer.type("s"); // start/stop sync on

    CoreStack core;
    core.makeState();
    core.app->setMode(StrataMode::pro);
    Setlist set = oneBarStepsSet(kSteps, TimeSource::link);
    core.app->setSetlist(std::move(set));
    core.loop.runPending();
    core.makeLive();
    LinkBeatSession session(core.loop);
    core.live->setBeatSession(&session);
    core.live->appear();
    RealTimeDriver driver(core.loop);
    const auto reading = [&] { return core.live->clockReading(); };
    const auto pressUntil = [&](const char* key, std::int64_t bpm) {
        return stepTempo(
            peer, key, bpm, [&] { return reading().bpm; },
            [&](const auto& done) { return driver.runUntil(done); });
    };
    if (!driver.runUntil([&] { return reading().peers == 1 && reading().bpm == 120; }) ||
        !pressUntil("e", 180)) {
        std::fprintf(stderr, "the peer never showed up at 180 BPM:\n%s\n", peer.screen().c_str());
        return 1;
    }

    std::vector<double> errors;
    std::int64_t step = 0;
    ConnectionBag watch;
    watch += core.app->changed.connect([&] {
        if (core.app->currentStepIndex() == step)
            return;
        step = core.app->currentStepIndex();
        const BeatSessionState now = session.capture();
        const double barLine = std::round(now.beat / 4) * 4;
        errors.push_back((now.beat - barLine) * 60.0e6 / now.tempo);
        if (std::getenv("STRATA_BENCH_VERBOSE"))
            std::fprintf(stderr, "step %lld at beat %.4f (tempo %.2f)\n",
                         static_cast<long long>(step), now.beat, now.tempo);
    });
    peer.type(" ");
    const bool half = driver.runUntil([&] { return step >= kSteps / 2; }, std::chrono::minutes(2));
    const bool slower = half && pressUntil("w", 150);
    const bool all =
        slower && driver.runUntil([&] { return step >= kSteps; }, std::chrono::minutes(2));
    peer.type(" ");
    driver.runUntil([&] { return !reading().playing; });
    core.live->setBeatSession(nullptr);

    std::printf("auto-advance on Ableton Link, %zu of %d one-bar steps (180 BPM, then 150 from "
                "step %d), one peer in a private network namespace\n",
                errors.size(), kSteps, kSteps / 2);
    std::printf("error against the session's bar line: median %.0f us, p99 %.0f us, min %.0f us, "
                "max %.0f us\n",
                bench::percentile(errors, 0.5), bench::percentile(errors, 0.99),
                bench::percentile(errors, 0.0), bench::percentile(errors, 1.0));
    return all ? 0 : 1;
}
