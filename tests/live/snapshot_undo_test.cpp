// Cadenzo's snapshots in the undo history: a step of their own that can be undone, never folded
// into what the performer is typing, and what the DAW hears follows the undo.

#include "engine/undo_history.h"
#include "live_rig.h"

using namespace strata;
using namespace strata::testing;

TEST_F(LiveTest, ASnapshotIsAnUndoStepOfItsOwnAndSplitsTheWordBeingTyped) {
    start(makeSet({{"Song", "Intro", "Verse", "Chorus"}}, ControlMode::ccMute));
    live->appear();
    settle();
    UndoHistory history(*app);

    const std::uint64_t session = history.newSession();
    const auto type = [&](const std::string& name) {
        history.beginEdit(session);
        app->renameSet(name);
        history.endEdit();
    };
    type("S");
    type("Su");
    cue(R"({"type":"SETLIST_SNAPSHOT","songs":[{"name":"Song","sections":["Intro","Verse"]}]})");
    settle();
    type("Sun");
    ASSERT_EQ(app->currentSong()->sections.size(), 2u);
    EXPECT_EQ(history.undoCount(), 3u);

    history.undo();
    EXPECT_EQ(app->setlist().name, "Su");
    history.undo();
    EXPECT_EQ(app->currentSong()->sections.size(), 3u);
    EXPECT_EQ(app->currentSong()->sections[2].name, "Chorus");
    history.undo();
    EXPECT_EQ(app->setlist().name, "Live");
}

TEST_F(LiveTest, UndoingAMuteEditResendsTheRestoredMutes) {
    start(makeSet({{"Song", "Intro", "Verse"}}, ControlMode::ccMute));
    live->appear();
    settle();
    synthHeard();
    UndoHistory history(*app);

    app->toggleLayer(layer(1).id, section(0).id, 0);
    settle();
    EXPECT_EQ(synthHeard(), ccRound({1}));

    history.undo();
    settle();
    EXPECT_EQ(synthHeard(), ccRound({}));
}
