// Latency on a private JACK server (dummy driver, asynchronous mode, as on stage): a NEXT press
// written by a controller client, until the first mute byte arrives at a DAW client reading
// "Strata". The press goes through the JACK backend, MidiService's trigger parsing, the main loop
// (a stand-in for the coordinator answers advancePressed with the next section's
// sendSectionState) and the MIDI queue. Next to it, in the same run on the same server, the
// floor: a minimal client that copies its input to its output in the same cycle, between the
// same controller and DAW clients. Prints median and p99 of both and their ratio. The floor
// passes a byte on within the cycle it was written in; any path through threads outside the
// process callback needs at least the next cycle, so the difference is the telling figure.
//
//   strata_next_to_mute_latency [rounds]

#include "jack_rig.h"

#include <algorithm>
#include <cstdio>
#include <optional>
#include <random>
#include <thread>

using namespace strata;
using namespace strata::testing;

namespace {

double percentile(std::vector<double> values, double p) {
    if (values.empty())
        return 0;
    std::sort(values.begin(), values.end());
    const std::size_t index =
        std::min(values.size() - 1, static_cast<std::size_t>(p * (values.size() - 1) + 0.5));
    return values[index];
}

// JACK's microsecond clock at the cycle the press went out, to the cycle the DAW read the first
// event matching `arrived`. `pump` keeps the main loop going while waiting.
std::vector<double> measure(JackTestClient& pedal, std::size_t out, JackTestClient& daw,
                            std::size_t in, int rounds, RealTimeDriver* driver,
                            const std::function<bool(const JackTestEvent&)>& arrived) {
    std::vector<double> samples;
    std::mt19937 random(42);
    std::uniform_int_distribution<int> phase(0, 6);
    const auto idle = [&](std::chrono::milliseconds span) {
        if (driver)
            driver->runFor(span);
        else
            std::this_thread::sleep_for(span);
    };
    for (int i = 0; i < rounds; ++i) {
        // A random phase against the cycle, so that the figures are not one lucky alignment.
        idle(std::chrono::milliseconds(phase(random)));
        daw.takeReceived();
        pedal.takeSent();
        pedal.send(out, {0x90, 60, 100});
        pedal.send(out, {0x80, 60, 0});
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(2);
        std::optional<JackTestEvent> hit;
        std::vector<JackTestEvent> seen;
        while (!hit && std::chrono::steady_clock::now() < deadline) {
            if (driver)
                driver->step();
            else
                std::this_thread::sleep_for(std::chrono::microseconds(200));
            for (auto& e : daw.takeReceived())
                if (e.port == in && arrived(e) && !hit)
                    hit = e;
        }
        const auto sent = pedal.takeSent();
        if (!hit || sent.empty()) {
            std::fprintf(stderr, "round %d lost\n", i);
            continue;
        }
        samples.push_back(static_cast<double>(hit->cycleMicros) -
                          static_cast<double>(sent.front().cycleMicros));
        idle(std::chrono::milliseconds(5)); // let the note-off and the rest go by
    }
    return samples;
}

void report(const char* label, const std::vector<double>& micros, double periodMicros) {
    std::printf("%-44s n=%zu  median %.3f ms (%.2f periods)  p99 %.3f ms (%.2f periods)\n", label,
                micros.size(), percentile(micros, 0.5) / 1000.0,
                percentile(micros, 0.5) / periodMicros, percentile(micros, 0.99) / 1000.0,
                percentile(micros, 0.99) / periodMicros);
}

} // namespace

int main(int argc, char** argv) {
    const int rounds = argc > 1 ? std::max(1, std::atoi(argv[1])) : 500;
    JackTestServer server(JackTestServer::Mode::asynchronous);
    std::string error;
    if (!server.start(&error)) {
        std::fprintf(stderr, "%s\n", error.c_str());
        return 1;
    }
    const double periodMicros =
        1e6 * JackTestServer::kPeriodFrames / static_cast<double>(JackTestServer::kSampleRate);
    std::printf("JACK dummy driver, %d Hz, %d frames per period (%.3f ms), %d rounds each\n",
                JackTestServer::kSampleRate, JackTestServer::kPeriodFrames, periodMicros / 1000.0,
                rounds);

    JackTestClient pedal(server.name(), "pedal");
    JackTestClient daw(server.name(), "daw");
    const std::size_t out = pedal.addOutput("out");
    const std::size_t in = daw.addInput("in");

    // The floor: pedal -> pass-through -> DAW.
    std::vector<double> floor;
    {
        JackTestClient through(server.name(), "through");
        const std::size_t throughIn = through.addInput("in");
        const std::size_t throughOut = through.addOutput("out");
        through.passThrough(throughIn, throughOut);
        pedal.connect(pedal.fullName(out), through.fullName(throughIn));
        pedal.connect(through.fullName(throughOut), daw.fullName(in));
        pedal.waitCycles(5);
        floor = measure(pedal, out, daw, in, rounds, nullptr,
                        [](const JackTestEvent& e) { return e.bytes.size() == 3; });
    }

    // Strata: pedal -> "Strata In" -> NEXT -> coordinator stand-in -> "Strata" -> DAW.
    JackRig rig(server.name());
    rig.service->advanceTrigger.set(
        AdvanceTrigger{pedal.fullName(out), AdvanceTrigger::Kind::note, 60});
    std::vector<Layer> layers;
    while (layers.size() < 8)
        layers.push_back(Layer::fresh());
    const UuidSet sections[2] = {{}, {layers[0].id}};
    int section = 0;
    Connection next = rig.service->advancePressed.connect([&] {
        section ^= 1;
        rig.service->sendSectionState(layers, sections[section], ControlMode::mackieControl,
                                      std::nullopt, 0);
    });
    rig.service->resolveTriggerSource();
    pedal.connect(rig.sourcePort(false), daw.fullName(in));
    if (rig.service->footswitchSource() == 0) {
        std::fprintf(stderr, "the pedal was not found among the sources\n");
        return 1;
    }
    // Banks in place and settled before timing.
    rig.service->sendSectionState(layers, sections[0], ControlMode::mackieControl, std::nullopt, 0);
    rig.quiesce();
    pedal.waitCycles(5);
    const auto strata =
        measure(pedal, out, daw, in, rounds, &rig.driver, [](const JackTestEvent& e) {
            return e.bytes.size() == 3 && e.bytes[0] == 0x90 && e.bytes[1] == 0x10;
        });

    report("floor (pass-through client):", floor, periodMicros);
    report("NEXT press -> first mute byte on \"Strata\":", strata, periodMicros);
    std::printf("difference Strata - floor: median %.3f ms  p99 %.3f ms\n",
                (percentile(strata, 0.5) - percentile(floor, 0.5)) / 1000.0,
                (percentile(strata, 0.99) - percentile(floor, 0.99)) / 1000.0);
    if (percentile(floor, 0.5) > 0 && percentile(floor, 0.99) > 0)
        std::printf("ratio Strata/floor: median %.2f  p99 %.2f\n",
                    percentile(strata, 0.5) / percentile(floor, 0.5),
                    percentile(strata, 0.99) / percentile(floor, 0.99));
    std::printf("server reported %d xruns (missed cycles) during the run\n", server.xrunReports());
    return 0;
}
