#pragma once

#include "daw_simulator.h"
#include "jack/jack_midi_backend.h"
#include "jack_test_client.h"
#include "jack_test_server.h"
#include "midi/midi_service.h"
#include "platform/memory_settings.h"
#include "platform/virtual_main_loop.h"
#include "support/midi_bytes.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <functional>
#include <memory>
#include <string>

namespace strata::testing {

// Runs a VirtualMainLoop in step with the wall clock, as the application's loop runs, for tests
// whose other threads are real (JACK's): it waits for posted work at most a millisecond at a
// time and moves virtual time on by the real time that passed, so timers fire when they would.
class RealTimeDriver {
public:
    explicit RealTimeDriver(VirtualMainLoop& loop)
        : loop_(loop), last_(std::chrono::steady_clock::now()) {}

    void step() {
        loop_.waitForPost(std::chrono::milliseconds(1));
        const auto now = std::chrono::steady_clock::now();
        loop_.advance(now - last_);
        last_ = now;
        loop_.runPending();
    }
    void runFor(std::chrono::milliseconds span) {
        const auto end = std::chrono::steady_clock::now() + span;
        while (std::chrono::steady_clock::now() < end)
            step();
    }
    // Runs the loop until `done` holds; false when `timeout` passed first.
    bool runUntil(const std::function<bool()>& done,
                  std::chrono::milliseconds timeout = kPatience) {
        const auto end = std::chrono::steady_clock::now() + timeout;
        while (!done()) {
            if (std::chrono::steady_clock::now() >= end)
                return false;
            step();
        }
        return true;
    }

private:
    VirtualMainLoop& loop_;
    std::chrono::steady_clock::time_point last_;
};

// Strata's MIDI engine on the JACK backend, on a main loop that runs in real time.
// `onSteadyClock`: the loop's time starts at the steady clock's reading instead of its own
// origin, so that due times taken from it mean what the program's do to the backend.
struct JackRig {
    explicit JackRig(const std::string& serverName, bool onSteadyClock = false) {
        if (onSteadyClock)
            loop.advanceTo(TimePoint(std::chrono::steady_clock::now().time_since_epoch()));
        JackMidiBackend::Options options;
        options.serverName = serverName;
        options.retryInterval = std::chrono::milliseconds(100);
        backend = std::make_unique<JackMidiBackend>(options);
        service = std::make_unique<MidiService>(*backend, loop, settings);
        // On a busy machine the first attempt to reach the server can time out; the backend
        // tries again by itself.
        driver.runUntil([&] { return service->midiAvailable.get(); });
    }
    std::string sourcePort(bool extender) const {
        return backend->jackPortName(service->virtualSourceRef(extender));
    }
    std::string feedbackPort(bool extender) const {
        return backend->jackPortName(service->virtualDestinationRef(extender));
    }
    // Wires a unit of the DAW (2: its Generic MIDI, on the main surface's ports) and waits until
    // Strata has been told of the new listener and taken it in: on a busy machine that news can
    // come well after the ports are connected, and what is sent before it reaches a DAW that
    // Strata does not know is there.
    bool wire(DawSimulator& daw, int unit, bool surfaceFirst = false) {
        const std::uint64_t before = backend->counters().subscriptions;
        if (!daw.connectUnit(unit, sourcePort(unit == 1), feedbackPort(unit == 1), surfaceFirst))
            return false;
        if (!driver.runUntil([&] { return backend->counters().subscriptions > before; }))
            return false;
        service->drain();
        return true;
    }
    bool unwire(DawSimulator& daw, int unit) {
        return daw.disconnectUnit(unit, sourcePort(unit == 1), feedbackPort(unit == 1));
    }

    bool settling() {
        const auto s = service->mackieShadow();
        return s.settling[0] || s.settling[1];
    }
    bool outputPending() {
        return backend->outputPending(service->virtualSourceRef(false)) ||
               backend->outputPending(service->virtualSourceRef(true));
    }

    // Runs the loop until `done` holds, for what the server's cycles bring about (bank moves
    // going out one per cycle, the DAW's answers, settles counted in cycles). A loaded machine
    // slows those cycles down, at times to a few a second with gaps of seconds between them, so
    // a span of wall time says little of whether the work is stuck. The wait gives up once
    // `timeout` has passed and the server has also run `cycleBudget` of our cycles since it began
    // (far more than anything here waits for), or once `timeout` has passed without a cycle.
    bool runUntilCycles(const std::function<bool()>& done,
                        std::chrono::milliseconds timeout = kPatience,
                        std::uint64_t cycleBudget = kCycleBudget) {
        const auto start = std::chrono::steady_clock::now();
        const std::uint64_t first = backend->cycleCount();
        std::uint64_t latest = first;
        auto latestAt = start;
        while (!done()) {
            const auto now = std::chrono::steady_clock::now();
            if (const std::uint64_t cycle = backend->cycleCount(); cycle != latest) {
                latest = cycle;
                latestAt = now;
            }
            if (now - latestAt >= timeout ||
                (now - start >= timeout && latest - first >= cycleBudget))
                return false;
            driver.step();
        }
        return true;
    }
    // The most the waits here may need: a return to the first track and the bank moves behind
    // it (a press every other cycle), the settles after them, and the presses that waited.
    static constexpr std::uint64_t kCycleBudget = 500;

    // Runs the loop until nothing is settling or waiting to go out, and then for `cycles` more
    // JACK cycles and at least `after` (in which the DAW acts on what arrived and answers), until
    // that holds again. Cycles, not only time: a loaded machine slows the server's cycles down,
    // so each wait is given cycles as well as time (runUntilCycles). And cycles whose input has
    // been handed to Strata: a loaded machine can hold the DAW's answers back on Strata's input
    // thread after the cycles that read them.
    bool quiesce(int cycles = 8, std::chrono::milliseconds after = std::chrono::milliseconds(60),
                 std::chrono::milliseconds timeout = std::chrono::seconds(20)) {
        const auto idle = [&] {
            service->drain();
            return !settling() && !outputPending();
        };
        for (int round = 0; round < 20; ++round) {
            if (!runUntilCycles(idle, timeout))
                return gaveUp("waiting for the output to settle");
            const std::uint64_t from = backend->cycleCount();
            driver.runFor(after);
            if (!runUntilCycles([&] { return backend->deliveredCycle() >= from + cycles; },
                                timeout))
                return gaveUp("waiting for the DAW's answers to be handed over");
            if (idle())
                return true;
        }
        return gaveUp("after 20 rounds");
    }

    // Says where a wait gave up, so that a failure under load names what was stuck.
    bool gaveUp(const char* where) {
        const auto shadow = service->mackieShadow();
        std::fprintf(stderr,
                     "[rig] gave up %s: settling %d/%d, output pending %d/%d, cycle %llu, "
                     "delivered %llu\n",
                     where, shadow.settling[0], shadow.settling[1],
                     backend->outputPending(service->virtualSourceRef(false)),
                     backend->outputPending(service->virtualSourceRef(true)),
                     static_cast<unsigned long long>(backend->cycleCount()),
                     static_cast<unsigned long long>(backend->deliveredCycle()));
        return false;
    }

    // Taken down in reverse order: the engine before the backend it runs on.
    VirtualMainLoop loop;
    MemorySettings settings;
    RealTimeDriver driver{loop};
    std::unique_ptr<JackMidiBackend> backend;
    std::unique_ptr<MidiService> service;
};

// The session once layers [0, count) on tracks offset.. are as `want` says; other tracks keep
// what they had.
inline std::vector<bool> intended(std::vector<bool> session, int offset, int count,
                                  const std::vector<int>& want) {
    for (int i = 0; i < count && offset + i < static_cast<int>(session.size()); ++i)
        session[static_cast<std::size_t>(offset + i)] =
            std::find(want.begin(), want.end(), i) != want.end();
    return session;
}

} // namespace strata::testing
