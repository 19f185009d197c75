// Auto-advance against the MIDI clock's own grid, on a private JACK server (dummy driver): a
// client plays the DAW. Its clock output is timed to the frame (Start, then 24 clocks a beat at
// 180 BPM, 150 from half-way) into Strata's MIDI engine on the JACK backend, and its input listens
// to Strata: each of 50 one-bar steps toggles one CC mute. For each step, against the frame of
// the clock the step was due on:
// - when the main thread changed the step (JACK's estimate of the frame then): with a send lead
//   that is ahead of the clock on purpose, so that the mute can be written at the clock's frame;
// - when the DAW received the mute (the frame it arrived at).
// Prints median, p99, min and max of each, in microseconds, next to the JACK period.
//
// The DAW both sends the clock and listens, as on stage: JACK runs one of the two programs a cycle
// behind the other to break that loop. With --separate-clock another client plays the clock
// (a clock from elsewhere: no loop).
//
//   strata_clock_advance_error [--separate-clock]

#include "cuelink/cadenzo_link.h"
#include "engine/app_state.h"
#include "jack_test_client.h"
#include "live/live_coordinator.h"
#include "midi_jack/jack_rig.h"
#include "percentile.h"
#include "support/large_set.h"
#include "support/test_support.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <jack/jack.h>
#include <optional>

using namespace strata;
using namespace strata::testing;

int main(int argc, char** argv) {
    const bool separate = argc > 1 && std::strcmp(argv[1], "--separate-clock") == 0;
    constexpr int kSteps = 50;
    constexpr std::uint8_t kMuteCC = 20;
    JackTestServer server(JackTestServer::Mode::asynchronous);
    std::string error;
    if (!server.start(&error)) {
        std::fprintf(stderr, "no JACK server: %s\n", error.c_str());
        return 1;
    }
    const double rate = JackTestServer::kSampleRate;
    const double periodMicros = 1e6 * JackTestServer::kPeriodFrames / rate;

    // The core as the program builds it: the JACK backend reads a send's due time on the steady
    // clock, as the program's main loop gives it, so the loop's virtual time keeps pace with it.
    TempDir dir;
    JackRig rig(server.name(), true);
    JackTestClient daw(server.name(), "daw");
    const std::size_t in = daw.addInput("in");
    std::optional<JackTestClient> other;
    if (separate)
        other.emplace(server.name(), "clock");
    JackTestClient& clock = separate ? *other : daw;
    const std::size_t out = clock.addOutput("clock");
    if (!daw.ok() || !clock.ok() || !daw.connect(rig.sourcePort(false), daw.fullName(in))) {
        std::fprintf(stderr, "the DAW client could not listen to Strata\n");
        return 1;
    }
    AppState app(StoreLocation::under(dir.path()), rig.settings, rig.loop);
    app.setMode(StrataMode::pro);
    Setlist set = clickTogglingSet(kSteps, TimeSource::midiClock, kMuteCC);
    set.clockDevice = clock.fullName(out);
    app.setSetlist(std::move(set));
    rig.loop.runPending();
    CadenzoLink link(rig.loop, CadenzoLink::Options{.openSocket = false});
    LiveCoordinator live(app, *rig.service, link, rig.loop, rig.settings,
                         StoreLocation::under(dir.path()));

    const std::string name = clock.fullName(out);
    if (!rig.driver.runUntil([&] {
            const auto& sources = rig.service->sources();
            return std::find(sources.begin(), sources.end(), name) != sources.end();
        }) ||
        !daw.waitCycles(4)) {
        std::fprintf(stderr, "the clock source never reached Strata\n");
        return 1;
    }
    live.appear();
    rig.quiesce();

    // JACK's estimate of the current frame when the step changed: a server that missed cycles
    // maps its frames to time afresh, so times are compared as frames, each read when it happened.
    std::vector<std::uint32_t> changedAt;
    std::int64_t step = app.currentStepIndex();
    ConnectionBag watch;
    watch += app.changed.connect([&] {
        if (app.currentStepIndex() != step) {
            step = app.currentStepIndex();
            changedAt.push_back(jack_frame_time(daw.handle()));
        }
    });

    // The whole clock, queued at once for its frames: Start and the downbeat half a second from
    // now, kSteps bars and a beat of clocks, then Stop.
    const auto start = static_cast<std::uint32_t>(jack_frame_time(daw.handle()) + rate / 2);
    std::vector<std::uint32_t> clockFrames;
    clock.sendAtFrame(out, {0xFA}, start);
    double frame = start;
    for (int k = 0; k <= kSteps * 96 + 24; ++k) {
        const double bpm = k < kSteps / 2 * 96 ? 180 : 150;
        clockFrames.push_back(static_cast<std::uint32_t>(std::llround(frame)));
        clock.sendAtFrame(out, {0xF8}, clockFrames.back());
        frame += rate * 60.0 / (bpm * 24);
    }
    clock.sendAtFrame(out, {0xFC}, static_cast<std::uint32_t>(std::llround(frame)));
    const std::uint64_t xrunsBefore = rig.backend->counters().xruns;

    // What Strata's clock follower counted, to compare with what the DAW sent.
    std::int64_t counted = 0;
    ConnectionBag counting;
    counting += rig.service->clockChanged.connect(
        [&](const ClockState& state) { counted = std::max(counted, state.ticks); });
    std::vector<std::uint32_t> mutes; // the frame each mute reached the DAW at
    const auto collect = [&] {
        for (const JackTestEvent& e : daw.takeReceived()) {
            const std::uint32_t at = e.cycleFrame + e.offset;
            if (e.port == in && e.bytes.size() == 3 && (e.bytes[0] & 0xF0) == 0xB0 &&
                e.bytes[1] == kMuteCC && static_cast<std::int32_t>(at - start) > 0)
                mutes.push_back(at);
        }
    };
    const bool all = rig.driver.runUntil(
        [&] {
            collect();
            return mutes.size() >= kSteps && changedAt.size() >= kSteps;
        },
        std::chrono::minutes(3));
    rig.driver.runFor(std::chrono::milliseconds(300));

    // The frames the clocks really went out at: a server that missed cycles sends what fell in
    // them late.
    std::vector<std::uint32_t> sentFrames;
    for (const JackTestEvent& e : clock.takeSent())
        if (e.bytes == std::vector<std::uint8_t>{0xF8})
            sentFrames.push_back(e.cycleFrame + e.offset);
    std::size_t late = 0;
    for (std::size_t k = 0; k < sentFrames.size() && k < clockFrames.size(); ++k)
        late += sentFrames[k] != clockFrames[k];
    std::vector<double> changed;
    std::vector<double> received;
    for (std::size_t j = 1; j <= kSteps && 96 * j < sentFrames.size(); ++j) {
        const std::uint32_t due = sentFrames[96 * j];
        if (std::getenv("STRATA_BENCH_VERBOSE") && j - 1 < mutes.size())
            std::fprintf(stderr, "step %zu: due clock at frame %u, mute at %+d frames\n", j, due,
                         static_cast<std::int32_t>(mutes[j - 1] - due));
        if (j - 1 < changedAt.size())
            changed.push_back(
                static_cast<double>(static_cast<std::int32_t>(changedAt[j - 1] - due)) * 1e6 /
                rate);
        if (j - 1 < mutes.size())
            received.push_back(static_cast<double>(static_cast<std::int32_t>(mutes[j - 1] - due)) *
                               1e6 / rate);
    }
    std::printf(
        "auto-advance on MIDI clock, %d one-bar steps (180 BPM, then 150 from step %d), the "
        "clock timed to the frame by %s; JACK period %.0f us (%d frames at %d Hz), send "
        "lead %.1f ms, %llu xruns\n",
        kSteps, kSteps / 2, separate ? "another client" : "the DAW itself", periodMicros,
        JackTestServer::kPeriodFrames, JackTestServer::kSampleRate,
        std::chrono::duration<double, std::milli>(rig.service->sendLead()).count(),
        static_cast<unsigned long long>(rig.backend->counters().xruns - xrunsBefore));
    std::printf("clocks sent off their frame (in missed cycles): %zu of %zu; Strata counted "
                "%lld ticks after the downbeat\n",
                late, sentFrames.size(), static_cast<long long>(counted));
    bench::printSpread("the main thread changed the step, from the due clock's frame", changed);
    bench::printSpread("the DAW received the step's mute, from the due clock's frame", received);
    return all ? 0 : 1;
}
