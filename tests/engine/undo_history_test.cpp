// Undo and redo of the set over AppState's write funnel: typing bursts, import and new set, the
// position after an undo, what stays out of the history, and its bound.

#include "engine/undo_history.h"
#include "engine_fixture.h"

using namespace strata;
using namespace strata::testing;

namespace {

class Undo : public EngineTest {
protected:
    Undo() {
        load(makeSet({{"A", "a1", "a2"}, {"B", "b1", "b2", "b3"}, {"C", "c1"}}));
        history = std::make_unique<UndoHistory>(*app);
    }

    // Types `text` letter by letter into the set's name, as a field does in one visit.
    void typeSetName(const std::string& text, std::uint64_t session) {
        std::string typed;
        for (char c : text) {
            typed += c;
            history->beginEdit(session);
            app->renameSet(typed);
            history->endEdit();
        }
    }

    std::unique_ptr<UndoHistory> history;
};

// One visit of a field as one step, a second visit as another, and redo, through the real field:
// tst_setlist's undo test. Here: typing back to the start leaves no step, typing on in the same
// visit is one again, and a write from elsewhere in the middle of a visit starts the next step.
TEST_F(Undo, TypingBackToTheStartLeavesNoStepAndAForeignWriteInTheMiddleOfAVisitStartsTheNext) {
    const std::uint64_t session = history->newSession();
    typeSetName("Test Set!", session);
    history->beginEdit(session);
    app->renameSet("Test Set");
    history->endEdit();
    EXPECT_FALSE(history->canUndo());
    typeSetName("Live", session);
    app->renameSong(0, "Opener"); // not typing: e.g. a cue-link snapshot arriving
    typeSetName("Live!", session);
    EXPECT_EQ(history->undoCount(), 3u);

    const Names expected[] = {{"Live", "Opener"}, {"Live", "A"}, {"Test Set", "A"}};
    for (const auto& step : expected) {
        history->undo();
        EXPECT_EQ((Names{app->setlist().name, song(0).name}), step);
    }
    EXPECT_FALSE(history->canUndo());
    history->undo(); // nothing left: no-op
    EXPECT_EQ(app->setlist().name, "Test Set");

    history->redo();
    // A new edit drops what could be redone.
    app->renameSong(2, "Closer");
    EXPECT_FALSE(history->canRedo());
    EXPECT_EQ(history->undoCount(), 2u);
}

// The connection settings and the position are not part of the history: an undo leaves them.
TEST_F(Undo, ImportAndNewSetAreUndoneAndRedoneWholeAndTheConnectionSettingsAndPositionAreLeft) {
    app->renameSong(0, "Opener");
    app->updateSetlist([](Setlist& set) {
        set.controlMode = ControlMode::ccMute;
        set.mackiePort = "Port 9";
        set.mackieTrackOffset = 8;
        return true;
    });
    app->advance();
    const Setlist original = app->setlist();
    ASSERT_EQ(app->importSetlist("Song X\nIntro\n\nSong Y", false), 2);
    app->newSet();
    EXPECT_EQ(history->undoCount(), 3u);
    EXPECT_EQ(songNames(), (Names{"New Song"}));
    EXPECT_EQ(positionNow(), (std::array<std::int64_t, 3>{0, 0, 0}));
    // A new set keeps the layers and how the DAW is reached.
    EXPECT_EQ(app->setlist().layers, original.layers);
    EXPECT_EQ(app->setlist().controlMode, ControlMode::ccMute);
    EXPECT_EQ(app->setlist().mackiePort, "Port 9");
    EXPECT_EQ(app->setlist().mackieTrackOffset, 8);

    history->undo();
    EXPECT_EQ(songNames(), (Names{"Opener", "B", "C", "Song X", "Song Y"}));
    history->undo();
    EXPECT_EQ(app->setlist(), original);
    app->setCurrentSectionIndex(1);
    history->undo();
    EXPECT_EQ(song(0).name, "A");
    EXPECT_EQ(app->setlist().controlMode, ControlMode::ccMute);
    EXPECT_EQ(app->setlist().mackieTrackOffset, 8);
    EXPECT_EQ(app->currentSectionIndex(), 1);

    for (int i = 0; i < 3; ++i)
        history->redo();
    EXPECT_EQ(songNames(), (Names{"New Song"}));
    EXPECT_EQ(app->setlist().name, "Untitled Set");
    EXPECT_EQ(app->setlist().layers, original.layers);
}

// Where the performer lands after an undo (followed by id, else clamped): the Position table.
// Here, that an undo goes through it: a section deleted in front of the current one comes back,
// and the same section stays current with its step.
TEST_F(Undo, ThePerformerStaysOnTheSameSection) {
    app->selectSong(1);
    app->addStep(section(2, 1).id);
    position(1, 2, 1);
    app->deleteSection(0);
    EXPECT_EQ(positionNow(), (std::array<std::int64_t, 3>{1, 1, 0}));
    app->setCurrentStepIndex(1);
    history->undo();
    EXPECT_EQ(positionNow(), (std::array<std::int64_t, 3>{1, 2, 1}));
    EXPECT_EQ(app->currentSection()->name, "b3");
}

TEST_F(Undo, KeepsOnlyTheNewestStepsWithinItsLimitAndAlwaysTheNewestOne) {
    struct Row {
        const char* what;
        std::size_t limit, recordBudget, kept;
    };
    for (const Row& row : {Row{"a limit of three steps", 3, UndoHistory::kDefaultRecordBudget, 3},
                           Row{"a record budget smaller than one copy", 100, 1, 1}}) {
        SCOPED_TRACE(row.what);
        history = std::make_unique<UndoHistory>(*app, row.limit, row.recordBudget);
        for (int i = 1; i <= 5; ++i)
            app->renameSet("v" + std::to_string(i));
        EXPECT_EQ(history->undoCount(), row.kept);
        while (history->canUndo())
            history->undo();
        EXPECT_EQ(app->setlist().name, "v" + std::to_string(5 - row.kept));
        EXPECT_EQ(history->redoCount(), row.kept);
        while (history->canRedo())
            history->redo();
        EXPECT_EQ(app->setlist().name, "v5");
        EXPECT_EQ(history->undoCount(), row.kept);
    }
    history->clear();
    EXPECT_FALSE(history->canUndo());
    EXPECT_FALSE(history->canRedo());
}

TEST_F(Undo, AMomentPlayingOnTheCurrentSectionSurvivesAnUndoThatKeepsThatSection) {
    app->renameSection(1, "Solo");
    position(0, 1, 0);
    armMomentState();
    history->undo();
    EXPECT_EQ(app->currentSection()->name, "a2");
    EXPECT_TRUE(app->activeMomentMutedIDs().has_value());

    // An undo that takes the current section away moves the performer and ends the Moment.
    app->addSection();
    position(0, 2, 0);
    armMomentState();
    history->undo();
    EXPECT_EQ(app->currentSectionIndex(), 1);
    EXPECT_FALSE(app->activeMomentMutedIDs().has_value());
}

} // namespace
