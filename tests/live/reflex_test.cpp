// Moves answered before the main thread has run: presses on the MIDI side, the band remote's
// commands, and Cadenzo's FIRE on the cue link's reader thread. The mutes go out at once, the main
// thread takes the position over later, once, without sending again, and whatever cannot be
// answered so is the main thread's as before. The link reads one end of a socket pair, so the
// reader thread is the real one without any network. The remote's state and pairing too; its
// commands from the server's own thread: RemoteServerTest.

#include "live_rig.h"
#include "model/setlist_codec.h"
#include "remote/remote_hub.h"

#include <atomic>
#include <chrono>
#include <string>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>

using namespace strata;
using namespace strata::testing;
using namespace std::chrono_literals;

namespace {

using Kind = RemoteCommand::Kind;

std::string fireText(std::int64_t song, std::int64_t section) {
    return R"({"type":"FIRE","songIdx":)" + std::to_string(song) + R"(,"sectionIdx":)" +
           std::to_string(section) + "}";
}

const Bytes kNextPress{0x90, 36, 100};
const Bytes kJumpPress{0xB0, 27, 127};
Bytes program(std::uint8_t n) {
    return {0xC0, n};
}

class ReflexTest : public LiveTest {
protected:
    ~ReflexTest() override {
        hub.reset();
        stop();
        if (peer_ >= 0)
            ::close(peer_);
    }

    // Song "One": five sections, section k muting layer k (section 0 none, section 4 B and C);
    // section 1 has a second step muting A, section 3 one muting A and B, and a jump trigger
    // (CC 27). Song "Two": its first section mutes A and D. NEXT is the pedal's note 36.
    void startShow() {
        Setlist set = makeSet(
            {{"One", "Intro", "Verse", "Bridge", "Chorus", "Outro"}, {"Two", "Start", "End"}},
            ControlMode::ccMute);
        muteAt(set, 0, 1, 0, {1});
        muteAt(set, 0, 2, 0, {2});
        muteAt(set, 0, 3, 0, {3});
        muteAt(set, 0, 4, 0, {1, 2});
        set.songs[0].sections[3].steps.push_back(SectionStep::fresh());
        muteAt(set, 0, 3, 1, {0, 1});
        set.songs[0].sections[1].steps.push_back(SectionStep::fresh());
        muteAt(set, 0, 1, 1, {0});
        muteAt(set, 1, 0, 0, {0, 3});
        set.songs[0].sections[3].jumpTrigger =
            AdvanceTrigger{"Pedal", AdvanceTrigger::Kind::cc, 27};
        storeNextTrigger(settings, {"Pedal", AdvanceTrigger::Kind::note, 36});
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
    void makeHub() {
        hub.reset();
        hub = std::make_unique<RemoteHub>(*app, *live, *service, *link, loop, settings,
                                          [this] { return counter_++ * 2654435761U; });
        hub->setStateObserver([this] { ++stateChanges; });
    }
    // Lets the MIDI queue send without running anything the main thread was handed.
    void sendOnly() { service->drain(); }

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
    // A position, reached on the main thread, with what it sent heard.
    void goTo(std::int64_t section, std::int64_t step = 0, std::int64_t song = 0) {
        app->setCurrentSongIndex(song);
        app->jump(section);
        for (std::int64_t i = 0; i < step; ++i)
            app->nextStep();
        settle();
        synthHeard();
    }

    std::unique_ptr<RemoteHub> hub;
    int stateChanges = 0;
    std::uint32_t counter_ = 1;
    int peer_ = -1;
    int marks_ = 0;
    std::string lastMark_;
    Connection markers_;
};

} // namespace

// Presses and the remote's commands: what the MIDI side can answer is heard before the main thread
// runs, and the main thread only takes the move over; the rest waits for the main thread.
TEST_F(ReflexTest, PressesAndCommandsAreAnsweredBeforeTheMainThreadRunsOrLeftToIt) {
    startShow();
    makeHub();
    const auto press = [&](const Bytes& message) { return [&, message] { footswitch(message); }; };
    const auto command = [&](Kind kind, std::int64_t index) {
        return [&, kind, index] { hub->command({kind, index}); };
    };
    struct Case {
        const char* name;
        Position from; // reached on the main thread, after the last case's moves
        std::vector<std::function<void()>> moves;
        Packets before; // heard while the main thread has not run
        Position after;
        Packets later; // heard once it has
    };
    const std::vector<Case> cases{
        {"one NEXT", {0, 0, 0}, {press(kNextPress)}, ccRound({1}), {0, 1, 0}, {}},
        {"two NEXTs: the second steps on from the first",
         {0, 0, 0},
         {press(kNextPress), press(kNextPress)},
         concat({ccRound({1}), ccRound({2})}),
         {0, 2, 0},
         {}},
        {"a jump trigger", {0, 0, 0}, {press(kJumpPress)}, ccRound({3}), {0, 3, 0}, {}},
        // The jump triggers are the current song's.
        {"the first song's jump trigger in the second",
         {1, 0, 0},
         {press(kJumpPress)},
         {},
         {1, 0, 0},
         {}},
        {"a jump trigger without a current song",
         {5, 0, 0},
         {press(kJumpPress)},
         {},
         {5, 0, 0},
         {}},
        {"a program change", {0, 0, 0}, {press(program(4))}, ccRound({1, 2}), {0, 4, 0}, {}},
        {"NEXT, then a jump",
         {0, 0, 0},
         {press(kNextPress), press(kJumpPress)},
         concat({ccRound({1}), ccRound({3})}),
         {0, 3, 0},
         {}},
        // Section 3's second step mutes A and B.
        {"a program change keeps the step, as the main thread does",
         {0, 1, 1},
         {press(program(3))},
         ccRound({0, 1}),
         {0, 3, 1},
         {}},
        {"NEXT from where the main thread moved",
         {0, 2, 0},
         {press(kNextPress)},
         ccRound({3}),
         {0, 3, 0},
         {}},
        {"NEXT on the song's last section goes to the next song",
         {0, 4, 0},
         {press(kNextPress)},
         {},
         {1, 0, 0},
         ccRound({0, 3})},
        {"a jump to the section already current resets the step",
         {0, 3, 1},
         {press(kJumpPress)},
         {},
         {0, 3, 0},
         ccRound({3})},
        {"a program change out of the song", {0, 0, 0}, {press(program(9))}, {}, {0, 0, 0}, {}},
        {"the remote's NEXT", {0, 0, 0}, {command(Kind::next, 0)}, ccRound({1}), {0, 1, 0}, {}},
        {"the remote's section",
         {0, 0, 0},
         {command(Kind::section, 2)},
         ccRound({2}),
         {0, 2, 0},
         {}},
        {"the remote's NEXT on the last section",
         {0, 4, 0},
         {command(Kind::next, 0)},
         {},
         {1, 0, 0},
         ccRound({0, 3})},
        {"the remote's section out of range",
         {0, 1, 0},
         {command(Kind::section, 9)},
         {},
         {0, 1, 0},
         {}},
        {"the remote's PREV", {0, 2, 0}, {command(Kind::prev, 0)}, {}, {0, 1, 0}, ccRound({1})},
        {"the remote's song", {0, 1, 0}, {command(Kind::song, 1)}, {}, {1, 0, 0}, ccRound({0, 3})},
        {"the remote's song out of range", {0, 1, 0}, {command(Kind::song, 7)}, {}, {0, 1, 0}, {}},
        {"a press while learning is learned",
         {0, 0, 0},
         {[&] { live->learnJumpTrigger(section(2).id); }, press(kNextPress)},
         {},
         {0, 0, 0},
         {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        goTo(c.from.section, c.from.step, c.from.song);
        ASSERT_EQ(position(), c.from);
        for (const auto& move : c.moves)
            move();
        sendOnly();
        EXPECT_EQ(synthHeard(), c.before);
        EXPECT_EQ(position(), c.from); // the main thread has not run
        settle();
        EXPECT_EQ(position(), c.after);
        EXPECT_EQ(synthHeard(), c.later); // nothing a second time
        EXPECT_FALSE(live->allOn());
    }
    // The learn took the press.
    EXPECT_EQ(section(2).jumpTrigger, (AdvanceTrigger{"Pedal", AdvanceTrigger::Kind::note, 36}));

    // The remote's ALL ON: every layer sounds, as the toolbar's.
    goTo(2);
    hub->command({Kind::allOn, 0});
    settle();
    EXPECT_TRUE(live->allOn());
    EXPECT_EQ(synthHeard(), ccRound({}));
}

TEST_F(ReflexTest, AnEditBeforeTheMoveIsTakenOverIsSentAfterIt) {
    startShow();
    footswitch(kNextPress);
    sendOnly();
    EXPECT_EQ(synthHeard(), ccRound({1}));
    // The main thread, still busy with an edit, mutes A in the section the press went to.
    app->toggleLayer(layer(0).id, section(1).id, 0);
    settle();
    EXPECT_EQ(position(), (Position{0, 1, 0}));
    EXPECT_EQ(synthHeard(), ccRound({0, 1}));
}

TEST_F(ReflexTest, PressesFromAnotherThreadWhileTheMainThreadEditsEndWhereTheyShould) {
    startShow();
    // Four NEXT presses from section 0 on an input thread, each after the main thread has made
    // one more edit (of the second song: a new snapshot each time) and taken over what it could.
    std::atomic<int> edits{0};
    std::atomic<bool> done{false};
    std::thread input([&] {
        for (int i = 0; i < 4; ++i) {
            while (edits.load() <= i)
                std::this_thread::yield();
            footswitch(kNextPress);
        }
        done = true;
    });
    while (!done.load()) {
        app->renameSong(1, "Two " + std::to_string(edits.load()));
        ++edits;
        loop.runPending();
    }
    input.join();
    settle();
    EXPECT_EQ(position(), (Position{0, 4, 0}));
    // One round per press, in order, none twice.
    EXPECT_EQ(synthHeard(), concat({ccRound({1}), ccRound({2}), ccRound({3}), ccRound({1, 2})}));
}

TEST_F(ReflexTest, ACoordinatorMadeAnewOverTheSameEngineStepsFromThePositionItPublishes) {
    startShow();
    footswitch(kNextPress);
    settle();
    EXPECT_EQ(position(), (Position{0, 1, 0}));
    live.reset();
    app->jump(3);
    live = std::make_unique<LiveCoordinator>(*app, *service, *link, loop, settings, location());
    live->appear();
    settle();
    synthHeard();
    footswitch(kNextPress);
    sendOnly();
    EXPECT_EQ(synthHeard(), ccRound({1, 2}));
    settle();
    EXPECT_EQ(position(), (Position{0, 4, 0}));
}

// One FIRE or several in a row, each answered on the reader thread or left to the main thread;
// the main thread ends where the last one went, and nothing is sent twice.
TEST_F(ReflexTest, FiresAreAnsweredOffTheMainThreadOrLeftToItExactlyAsItWouldMove) {
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

TEST_F(ReflexTest, WhatIsNotAValidFireMovesNothingOnTheReaderThread) {
    startShow();
    // The reader decodes with the link's own decoder (its cases: the CueMessages tables; a
    // datagram longer than the buffer: CadenzoLinkNet.OversizeDatagramsAreDroppedNotCut). Here,
    // that what it does not decode as a FIRE moves nothing before the main thread runs.
    const std::vector<std::string> junk{
        "",
        "{",
        R"({"type":"FIRE","songIdx":0})",
        R"({"type":"FIRE","songIdx":0,"sectionIdx":2.5})",
        R"({"type":"fire","songIdx":0,"sectionIdx":3})",
        R"({"type":"STRATA_HELLO","songIdx":0,"sectionIdx":3})",
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

TEST_F(ReflexTest, TheStateFollowsTheSetOncePerChange) {
    startShow();
    makeHub();
    auto state = hub->state();
    EXPECT_EQ(state->songs, (Names{"One", "Two"}));
    EXPECT_EQ(state->song, "One");
    EXPECT_EQ(state->now, "Intro");
    EXPECT_EQ(state->next, "Verse");
    EXPECT_EQ((std::pair{state->step, state->steps}),
              (std::pair<std::int64_t, std::int64_t>{1, 1}));
    EXPECT_EQ(state->sections, (Names{"Intro", "Verse", "Bridge", "Chorus", "Outro"}));
    stateChanges = 0;
    app->jump(4);
    app->renameSet("Saturday"); // two changes in one turn: one new state
    settle();
    EXPECT_EQ(stateChanges, 1);
    state = hub->state();
    EXPECT_EQ(state->setName, "Saturday");
    EXPECT_EQ(state->now, "Outro");
    EXPECT_EQ(state->next, ""); // the last section: the next song is not named as NEXT
    live->panic();
    settle();
    EXPECT_TRUE(hub->state()->allOn);
    stateChanges = 0;
    app->jump(4); // no change
    settle();
    EXPECT_EQ(stateChanges, 0);
}

// Checking a token, a code or an OSC sender, pairing and revoking over the network:
// RemoteServerTest and RemoteProtocol.SecretsMatchOnlyWhenEqual. Here: guessing, and what outlives
// the program.
TEST_F(ReflexTest, PairingCodesResistGuessingAndEverythingButTheCodeIsKept) {
    startShow();
    makeHub();
    const std::string token = hub->viewerToken();
    EXPECT_EQ(token.size(), 32U);
    const std::string code = hub->pairingCode();
    EXPECT_EQ(code.size(), 6U);
    const auto key = hub->pair(code, "Drums");
    ASSERT_TRUE(key);
    EXPECT_FALSE(hub->controlKeyValid(token));

    // Guessing: after too many wrong codes the code shown changes, so the old one no longer pairs.
    std::string wrong = hub->pairingCode();
    wrong[0] = wrong[0] == '0' ? '1' : '0';
    for (int i = 0; i < RemoteHub::kMaxPairingAttempts; ++i)
        EXPECT_FALSE(hub->pair(wrong, "Guess"));
    EXPECT_NE(hub->pairingCode(), code);
    EXPECT_FALSE(hub->pair(code, "Late"));

    RemoteConfig config = hub->config();
    config.oscEnabled = true;
    config.oscAllowed = {"127.0.0.1"};
    config.webEnabled = true;
    config.webPort = 9000;
    hub->setConfig(config);

    // Everything but the pairing code outlives the program; nothing of it is in the set.
    settle();
    makeHub();
    EXPECT_EQ(hub->config(), config);
    EXPECT_EQ(hub->viewerToken(), token);
    EXPECT_TRUE(hub->controlKeyValid(*key));
    ASSERT_EQ(hub->pairings().size(), 1U);
    EXPECT_EQ(hub->pairings()[0].device, "Drums");
    hub->revoke(hub->pairings().at(0).id);
    makeHub();
    EXPECT_TRUE(hub->pairings().empty());
    hub->renewViewerToken();
    EXPECT_FALSE(hub->viewerTokenMatches(token));
    EXPECT_EQ(encodeSetlist(app->setlist())->find("remote"), std::string::npos);
}
