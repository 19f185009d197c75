#include "engine_fixture.h"

#include <functional>

using namespace strata;
using namespace strata::testing;

class SongList : public EngineTest {};

TEST_F(SongList, MoveAndDeleteKeepTheSelectionSensible) {
    struct Case {
        const char* what;
        std::int64_t current;
        std::function<void(AppState&)> op;
        Names songs;
        std::int64_t currentAfter;
        std::int64_t sectionAfter; // from section 1: a delete starts the song over, a move not
    };
    // clang-format off
    const Case cases[] = {
        {"delete before the current song", 1, [](AppState& a) { a.deleteSong(0); },   {"B", "C"}, 1, 0},
        {"delete before the last song",    2, [](AppState& a) { a.deleteSong(0); },   {"B", "C"}, 1, 0},
        {"delete the current song",        1, [](AppState& a) { a.deleteSong(1); },   {"A", "C"}, 1, 0},
        {"delete the current, last song",  2, [](AppState& a) { a.deleteSong(2); },   {"A", "B"}, 1, 0},
        {"delete after the current song",  0, [](AppState& a) { a.deleteSong(2); },   {"A", "B"}, 0, 0},
        {"delete out of range",            1, [](AppState& a) { a.deleteSong(3); },   {"A", "B", "C"}, 1, 1},
        {"move the current song up",       1, [](AppState& a) { a.moveSong(1, 0); },  {"B", "A", "C"}, 0, 1},
        {"move one across the current",    1, [](AppState& a) { a.moveSong(0, 2); },  {"B", "A", "C"}, 0, 1},
        {"move one up across the current", 1, [](AppState& a) { a.moveSong(2, 0); },  {"C", "A", "B"}, 2, 1},
        {"move down to the end",           0, [](AppState& a) { a.moveSong(1, 3); },  {"A", "C", "B"}, 0, 1},
        {"move up from the top",           0, [](AppState& a) { a.moveSong(0, -1); }, {"A", "B", "C"}, 0, 1},
        {"move far past the end",          2, [](AppState& a) { a.moveSong(0, 50); }, {"B", "C", "A"}, 1, 1},
        {"move from out of range",         1, [](AppState& a) { a.moveSong(5, 0); },  {"A", "B", "C"}, 1, 1},
    };
    // clang-format on
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        load(makeSet({{"A", "a1", "a2"}, {"B", "b1", "b2"}, {"C", "c1", "c2"}}));
        position(c.current, 1, 0);
        c.op(*app);
        EXPECT_EQ(songNames(), c.songs);
        EXPECT_EQ(app->currentSongIndex(), c.currentAfter);
        EXPECT_EQ(app->currentSectionIndex(), c.sectionAfter);
    }
    load(makeSet({{"A", "a1", "a2"}}));
    position(0, 1, 0);
    app->deleteSong(0);
    EXPECT_EQ(app->currentSongIndex(), 0);
    EXPECT_EQ(app->currentSectionIndex(), 0);
}

TEST_F(SongList, ImportAppendsOrReplacesAndSelectsTheFirstNewSong) {
    struct Case {
        const char* what;
        int existing;
        bool replace;
        Names songs;
        std::int64_t selected;
    };
    const Case cases[] = {
        {"append to three", 3, false, {"S", "S", "S", "Song X", "Song Y"}, 3},
        {"append to none", 0, false, {"Song X", "Song Y"}, 0},
        {"replace", 3, true, {"Song X", "Song Y"}, 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        Setlist set =
            makeSet(std::vector<Names>(static_cast<std::size_t>(c.existing), {"S", "a", "b"}));
        set.mackieTrackOffset = 16;
        load(set);
        position(std::max(c.existing - 1, 0), 1, 1);

        EXPECT_EQ(app->importSetlist("Song X\nIntro\n\nSong Y\nVerse", c.replace), 2);
        EXPECT_EQ(songNames(), c.songs);
        EXPECT_EQ(positionNow(), (std::array<std::int64_t, 3>{c.selected, 0, 0}));
        EXPECT_EQ(app->setlist().name, "Test Set"); // only the songs change
        EXPECT_EQ(app->setlist().layers, set.layers);
        EXPECT_EQ(app->setlist().mackieTrackOffset, 16);
    }

    // Text without a song changes nothing at all.
    int changes = 0;
    auto c = app->changed.connect([&] { ++changes; });
    for (const char* text : {"", "\n\n", " \t\r\n\u2028\u00A0"})
        EXPECT_EQ(app->importSetlist(text, true), 0);
    EXPECT_EQ(changes, 0);
    EXPECT_EQ(songNames(), (Names{"Song X", "Song Y"}));
}
