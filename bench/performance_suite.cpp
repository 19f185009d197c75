// The real program's figures on stage, each next to its floor, in one run: a private JACK server
// (dummy driver, asynchronous like a real one), a test client playing the DAW on "Strata", a
// footswitch client, Cadenzo played on the multicast group, and a floor process: a minimal JACK
// client (a separate process, like the program) that copies its input to its output in the same
// cycle and turns every datagram it receives into one MIDI event.
//
//   - NEXT press -> first mute byte on "Strata", next to footswitch -> pass-through -> DAW;
//   - FIRE datagram -> first mute byte, next to datagram -> floor process -> DAW;
//   - start-up: process start to the first mute push on "Strata";
//   - CPU with nothing happening, and with Cadenzo sending LIVE_STATE at 10 Hz, next to the
//     floor process over the same spans;
//   - resident memory after start, after start with the large set, next to the floor process;
//   - NEXT presses while the program's main thread is held busy for 2 s (its test hook), next to
//     the same floor; afterwards the window must show the new section and the DAW must have heard
//     the move once;
//   - with the band remote on: NEXT presses while 50 WebSocket viewers read every state update,
//     then while a flood of malformed input hits the remote's page, WebSocket and OSC ports, each
//     next to the floor in the same rounds; the program's resident memory around the flood.
//
// Latencies use JACK's clock: the cycle the press went out in (or the moment the datagram was
// sent) to the cycle the DAW read the event in.
//
// Inside a private network namespace only (it joins the cue-link group):
//   tools/netns build/debug/bench/strata_performance_suite [--loaded] <strata> [rounds] [idle s]
// Defaults: 200 rounds of each latency, 30 s for each CPU span. --loaded only labels the figures:
// tools/perf --loaded keeps both cores busy around the run. tools/perf runs it with the
// auto-advance timing harness. STRATA_JACK_REALTIME=1 runs the server in real time, as a
// performer's is (tools/perf --realtime).

#include "app_process.h"
#include "common/posix_thread_priority.h"
#include "cuelink/cadenzo_link.h"
#include "jack_test_client.h"
#include "jack_test_server.h"
#include "percentile.h"
#include "remote_load.h"
#include "support/cue_sender.h"
#include "support/large_set.h"
#include "support/test_support.h"

#include <algorithm>
#include <arpa/inet.h>
#include <atomic>
#include <cerrno>
#include <cmath>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <fstream>
#include <jack/jack.h>
#include <jack/thread.h>
#include <map>
#include <netinet/in.h>
#include <optional>
#include <random>
#include <spawn.h>
#include <sstream>
#include <string_view>
#include <sys/socket.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

extern char** environ;

using namespace strata;
using namespace strata::testing;
using namespace std::chrono_literals;
using strata::bench::percentile;
using SteadyClock = std::chrono::steady_clock;

namespace {

// The floor process listens on the cue-link group at the next port, which the program ignores.
constexpr std::uint16_t kFloorCuePort = cue_link::kPort + 1;
constexpr std::uint8_t kNextNote = 36;

int fail(const std::string& why, const AppProcess* app = nullptr) {
    std::fprintf(stderr, "strata_performance_suite: %s\n", why.c_str());
    if (app)
        std::fprintf(stderr, "--- program output ---\n%s\n", app->output().c_str());
    return 1;
}

int joinedSocket(std::uint16_t port) {
    const int fd = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return -1;
    const int one = 1;
    ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    sockaddr_in local{};
    local.sin_family = AF_INET;
    local.sin_port = htons(port);
    local.sin_addr.s_addr = htonl(INADDR_ANY);
    ip_mreq membership{};
    ::inet_pton(AF_INET, std::string(cue_link::kGroupAddress).c_str(), &membership.imr_multiaddr);
    membership.imr_interface.s_addr = htonl(INADDR_ANY);
    if (::bind(fd, reinterpret_cast<const sockaddr*>(&local), sizeof local) != 0 ||
        ::setsockopt(fd, IPPROTO_IP, IP_ADD_MEMBERSHIP, &membership, sizeof membership) != 0) {
        ::close(fd);
        return -1;
    }
    return fd;
}

bool sendToFloor(int fd, std::string_view datagram) {
    sockaddr_in group{};
    group.sin_family = AF_INET;
    group.sin_port = htons(kFloorCuePort);
    ::inet_pton(AF_INET, std::string(cue_link::kGroupAddress).c_str(), &group.sin_addr);
    return ::sendto(fd, datagram.data(), datagram.size(), 0,
                    reinterpret_cast<const sockaddr*>(&group),
                    sizeof group) == static_cast<ssize_t>(datagram.size());
}

std::atomic<bool> floorStopping{false};
extern "C" void onFloorTerm(int) {
    floorStopping = true;
}

// The floor process: "floor:in" copied to "floor:out" in the same cycle; every datagram on the
// floor port becomes one note on "floor:cue", received on a thread with the program's cue-link
// reader's scheduling priority. Runs until SIGTERM.
int runFloorProcess() {
    struct sigaction action {};
    action.sa_handler = onFloorTerm; // no SA_RESTART: the blocking recv below returns
    ::sigaction(SIGTERM, &action, nullptr);
    const char* server = std::getenv("JACK_DEFAULT_SERVER");
    JackTestClient client(server ? server : "default", "floor");
    if (!client.ok())
        return 1;
    const std::size_t in = client.addInput("in");
    const std::size_t out = client.addOutput("out");
    const std::size_t cue = client.addOutput("cue");
    client.passThrough(in, out);
    const int fd = joinedSocket(kFloorCuePort);
    if (fd < 0)
        return 1;
    // The thread that receives asks for what the program's cue-link reader asks for, so that
    // the floor stays the same path with nothing of the program's own work on it.
    (void)raiseCurrentThread(priorityBelow(jack_client_real_time_priority(client.handle())));
    char buffer[2048];
    while (!floorStopping) {
        if (::recv(fd, buffer, sizeof buffer, 0) > 0)
            client.send(cue, {0x90, 0x10, 0x7F});
    }
    ::close(fd);
    return 0;
}

pid_t spawnSelf(const char* self, const char* mode) {
    std::string path = self;
    std::string arg = mode;
    char* argv[] = {path.data(), arg.data(), nullptr};
    pid_t pid = -1;
    return posix_spawn(&pid, path.c_str(), nullptr, nullptr, argv, environ) == 0 ? pid : -1;
}

// CPU time (user + system, all threads) a process has used so far, in seconds.
double cpuSeconds(pid_t pid) {
    std::ifstream in("/proc/" + std::to_string(pid) + "/stat");
    std::string all((std::istreambuf_iterator<char>(in)), {});
    const auto close = all.rfind(')');
    if (close == std::string::npos)
        return NAN;
    std::istringstream fields(all.substr(close + 2));
    std::vector<std::string> f;
    for (std::string field; fields >> field;)
        f.push_back(field);
    // After the command name: state is field 3, utime 14 and stime 15 of the whole line.
    if (f.size() < 13)
        return NAN;
    return static_cast<double>(std::stoull(f[11]) + std::stoull(f[12])) /
           static_cast<double>(::sysconf(_SC_CLK_TCK));
}

// Resident memory of a process, in MiB: all of it ("VmRSS:"), or one part ("RssShmem:" is shared
// memory, which for a JACK client is mostly the server's segment every client maps).
double residentMiB(pid_t pid, std::string_view field = "VmRSS:") {
    std::ifstream in("/proc/" + std::to_string(pid) + "/status");
    for (std::string line; std::getline(in, line);)
        if (line.rfind(field, 0) == 0)
            return std::atof(line.c_str() + field.size()) / 1024.0;
    return NAN;
}

std::string loadAverage() {
    std::ifstream in("/proc/loadavg");
    std::string one;
    in >> one;
    return one.empty() ? std::string("unknown") : one;
}

bool isMutePress(const JackTestEvent& e) {
    return e.bytes.size() == 3 && e.bytes[0] == 0x90 && e.bytes[1] >= 0x10 && e.bytes[1] <= 0x17 &&
           e.bytes[2] == 0x7F;
}

// Waits for the first event on `daw` input `port` that `match` accepts; its cycle's JACK time.
std::optional<std::uint64_t> arrival(JackTestClient& daw, std::size_t port,
                                     bool (*match)(const JackTestEvent&),
                                     std::chrono::milliseconds timeout = 2s,
                                     std::uint32_t* cycleFrame = nullptr) {
    const auto deadline = SteadyClock::now() + timeout;
    while (SteadyClock::now() < deadline) {
        for (const auto& e : daw.takeReceived())
            if (e.port == port && match(e)) {
                if (cycleFrame)
                    *cycleFrame = e.cycleFrame;
                return e.cycleMicros;
            }
        std::this_thread::sleep_for(100us);
    }
    return std::nullopt;
}

void printLatency(const char* what, const std::vector<double>& program,
                  const std::vector<double>& floor, int rounds, int floorRounds) {
    std::printf("%-34s median %7.3f ms  p99 %7.3f ms   floor: median %7.3f ms  p99 %7.3f ms"
                "   (%zu/%d and %zu/%d rounds)\n",
                what, percentile(program, 0.5) / 1000.0, percentile(program, 0.99) / 1000.0,
                percentile(floor, 0.5) / 1000.0, percentile(floor, 0.99) / 1000.0, program.size(),
                rounds, floor.size(), floorRounds);
}

// A set whose sections alternate between layer 1 muted and nothing muted, so that every move to
// a neighbouring section is exactly one mute press on "Strata".
Setlist alternatingSet(int sections) {
    Setlist set;
    set.name = "Figures";
    set.controlMode = ControlMode::mackieControl;
    set.layers = {Layer::fresh(), Layer::fresh()};
    Song song = Song::fresh();
    song.name = "Long song";
    for (int k = 0; k < sections; ++k) {
        song.sections.push_back(Section::named("Part " + std::to_string(k)));
        if (k % 2 == 0)
            song.sections.back().steps[0].mutedLayerIDs = {set.layers[0].id};
    }
    set.songs = {song};
    return set;
}

// The position the program's test hook reported in the first line after `from` that holds `what`
// ("song 0 section 5" -> 5), or -1.
int reportedSection(const AppProcess& app, std::size_t from, const std::string& what) {
    const std::string out = app.output();
    const auto at = out.find(what, from);
    if (at == std::string::npos)
        return -1;
    const auto section = out.find(" section ", at);
    const auto end = out.find('\n', at);
    if (section == std::string::npos || section > end)
        return -1;
    return std::atoi(out.c_str() + section + 9);
}

// The band remote, on in the main run: its page and OSC on fixed ports (the run has a network
// namespace of its own), OSC obeyed from 127.0.0.1 only.
const strata::bench::RemoteEndpoint kRemote{18750, 18751, "0123456789abcdef0123456789abcdef"};
constexpr int kViewers = 50;

void writePreferences(const AppFixtureFiles& files, bool remote) {
    std::map<std::string, std::string> texts{{"strataMode", "essentials"}};
    if (remote) {
        texts["remoteConfig"] = R"({"web":true,"webPort":)" + std::to_string(kRemote.webPort) +
                                R"(,"osc":true,"oscPort":)" + std::to_string(kRemote.oscPort) +
                                R"(,"oscAllowed":["127.0.0.1"]})";
        texts["remoteViewerToken"] = kRemote.token;
    }
    files.writeSettings({{"showModeChooserAtStartup", false}, {"hasSeenQuickStart", true}}, texts,
                        AdvanceTrigger{"pedal:next", AdvanceTrigger::Kind::note, kNextNote});
}

} // namespace

int main(int argc, char** argv) {
    if (argc > 1 && std::strcmp(argv[1], "--floor-process") == 0)
        return runFloorProcess();
    const bool loaded = argc > 1 && std::strcmp(argv[1], "--loaded") == 0;
    if (loaded) {
        --argc;
        ++argv;
    }
    if (argc < 2)
        return fail("usage: strata_performance_suite [--loaded] <strata> [rounds] [idle seconds]");
    const std::string program = argv[1];
    const int rounds = argc > 2 ? std::max(1, std::atoi(argv[2])) : 200;
    const int idleSeconds = argc > 3 ? std::max(1, std::atoi(argv[3])) : 30;
    const std::string loadBefore = loadAverage();

    JackTestServer server(JackTestServer::Mode::asynchronous);
    std::string error;
    if (!server.start(&error))
        return fail(error);
    const bool realTime = server.runsInRealTime();
    JackTestClient daw(server.name(), "daw");
    JackTestClient pedal(server.name(), "pedal");
    if (!daw.ok() || !pedal.ok())
        return fail("the test clients could not open");
    const std::size_t fromStrata = daw.addInput("strata");
    const std::size_t fromFloor = daw.addInput("floor");
    const std::size_t next = pedal.addOutput("next");
    const std::size_t toFloor = pedal.addOutput("floor");

    const pid_t floorPid = spawnSelf("/proc/self/exe", "--floor-process");
    if (floorPid <= 0)
        return fail("could not start the floor process");
    struct FloorGuard {
        pid_t pid;
        ~FloorGuard() {
            ::kill(pid, SIGTERM);
            ::waitpid(pid, nullptr, 0);
        }
    } floorGuard{floorPid};
    for (auto deadline = SteadyClock::now() + 10s;
         !jack_port_by_name(daw.handle(), "floor:cue") && SteadyClock::now() < deadline;)
        std::this_thread::sleep_for(1ms);
    if (!pedal.connect(pedal.fullName(toFloor), "floor:in") ||
        !pedal.connect("floor:out", daw.fullName(fromFloor)) ||
        !pedal.connect("floor:cue", daw.fullName(fromFloor)))
        return fail("the floor process's ports did not appear");

    // The program, with a set long enough for every round to move to a neighbouring section (the
    // remote's rounds start again from the first section).
    const int sections = 2 * rounds + 4;
    TempDir dir;
    const AppFixtureFiles files{dir.path()};
    writePreferences(files, true);
    files.writeSet(alternatingSet(sections));
    AppProcess app;
    const std::uint64_t startedJack = jack_get_time();
    if (!app.start(program, files, {"STRATA_MIDI=jack", "STRATA_TEST_HOOKS=1"}))
        return fail("could not start " + program);
    for (auto deadline = SteadyClock::now() + 30s;
         !jack_port_by_name(daw.handle(), "Strata:Strata") && SteadyClock::now() < deadline;)
        std::this_thread::sleep_for(200us);
    if (!daw.connect("Strata:Strata", daw.fullName(fromStrata)))
        return fail("\"Strata:Strata\" did not appear", &app);
    const auto firstPush = arrival(daw, fromStrata, isMutePress, 30s);
    if (!firstPush && !app.waitForLine("[Strata] Ready", 30s))
        return fail("the program did not get ready", &app);
    if (!firstPush)
        return fail("the first mute push did not reach the DAW (connected too late?)", &app);
    const double startupMs = static_cast<double>(*firstPush - startedJack) / 1000.0;
    if (!app.waitForLine("[Strata] Ready", 30s))
        return fail("the program did not get ready", &app);
    if (!app.waitForLine("[Remote] web page on port", 10s))
        return fail("the band remote did not start", &app);
    std::this_thread::sleep_for(2s); // settle: the rest of the first push, the window's first frame
    const double residentAtStart = residentMiB(app.pid());
    const double floorResident = residentMiB(floorPid);
    const double sharedAtStart = residentMiB(app.pid(), "RssShmem:");
    const double floorShared = residentMiB(floorPid, "RssShmem:");

    // Each round waits a random part of a JACK period before it sends, drawn evenly over the
    // whole period: a round starts just after the DAW read the last one, so a wait of whole
    // milliseconds (or anything not spread over exactly a period) would send the program's and
    // the floor's rounds at different, fixed places in the cycle, and the time to the next cycle
    // would differ between them by design, not by what the program does.
    std::mt19937 random(42);
    std::uniform_int_distribution<int> phase(
        0, 1000000 * JackTestServer::kPeriodFrames / JackTestServer::kSampleRate - 1);
    int section = 0; // where the program stands once the FIREs are through

    // NEXT presses, and the same press through the pass-through. The latencies are taken on
    // JACK's microsecond clock, which also counts how far into the cycle each client's callback
    // ran; whether the DAW read the answer in the very cycle of the press is counted apart.
    int nextSameCycle = 0, floorSameCycle = 0;
    const auto measureNext = [&](int count, std::vector<double>& nextProgram,
                                 std::vector<double>& nextFloor) {
        for (int i = 0; i < count; ++i) {
            std::this_thread::sleep_for(std::chrono::microseconds(phase(random)));
            daw.takeReceived();
            pedal.takeSent();
            pedal.send(next, {0x90, kNextNote, 100});
            pedal.send(next, {0x80, kNextNote, 0});
            std::uint32_t hitFrame = 0;
            const auto hit = arrival(daw, fromStrata, isMutePress, 2s, &hitFrame);
            const auto sent = pedal.takeSent();
            if (hit && !sent.empty()) {
                nextProgram.push_back(static_cast<double>(*hit) -
                                      static_cast<double>(sent.front().cycleMicros));
                nextSameCycle += hitFrame == sent.front().cycleFrame ? 1 : 0;
            }
            std::this_thread::sleep_for(20ms); // the release and the rest of the push go by

            std::this_thread::sleep_for(std::chrono::microseconds(phase(random)));
            daw.takeReceived();
            pedal.takeSent();
            pedal.send(toFloor, {0x90, kNextNote, 100});
            std::uint32_t throughFrame = 0;
            const auto through = arrival(
                daw, fromFloor,
                [](const JackTestEvent& e) { return e.bytes.size() == 3 && e.bytes[0] == 0x90; },
                2s, &throughFrame);
            const auto floorSent = pedal.takeSent();
            if (through && !floorSent.empty()) {
                nextFloor.push_back(static_cast<double>(*through) -
                                    static_cast<double>(floorSent.front().cycleMicros));
                floorSameCycle += throughFrame == floorSent.front().cycleFrame ? 1 : 0;
            }
        }
    };
    std::vector<double> nextProgram, nextFloor;
    measureNext(rounds, nextProgram, nextFloor);
    // Only the plain rounds are counted by cycle.
    const int plainSameCycle = nextSameCycle, plainFloorSameCycle = floorSameCycle;

    // NEXT presses while the main thread is held: each press goes out 100 ms into a 2 s hold. The
    // DAW's input is read throughout, so that a second send of the same move is seen.
    const int heldRounds = std::clamp(rounds / 20, 3, 10);
    std::vector<double> heldProgram;
    int heldShown = 0, heldOnce = 0, heldSameCycle = 0;
    for (int i = 0; i < heldRounds; ++i) {
        const std::size_t from = app.output().size();
        ::kill(app.pid(), SIGUSR1);
        if (!app.waitForLine("test hook: holding", 5s, from))
            return fail("the program's test hook did not answer", &app);
        const int before = reportedSection(app, from, "test hook: holding");
        std::this_thread::sleep_for(100ms);
        daw.takeReceived();
        pedal.takeSent();
        pedal.send(next, {0x90, kNextNote, 100});
        pedal.send(next, {0x80, kNextNote, 0});
        std::vector<std::uint64_t> presses;
        std::uint32_t firstFrame = 0;
        const auto collect = [&] {
            for (const auto& e : daw.takeReceived())
                if (e.port == fromStrata && isMutePress(e)) {
                    if (presses.empty())
                        firstFrame = e.cycleFrame;
                    presses.push_back(e.cycleMicros);
                }
        };
        for (auto deadline = SteadyClock::now() + 8s;
             SteadyClock::now() < deadline && !app.waitForLine("test hook: released", 1ms, from);)
            collect();
        std::this_thread::sleep_for(300ms); // anything sent late, twice, goes by
        collect();
        const auto sent = pedal.takeSent();
        if (!presses.empty() && !sent.empty()) {
            heldProgram.push_back(static_cast<double>(presses.front()) -
                                  static_cast<double>(sent.front().cycleMicros));
            heldSameCycle += firstFrame == sent.front().cycleFrame ? 1 : 0;
        }
        heldShown += reportedSection(app, from, "test hook: released") == before + 1 ? 1 : 0;
        heldOnce += presses.size() == 1 ? 1 : 0;
    }

    // The band remote under load: NEXT with 50 viewers reading every state update, then NEXT
    // while malformed input floods every port the remote listens on (the viewers still there).
    // Each series starts from the first section, brought back by Cadenzo's FIRE.
    CueSender cadenzo;
    const auto backToTheStart = [&] {
        cadenzo.send(R"({"type":"FIRE","songIdx":0,"sectionIdx":0})");
        std::this_thread::sleep_for(300ms);
        daw.takeReceived();
    };
    backToTheStart();
    strata::bench::ViewerCrowd viewers;
    if (!viewers.open(kRemote, kViewers, &error))
        return fail(error, &app);
    const auto viewersBegin = SteadyClock::now();
    std::vector<double> viewedProgram, viewedFloor;
    measureNext(rounds, viewedProgram, viewedFloor);
    const double viewedSeconds =
        std::chrono::duration<double>(SteadyClock::now() - viewersBegin).count();
    const std::uint64_t viewedMessages = viewers.messages();
    const std::uint64_t viewedFewest = viewers.fewestPerViewer();
    const int viewersAfterViewing = viewers.connected();

    backToTheStart();
    std::this_thread::sleep_for(1s);
    const double residentBeforeFlood = residentMiB(app.pid());
    const std::size_t outputBeforeFlood = app.output().size();
    strata::bench::MalformedFlood flood;
    if (!flood.start(kRemote, &error))
        return fail(error, &app);
    const auto floodBegin = SteadyClock::now();
    std::vector<double> floodedProgram, floodedFloor;
    measureNext(rounds / 2, floodedProgram, floodedFloor);
    const double residentMidFlood = residentMiB(app.pid());
    measureNext(rounds - rounds / 2, floodedProgram, floodedFloor);
    const double residentEndOfFlood = residentMiB(app.pid());
    flood.stop();
    const double floodSeconds =
        std::chrono::duration<double>(SteadyClock::now() - floodBegin).count();
    const auto floodCounts = flood.counts();
    std::this_thread::sleep_for(2s);
    const double residentAfterFlood = residentMiB(app.pid());
    // The program's lines meanwhile, besides its reports of missed JACK cycles (a busy machine's).
    long floodLines = 0;
    std::istringstream floodOutput(app.output().substr(outputBeforeFlood));
    for (std::string line; std::getline(floodOutput, line);)
        floodLines += line.find("cycles missed") == std::string::npos ? 1 : 0;
    const int viewersAfterFlood = viewers.connected();
    // The remote still serves: a new viewer is let in once the flood is over.
    const int newcomer = strata::bench::openWebSocket(kRemote, kRemote.token, nullptr, 5000);
    if (newcomer >= 0)
        ::close(newcomer);
    viewers.stop();

    // Cadenzo's FIREs go back and forth between the last two sections (the first muted, the
    // second not), so that each is one mute press whatever happened to the rounds before.
    const int mutedTarget = sections - 2;
    cadenzo.send(R"({"type":"FIRE","songIdx":0,"sectionIdx":)" + std::to_string(mutedTarget + 1) +
                 "}");
    std::this_thread::sleep_for(300ms);
    const int floorSender = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    std::vector<double> fireProgram, fireFloor;
    for (int i = 0; i < rounds; ++i) {
        const int target = mutedTarget + i % 2;
        std::this_thread::sleep_for(std::chrono::microseconds(phase(random)));
        daw.takeReceived();
        const std::uint64_t sentAt = jack_get_time();
        cadenzo.send(R"({"type":"FIRE","songIdx":0,"sectionIdx":)" + std::to_string(target) + "}");
        if (const auto hit = arrival(daw, fromStrata, isMutePress))
            fireProgram.push_back(static_cast<double>(*hit) - static_cast<double>(sentAt));
        section = target;
        std::this_thread::sleep_for(20ms);

        std::this_thread::sleep_for(std::chrono::microseconds(phase(random)));
        daw.takeReceived();
        const std::uint64_t floorSentAt = jack_get_time();
        sendToFloor(floorSender, R"({"type":"FIRE","songIdx":0,"sectionIdx":1})");
        if (const auto through = arrival(daw, fromFloor, [](const JackTestEvent& e) {
                return e.bytes.size() == 3 && e.bytes[0] == 0x90;
            }))
            fireFloor.push_back(static_cast<double>(*through) - static_cast<double>(floorSentAt));
    }

    // CPU: nothing happening, then Cadenzo's live state at 10 Hz (to the floor process too).
    const auto cpuOver = [&](bool liveState) {
        const double appBefore = cpuSeconds(app.pid());
        const double floorBefore = cpuSeconds(floorPid);
        const auto begin = SteadyClock::now();
        const std::string live = R"({"type":"LIVE_STATE","songIdx":0,"sectionIdx":)" +
                                 std::to_string(section) +
                                 R"(,"playing":false,"bpm":120,"positionBeats":0})";
        for (auto due = begin; due < begin + std::chrono::seconds(idleSeconds); due += 100ms) {
            std::this_thread::sleep_until(due);
            if (liveState) {
                cadenzo.send(live);
                sendToFloor(floorSender, live);
            }
        }
        std::this_thread::sleep_until(begin + std::chrono::seconds(idleSeconds));
        const double wall = std::chrono::duration<double>(SteadyClock::now() - begin).count();
        return std::pair{100.0 * (cpuSeconds(app.pid()) - appBefore) / wall,
                         100.0 * (cpuSeconds(floorPid) - floorBefore) / wall};
    };
    daw.takeReceived();
    const auto idleCpu = cpuOver(false);
    const auto liveCpu = cpuOver(true);
    ::close(floorSender);
    daw.takeReceived();

    const auto status = app.stop(SIGTERM, 20s);

    // The large set: a second start with it as the stored set.
    TempDir largeDir;
    const AppFixtureFiles largeFiles{largeDir.path()};
    writePreferences(largeFiles, false);
    largeFiles.writeSet(largeSet());
    AppProcess large;
    if (!large.start(program, largeFiles, {"STRATA_MIDI=jack"}))
        return fail("could not start " + program);
    if (!large.waitForLine("[Strata] Ready", 60s))
        return fail("the program did not get ready with the large set", &large);
    const double readyWithLargeMs =
        std::chrono::duration<double, std::milli>(SteadyClock::now() - large.startedAt()).count();
    std::this_thread::sleep_for(2s);
    const double residentWithLarge = residentMiB(large.pid());
    const auto largeStatus = large.stop(SIGTERM, 30s);

    const double periodMs = 1000.0 * JackTestServer::kPeriodFrames / JackTestServer::kSampleRate;
    std::printf("strata performance suite: %s%s\n", program.c_str(),
                loaded ? "   (loaded: two busy processes on the cores throughout)" : "");
    std::printf("JACK dummy driver, %d frames at %d Hz (period %.2f ms), asynchronous, %s; "
                "latencies are JACK times of the DAW's reading cycle, so each carries up to one "
                "period\n",
                JackTestServer::kPeriodFrames, JackTestServer::kSampleRate, periodMs,
                realTime ? "real-time" : "not real-time");
    std::printf("floor: a minimal JACK client in a process of its own (pass-through in the same "
                "cycle; a datagram becomes one event)\n");
    printLatency("NEXT press -> first mute byte", nextProgram, nextFloor, rounds, rounds);
    std::printf("%-34s %d of %zu rounds   floor: %d of %zu\n", "  read in the press's own cycle",
                plainSameCycle, nextProgram.size(), plainFloorSameCycle, nextFloor.size());
    printLatency("FIRE datagram -> first mute byte", fireProgram, fireFloor, rounds, rounds);
    printLatency("NEXT press, main thread held 2 s", heldProgram, nextFloor, heldRounds, rounds);
    std::printf("%-34s window at the new section %d/%d, move heard once %d/%d, read in the "
                "press's own cycle %d/%zu\n",
                "  after each hold", heldShown, heldRounds, heldOnce, heldRounds, heldSameCycle,
                heldProgram.size());
    std::printf("band remote on (page and OSC); the floor below each remote figure was measured "
                "in the same rounds\n");
    // How many presses came more than a period later than the plain rounds' median: a program
    // that the remote holds up shows it here first, before the p99 moves.
    const auto lateRounds = [&](const std::vector<double>& program) {
        const double limit = percentile(nextProgram, 0.5) + 1000.0 * periodMs;
        return std::count_if(program.begin(), program.end(), [&](double v) { return v > limit; });
    };
    std::printf("%-34s %ld of %zu plain rounds, %ld of %zu with viewers, %ld of %zu flooded\n",
                "  a period later than the median", static_cast<long>(lateRounds(nextProgram)),
                nextProgram.size(), static_cast<long>(lateRounds(viewedProgram)),
                viewedProgram.size(), static_cast<long>(lateRounds(floodedProgram)),
                floodedProgram.size());
    printLatency("NEXT press, 50 remote viewers", viewedProgram, viewedFloor, rounds, rounds);
    std::printf("%-34s %d/%d still connected; %.1f state updates/s each on average "
                "(fewest: %llu in %.1f s)\n",
                "  viewers", viewersAfterViewing, kViewers,
                static_cast<double>(viewedMessages) / kViewers / viewedSeconds,
                static_cast<unsigned long long>(viewedFewest), viewedSeconds);
    printLatency("NEXT press, remote flooded", floodedProgram, floodedFloor, rounds, rounds);
    std::printf("%-34s per second: %.0f garbage HTTP requests, %.0f WebSockets with a bad frame "
                "(%.0f handshakes unanswered), %.0f + %.0f malformed OSC datagrams from an "
                "allowed and a refused sender, %.1f OSC subscriptions from ports that close "
                "(%.1f s)\n",
                "  flood", floodCounts.httpRequests / floodSeconds,
                floodCounts.badFrameSockets / floodSeconds,
                floodCounts.webSocketsRefused / floodSeconds, floodCounts.oscAllowed / floodSeconds,
                floodCounts.oscRefused / floodSeconds, floodCounts.oscSubscribes / floodSeconds,
                floodSeconds);
    std::printf("%-34s %d/%d viewers still connected; a new viewer %s; %ld lines of program "
                "output meanwhile (besides missed-cycle reports)\n",
                "  after the flood", viewersAfterFlood, kViewers,
                newcomer >= 0 ? "let in" : "NOT let in", floodLines);
    std::printf("%-34s %6.1f MiB before, %6.1f halfway, %6.1f at the end, %6.1f 2 s after\n",
                "resident memory around the flood", residentBeforeFlood, residentMidFlood,
                residentEndOfFlood, residentAfterFlood);
    std::printf("%-34s %.1f ms\n", "start-up -> first mute press", startupMs);
    std::printf("%-34s %.1f ms (large set: 200 songs x 12 sections x 4 steps)\n",
                "start-up -> \"Ready\" line, large set", readyWithLargeMs);
    std::printf("%-34s %5.2f %% of one core          floor: %5.2f %%   (%d s)\n",
                "CPU, nothing happening", idleCpu.first, idleCpu.second, idleSeconds);
    std::printf("%-34s %5.2f %% of one core          floor: %5.2f %%   (%d s)\n",
                "CPU, Cadenzo LIVE_STATE at 10 Hz", liveCpu.first, liveCpu.second, idleSeconds);
    std::printf("%-34s %6.1f MiB                    floor: %6.1f MiB\n",
                "resident memory after start", residentAtStart, floorResident);
    std::printf("%-34s %6.1f MiB                    floor: %6.1f MiB\n",
                "  of which shared (JACK's segment)", sharedAtStart, floorShared);
    std::printf("%-34s %6.1f MiB\n", "resident memory, large set", residentWithLarge);
    std::printf("JACK xruns reported: %d; load average %s before, %s after (%u CPUs)\n",
                server.xrunReports(), loadBefore.c_str(), loadAverage().c_str(),
                std::thread::hardware_concurrency());
    if (status != std::optional<int>(0) || largeStatus != std::optional<int>(0))
        return fail("the program did not exit cleanly after SIGTERM", &app);
    return nextProgram.empty() || fireProgram.empty() || viewedProgram.empty() ||
                   floodedProgram.empty()
               ? 1
               : 0;
}
