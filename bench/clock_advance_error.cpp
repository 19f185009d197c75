// Auto-advance against the MIDI clock's own grid, on a private JACK server (dummy driver,
// asynchronous mode, as on stage): a client plays the DAW's clock output, one clock every few
// process cycles (a tempo step half-way), into Strata's MIDI engine on the JACK backend; the live
// coordinator follows the clock and 50 one-bar steps advance on it. For each step: JACK's
// microsecond clock when the main thread changed the step, minus the one of the cycle the step's
// due clock went out in. Prints median and p99 next to the JACK period.
//
//   strata_clock_advance_error

#include "cuelink/cadenzo_link.h"
#include "engine/app_state.h"
#include "live/live_coordinator.h"
#include "midi_jack/jack_rig.h"
#include "percentile.h"
#include "support/large_set.h"
#include "support/test_support.h"

#include <atomic>
#include <cstdio>
#include <jack/jack.h>
#include <thread>

using namespace strata;
using namespace strata::testing;

int main() {
    constexpr int kSteps = 50;
    JackTestServer server(JackTestServer::Mode::asynchronous);
    std::string error;
    if (!server.start(&error)) {
        std::fprintf(stderr, "no JACK server: %s\n", error.c_str());
        return 1;
    }
    const double periodMicros =
        1e6 * JackTestServer::kPeriodFrames / static_cast<double>(JackTestServer::kSampleRate);

    TempDir dir;
    JackRig rig(server.name());
    JackTestClient daw(server.name(), "dawclock");
    const std::size_t out = daw.addOutput("out");
    AppState app(StoreLocation::under(dir.path()), rig.settings, rig.loop);
    app.setMode(StrataMode::pro);
    Setlist set = oneBarStepsSet(kSteps, TimeSource::midiClock);
    set.clockDevice = daw.fullName(out);
    app.setSetlist(std::move(set));
    CadenzoLink link(rig.loop, CadenzoLink::Options{.openSocket = false});
    LiveCoordinator live(app, *rig.service, link, rig.loop, rig.settings,
                         StoreLocation::under(dir.path()));

    const std::string name = daw.fullName(out);
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

    std::vector<std::uint64_t> advancedAt;
    std::int64_t step = app.currentStepIndex();
    ConnectionBag watch;
    watch += app.changed.connect([&] {
        if (app.currentStepIndex() != step) {
            step = app.currentStepIndex();
            advancedAt.push_back(jack_get_time());
        }
    });

    // Start, the downbeat and kSteps bars of clocks: 2 cycles a clock (234 BPM at 256 frames and
    // 48 kHz), then 3 (156 BPM) from half-way.
    daw.takeSent();
    std::atomic<bool> done{false};
    std::thread sender([&] {
        daw.waitCycles(2);
        daw.send(out, {0xFA});
        for (int clock = 0; clock <= kSteps * 96; ++clock) {
            daw.waitCycles(clock < kSteps / 2 * 96 ? 2 : 3);
            daw.send(out, {0xF8});
        }
        daw.waitCycles(4);
        daw.send(out, {0xFC});
        done = true;
    });
    while (!done)
        rig.driver.step();
    sender.join();
    rig.driver.runFor(std::chrono::milliseconds(200));

    const auto sent = daw.takeSent();
    std::vector<double> errors;
    for (int j = 1; j <= kSteps && j - 1 < static_cast<int>(advancedAt.size()); ++j) {
        const std::size_t due = 1 + static_cast<std::size_t>(96 * j); // after Start
        if (due >= sent.size())
            break;
        errors.push_back(static_cast<double>(advancedAt[static_cast<std::size_t>(j - 1)]) -
                         static_cast<double>(sent[due].cycleMicros));
    }
    std::printf("auto-advance on MIDI clock, %zu of %d steps (JACK period %.0f us, %d frames at "
                "%d Hz)\n",
                errors.size(), kSteps, periodMicros, JackTestServer::kPeriodFrames,
                JackTestServer::kSampleRate);
    std::printf("error against the due clock's cycle: median %.0f us, p99 %.0f us, max %.0f us\n",
                bench::percentile(errors, 0.5), bench::percentile(errors, 0.99),
                bench::percentile(errors, 1.0));
    return errors.size() == static_cast<std::size_t>(kSteps) ? 0 : 1;
}
