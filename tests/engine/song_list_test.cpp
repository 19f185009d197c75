#include "engine_fixture.h"

#include <functional>

using namespace strata;
using strata::testing::EngineTest;
using strata::testing::makeSet;

namespace {
using Names = std::vector<std::string>;
}

class SongList : public EngineTest {};

TEST_F(SongList, MoveAndDeleteKeepASensibleSelection) {
    struct Case {
        const char* what;
        std::int64_t current;
        std::function<void(AppState&)> op;
        Names songs;
        std::int64_t currentAfter;
    };
    const Case cases[] = {
        {"delete before the current song", 1, [](AppState& a) { a.deleteSong(0); }, {"B", "C"}, 1},
        {"delete before the last, current song",
         2,
         [](AppState& a) { a.deleteSong(0); },
         {"B", "C"},
         1},
        {"delete out of range", 1, [](AppState& a) { a.deleteSong(3); }, {"A", "B", "C"}, 1},
        {"move the current song up", 1, [](AppState& a) { a.moveSong(1, 0); }, {"B", "A", "C"}, 0},
        {"move a song down across the current one",
         1,
         [](AppState& a) { a.moveSong(0, 2); },
         {"B", "A", "C"},
         0},
        {"move down to the end", 0, [](AppState& a) { a.moveSong(1, 3); }, {"A", "C", "B"}, 0},
        {"move up from the top", 0, [](AppState& a) { a.moveSong(0, -1); }, {"A", "B", "C"}, 0},
        {"move with a far target", 2, [](AppState& a) { a.moveSong(0, 50); }, {"B", "C", "A"}, 1},
        {"move from out of range", 1, [](AppState& a) { a.moveSong(5, 0); }, {"A", "B", "C"}, 1},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        load(makeSet({{"A", {"a1", "a2"}}, {"B", {"b1", "b2"}}, {"C", {"c1", "c2"}}}));
        position(c.current, 1, 0);
        c.op(*app);
        EXPECT_EQ(songNames(), c.songs);
        EXPECT_EQ(app->currentSongIndex(), c.currentAfter);
    }
}

TEST_F(SongList, DeletingResetsTheSectionAndEmptiesSafely) {
    load(makeSet({{"A", {"a1", "a2"}}}));
    position(0, 1, 0);
    app->deleteSong(0);
    EXPECT_TRUE(app->setlist().songs.empty());
    EXPECT_EQ(app->currentSongIndex(), 0);
    EXPECT_EQ(app->currentSectionIndex(), 0);
    EXPECT_EQ(app->currentSong(), nullptr);
}

TEST_F(SongList, AddAndSelectMoveToTheSongsFirstSection) {
    load(makeSet({{"A", {"a1", "a2"}}}));
    position(0, 1, 1);
    app->addSong();
    EXPECT_EQ(songNames(), (Names{"A", "New Song"}));
    EXPECT_EQ(sectionNames(1), (Names{"Intro", "Verse", "Chorus"}));
    EXPECT_EQ(song(1).sections[0].steps.size(), 1u);
    EXPECT_FALSE(song(1).tempo);
    EXPECT_EQ(app->currentSongIndex(), 1);
    EXPECT_EQ(app->currentSectionIndex(), 0);
    EXPECT_EQ(app->currentStepIndex(), 1); // the step index is left alone

    app->selectSong(0);
    EXPECT_EQ(app->currentSongIndex(), 0);
    EXPECT_EQ(app->currentSectionIndex(), 0);
    app->selectSong(2);
    EXPECT_EQ(app->currentSongIndex(), 0);

    app->renameSong(1, "Encore");
    app->renameSet("Friday");
    EXPECT_EQ(song(1).name, "Encore");
    EXPECT_EQ(app->setlist().name, "Friday");
}

TEST_F(SongList, ImportAppendsOrReplacesAndSelectsTheFirstNewSong) {
    const std::string twoSongs = "Song X\nIntro\n\nSong Y\nVerse";
    struct Case {
        const char* what;
        int existingSongs;
        bool replace;
        Names songs;
        std::int64_t selected;
    };
    const Case cases[] = {
        {"append to three", 3, false, {"S0", "S1", "S2", "Song X", "Song Y"}, 3},
        {"append to none", 0, false, {"Song X", "Song Y"}, 0},
        {"replace", 3, true, {"Song X", "Song Y"}, 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        std::vector<strata::testing::SongSpec> existing;
        for (int i = 0; i < c.existingSongs; ++i)
            existing.push_back({"S" + std::to_string(i), {"a", "b"}});
        Setlist set = makeSet(existing);
        set.controlMode = ControlMode::mackieControl;
        set.mackieTrackOffset = 16;
        load(set);
        position(c.existingSongs > 0 ? c.existingSongs - 1 : 0, 1, 1);

        EXPECT_EQ(app->importSetlist(twoSongs, c.replace), 2);
        EXPECT_EQ(songNames(), c.songs);
        EXPECT_EQ(app->currentSongIndex(), c.selected);
        EXPECT_EQ(app->currentSectionIndex(), 0);
        EXPECT_EQ(app->currentStepIndex(), 0);
        // Only songs change.
        EXPECT_EQ(app->setlist().name, "Test Set");
        EXPECT_EQ(app->setlist().layers, set.layers);
        EXPECT_EQ(app->setlist().mackieTrackOffset, 16);
    }
}

TEST_F(SongList, ImportOfNothingChangesNothing) {
    load(makeSet({{"A", {"a1", "a2"}}, {"B", {"b1"}}}));
    position(1, 0, 2);
    int writes = 0;
    auto c = app->changed.connect([&] { ++writes; });
    for (const char* text : {"", "\n\n", " \t\r\n\u2028\u00A0"})
        EXPECT_EQ(app->importSetlist(text, true), 0);
    EXPECT_EQ(writes, 0);
    EXPECT_EQ(songNames(), (Names{"A", "B"}));
    EXPECT_EQ(app->currentSongIndex(), 1);
    EXPECT_EQ(app->currentStepIndex(), 2);
}

TEST_F(SongList, NewSetKeepsLayersAndTransport) {
    std::vector<strata::testing::SongSpec> ten;
    for (int i = 0; i < 10; ++i)
        ten.push_back({"S" + std::to_string(i), {"a", "b"}});
    Setlist set = makeSet(ten);
    set.controlMode = ControlMode::ccMute;
    set.mackiePort = "Port 9";
    set.mackieTrackOffset = 8;
    load(set);
    position(7, 1, 1);
    armMomentState();

    app->newSet();
    EXPECT_EQ(app->setlist().name, "Untitled Set");
    EXPECT_EQ(songNames(), Names{"New Song"});
    EXPECT_EQ(sectionNames(), (Names{"Intro", "Verse", "Chorus"}));
    EXPECT_EQ(app->setlist().layers, set.layers);
    EXPECT_EQ(app->setlist().controlMode, ControlMode::ccMute);
    EXPECT_EQ(app->setlist().mackiePort, "Port 9");
    EXPECT_EQ(app->setlist().mackieTrackOffset, 8);
    EXPECT_EQ(app->currentSongIndex(), 0);
    EXPECT_EQ(app->currentSectionIndex(), 0);
    EXPECT_EQ(app->currentStepIndex(), 0);
    EXPECT_FALSE(app->activeMomentMutedIDs().has_value());
}
