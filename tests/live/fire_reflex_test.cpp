// Cadenzo's FIRE answered on the cue link's reader thread: the mutes go out before the main
// thread has run, the main thread takes the position over once, and whatever the reflex cannot
// answer is handled on the main thread as before. The link reads one end of a socket pair, so the
// reader thread is the real one without any network.

#include "live_rig.h"

#include <chrono>
#include <string>
#include <sys/socket.h>
#include <unistd.h>

using namespace strata;
using namespace strata::testing;
using namespace std::chrono_literals;

namespace {

std::string fireText(std::int64_t song, std::int64_t section) {
    return R"({"type":"FIRE","songIdx":)" + std::to_string(song) + R"(,"sectionIdx":)" +
           std::to_string(section) + "}";
}

class FireReflexTest : public LiveTest {
protected:
    ~FireReflexTest() override {
        stop();
        if (peer_ >= 0)
            ::close(peer_);
    }

    // Song "One": five sections, section k muting layer k (section 0 none, section 4 A and B);
    // section 1 has a second step muting A. Song "Two": its first section mutes A and D.
    void startShow() {
        Setlist set = makeSet(
            {{"One", "Intro", "Verse", "Bridge", "Chorus", "Outro"}, {"Two", "Start", "End"}},
            ControlMode::ccMute);
        muteAt(set, 0, 1, 0, {1});
        muteAt(set, 0, 2, 0, {2});
        muteAt(set, 0, 3, 0, {3});
        muteAt(set, 0, 4, 0, {1, 2});
        set.songs[0].sections[1].steps.push_back(SectionStep::fresh());
        muteAt(set, 0, 1, 1, {0});
        muteAt(set, 1, 0, 0, {0, 3});
        start(std::move(set));
        // The rig's link reads no socket; this one reads the pair's other end.
        live.reset();
        link.reset();
        int pair[2];
        ASSERT_EQ(::socketpair(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0, pair), 0);
        peer_ = pair[1];
        link = std::make_unique<CadenzoLink>(
            loop, CadenzoLink::Options{.openSocket = false, .adoptSocket = pair[0]});
        live = std::make_unique<LiveCoordinator>(*app, *service, *link, loop, settings, location());
        live->appear();
        markers_ = link->markerHit.connect([this](const MarkerHit& m) { lastMark_ = m.name; });
        settle();
        ASSERT_EQ(synthHeard(), ccRound({}));
    }

    // Cadenzo sends one datagram.
    void cadenzo(const std::string& text) {
        ASSERT_EQ(::send(peer_, text.data(), text.size(), 0), static_cast<ssize_t>(text.size()));
    }
    // Waits until the reader has handed the main thread something, and lets the MIDI queue send
    // what was queued before; the main loop does not turn.
    void awaitReader() {
        ASSERT_TRUE(loop.waitForPost(5000ms));
        service->drain();
    }
    // Waits until the MIDI queue has sent `packets` more to the synth; the main loop does not
    // turn.
    void awaitOutput(std::size_t packets) {
        const auto deadline = std::chrono::steady_clock::now() + 5s;
        while (midi.receivedBy(synth).size() < synthSeen + packets) {
            ASSERT_LT(std::chrono::steady_clock::now(), deadline);
            loop.waitForPost(50ms);
            service->drain();
        }
    }
    // Turns the main loop until the link has applied every datagram sent so far, then settles:
    // the reader keeps datagrams in order, so a marker sent last is applied last.
    void awaitApplied() {
        const std::string mark = "mark " + std::to_string(++marks_);
        cadenzo(R"({"type":"MARKER_HIT","name":")" + mark + R"("})");
        const auto deadline = std::chrono::steady_clock::now() + 5s;
        while (lastMark_ != mark) {
            ASSERT_LT(std::chrono::steady_clock::now(), deadline);
            loop.waitForPost(50ms);
            loop.runPending();
        }
        settle();
    }
    void goTo(std::int64_t section, std::int64_t step = 0) {
        app->setCurrentSongIndex(0);
        app->jump(section);
        for (std::int64_t i = 0; i < step; ++i)
            app->nextStep();
        settle();
        synthHeard();
    }

    int peer_ = -1;
    int marks_ = 0;
    std::string lastMark_;
    Connection markers_;
};

// One FIRE or several in a row, each answered on the reader thread or left to the main thread;
// the main thread ends where the last one went, and nothing is sent twice.
TEST_F(FireReflexTest, FiresAreAnsweredOffTheMainThreadOrLeftToItExactlyAsItWouldMove) {
    startShow();
    struct Case {
        const char* name;
        Position from;
        std::vector<std::pair<int, int>> fires; // (song, section)
        Packets before;                         // heard while the main loop has not turned
        Position after;
        Packets later; // heard once it has
    };
    const std::vector<Case> cases{
        {"a section of the current song", {0, 0, 0}, {{0, 3}}, ccRound({3}), {0, 3, 0}, {}},
        {"from a later step", {0, 1, 1}, {{0, 4}}, ccRound({1, 2}), {0, 4, 0}, {}},
        {"a song outside the set leaves the current one",
         {0, 1, 0},
         {{7, 2}},
         ccRound({2}),
         {0, 2, 0},
         {}},
        {"a negative song index too", {0, 0, 0}, {{-1, 1}}, ccRound({1}), {0, 1, 0}, {}},
        {"the song just past the set's end", {0, 0, 0}, {{2, 3}}, ccRound({3}), {0, 3, 0}, {}},
        {"another song is the main thread's", {0, 2, 0}, {{1, 0}}, {}, {1, 0, 0}, ccRound({0, 3})},
        {"the section already current: its first step, on the main thread",
         {0, 1, 1},
         {{0, 1}},
         {},
         {0, 1, 0},
         ccRound({1})},
        {"a section outside the song: the step goes back and the state is sent again",
         {0, 2, 0},
         {{0, 9}},
         {},
         {0, 2, 0},
         ccRound({2})},
        {"another song, a section outside it: the section index stays",
         {0, 1, 0},
         {{1, -1}},
         {},
         {1, 1, 0},
         ccRound({})},
        {"two FIREs: the second steps on from the first",
         {0, 0, 0},
         {{0, 2}, {0, 4}},
         concat({ccRound({2}), ccRound({1, 2})}),
         {0, 4, 0},
         {}},
        {"back and forth",
         {0, 1, 0},
         {{0, 3}, {0, 1}},
         concat({ccRound({3}), ccRound({1})}),
         {0, 1, 0},
         {}},
        // The first is the main thread's and sends its section's mutes when it is handled, after
        // the second's went out: the second's are sent again, last.
        {"one left to the main thread, then one answered",
         {0, 1, 1},
         {{0, 1}, {0, 2}},
         ccRound({2}),
         {0, 2, 0},
         concat({ccRound({1}), ccRound({2})})},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        goTo(c.from.section, c.from.step);
        ASSERT_EQ(position(), c.from);
        for (const auto& [song, section] : c.fires)
            cadenzo(fireText(song, section));
        awaitReader();
        awaitOutput(c.before.size());
        EXPECT_EQ(synthHeard(), c.before);
        EXPECT_EQ(position(), c.from); // the main thread has not run
        awaitApplied();
        EXPECT_EQ(position(), c.after);
        EXPECT_EQ(synthHeard(), c.later); // nothing a second time
        EXPECT_FALSE(live->allOn());
    }
}

TEST_F(FireReflexTest, WhatIsNotAValidFireMovesNothingOnTheReaderThread) {
    startShow();
    std::string oversize = fireText(0, 3);
    oversize.insert(oversize.size() - 1, std::string(kMaxDatagramSize, ' '));
    std::string deep = R"({"type":"FIRE","songIdx":0,"sectionIdx":3,"x":)";
    for (int i = 0; i < 200; ++i)
        deep += "[";
    static constexpr char kNul[] = "{\"type\":\"FIRE\"\0,\"songIdx\":0,\"sectionIdx\":3}";
    const std::string withNul(kNul, sizeof kNul - 1);
    const std::vector<std::string> junk{
        "",
        "{",
        "null",
        R"(["FIRE",0,3])",
        R"({"type":"FIRE","songIdx":0})",
        R"({"type":"FIRE","songIdx":0,"sectionIdx":"3"})",
        R"({"type":"FIRE","songIdx":0,"sectionIdx":2.5})",
        R"({"type":"fire","songIdx":0,"sectionIdx":3})",
        R"({"type":"STRATA_HELLO","songIdx":0,"sectionIdx":3})",
        withNul,
        deep,
        oversize,
    };
    for (const std::string& datagram : junk)
        cadenzo(datagram);
    // The reader takes datagrams in order: once this one is through, so are the others.
    cadenzo(fireText(0, 2));
    awaitApplied();
    EXPECT_EQ(position(), (Position{0, 2, 0}));
    EXPECT_EQ(synthHeard(), ccRound({2}));
    EXPECT_FALSE(link->connection.get().isConnected());
}

} // namespace
