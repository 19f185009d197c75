// Auto-advance against Ableton Link's own beat grid, with a real peer: Debian's command-line Link
// utility (on a private JACK server, driven through its terminal) shares tempo and transport;
// Strata's Link session follows it and 50 one-bar steps advance on the session's bar lines, with
// a tempo step half-way (the peer's tempo key pressed 30 times, one BPM each). Strata's MIDI runs
// on the same JACK server, and a client there plays the DAW: every step toggles one CC mute.
// For each step, in microseconds at the session's tempo, against the bar line it was due on:
// - when the main thread changed the step (the session's beat then, read through Link itself):
//   on JACK that is a send lead ahead of the bar line on purpose, so that the mute can be written
//   at the bar line's frame;
// - when the DAW received the mute: the JACK frame it arrived at, taken to JACK's clock, to the
//   steady clock, and to the session's beat at that time.
// Prints median, p99, min and max of each.
//
// Joins Link's multicast group: run only inside a private network namespace, e.g.
//   tools/netns tools/shmns build/debug/bench/strata_link_advance_error

#include "cuelink/cadenzo_link.h"
#include "engine/app_state.h"
#include "jack_clock.h"
#include "jack_test_client.h"
#include "link/pty_peer.h"
#include "link_beat_session.h"
#include "live/live_coordinator.h"
#include "midi_jack/jack_rig.h"
#include "percentile.h"
#include "support/large_set.h"
#include "support/test_support.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <jack/jack.h>

using namespace strata;
using namespace strata::testing;

namespace {

// Microseconds from the nearest bar line (four beats) to `beat`, at `tempo`.
double fromBarLine(double beat, double tempo) {
    return (beat - std::round(beat / 4) * 4) * 60.0e6 / tempo;
}

} // namespace

int main() {
    constexpr int kSteps = 50;
    constexpr std::uint8_t kMuteCC = 20;
    JackTestServer server;
    std::string error;
    if (!server.start(&error)) {
        std::fprintf(stderr, "no JACK server: %s\n", error.c_str());
        return 1;
    }
    PtyPeer peer("LinkHut");
    peer.type("a"); // Link on
    peer.type("s"); // start/stop sync on

    // The core as the program builds it, with its MIDI on the JACK server. The JACK backend
    // reads a send's due time on the steady clock, as the program's main loop gives it: the
    // loop's virtual time starts at the steady clock's reading and keeps pace with it.
    TempDir dir;
    JackRig rig(server.name(), true);
    VirtualMainLoop& loop = rig.loop;
    MemorySettings& settings = rig.settings;
    RealTimeDriver& driver = rig.driver;
    JackMidiBackend& backend = *rig.backend;
    MidiService& service = *rig.service;
    if (!service.midiAvailable.get()) {
        std::fprintf(stderr, "Strata's MIDI never reached the JACK server\n");
        return 1;
    }
    JackTestClient daw(server.name(), "daw");
    const std::size_t in = daw.addInput("in");
    if (!daw.ok() ||
        !daw.connect(backend.jackPortName(service.virtualSourceRef(false)), daw.fullName(in))) {
        std::fprintf(stderr, "the DAW client could not listen to Strata\n");
        return 1;
    }

    AppState app(StoreLocation::under(dir.path()), settings, loop);
    app.setMode(StrataMode::pro);
    Setlist set = clickTogglingSet(kSteps, TimeSource::link, kMuteCC);
    app.setSetlist(std::move(set));
    loop.runPending();
    CadenzoLink link(loop, CadenzoLink::Options{.openSocket = false});
    LiveCoordinator live(app, service, link, loop, settings, StoreLocation::under(dir.path()));
    LinkBeatSession session(loop);
    live.setBeatSession(&session);
    live.appear();
    const auto reading = [&] { return live.clockReading(); };
    std::vector<double> received;
    // Each mute the DAW received, at its frame: JACK's clock of its cycle plus its offset, on the
    // steady clock (the loop's), as the session's beat then. Taken as they come (also while the
    // peer's tempo keys are pressed), while the session's tempo is the one they were sent at.
    const double rate = JackTestServer::kSampleRate;
    const auto collect = [&] {
        for (const JackTestEvent& e : daw.takeReceived()) {
            if (e.port != in || e.bytes.size() != 3 || (e.bytes[0] & 0xF0) != 0xB0 ||
                e.bytes[1] != kMuteCC)
                continue;
            const double jackMicros =
                static_cast<double>(e.cycleMicros) + static_cast<double>(e.offset) * 1e6 / rate;
            const auto at = TimePoint(
                std::chrono::duration_cast<Duration>(std::chrono::duration<double, std::micro>(
                    jackMicros - bench::jackMinusSteadyMicros())));
            const BeatSessionState then = session.captureAt(at);
            received.push_back(fromBarLine(then.beat, then.tempo));
            if (std::getenv("STRATA_BENCH_VERBOSE"))
                std::fprintf(stderr, "mute received at beat %.4f\n", then.beat);
        }
    };
    const auto pressUntil = [&](const char* key, std::int64_t bpm) {
        return stepTempo(
            peer, key, bpm, [&] { return reading().bpm; },
            [&](const auto& done) {
                return driver.runUntil([&] {
                    collect();
                    return done();
                });
            });
    };
    if (!driver.runUntil([&] { return reading().peers == 1 && reading().bpm == 120; }) ||
        !pressUntil("e", 180)) {
        std::fprintf(stderr, "the peer never showed up at 180 BPM:\n%s\n", peer.screen().c_str());
        live.setBeatSession(nullptr);
        return 1;
    }
    // The pushes before the steps count for nothing.
    collect();
    received.clear();

    std::vector<double> changed;
    std::int64_t step = 0;
    ConnectionBag watch;
    watch += app.changed.connect([&] {
        if (app.currentStepIndex() == step)
            return;
        step = app.currentStepIndex();
        const BeatSessionState now = session.capture();
        changed.push_back(fromBarLine(now.beat, now.tempo));
        if (std::getenv("STRATA_BENCH_VERBOSE"))
            std::fprintf(stderr, "step %lld changed at beat %.4f (tempo %.2f)\n",
                         static_cast<long long>(step), now.beat, now.tempo);
    });
    peer.type(" ");
    const bool half = driver.runUntil(
        [&] {
            collect();
            return step >= kSteps / 2;
        },
        std::chrono::minutes(2));
    const bool slower = half && pressUntil("w", 150);
    const bool all = slower && driver.runUntil(
                                   [&] {
                                       collect();
                                       return step >= kSteps && received.size() >= kSteps;
                                   },
                                   std::chrono::minutes(2));
    peer.type(" ");
    driver.runUntil([&] { return !reading().playing; });
    live.setBeatSession(nullptr);

    std::printf("auto-advance on Ableton Link, %zu of %d one-bar steps (180 BPM, then 150 from "
                "step %d), one peer in a private network namespace; Strata's MIDI on JACK "
                "(send lead %.1f ms)\n",
                changed.size(), kSteps, kSteps / 2,
                std::chrono::duration<double, std::milli>(service.sendLead()).count());
    bench::printSpread("the main thread changed the step, from the session's bar line", changed);
    bench::printSpread("the DAW received the step's mute, from the session's bar line", received);
    return all ? 0 : 1;
}
