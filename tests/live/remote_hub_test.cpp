// The band remote's core: its commands take the footswitch's way (the reflex first, else the main
// thread, exactly once), its state follows the set, and pairing resists guessing. Commands from
// the server's own thread: RemoteServerTest.

#include "live_rig.h"
#include "remote/remote_hub.h"

using namespace strata;
using namespace strata::testing;

namespace {

using Kind = RemoteCommand::Kind;

class RemoteHubTest : public LiveTest {
protected:
    void startShow() {
        Setlist set = makeSet({{"One", "Intro", "Verse", "Chorus"}, {"Two", "Start", "End"}},
                              ControlMode::ccMute);
        muteAt(set, 0, 1, 0, {1});
        muteAt(set, 0, 2, 0, {2});
        muteAt(set, 1, 0, 0, {0, 3});
        start(std::move(set));
        live->appear();
        makeHub();
        settle();
        synthHeard();
    }
    void makeHub() {
        hub.reset();
        hub = std::make_unique<RemoteHub>(*app, *live, *service, *link, loop, settings,
                                          [this] { return counter_++ * 2654435761U; });
        hub->setStateObserver([this] { ++stateChanges; });
    }
    ~RemoteHubTest() override { hub.reset(); }

    std::unique_ptr<RemoteHub> hub;
    int stateChanges = 0;
    std::uint32_t counter_ = 1;
};

TEST_F(RemoteHubTest, CommandsTakeTheFootswitchWayExactlyOnce) {
    startShow();
    struct Case {
        const char* name;
        Position from;
        RemoteCommand command;
        Packets beforeMainThread; // heard before the main thread has run
        Position after;
        Packets afterMainThread;
    };
    const std::vector<Case> cases{
        {"NEXT in the song: the reflex", {0, 0, 0}, {Kind::next, 0}, ccRound({1}), {0, 1, 0}, {}},
        {"a section: the reflex", {0, 0, 0}, {Kind::section, 2}, ccRound({2}), {0, 2, 0}, {}},
        {"NEXT on the last section: the main thread",
         {0, 2, 0},
         {Kind::next, 0},
         {},
         {1, 0, 0},
         ccRound({0, 3})},
        {"a section out of range: nothing", {0, 1, 0}, {Kind::section, 9}, {}, {0, 1, 0}, {}},
        {"PREV: the main thread", {0, 2, 0}, {Kind::prev, 0}, {}, {0, 1, 0}, ccRound({1})},
        {"a song: the main thread", {0, 1, 0}, {Kind::song, 1}, {}, {1, 0, 0}, ccRound({0, 3})},
        {"a song out of range: nothing", {0, 1, 0}, {Kind::song, 7}, {}, {0, 1, 0}, {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        app->setCurrentSongIndex(c.from.song);
        app->jump(c.from.section);
        settle();
        synthHeard();
        hub->command(c.command);
        service->drain();
        EXPECT_EQ(synthHeard(), c.beforeMainThread);
        EXPECT_EQ(position(), c.from);
        settle();
        EXPECT_EQ(position(), c.after);
        EXPECT_EQ(synthHeard(), c.afterMainThread);
    }

    // ALL ON: every layer sounds, as the toolbar's.
    app->setCurrentSongIndex(0);
    app->jump(2);
    settle();
    synthHeard();
    hub->command({Kind::allOn, 0});
    settle();
    EXPECT_TRUE(live->allOn());
    EXPECT_EQ(synthHeard(), ccRound({}));
}

TEST_F(RemoteHubTest, TheStateFollowsTheSetOncePerChange) {
    startShow();
    auto state = hub->state();
    EXPECT_EQ(state->songs, (Names{"One", "Two"}));
    EXPECT_EQ(state->song, "One");
    EXPECT_EQ(state->now, "Intro");
    EXPECT_EQ(state->next, "Verse");
    EXPECT_EQ((std::pair{state->step, state->steps}),
              (std::pair<std::int64_t, std::int64_t>{1, 1}));
    EXPECT_EQ(state->sections, (Names{"Intro", "Verse", "Chorus"}));
    stateChanges = 0;
    app->jump(2);
    app->renameSet("Saturday"); // two changes in one turn: one new state
    settle();
    EXPECT_EQ(stateChanges, 1);
    state = hub->state();
    EXPECT_EQ(state->setName, "Saturday");
    EXPECT_EQ(state->now, "Chorus");
    EXPECT_EQ(state->next, ""); // the last section: the next song is not named as NEXT
    live->panic();
    settle();
    EXPECT_TRUE(hub->state()->allOn);
    stateChanges = 0;
    app->jump(2); // no change
    settle();
    EXPECT_EQ(stateChanges, 0);
}

// Checking a token, a code or an OSC sender, pairing and revoking over the network:
// RemoteServerTest and RemoteProtocol.SecretsMatchOnlyWhenEqual. Here: guessing, and what outlives
// the program.
TEST_F(RemoteHubTest, PairingCodesResistGuessingAndEverythingButTheCodeIsKept) {
    startShow();
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

} // namespace
