// The link on real sockets. These tests join the cue-link multicast group, so they run only
// inside a private network namespace (ctest starts them through tools/netns); each refuses to
// run where any interface other than loopback is up. Virtual time drives the timers; waiting for
// a datagram polls real descriptors for a bounded real time, and nothing asserts on wall time.

#include "cuelink/cadenzo_link.h"
#include "platform/virtual_main_loop.h"
#include "support/cue_sender.h"
#include "support/test_support.h"

#include <algorithm>
#include <arpa/inet.h>
#include <atomic>
#include <csignal>
#include <cstddef>
#include <cstring>
#include <fcntl.h>
#include <functional>
#include <gtest/gtest.h>
#include <ifaddrs.h>
#include <linux/filter.h>
#include <linux/seccomp.h>
#include <net/if.h>
#include <netinet/in.h>
#include <poll.h>
#include <sched.h>
#include <sys/ioctl.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/syscall.h>
#include <thread>
#include <unistd.h>

using namespace strata;
using namespace std::chrono_literals;
using namespace std::string_literals;

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

// A descriptor closed on destruction.
struct Socket {
    int fd = -1;
    explicit Socket(int f) : fd(f) {}
    ~Socket() {
        if (fd >= 0)
            ::close(fd);
    }
    Socket(const Socket&) = delete;
    Socket& operator=(const Socket&) = delete;
};

// A UDP socket bound to the cue-link port; `shared` lets others bind the port too.
int boundToCuePort(bool shared) {
    const int fd = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    const int one = 1;
    if (shared) {
        ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
        ::setsockopt(fd, SOL_SOCKET, SO_REUSEPORT, &one, sizeof one);
    }
    sockaddr_in local{};
    local.sin_family = AF_INET;
    local.sin_port = htons(cue_link::kPort);
    EXPECT_EQ(::bind(fd, reinterpret_cast<sockaddr*>(&local), sizeof local), 0);
    return fd;
}

// An ordinary group member on the cue-link port, to watch what the link sends.
struct Listener : Socket {
    Listener() : Socket(boundToCuePort(true)) {
        ip_mreq m{};
        ::inet_pton(AF_INET, "239.42.7.1", &m.imr_multiaddr);
        EXPECT_EQ(::setsockopt(fd, IPPROTO_IP, IP_ADD_MEMBERSHIP, &m, sizeof m), 0);
    }
    // The next datagram within `wait` of real time, with its source port.
    std::optional<std::pair<std::string, int>> next(std::chrono::milliseconds wait) {
        pollfd p{fd, POLLIN, 0};
        if (::poll(&p, 1, static_cast<int>(wait.count())) != 1)
            return std::nullopt;
        char buf[70000];
        sockaddr_in from{};
        socklen_t len = sizeof from;
        const auto n = ::recvfrom(fd, buf, sizeof buf, 0, reinterpret_cast<sockaddr*>(&from), &len);
        if (n < 0)
            return std::nullopt;
        return std::pair{std::string(buf, static_cast<std::size_t>(n)), ntohs(from.sin_port)};
    }
};

// Runs read callbacks of the loop until `done` holds, waiting on the descriptors in between,
// for at most `limit` of real time.
template <typename Done>
bool pumpUntil(VirtualMainLoop& loop, std::vector<int> fds, Done done,
               std::chrono::milliseconds limit = 5000ms) {
    const auto deadline = std::chrono::steady_clock::now() + limit;
    std::vector<pollfd> polls;
    for (int fd : fds)
        polls.push_back({fd, POLLIN, 0});
    for (;;) {
        loop.pollDescriptors();
        if (done())
            return true;
        if (std::chrono::steady_clock::now() > deadline)
            return false;
        ::poll(polls.data(), polls.size(), 20);
    }
}

std::string fireText(int song, int section) {
    return R"({"type":"FIRE","songIdx":)" + std::to_string(song) + R"(,"sectionIdx":)" +
           std::to_string(section) + "}";
}

class CadenzoLinkNet : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(onlyLoopbackIsUp())
            << "an interface other than loopback is up: run these tests through tools/netns";
    }
    strata::testing::LogCapture log;
    VirtualMainLoop loop;
};

} // namespace

// Cadenzo greets and plays, then dies without a goodbye. The link's own discovery datagrams keep
// going out on their schedule, from the cue-link port, and coming back over loopback, as they do
// on stage; they are no sign of Cadenzo. The link goes offline within the watchdog's time, and
// its live state goes with it (nothing is timed from a Cadenzo that is gone: see the auto-advance
// tests).
TEST_F(CadenzoLinkNet, DiscoveryKeepsItsScheduleAndADeadCadenzoLooksDeadWhileItComesBack) {
    Listener group; // sees what reaches the group, ours and Cadenzo's
    const TimePoint start = loop.now();
    CadenzoLink link(loop);
    ASSERT_GE(link.fd(), 0);
    std::optional<TimePoint> offlineAt;
    auto c = link.connection.changed.connect([&](const ConnectionState& s) {
        if (!s.isConnected())
            offlineAt = loop.now();
    });

    strata::testing::CueSender cadenzo;
    ASSERT_TRUE(cadenzo.send(R"({"type":"HELLO","host":"FOH"})"));
    ASSERT_TRUE(cadenzo.send(
        R"({"type":"LIVE_STATE","songIdx":0,"sectionIdx":0,"playing":true,"bpm":120})"));
    ASSERT_TRUE(pumpUntil(loop, {link.fd()}, [&] { return link.liveState().has_value(); }));
    EXPECT_EQ(link.connection.get(), ConnectionState::connected("FOH"));

    // Silence from Cadenzo. Each discovery datagram is seen on the group and read by the link
    // before the watchdog next looks.
    const auto linkHasReadEverything = [&] {
        pollfd p{link.fd(), POLLIN, 0};
        return ::poll(&p, 1, 0) == 0;
    };
    // The source port of the next discovery datagram on the group within `wait`.
    const auto nextDiscovery = [&](std::chrono::milliseconds wait) -> std::optional<int> {
        while (const auto got = group.next(wait))
            if (got->first == kDiscoveryDatagram)
                return got->second;
        return std::nullopt;
    };
    const std::vector<double> due{0.0, 0.5, 1.5, 3.0, 5.0, 10.0, 15.0, 20.0};
    int discoveries = 0;
    for (double t = 0.0; t <= 20.0; t += 0.5) {
        SCOPED_TRACE(t);
        const bool isDue = std::find(due.begin(), due.end(), t) != due.end();
        if (isDue && t > 0) {
            loop.advanceTo(start + seconds(t) - 1ms);
            EXPECT_FALSE(nextDiscovery(20ms)) << "a discovery datagram came early";
        }
        loop.advanceTo(start + seconds(t));
        if (isDue) {
            const auto port = nextDiscovery(2000ms);
            ASSERT_TRUE(port) << "our discovery datagram never reached the group";
            EXPECT_EQ(*port, cue_link::kPort);
            EXPECT_FALSE(nextDiscovery(0ms)) << "more than one discovery datagram at once";
            ++discoveries;
        }
        ASSERT_TRUE(pumpUntil(loop, {link.fd()}, linkHasReadEverything));
    }
    EXPECT_EQ(discoveries, 8);
    ASSERT_TRUE(offlineAt) << "a dead Cadenzo still looks alive";
    EXPECT_GT(*offlineAt - start, 10s);
    EXPECT_LE(*offlineAt - start, 12s);
    EXPECT_FALSE(link.liveState());
    EXPECT_EQ(link.connection.get(), ConnectionState::disconnected());
    EXPECT_TRUE(log.lines().empty());
}

TEST_F(CadenzoLinkNet,
       TwoLinksOnOneMachineBothReceiveEveryDatagramAndOversizeOnesAreDroppedNotCut) {
    // A greeting padded with trailing whitespace: cut anywhere after the object it would still
    // parse, so only a length check can tell that the datagram was not read whole.
    const std::string greeting = R"({"type":"HELLO","host":"Big"})";
    struct Row {
        std::size_t size;
        bool applied;
    };
    int song = 0;
    for (const Row row : {Row{kMaxDatagramSize, true}, Row{kMaxDatagramSize + 1, false},
                          Row{20000, false}, Row{65507, false}}) {
        SCOPED_TRACE(row.size);
        CadenzoLink a(loop), b(loop);
        ASSERT_GE(a.fd(), 0);
        ASSERT_GE(b.fd(), 0);
        std::vector<Fire> gotA, gotB;
        auto ca = a.fire.connect([&](const Fire& f) { gotA.push_back(f); });
        auto cb = b.fire.connect([&](const Fire& f) { gotB.push_back(f); });
        std::string padded = greeting;
        padded.resize(row.size, ' ');
        strata::testing::CueSender cadenzo;
        const std::vector<Fire> sent{{++song, 1}, {++song, 2}};
        ASSERT_TRUE(cadenzo.send(fireText(sent[0].songIdx, 1)));
        ASSERT_TRUE(cadenzo.send(padded));
        // Arrives after the big one: once it is handled, so is that.
        ASSERT_TRUE(cadenzo.send(fireText(sent[1].songIdx, 2)));
        ASSERT_TRUE(pumpUntil(loop, {a.fd(), b.fd()},
                              [&] { return gotA.size() >= 2 && gotB.size() >= 2; }));
        EXPECT_EQ(gotA, sent);
        EXPECT_EQ(gotB, sent);
        EXPECT_EQ(a.connection.get().isConnected(), row.applied);
        EXPECT_EQ(b.connection.get().isConnected(), row.applied);
    }
    EXPECT_TRUE(log.lines().empty());
}

TEST_F(CadenzoLinkNet, TheReaderHandsDatagramsToTheMainThreadAndStopsAndClosesWithTheLink) {
    // A reader that never woke up for the stop request would hang the teardown; the alarm turns
    // that into a failed run.
    ::alarm(20);
    for (const bool trafficAtTeardown : {false, true}) {
        SCOPED_TRACE(trafficAtTeardown ? "datagrams still arriving" : "nothing to read");
        auto link = std::make_unique<CadenzoLink>(loop);
        const int fd = link->fd();
        ASSERT_GE(fd, 0);
        EXPECT_TRUE(::fcntl(fd, F_GETFD) & FD_CLOEXEC);
        std::vector<Fire> fires;
        auto c = link->fire.connect([&](const Fire& f) { fires.push_back(f); });
        strata::testing::CueSender cadenzo;
        ASSERT_TRUE(cadenzo.send(fireText(2, 3)));
        // Read and decoded off the main thread; applied only when the main loop turns.
        ASSERT_TRUE(loop.waitForPost(5000ms));
        EXPECT_TRUE(fires.empty());
        loop.runPending();
        EXPECT_EQ(fires, (std::vector<Fire>{{2, 3}}));
        std::atomic<bool> sending{trafficAtTeardown};
        std::thread burst([&] {
            while (sending.load())
                cadenzo.send(fireText(1, 1));
        });
        if (trafficAtTeardown) {
            ASSERT_TRUE(loop.waitForPost(5000ms));
        }
        link.reset();
        errno = 0;
        EXPECT_EQ(::fcntl(fd, F_GETFD), -1) << "the socket is closed with the link";
        EXPECT_EQ(errno, EBADF);
        EXPECT_EQ(loop.armedTimerCount(), 0u);
        sending = false;
        burst.join();
        // What the reader posted before it stopped finds the link gone and does nothing.
        loop.runPending();
        EXPECT_EQ(fires.size(), 1u);
    }
    ::alarm(0);
}

// ---- Set-up failures: one line each, then a link that stays without a socket -------------------

namespace {

struct FailedLink {
    std::vector<std::string> lines;
    int fd = 0;
    std::vector<ConnectionState> changes;
};

// Builds a link, lets a minute of virtual time pass, and reports what it said and became.
FailedLink buildAndWatch() {
    strata::testing::LogCapture log;
    VirtualMainLoop loop;
    FailedLink out;
    {
        CadenzoLink link(loop);
        out.fd = link.fd();
        auto c = link.connection.changed.connect(
            [&](const ConnectionState& s) { out.changes.push_back(s); });
        loop.advance(60s);
        loop.pollDescriptors();
    }
    out.lines = log.lines();
    return out;
}

// Runs `body` on a thread of its own (namespaces and seccomp filters belong to a thread); a
// set-up problem of the test itself comes back as text.
FailedLink onThreadOfItsOwn(const std::function<std::string(FailedLink&)>& body) {
    FailedLink out;
    std::string problem;
    std::thread t([&] { problem = body(out); });
    t.join();
    EXPECT_EQ(problem, "");
    return out;
}

// Builds the link inside a fresh network namespace with only loopback up and no routes at all,
// as on a laptop with no network.
FailedLink buildInNamespaceWithoutRoute() {
    return onThreadOfItsOwn([](FailedLink& out) -> std::string {
        if (::unshare(CLONE_NEWNET) != 0)
            return "unshare failed, errno " + std::to_string(errno);
        Socket s(::socket(AF_INET, SOCK_DGRAM, 0));
        ifreq req{};
        std::strcpy(req.ifr_name, "lo");
        ::ioctl(s.fd, SIOCGIFFLAGS, &req);
        req.ifr_flags |= IFF_UP;
        if (::ioctl(s.fd, SIOCSIFFLAGS, &req) != 0)
            return "cannot bring lo up";
        out = buildAndWatch();
        return "";
    });
}

} // namespace

TEST_F(CadenzoLinkNet, ASetUpFailureIsReportedOnceAndTheLinkStaysWithoutASocket) {
    struct Case {
        const char* name;
        std::function<FailedLink()> build;
        std::string line;
    };
    const std::vector<Case> cases{
        {"no multicast route", buildInNamespaceWithoutRoute,
         "[CadenzoLink] IP_ADD_MEMBERSHIP failed errno=" + std::to_string(ENODEV)},
        {"the port taken by a program that does not share it",
         [] {
             Socket blocker(boundToCuePort(false));
             FailedLink got = buildAndWatch();
             EXPECT_NE(::fcntl(blocker.fd, F_GETFD), -1); // not the link's to close
             return got;
         },
         "[CadenzoLink] bind() failed errno=" + std::to_string(EADDRINUSE)},
        // A seccomp filter on a thread of our own makes socket() fail there, and only there.
        {"socket() refused",
         [] {
             return onThreadOfItsOwn([](FailedLink& got) -> std::string {
                 sock_filter code[] = {
                     BPF_STMT(BPF_LD | BPF_W | BPF_ABS, offsetof(seccomp_data, nr)),
                     BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, __NR_socket, 0, 1),
                     BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_ERRNO | (EACCES & SECCOMP_RET_DATA)),
                     BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_ALLOW),
                 };
                 sock_fprog program{static_cast<unsigned short>(std::size(code)), code};
                 if (::prctl(PR_SET_NO_NEW_PRIVS, 1, 0, 0, 0) != 0 ||
                     ::prctl(PR_SET_SECCOMP, SECCOMP_MODE_FILTER, &program) != 0)
                     return "cannot install the filter, errno " + std::to_string(errno);
                 if (::socket(AF_INET, SOCK_DGRAM, 0) >= 0)
                     return "the filter lets socket() through";
                 got = buildAndWatch();
                 return "";
             });
         },
         "[CadenzoLink] socket() failed"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const FailedLink got = c.build();
        EXPECT_EQ(got.lines, (std::vector<std::string>{c.line}));
        EXPECT_EQ(got.fd, -1);
        EXPECT_TRUE(got.changes.empty());
    }
}
