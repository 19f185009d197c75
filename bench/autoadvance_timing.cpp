// Timing of the real program: how far auto-advanced steps land from where the bars say, and how
// long the program takes from its start to its first mute push. A private JACK server (dummy
// driver, asynchronous like a real one), a test client playing the DAW on "Strata" that stamps
// every mute press with JACK's clock of the cycle it arrived in, and Cadenzo played on the
// multicast group: live state "playing" at a fixed tempo, then a FIRE into a section of timed
// steps that toggle one mute each, so every step change is one press on "Strata".
//
// Inside a private network namespace only (it joins the cue-link group):
//   tools/netns build/debug/bench/strata_autoadvance_timing <strata> [steps] [bpm] [period]
// Defaults: 50 steps of one bar at 240 BPM (1.0 s each), 256 frames per period at 48 kHz.
// STRATA_JACK_REALTIME=1 runs the server in real time, as a performer's is.

#include "app_process.h"
#include "cuelink/cadenzo_link.h"
#include "jack_clock.h"
#include "jack_test_client.h"
#include "jack_test_server.h"
#include "percentile.h"
#include "support/cue_sender.h"
#include "support/test_support.h"

#include <algorithm>
#include <arpa/inet.h>
#include <atomic>
#include <cmath>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <jack/jack.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>

using namespace strata;
using namespace strata::testing;
using namespace std::chrono_literals;
using strata::bench::percentile;

namespace {

bool sendCue(const std::string& json) {
    static const CueSender sender;
    return sender.send(json);
}

// The machine's load average over the last minute, as the kernel reports it.
std::string loadAverage() {
    std::ifstream in("/proc/loadavg");
    std::string one;
    in >> one;
    return one.empty() ? std::string("unknown") : one;
}

double framesToMicros(std::uint32_t frames) {
    return static_cast<double>(frames) * 1e6 / JackTestServer::kSampleRate;
}

int fail(const std::string& why, const AppProcess* app = nullptr) {
    std::fprintf(stderr, "strata_autoadvance_timing: %s\n", why.c_str());
    if (app)
        std::fprintf(stderr, "--- program output ---\n%s\n", app->output().c_str());
    return 1;
}

} // namespace

int main(int argc, char** argv) {
    if (argc < 2)
        return fail("usage: strata_autoadvance_timing <strata> [steps] [bpm] [period frames]");
    const std::string program = argv[1];
    const int steps = argc > 2 ? std::atoi(argv[2]) : 50;
    const double bpm = argc > 3 ? std::atof(argv[3]) : 240.0;
    const int period = argc > 4 ? std::atoi(argv[4]) : JackTestServer::kPeriodFrames;
    if (steps < 1 || !(bpm > 0) || period < 16)
        return fail("steps must be at least 1, bpm above 0, the period at least 16 frames");
    const double expectedMicros = 60.0 / bpm * 4.0 * 1e6; // one bar of four beats

    // Asynchronous like a real server; HARNESS_SYNC=1 makes the server wait for every client
    // (cycles are then delayed under load instead of skipping a late client's output).
    const bool synchronous = std::getenv("HARNESS_SYNC") != nullptr;
    JackTestServer server(synchronous ? JackTestServer::Mode::synchronous
                                      : JackTestServer::Mode::asynchronous,
                          period);
    std::string error;
    if (!server.start(&error))
        return fail(error);
    JackTestClient daw(server.name(), "daw");
    if (!daw.ok())
        return fail("the DAW client could not open");
    const std::size_t in = daw.addInput("in");

    TempDir dir;
    const AppFixtureFiles files{dir.path()};
    files.writeSettings({{"showModeChooserAtStartup", false}, {"hasSeenQuickStart", true}},
                        {{"strataMode", "pro"}}, std::nullopt);
    Setlist set;
    set.name = "Timing";
    set.controlMode = ControlMode::mackieControl;
    set.layers = {Layer::fresh(), Layer::fresh()};
    Song song = Song::fresh();
    song.name = "Click";
    song.sections = {Section::named("Count-in"), Section::named("Timed")};
    auto& timed = song.sections[1].steps;
    timed.resize(static_cast<std::size_t>(steps) + 1);
    for (std::size_t k = 0; k < timed.size(); ++k) {
        if (k % 2 == 0)
            timed[k].mutedLayerIDs = {set.layers[0].id};
        if (k + 1 < timed.size())
            timed[k].advanceBars = 1;
    }
    set.songs = {song};
    files.writeSet(set);

    const std::string loadBefore = loadAverage();
    const bool realTime = server.runsInRealTime();
    AppProcess app;
    const double clockOffset = bench::jackMinusSteadyMicros();
    std::vector<std::string> extraEnv{"STRATA_MIDI=jack"};
    if (const char* glib = std::getenv("HARNESS_QT_NO_GLIB"))
        extraEnv.push_back(std::string("QT_NO_GLIB=") + glib);
    if (!app.start(program, files, extraEnv))
        return fail("could not start " + program);
    const double spawnedJackMicros =
        std::chrono::duration<double, std::micro>(app.startedAt().time_since_epoch()).count() +
        clockOffset;
    const auto deadline = std::chrono::steady_clock::now() + 30s;
    while (!jack_port_by_name(daw.handle(), "Strata:Strata") &&
           std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(200us);
    if (!daw.connect("Strata:Strata", daw.fullName(in)))
        return fail("\"Strata:Strata\" did not appear", &app);
    if (!app.waitForLine("[Strata] Ready", 30s))
        return fail("the program did not get ready", &app);
    if (!daw.waitUntil([](const auto& events) { return events.size() >= 64; }, 5s))
        return fail("the first push did not reach the DAW (connected too late?)", &app);
    const auto firstPush = daw.takeCollected();
    const double startupMs =
        (static_cast<double>(firstPush.front().cycleMicros) - spawnedJackMicros) / 1000.0;

    // Cadenzo plays: live state four times a second, then a FIRE into the timed section.
    std::atomic<bool> playing{true};
    const std::string live = R"({"type":"LIVE_STATE","songIdx":0,"sectionIdx":1,"playing":true,)"
                             R"("bpm":)" +
                             std::to_string(bpm) + "}";
    std::thread cadenzo([&] {
        while (playing) {
            sendCue(live);
            std::this_thread::sleep_for(250ms);
        }
    });
    std::this_thread::sleep_for(600ms);
    // What arrived so far is the tail of the start-up's push, not a step: the listing begins
    // with the FIRE's push.
    const std::size_t beforeFire = daw.takeCollected().size();
    sendCue(R"({"type":"FIRE","songIdx":0,"sectionIdx":1})");

    // One press per step change (plus its release); the FIRE's push is the first. Each is
    // stamped with the frame it arrived at (its cycle's first frame and its offset in it): an
    // event written at its frame within the cycle is measured as such.
    std::vector<std::uint32_t> stamps;
    // The same arrivals on JACK's microsecond clock (the cycle's time and the offset), for the
    // verbose listing: under load the dummy driver's cycles fall behind the clock, and the two
    // then disagree.
    std::vector<double> clockStamps;
    std::size_t receivedInAll = firstPush.size() + beforeFire;
    const auto runFor = std::chrono::duration<double>(expectedMicros / 1e6 * (steps + 2) + 10.0);
    daw.waitUntil(
        [&](const std::vector<JackTestEvent>& events) {
            std::size_t n = 0;
            for (const auto& e : events)
                n += e.bytes.size() == 3 && e.bytes[0] == 0x90 && e.bytes[2] == 0x7F;
            return n >= static_cast<std::size_t>(steps) + 1;
        },
        std::chrono::duration_cast<std::chrono::milliseconds>(runFor));
    const auto rest = daw.takeCollected();
    receivedInAll += rest.size();
    for (const auto& e : rest)
        if (e.port == in && e.bytes.size() == 3 && e.bytes[0] == 0x90 && e.bytes[2] == 0x7F) {
            stamps.push_back(e.cycleFrame + e.offset);
            clockStamps.push_back(static_cast<double>(e.cycleMicros) + framesToMicros(e.offset));
        }
    playing = false;
    cadenzo.join();
    const auto status = app.stop(SIGTERM, 20s);

    // Compare with the program's own count of events it wrote, in its output (a shortfall
    // with none dropped before JACK was lost between the clients).
    receivedInAll += daw.takeReceived().size();
    std::printf("events the DAW received in all: %zu\n", receivedInAll);
    const std::string output = app.output();
    for (std::size_t from = 0, to; from < output.size(); from = to + 1) {
        to = output.find('\n', from);
        if (to == std::string::npos)
            to = output.size();
        const std::string line = output.substr(from, to - from);
        if (line.rfind("[MIDI] JACK: ", 0) == 0 && line.find(" events written") != line.npos)
            std::printf("program: %s\n", line.c_str());
    }
    if (stamps.size() < static_cast<std::size_t>(steps) + 1) {
        for (std::size_t k = 1; k < stamps.size(); ++k)
            std::fprintf(stderr, "interval %zu: %.3f ms\n", k,
                         framesToMicros(stamps[k] - stamps[k - 1]) / 1000.0);
        std::fprintf(stderr, "JACK xruns reported: %d\n", server.xrunReports());
    }
    if (stamps.size() < static_cast<std::size_t>(steps) + 1)
        return fail("only " + std::to_string(stamps.size()) + " of " + std::to_string(steps + 1) +
                        " step pushes arrived",
                    &app);
    std::vector<double> errors, signedErrors;
    for (std::size_t k = 1; k < stamps.size(); ++k) {
        // Unsigned: frame times wrap around, their differences do not.
        const double d = framesToMicros(stamps[k] - stamps[k - 1]) - expectedMicros;
        signedErrors.push_back(d);
        errors.push_back(std::fabs(d));
    }
    if (std::getenv("HARNESS_VERBOSE"))
        for (std::size_t k = 0; k < signedErrors.size(); ++k)
            std::printf("step %zu: %+.3f ms (on JACK's microsecond clock %+.3f ms)\n", k + 1,
                        signedErrors[k] / 1000.0,
                        (clockStamps[k + 1] - clockStamps[k] - expectedMicros) / 1000.0);
    double mean = 0;
    for (double d : signedErrors)
        mean += d;
    mean /= static_cast<double>(signedErrors.size());

    const double periodMs = 1000.0 * period / JackTestServer::kSampleRate;
    std::printf("strata auto-advance timing: %zu timed steps of %.3f s (1 bar at %.1f BPM)\n",
                errors.size(), expectedMicros / 1e6, bpm);
    std::printf("JACK dummy driver, %d frames at %d Hz (period %.2f ms), %s, %s; stamps are "
                "the frames the DAW client received each press at\n",
                period, JackTestServer::kSampleRate, periodMs,
                synchronous ? "synchronous" : "asynchronous",
                realTime ? "real-time" : "not real-time");
    std::printf("|actual - expected| step length: median %.3f ms, p99 %.3f ms, max %.3f ms; "
                "mean signed %+.3f ms\n",
                percentile(errors, 0.5) / 1000.0, percentile(errors, 0.99) / 1000.0,
                *std::max_element(errors.begin(), errors.end()) / 1000.0, mean / 1000.0);
    // The first step starts with the FIRE's push, which goes out as soon as it can (at the start
    // of a cycle); every later one starts with a step's timed push.
    if (errors.size() > 1) {
        const std::vector<double> timedOnly(errors.begin() + 1, errors.end());
        std::printf(
            "  from timed push to timed push only (%zu steps): median %.3f ms, p99 %.3f ms, "
            "max %.3f ms\n",
            timedOnly.size(), percentile(timedOnly, 0.5) / 1000.0,
            percentile(timedOnly, 0.99) / 1000.0,
            *std::max_element(timedOnly.begin(), timedOnly.end()) / 1000.0);
        // The same steps on JACK's microsecond clock: where an xrun made the dummy driver's
        // frame clock lose time, frames and microseconds disagree, and this says which moved.
        std::vector<double> onClock;
        for (std::size_t k = 2; k < clockStamps.size(); ++k)
            onClock.push_back(std::fabs(clockStamps[k] - clockStamps[k - 1] - expectedMicros));
        std::printf("  the same on JACK's microsecond clock: median %.3f ms, p99 %.3f ms, "
                    "max %.3f ms\n",
                    percentile(onClock, 0.5) / 1000.0, percentile(onClock, 0.99) / 1000.0,
                    *std::max_element(onClock.begin(), onClock.end()) / 1000.0);
    }
    std::printf("start-up, process start to the first mute push on \"Strata\": %.1f ms\n",
                startupMs);
    const std::string exit =
        status ? "code " + std::to_string(*status) : std::string("did not exit by itself");
    std::printf("program exit after SIGTERM: %s\n", exit.c_str());
    std::printf("JACK xruns reported: %d; load average %s before, %s after (%u CPUs)\n",
                server.xrunReports(), loadBefore.c_str(), loadAverage().c_str(),
                std::thread::hardware_concurrency());
    return status == std::optional<int>(0) ? 0 : 1;
}
