// The link's handler, connection state machine and timers on virtual time, without a network
// socket (a local socket pair at most). Everything that needs the network is in
// cadenzo_link_net_test.cpp.

#include "cuelink/cadenzo_link.h"
#include "platform/virtual_main_loop.h"
#include "support/test_support.h"

#include <atomic>
#include <gtest/gtest.h>
#include <memory>
#include <string>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>
#include <vector>

using namespace strata;
using namespace std::chrono_literals;

namespace {

const std::string hello(const std::string& host) {
    return R"({"type":"HELLO","host":")" + host + R"("})";
}
const std::string liveState = R"({"type":"LIVE_STATE","songIdx":1,"sectionIdx":2,"bpm":90})";
const std::string goodbye = R"({"type":"GOODBYE"})";

const auto disconnected = ConnectionState::disconnected();
ConnectionState connected(const std::string& host) {
    return ConnectionState::connected(host);
}

class CadenzoLinkTest : public ::testing::Test {
protected:
    CadenzoLinkTest() {
        link = std::make_unique<CadenzoLink>(loop, CadenzoLink::Options{.openSocket = false});
        bag += link->connection.changed.connect(
            [this](const ConnectionState& s) { changes.push_back(s); });
    }

    void feed(const std::string& text) { link->handleDatagram(cueBytes(text)); }

    strata::testing::LogCapture log;
    VirtualMainLoop loop;
    std::unique_ptr<CadenzoLink> link;
    ConnectionBag bag;
    std::vector<ConnectionState> changes;
};

} // namespace

TEST(CadenzoLinkStates, ConnectionFollowsTheDatagrams) {
    struct Row {
        const char* name;
        std::vector<std::string> datagrams;
        std::vector<ConnectionState> notifications;
        bool liveStateKept;
    };
    const std::string badHello = R"({"type":"HELLO","host":3})";
    const std::vector<Row> rows{
        {"live state without greeting", {liveState}, {connected("Cadenzo")}, true},
        {"greeting then live state keeps host",
         {hello("FOH"), liveState},
         {connected("FOH")},
         true},
        {"later greeting replaces host",
         {liveState, hello("FOH")},
         {connected("Cadenzo"), connected("FOH")},
         true},
        {"every greeting notifies",
         {hello("A"), hello("A")},
         {connected("A"), connected("A")},
         false},
        {"goodbye forgets the greeting's host",
         {hello("A"), liveState, goodbye, liveState},
         {connected("A"), disconnected, connected("Cadenzo")},
         true},
        {"goodbye clears live state",
         {liveState, goodbye},
         {connected("Cadenzo"), disconnected},
         false},
        {"goodbye while disconnected notifies again",
         {goodbye, goodbye},
         {disconnected, disconnected},
         false},
        {"invalid greeting", {badHello}, {}, false},
        {"lower-case type carries nothing",
         {R"({"type":"live_state","songIdx":1,"sectionIdx":2})"},
         {},
         false},
        {"own discovery carries nothing", {std::string(kDiscoveryDatagram)}, {}, false},
        {"other messages do not connect",
         {R"({"type":"FIRE","songIdx":0,"sectionIdx":0})", R"({"type":"MARKER_HIT","name":"m"})",
          R"({"type":"SETLIST_SNAPSHOT","songs":[]})"},
         {},
         false},
        {"garbage", {"{", "", "[]", "null"}, {}, false},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        strata::testing::LogCapture log;
        VirtualMainLoop loop;
        CadenzoLink link(loop, {.openSocket = false});
        std::vector<ConnectionState> seen;
        auto c =
            link.connection.changed.connect([&](const ConnectionState& s) { seen.push_back(s); });
        for (const auto& d : row.datagrams)
            link.handleDatagram(cueBytes(d));
        EXPECT_EQ(seen, row.notifications);
        EXPECT_EQ(link.connection.get(), seen.empty() ? disconnected : seen.back());
        EXPECT_EQ(link.liveState().has_value(), row.liveStateKept);
        EXPECT_TRUE(log.lines().empty());
    }
}

// Each message to its own event, at once. What the decoded values are: the CueMessages tables;
// what the program makes of them: the live suite.
TEST_F(CadenzoLinkTest,
       LiveStateIsStoredAfterConnectingAndEventsArriveAtOnceAndOnlyAfterSubscribing) {
    std::vector<std::string> heard;
    bag += link->connection.changed.connect([&](const ConnectionState&) {
        heard.push_back(link->liveState() ? "connection with state" : "connection");
    });
    bag += link->liveTick.connect([&](const LiveState& s) {
        heard.push_back("tick");
        EXPECT_EQ(link->liveState(), s);
        EXPECT_EQ(link->connection.get(), connected("Cadenzo"));
    });
    const std::vector<std::string> each{R"({"type":"FIRE","songIdx":4,"sectionIdx":-2})",
                                        R"({"type":"SETLIST_SNAPSHOT","songs":[]})",
                                        R"({"type":"MARKER_HIT","name":"Drop"})", liveState};
    for (const auto& d : each)
        feed(d); // handled before anyone else listens: not replayed to later subscribers
    EXPECT_EQ(heard, (std::vector<std::string>{"connection", "tick"}));
    ASSERT_TRUE(link->liveState());
    EXPECT_EQ(link->liveState()->bpm, 90.0);
    heard.clear();
    bag += link->fire.connect(
        [&](const Fire& f) { heard.push_back("fire " + std::to_string(f.songIdx)); });
    bag += link->snapshot.connect([&](const SetlistSnapshot&) { heard.push_back("snapshot"); });
    bag += link->markerHit.connect([&](const MarkerHit& m) { heard.push_back(m.name); });
    loop.advance(1s);
    EXPECT_TRUE(heard.empty());
    feed(R"({"type":"FIRE","songIdx":4})"); // invalid: no event
    for (const auto& d : each) {
        feed(d);
        heard.push_back("|");
    }
    EXPECT_EQ(heard,
              (std::vector<std::string>{"fire 4", "|", "snapshot", "|", "Drop", "|", "tick", "|"}));
}

TEST(CadenzoLinkWatchdog, GivesUpTenToTwelveSecondsAfterTheLastEnvelopeAndRunsOnlyWhileConnected) {
    // The watchdog runs every 2 s from construction; a connection made at any phase of it must be
    // given up more than 10 s and at most 12 s after its last envelope. At rest (nothing heard,
    // or the connection given up) the watchdog is not armed, so the program does not wake for
    // it; each connection arms it afresh, however it came and went.
    struct Row {
        const char* name;
        std::string connect;
        bool byGoodbye; // given up by Cadenzo's GOODBYE rather than by silence
        double phase;   // seconds after the early discovery sends are over
    };
    const std::vector<Row> rows{
        {"greeting, silence", hello("FOH"), false, 0.0},
        {"greeting, silence, late in the watchdog's period", hello("FOH"), false, 1.999},
        {"live state without greeting, silence", liveState, false, 0.3},
        {"live state without greeting, silence, on the next period", liveState, false, 5.7},
        {"greeting, goodbye", hello("FOH"), true, 1.0},
        {"live state without greeting, goodbye", liveState, true, 0.0},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        VirtualMainLoop loop;
        CadenzoLink link(loop, {.openSocket = false});
        loop.advance(4s); // the early discovery sends are over: only the periodic one is left
        ASSERT_EQ(loop.armedTimerCount(), 1u);
        EXPECT_FALSE(link.lastHeartbeat());
        loop.advance(seconds(row.phase));
        for (int round = 0; round < 2; ++round) {
            SCOPED_TRACE(round);
            link.handleDatagram(cueBytes(row.connect));
            ASSERT_TRUE(link.connection.get().isConnected());
            EXPECT_EQ(loop.armedTimerCount(), 2u);
            link.handleDatagram(cueBytes(hello("FOH"))); // more traffic arms nothing more
            link.handleDatagram(cueBytes(liveState));
            const TimePoint last = loop.now();
            EXPECT_EQ(link.lastHeartbeat(), last);
            EXPECT_EQ(loop.armedTimerCount(), 2u);
            if (row.byGoodbye) {
                loop.advance(3s);
                link.handleDatagram(cueBytes(goodbye));
                EXPECT_FALSE(link.connection.get().isConnected());
            } else {
                loop.advance(10s);
                EXPECT_TRUE(link.connection.get().isConnected());
                EXPECT_TRUE(link.liveState());
                loop.advance(2s);
                EXPECT_FALSE(link.connection.get().isConnected()) << "given up within 12 s";
                EXPECT_EQ(link.lastHeartbeat(), last); // kept; only envelopes move it
            }
            EXPECT_FALSE(link.liveState());
            EXPECT_EQ(loop.armedTimerCount(), 1u);
            loop.advance(60s); // at rest: still only discovery
            EXPECT_EQ(loop.armedTimerCount(), 1u);
        }
    }
}

TEST_F(CadenzoLinkTest, AnyEnvelopeFromCadenzoKeepsTheConnectionAliveButDiscoveryAndGarbageDoNot) {
    feed(hello("FOH"));
    // Every 9 s an envelope that carries nothing usable: still traffic from Cadenzo.
    const std::vector<std::string> keepAlive{
        R"({"type":"FIRE","songIdx":1})",           // invalid typed message
        R"({"type":"SOMETHING_NEW","x":1})",        // unknown type
        R"({"type":"LIVE_STATE","barsToNext":2.5})" // invalid typed message
    };
    for (const auto& d : keepAlive) {
        loop.advance(9s);
        feed(d);
    }
    loop.advance(9s);
    EXPECT_EQ(changes, (std::vector<ConnectionState>{connected("FOH")}));

    // Now only datagrams that are no envelope, and discovery datagrams (ours looped back, or
    // another Strata's): silence as far as the watchdog is concerned.
    const TimePoint last = *link->lastHeartbeat();
    for (int i = 0; i < 6; ++i) {
        feed(R"({"type":7})");
        feed("not json");
        feed(std::string(kDiscoveryDatagram));
        loop.advance(1s);
    }
    EXPECT_EQ(link->lastHeartbeat(), last);
    loop.advance(10s);
    EXPECT_EQ(changes, (std::vector<ConnectionState>{connected("FOH"), disconnected}));
}

TEST_F(CadenzoLinkTest, MayBeDestroyedFromInsideItsOwnNotifications) {
    // An observer that ends the link while the handler is still running must not make the
    // handler touch the destroyed object (AddressSanitizer builds check this).
    bag += link->connection.changed.connect([this](const ConnectionState&) { link.reset(); });
    feed(liveState);
    EXPECT_FALSE(link);

    link = std::make_unique<CadenzoLink>(loop, CadenzoLink::Options{.openSocket = false});
    auto c = link->liveTick.connect([this](const LiveState&) { link.reset(); });
    int laterSlot = 0;
    auto d = link->liveTick.connect([&](const LiveState&) { ++laterSlot; });
    feed(liveState);
    EXPECT_FALSE(link);
    EXPECT_EQ(laterSlot, 0); // its connection ended with the link

    link = std::make_unique<CadenzoLink>(loop, CadenzoLink::Options{.openSocket = false});
    auto e = link->connection.changed.connect([this](const ConnectionState& s) {
        if (!s.isConnected())
            link.reset();
    });
    feed(liveState);
    loop.advance(20s); // the watchdog's disconnect ends the link
    EXPECT_FALSE(link);
}

TEST_F(CadenzoLinkTest, TheReaderStartedHookRunsOnceOnTheReaderThreadBeforeItReadsAndNeverWithout) {
    // The program raises the reader's scheduling priority in this hook: it must run on the reader
    // itself (a priority belongs to a thread), before the first datagram is read.
    struct Case {
        const char* name;
        bool withSocket;
        int calls;
    };
    for (const Case& c :
         {Case{"a link that reads a socket", true, 1}, Case{"a link without a socket", false, 0}}) {
        SCOPED_TRACE(c.name);
        std::atomic<int> calls{0};
        std::atomic<bool> onThisThread{false};
        const auto self = std::this_thread::get_id();
        int pair[2] = {-1, -1};
        CadenzoLink::Options options{.openSocket = false};
        if (c.withSocket) {
            ASSERT_EQ(::socketpair(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0, pair), 0);
            options.adoptSocket = pair[0];
        }
        options.readerStarted = [&] {
            onThisThread = std::this_thread::get_id() == self;
            ++calls;
        };
        link = std::make_unique<CadenzoLink>(loop, std::move(options));
        int heard = 0;
        auto counting = link->liveTick.connect([&](const LiveState&) { ++heard; });
        if (c.withSocket) {
            ASSERT_EQ(::send(pair[1], liveState.data(), liveState.size(), 0),
                      static_cast<ssize_t>(liveState.size()));
            ASSERT_TRUE(loop.waitForPost(5000ms));
            loop.runPending();
            EXPECT_EQ(heard, 1);
        }
        link.reset(); // joins the reader: every call it made is counted
        EXPECT_EQ(calls.load(), c.calls);
        EXPECT_FALSE(onThisThread.load());
        if (pair[1] >= 0)
            ::close(pair[1]);
    }
}
