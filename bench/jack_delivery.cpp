// Whether MIDI written into one JACK client's output reaches the client reading it, on a private
// JACK server (dummy driver). Two writers in turn, each to a reader of its own: a bare test
// client (nothing of ours), then our JackMidiBackend's surface port "Strata". Each event is
// numbered; the figures are how many were written into JACK's buffers, how many the reader got,
// which went missing, and how many xruns the server logged meanwhile. Run it on a busy machine to
// see what an asynchronous server does with the output of a late cycle.
//
//   build/debug/bench/strata_jack_delivery [events] [async|sync] [gap ms]
// Defaults: 1000 events, one every 10 ms; asynchronous server (as a musician's is).

#include "jack/jack_midi_backend.h"
#include "jack_test_client.h"
#include "jack_test_server.h"

#include <cstdio>
#include <cstdlib>
#include <jack/jack.h>
#include <set>
#include <string>
#include <thread>

using namespace strata;
using namespace strata::testing;
using namespace std::chrono_literals;

namespace {

std::vector<std::uint8_t> numbered(int k) {
    return {static_cast<std::uint8_t>(0x90 | ((k >> 14) & 0x0F)),
            static_cast<std::uint8_t>(k & 0x7F), static_cast<std::uint8_t>((k >> 7) & 0x7F)};
}

int numberOf(const std::vector<std::uint8_t>& bytes) {
    if (bytes.size() != 3 || (bytes[0] & 0xF0) != 0x90)
        return -1;
    return ((bytes[0] & 0x0F) << 14) | (bytes[2] << 7) | bytes[1];
}

void report(const char* writer, int events, std::uint64_t written,
            const std::vector<JackTestEvent>& received, int xrunsBefore, int xrunsAfter) {
    std::set<int> got;
    for (const auto& e : received)
        got.insert(numberOf(e.bytes));
    std::printf("%s: %d sent, %llu written into JACK, %zu received; server xrun lines %d\n", writer,
                events, static_cast<unsigned long long>(written), got.size(),
                xrunsAfter - xrunsBefore);
    int shown = 0;
    for (int k = 0; k < events; ++k)
        if (!got.count(k) && shown++ < 20)
            std::printf("  missing #%d\n", k);
}

bool waitForPort(jack_client_t* client, const std::string& name) {
    const auto deadline = std::chrono::steady_clock::now() + 10s;
    while (!jack_port_by_name(client, name.c_str()))
        if (std::chrono::steady_clock::now() > deadline)
            return false;
        else
            std::this_thread::sleep_for(1ms);
    return true;
}

} // namespace

int main(int argc, char** argv) {
    const int events = argc > 1 ? std::atoi(argv[1]) : 1000;
    const bool sync = argc > 2 && std::string(argv[2]) == "sync";
    const auto gap = std::chrono::milliseconds(argc > 3 ? std::atoi(argv[3]) : 10);
    if (events < 1 || events > (1 << 18) || gap.count() < 1)
        return 2;
    JackTestServer server(sync ? JackTestServer::Mode::synchronous
                               : JackTestServer::Mode::asynchronous);
    std::string error;
    if (!server.start(&error)) {
        std::fprintf(stderr, "%s\n", error.c_str());
        return 1;
    }
    std::printf("JACK %s, %d frames at %d Hz\n", sync ? "synchronous" : "asynchronous",
                server.periodFrames(), JackTestServer::kSampleRate);

    {
        JackTestClient reader(server.name(), "reader");
        JackTestClient writer(server.name(), "writer");
        const std::size_t in = reader.addInput("in");
        const std::size_t out = writer.addOutput("out");
        if (!reader.connect(writer.fullName(out), reader.fullName(in)) || !reader.waitCycles(3))
            return 1;
        const int xruns = server.xrunReports();
        for (int k = 0; k < events; ++k) {
            writer.send(out, numbered(k));
            std::this_thread::sleep_for(gap);
        }
        writer.waitCycles(10);
        reader.waitCycles(10);
        report("bare test client", events, writer.takeSent().size(), reader.takeReceived(), xruns,
               server.xrunReports());
    }
    {
        JackTestClient reader(server.name(), "daw");
        const std::size_t in = reader.addInput("in");
        JackMidiBackend::Options options;
        options.serverName = server.name();
        options.waitForServer = false;
        JackMidiBackend backend(options);
        const MidiRef client = backend.createClient("Strata", [] {});
        const MidiRef surface = backend.createVirtualSource(client, "Strata");
        const std::string port = backend.jackPortName(surface);
        if (port.empty() || !waitForPort(reader.handle(), port) ||
            !reader.connect(port, reader.fullName(in)) || !reader.waitCycles(3))
            return 1;
        const int xruns = server.xrunReports();
        for (int k = 0; k < events; ++k) {
            const auto bytes = numbered(k);
            backend.received(surface, bytes.data(), bytes.size());
            std::this_thread::sleep_for(gap);
        }
        reader.waitCycles(10);
        const auto counters = backend.counters();
        report("JackMidiBackend \"Strata\"", events, counters.writtenOutgoing,
               reader.takeReceived(), xruns, server.xrunReports());
        std::printf("  backend: %llu dropped before JACK, %llu xruns reported to the client\n",
                    static_cast<unsigned long long>(counters.droppedOutgoing),
                    static_cast<unsigned long long>(counters.xruns));
    }
    return 0;
}
