// Latency figures on a private JACK server (dummy driver): a byte written by a test client and
// seen back by the same client, once through a minimal pass-through client (the floor: input
// copied to output in the same cycle) and once through the JACK backend's input port, its read
// handler and received() on the "Strata" output. Prints median and p99.
//
//   strata_jack_latency [rounds]

#include "jack/jack_midi_backend.h"
#include "jack_test_client.h"
#include "jack_test_server.h"
#include "percentile.h"

#include <algorithm>
#include <cstdio>
#include <jack/jack.h>
#include <map>
#include <mutex>
#include <random>
#include <thread>

using namespace strata;
using namespace strata::testing;
using strata::bench::percentile;

namespace {

struct Sample {
    double frames = 0; // cycle-quantised: frame time of arrival minus frame time of sending
    double micros = 0; // JACK's clock at the arrival cycle minus at the sending cycle
};

// Sends `rounds` numbered notes from `tester` output `out` and waits for each on input `in`.
std::vector<Sample> measure(JackTestClient& sender, std::size_t out, JackTestClient& receiver,
                            std::size_t in, int rounds,
                            std::map<int, std::uint64_t>* sentMicros = nullptr) {
    std::vector<Sample> samples;
    std::mt19937 random(42);
    std::uniform_int_distribution<int> phase(0, 6000);
    for (int i = 0; i < rounds; ++i) {
        // A random phase against the cycle, so that the figures are not one lucky alignment.
        std::this_thread::sleep_for(std::chrono::microseconds(phase(random)));
        const std::vector<std::uint8_t> note = {0x90, static_cast<std::uint8_t>(i & 0x7F),
                                                static_cast<std::uint8_t>((i >> 7) & 0x7F)};
        sender.send(out, note);
        const bool arrived = receiver.waitUntil(
            [&](const std::vector<JackTestEvent>& events) {
                return std::any_of(events.begin(), events.end(),
                                   [&](auto& e) { return e.port == in && e.bytes == note; });
            },
            std::chrono::seconds(2));
        auto received = receiver.takeReceived();
        auto sent = sender.takeSent();
        if (!arrived || sent.empty()) {
            std::fprintf(stderr, "round %d lost (%s)\n", i,
                         arrived ? "no send record" : "never arrived");
            continue;
        }
        const auto back = std::find_if(received.begin(), received.end(),
                                       [&](auto& e) { return e.port == in && e.bytes == note; });
        Sample s;
        s.frames = static_cast<double>(back->cycleFrame + back->offset) -
                   static_cast<double>(sent.front().cycleFrame);
        s.micros =
            static_cast<double>(back->cycleMicros) - static_cast<double>(sent.front().cycleMicros);
        if (sentMicros)
            (*sentMicros)[i] = sent.front().cycleMicros;
        samples.push_back(s);
    }
    return samples;
}

void report(const char* label, const std::vector<Sample>& samples, double periodMicros) {
    std::vector<double> micros, frames;
    for (const Sample& s : samples) {
        micros.push_back(s.micros);
        frames.push_back(s.frames);
    }
    std::printf("%-38s n=%zu  median %.3f ms (%.2f periods, %.0f frames)  p99 %.3f ms (%.2f "
                "periods, %.0f frames)\n",
                label, samples.size(), percentile(micros, 0.5) / 1000.0,
                percentile(micros, 0.5) / periodMicros, percentile(frames, 0.5),
                percentile(micros, 0.99) / 1000.0, percentile(micros, 0.99) / periodMicros,
                percentile(frames, 0.99));
}

} // namespace

int main(int argc, char** argv) {
    const int rounds = argc > 1 ? std::max(1, std::atoi(argv[1])) : 1000;
    JackTestServer server(JackTestServer::Mode::asynchronous);
    std::string error;
    if (!server.start(&error)) {
        std::fprintf(stderr, "%s\n", error.c_str());
        return 1;
    }
    const double periodMicros =
        1e6 * JackTestServer::kPeriodFrames / static_cast<double>(JackTestServer::kSampleRate);
    std::printf("JACK dummy driver, %d Hz, %d frames per period (%.3f ms), %d rounds\n",
                JackTestServer::kSampleRate, JackTestServer::kPeriodFrames, periodMicros / 1000.0,
                rounds);

    // Two topologies. "loop": one test client writes and reads back, so the graph has a cycle
    // (tester -> X -> tester) and one edge of it is a feedback edge that JACK delivers a cycle
    // late. "stage": a controller client writes and a separate DAW client reads, as on stage
    // (footswitch -> X -> DAW), with no cycle in the graph.
    struct Run {
        std::vector<Sample> floor, backend;
        std::vector<double> handoff;
    };
    auto run = [&](bool loop) {
        Run r;
        {
            JackTestClient tester(server.name(), "tester");
            JackTestClient daw(server.name(), "daw");
            JackTestClient through(server.name(), "through");
            JackTestClient& reader = loop ? tester : daw;
            const std::size_t out = tester.addOutput("out");
            const std::size_t in = reader.addInput("in");
            const std::size_t throughIn = through.addInput("in");
            const std::size_t throughOut = through.addOutput("out");
            through.passThrough(throughIn, throughOut);
            tester.connect(tester.fullName(out), through.fullName(throughIn));
            tester.connect(through.fullName(throughOut), reader.fullName(in));
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
            r.floor = measure(tester, out, reader, in, rounds);
        }
        JackMidiBackend::Options options;
        options.serverName = server.name();
        JackMidiBackend backend(options);
        const MidiRef client = backend.createClient("Strata", [] {});
        MidiRef src = 0;
        std::mutex mutex;
        std::map<std::uint16_t, std::uint64_t> handlerMicros;
        const MidiRef inPort = backend.createInputPort(
            client, "Strata In", [&](const MidiPacketList& list, std::uint64_t) {
                const std::uint64_t now = jack_get_time();
                for (std::size_t i = 0; i < list.count; ++i) {
                    const MidiPacket& p = list.packets[i];
                    backend.received(src, p.data, p.length);
                    if (p.length == 3) {
                        std::lock_guard lock(mutex);
                        handlerMicros[static_cast<std::uint16_t>(p.data[1] | (p.data[2] << 7))] =
                            now;
                    }
                }
            });
        src = backend.createVirtualSource(client, "Strata");
        JackTestClient tester(server.name(), "tester");
        JackTestClient daw(server.name(), "daw");
        JackTestClient& reader = loop ? tester : daw;
        const std::size_t out = tester.addOutput("out");
        const std::size_t in = reader.addInput("in");
        tester.connect(backend.jackPortName(src), reader.fullName(in));
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        for (const MidiPortInfo& port : backend.sources())
            if (port.name == tester.fullName(out))
                backend.connectSource(inPort, port.ref, port.ref);
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        std::map<int, std::uint64_t> sentMicros;
        r.backend = measure(tester, out, reader, in, rounds, &sentMicros);
        std::lock_guard lock(mutex);
        for (auto [round, micros] : sentMicros)
            if (auto it = handlerMicros.find(static_cast<std::uint16_t>(round));
                it != handlerMicros.end())
                r.handoff.push_back(static_cast<double>(it->second) - static_cast<double>(micros));
        return r;
    };

    for (bool loop : {false, true}) {
        const Run r = run(loop);
        std::printf("%s\n", loop ? "loop: one test client writes and reads back"
                                 : "stage: controller client -> X -> separate DAW client");
        report("  floor (pass-through client):", r.floor, periodMicros);
        report("  backend (In -> handler -> Strata):", r.backend, periodMicros);
        std::vector<double> f, b;
        for (auto& s : r.floor)
            f.push_back(s.micros);
        for (auto& s : r.backend)
            b.push_back(s.micros);
        std::printf("  difference backend - floor: median %.3f ms  p99 %.3f ms\n",
                    (percentile(b, 0.5) - percentile(f, 0.5)) / 1000.0,
                    (percentile(b, 0.99) - percentile(f, 0.99)) / 1000.0);
        if (percentile(f, 0.5) > 0)
            std::printf("  ratio backend/floor: median %.2f  p99 %.2f\n",
                        percentile(b, 0.5) / percentile(f, 0.5),
                        percentile(b, 0.99) / std::max(1.0, percentile(f, 0.99)));
        std::printf("  sending cycle -> read handler called: median %.3f ms  p99 %.3f ms\n",
                    percentile(r.handoff, 0.5) / 1000.0, percentile(r.handoff, 0.99) / 1000.0);
    }
    std::printf("server reported %d xruns (missed cycles) during the run\n", server.xrunReports());
    return 0;
}
