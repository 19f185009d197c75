// Latency of the MIDI engine's two live paths on the in-memory MIDI system:
// - a NEXT press handed to the input handler on a platform thread, until `advancePressed` runs on
//   the main loop (which sleeps in its wait for posted work, as an idle main loop does);
// - `sendSectionState` on the main thread, until the last byte of that state is handed to the
//   backend by the MIDI queue.
// Each is timed over 10,000 runs; the median and the 99th percentile are reported as counters
// (microseconds), next to Google Benchmark's mean.
#include "midi/midi_service.h"
#include "platform/memory_settings.h"
#include "platform/virtual_main_loop.h"
#include "support/memory_midi_probe.h"

#include <algorithm>
#include <atomic>
#include <benchmark/benchmark.h>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>
#include <vector>

using namespace strata;
using SteadyClock = std::chrono::steady_clock;

namespace {

constexpr int kRuns = 10000;

void report(benchmark::State& state, std::vector<double> micros) {
    if (micros.empty())
        return;
    std::sort(micros.begin(), micros.end());
    state.counters["median_us"] = micros[micros.size() / 2];
    state.counters["p99_us"] = micros[std::min(micros.size() - 1, micros.size() * 99 / 100)];
    state.counters["max_us"] = micros.back();
}

double microsBetween(SteadyClock::time_point a, SteadyClock::time_point b) {
    return std::chrono::duration<double, std::micro>(b - a).count();
}

// A platform thread that hands one packet list to the input port whenever asked.
class PlatformThread {
public:
    PlatformThread(MemoryMidiProbe& midi, MidiRef inputPort, MidiRef source)
        : midi_(midi), port_(inputPort), source_(source), thread_([this] { run(); }) {}
    ~PlatformThread() {
        {
            std::lock_guard lock(mutex_);
            stop_ = true;
        }
        cv_.notify_all();
        thread_.join();
    }
    // Returns at once; the press is handed over on the platform thread, stamped just before.
    void press() {
        {
            std::lock_guard lock(mutex_);
            ++requested_;
        }
        cv_.notify_all();
    }
    SteadyClock::time_point handedAt() const { return handedAt_.load(); }

private:
    void run() {
        const std::vector<MemoryMidiProbe::Bytes> packets{{0x90, 60, 100}};
        std::uint64_t done = 0;
        for (;;) {
            {
                std::unique_lock lock(mutex_);
                cv_.wait(lock, [&] { return stop_ || requested_ > done; });
                if (stop_)
                    return;
            }
            ++done;
            handedAt_.store(SteadyClock::now());
            midi_.deliverToInputPort(port_, packets, source_);
        }
    }

    MemoryMidiProbe& midi_;
    MidiRef port_;
    MidiRef source_;
    std::mutex mutex_;
    std::condition_variable cv_;
    std::uint64_t requested_ = 0;
    bool stop_ = false;
    std::atomic<SteadyClock::time_point> handedAt_{};
    std::thread thread_;
};

void BM_NextPressToAdvancePressed(benchmark::State& state) {
    MemoryMidiProbe midi;
    VirtualMainLoop loop;
    MemorySettings settings;
    const MidiRef pedal = midi.addSource("Pedal");
    MidiService service(midi, loop, settings);
    service.advanceTrigger.set(AdvanceTrigger{"Pedal", AdvanceTrigger::Kind::note, 60});
    service.resolveTriggerSource();

    SteadyClock::time_point pressedAt;
    Connection c = service.advancePressed.connect([&] { pressedAt = SteadyClock::now(); });
    PlatformThread platform(midi, service.inputPortRef(), pedal);

    std::vector<double> micros;
    micros.reserve(kRuns);
    for (auto _ : state) {
        pressedAt = {};
        platform.press();
        while (pressedAt == SteadyClock::time_point{}) {
            loop.waitForPost(std::chrono::milliseconds(1000));
            loop.runPending();
        }
        const double us = microsBetween(platform.handedAt(), pressedAt);
        micros.push_back(us);
        state.SetIterationTime(us / 1e6);
    }
    report(state, std::move(micros));
}
BENCHMARK(BM_NextPressToAdvancePressed)->Iterations(kRuns)->UseManualTime();

// `layers` layers in `mode`; every run mutes or unmutes the first layer, so a Mackie run sends
// one press and release and a CC run sends every layer.
void BM_SendSectionStateToLastByte(benchmark::State& state) {
    const auto mode = state.range(0) == 0 ? ControlMode::mackieControl : ControlMode::ccMute;
    const auto layerCount = static_cast<std::size_t>(state.range(1));
    MemoryMidiProbe midi;
    VirtualMainLoop loop;
    MemorySettings settings;
    midi.addDestination("Synth");
    MidiService service(midi, loop, settings);
    [[maybe_unused]] const auto daw = midi.listen(service.virtualSourceRef(false));

    std::vector<Layer> layers;
    while (layers.size() < static_cast<std::size_t>(layerCount))
        layers.push_back(Layer::fresh());
    for (auto& l : layers)
        l.portName = "Synth";
    const UuidSet none;
    const UuidSet first{layers[0].id};
    // Banks in place (and settled, on the loop's virtual time) before timing.
    service.sendSectionState(layers, none, mode, std::nullopt, 0);
    for (int i = 0; i < 5000; ++i) {
        service.drain();
        loop.runPending();
        const auto shadow = service.mackieShadow();
        if (!shadow.settling[0] && !shadow.settling[1])
            break;
        loop.advance(std::chrono::milliseconds(1));
    }

    const std::size_t expected = mode == ControlMode::mackieControl ? 2 : layerCount;
    std::mutex mutex;
    std::condition_variable cv;
    std::size_t seen = 0;
    SteadyClock::time_point lastByteAt;
    midi.setDeliveryHook([&](MidiRef, const std::uint8_t*, std::size_t) {
        const auto now = SteadyClock::now();
        std::lock_guard lock(mutex);
        if (++seen == expected) {
            lastByteAt = now;
            cv.notify_all();
        }
    });

    std::vector<double> micros;
    micros.reserve(kRuns);
    bool muted = false;
    for (auto _ : state) {
        {
            std::lock_guard lock(mutex);
            seen = 0;
        }
        muted = !muted;
        const auto start = SteadyClock::now();
        service.sendSectionState(layers, muted ? first : none, mode, std::nullopt, 0);
        std::unique_lock lock(mutex);
        cv.wait(lock, [&] { return seen >= expected; });
        const double us = microsBetween(start, lastByteAt);
        lock.unlock();
        micros.push_back(us);
        state.SetIterationTime(us / 1e6);
        loop.runPending();
    }
    midi.setDeliveryHook({});
    report(state, std::move(micros));
}
BENCHMARK(BM_SendSectionStateToLastByte)
    ->ArgNames({"cc", "layers"})
    ->Args({0, 8})
    ->Args({1, 16})
    ->Iterations(kRuns)
    ->UseManualTime();

} // namespace

BENCHMARK_MAIN();
