// Cue-link figures: decoding cost, the CPU cost of a flood of malformed datagrams (handler only,
// and through a real socket, reader thread and main thread together), and datagram-to-event
// latency on a real socket.
//
// The socket benchmarks join the multicast group and therefore run only inside a private network
// namespace; elsewhere they report an error and do nothing:
//   tools/netns build/bench/bench/strata_cuelink_bench

#include "cuelink/cadenzo_link.h"
#include "platform/virtual_main_loop.h"

#include <algorithm>
#include <arpa/inet.h>
#include <atomic>
#include <benchmark/benchmark.h>
#include <cstdlib>
#include <ctime>
#include <ifaddrs.h>
#include <net/if.h>
#include <poll.h>
#include <random>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>

using namespace strata;

namespace {

bool onlyLoopbackIsUp() {
    ifaddrs* list = nullptr;
    if (::getifaddrs(&list) != 0)
        return false;
    bool ok = true;
    for (auto* a = list; a; a = a->ifa_next)
        if ((a->ifa_flags & IFF_UP) && !(a->ifa_flags & IFF_LOOPBACK))
            ok = false;
    ::freeifaddrs(list);
    return ok;
}

int groupSender() {
    return ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
}
void sendToGroup(int fd, std::string_view bytes) {
    sockaddr_in group{};
    group.sin_family = AF_INET;
    group.sin_port = htons(cue_link::kPort);
    ::inet_pton(AF_INET, "239.42.7.1", &group.sin_addr);
    (void)::sendto(fd, bytes.data(), bytes.size(), 0, reinterpret_cast<const sockaddr*>(&group),
                   sizeof group);
}

double cpuSeconds(clockid_t clock) {
    timespec ts{};
    ::clock_gettime(clock, &ts);
    return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) * 1e-9;
}
double threadCpuSeconds() {
    return cpuSeconds(CLOCK_THREAD_CPUTIME_ID);
}
// Every thread of the process: here the benchmark's own and the link's reader.
double processCpuSeconds() {
    return cpuSeconds(CLOCK_PROCESS_CPUTIME_ID);
}

// 100,000 malformed datagrams, a quarter each of: random bytes of random length up to 16 KB;
// valid messages cut short or with a byte flipped; well-formed envelopes whose typed message has a
// wrong type (parsed in full, then refused); and 16 KB worst cases for the parser (an array of
// 8,000 numbers under an unknown key, nesting at the depth limit, a 16 KB string as a number).
std::vector<std::string> malformedFlood(bool worstOnly) {
    std::mt19937 rng(1);
    const std::vector<std::string> valid{
        R"({"type":"LIVE_STATE","songIdx":1,"sectionIdx":2,"barsToNext":4,"playing":true,"bpm":120})",
        R"({"type":"FIRE","songIdx":3,"sectionIdx":1})",
        R"({"type":"SETLIST_SNAPSHOT","songs":[{"name":"A","sections":["Intro","Verse","Chorus"],"tempo":92}]})",
    };
    const std::vector<std::string> wrongTypes{
        R"({"type":"LIVE_STATE","songIdx":1,"sectionIdx":2,"barsToNext":2.5})",
        R"({"type":"FIRE","songIdx":"1","sectionIdx":0})",
        R"({"type":"HELLO","host":["FOH"]})",
        R"({"type":"SETLIST_SNAPSHOT","songs":[{"name":"A","sections":["V",7]}]})",
    };
    std::string bigArray = R"({"type":"FIRE","songIdx":1,"x":[)";
    while (bigArray.size() < kMaxDatagramSize - 4)
        bigArray += "0,";
    bigArray += "0]}";
    std::string deep = R"({"type":"FIRE","songIdx":1,"sectionIdx":2.5,"x":)";
    deep += std::string(kMaxJsonNesting - 1, '[') + std::string(kMaxJsonNesting - 1, ']');
    deep += R"(,"pad":")" + std::string(kMaxDatagramSize - deep.size() - 10, 'a') + R"("})";
    std::string bigString = R"({"type":"FIRE","songIdx":")" +
                            std::string(kMaxDatagramSize - 60, 'x') + R"(","sectionIdx":1})";
    const std::vector<std::string> worst{bigArray, deep, bigString};
    for (const auto& w : worst)
        if (w.size() > kMaxDatagramSize)
            std::abort(); // would be refused by size alone and measure nothing

    std::vector<std::string> out;
    out.reserve(100000);
    for (int i = 0; i < 100000; ++i) {
        const int kind = worstOnly ? 3 : i % 4;
        std::string d;
        if (kind == 0) {
            d.resize(std::uniform_int_distribution<std::size_t>(1, kMaxDatagramSize)(rng));
            for (auto& c : d)
                c = static_cast<char>(rng());
        } else if (kind == 1) {
            d = valid[rng() % valid.size()];
            if (rng() % 2)
                d.resize(rng() % d.size());
            else
                d[rng() % d.size()] ^= static_cast<char>(1 + rng() % 255);
        } else if (kind == 2) {
            d = wrongTypes[rng() % wrongTypes.size()];
        } else {
            d = worst[rng() % worst.size()];
        }
        // A flip that left a message valid is not malformed.
        const auto decoded = decodeDatagram(cueBytes(d));
        if (decoded && !std::holds_alternative<std::monostate>(decoded->message))
            d.assign(1, '{');
        out.push_back(std::move(d));
    }
    return out;
}

void BM_DecodeLiveState(benchmark::State& state) {
    const std::string d =
        R"({"type":"LIVE_STATE","songIdx":1,"sectionIdx":2,"nextSection":"Chorus","barsToNext":4,"playing":true,"bpm":120.5})";
    for (auto _ : state)
        benchmark::DoNotOptimize(decodeDatagram(cueBytes(d)));
}
BENCHMARK(BM_DecodeLiveState);

// The handler alone: what 100,000 malformed datagrams cost the main thread once they are read.
void BM_HandlerMalformedFlood(benchmark::State& state) {
    const auto flood = malformedFlood(state.range(0) != 0);
    VirtualMainLoop loop;
    CadenzoLink link(loop, {.openSocket = false});
    int events = 0;
    auto c = link.liveTick.connect([&](const LiveState&) { ++events; });
    for (auto _ : state)
        for (const auto& d : flood)
            link.handleDatagram(cueBytes(d));
    if (events != 0 || link.connection.get().isConnected())
        state.SkipWithError("a malformed datagram had an effect");
    state.SetItemsProcessed(state.iterations() * static_cast<std::int64_t>(flood.size()));
}
BENCHMARK(BM_HandlerMalformedFlood)
    ->ArgName("worstOnly")
    ->Arg(0)
    ->Arg(1)
    ->Unit(benchmark::kMillisecond);

// Through the socket: the CPU time the link spends on 100,000 malformed datagrams sent to the
// group, one at a time: the reader thread's (read and decode; the process's time less this
// thread's) plus the main thread's handling of what the reader posted.
void BM_SocketMalformedFlood(benchmark::State& state) {
    if (!onlyLoopbackIsUp()) {
        state.SkipWithError("run inside tools/netns");
        return;
    }
    const auto flood = malformedFlood(state.range(0) != 0);
    VirtualMainLoop loop;
    CadenzoLink link(loop);
    const int sender = groupSender();
    std::size_t posted = 0;
    bool lost = false;
    for (auto _ : state) {
        double handling = 0;
        const double process0 = processCpuSeconds();
        const double own0 = threadCpuSeconds();
        for (const auto& d : flood) {
            sendToGroup(sender, d);
            // Paced by the reader: the next goes when the socket holds nothing unread, so the
            // socket's buffer never overflows.
            int queued = 1;
            while (::ioctl(link.fd(), FIONREAD, &queued) == 0 && queued > 0)
                std::this_thread::yield();
            const double t0 = threadCpuSeconds();
            posted += loop.runPending();
            handling += threadCpuSeconds() - t0;
        }
        // The reader keeps datagrams in order: once this one is posted, every one before it has
        // been read and decoded.
        sendToGroup(sender, R"({"type":"MARKER_HIT","name":"end"})");
        bool ended = false;
        auto end = link.markerHit.connect([&](const MarkerHit&) { ended = true; });
        while (!ended && loop.waitForPost(std::chrono::milliseconds(2000))) {
            const double t0 = threadCpuSeconds();
            posted += loop.runPending();
            handling += threadCpuSeconds() - t0;
        }
        lost = lost || !ended;
        const double reader = (processCpuSeconds() - process0) - (threadCpuSeconds() - own0);
        state.SetIterationTime(reader + handling);
    }
    ::close(sender);
    // What reached the main thread: well-formed envelopes only (the marker included).
    state.counters["datagrams_posted"] = static_cast<double>(posted);
    if (lost)
        state.SkipWithError("the closing marker never arrived");
    if (link.connection.get().isConnected())
        state.SkipWithError("a malformed datagram had an effect");
}
BENCHMARK(BM_SocketMalformedFlood)
    ->ArgName("worstOnly")
    ->Arg(0)
    ->Arg(1)
    ->UseManualTime()
    ->Iterations(1)
    ->Unit(benchmark::kMillisecond);

// Datagram-to-event time: a sender thread stamps each "LIVE_STATE" just before sendto; the main
// thread sleeps until the link's reader posts the datagram, runs what was posted, and stamps the
// liveTick event. 10,000 datagrams, paced so that each one wakes the main thread.
void BM_SocketLiveStateLatency(benchmark::State& state) {
    if (!onlyLoopbackIsUp()) {
        state.SkipWithError("run inside tools/netns");
        return;
    }
    constexpr int count = 10000;
    VirtualMainLoop loop;
    CadenzoLink link(loop);
    std::vector<std::atomic<std::int64_t>> sentAt(count);
    std::vector<std::int64_t> latencyNs;
    latencyNs.reserve(count);
    auto nowNs = [] {
        return std::chrono::duration_cast<std::chrono::nanoseconds>(
                   std::chrono::steady_clock::now().time_since_epoch())
            .count();
    };
    auto c = link.liveTick.connect([&](const LiveState& s) {
        const auto i = static_cast<std::size_t>(s.songIdx);
        if (i < sentAt.size())
            latencyNs.push_back(nowNs() - sentAt[i].load());
    });

    for (auto _ : state) {
        std::thread sender([&] {
            const int fd = groupSender();
            for (int i = 0; i < count; ++i) {
                const std::string d = R"({"type":"LIVE_STATE","songIdx":)" + std::to_string(i) +
                                      R"(,"sectionIdx":2,"barsToNext":4,"playing":true,"bpm":120})";
                sentAt[static_cast<std::size_t>(i)].store(nowNs());
                sendToGroup(fd, d);
                std::this_thread::sleep_for(std::chrono::microseconds(300));
            }
            ::close(fd);
        });
        while (latencyNs.size() < count) {
            if (!loop.waitForPost(std::chrono::milliseconds(2000)))
                break; // a lost datagram; counted below
            loop.runPending();
        }
        sender.join();
    }
    if (latencyNs.empty()) {
        state.SkipWithError("nothing received");
        return;
    }
    std::sort(latencyNs.begin(), latencyNs.end());
    auto at = [&](double q) {
        return static_cast<double>(latencyNs[static_cast<std::size_t>(
                   q * static_cast<double>(latencyNs.size() - 1))]) /
               1000.0;
    };
    state.counters["received"] = static_cast<double>(latencyNs.size());
    state.counters["median_us"] = at(0.5);
    state.counters["p99_us"] = at(0.99);
    state.counters["max_us"] = at(1.0);
}
BENCHMARK(BM_SocketLiveStateLatency)->Iterations(1)->Unit(benchmark::kMillisecond);

} // namespace

BENCHMARK_MAIN();
