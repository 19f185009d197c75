// The DAW host chosen for a set: what the coordinator sends on Ardour, and the toolbar's host
// controls.
#include "live_rig.h"

using namespace strata;
using namespace strata::testing;

namespace {

// Ardour toggles: 127 on the CC of each layer (A-D: channel i+1, CC 20+i) whose state changes.
Packets toggles(std::initializer_list<int> layers) {
    Packets out;
    for (int i : layers)
        out.push_back(
            {static_cast<std::uint8_t>(0xB0 | i), static_cast<std::uint8_t>(20 + i), 0x7F});
    return out;
}

} // namespace

TEST_F(LiveTest, TheSetsHostReachesEverySendSectionChangesPanicAndHostSwitch) {
    Setlist set = makeSet({{"One", "Intro", "Verse", "Chorus", "Outro"}}, ControlMode::ccMute);
    muteAt(set, 0, 1, 0, {1});
    muteAt(set, 0, 2, 0, {0, 2});
    set.dawHost = DawHost::ardour;
    start(std::move(set));
    live->appear();
    settle();
    EXPECT_EQ(synthHeard(), Packets{}); // every track is taken to sound at first

    // This host sends no echoes: a CC is toggled again once the answer to its last toggle could
    // have come.
    const auto afterAnswers = [this] { loop.advance(MidiService::kEchoHold); };
    app->advance();
    settle();
    EXPECT_EQ(synthHeard(), toggles({1}));
    afterAnswers();
    app->advance();
    settle();
    EXPECT_EQ(synthHeard(), toggles({0, 1, 2}));

    // ALL ON toggles what is muted (the coordinator hands the host on to the panic too).
    afterAnswers();
    live->panic();
    settle();
    EXPECT_EQ(synthHeard(), toggles({0, 2}));
    afterAnswers();
    app->advance(); // the outro mutes nothing, as the panic left it
    settle();
    EXPECT_EQ(synthHeard(), Packets{});

    // Back on Logic Pro / MainStage: every layer's state, at once and once.
    live->setDawHost(DawHost::logic);
    EXPECT_FALSE(app->setlist().dawHost);
    service->drain();
    EXPECT_EQ(synthHeard(), ccRound({}));
    settle();
    EXPECT_EQ(synthHeard(), Packets{});
    live->setDawHost(DawHost::logic); // no change: nothing
    settle();
    EXPECT_EQ(synthHeard(), Packets{});
}
