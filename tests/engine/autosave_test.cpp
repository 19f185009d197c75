#include "engine_fixture.h"

#include <filesystem>
#include <fstream>

using namespace strata;
using namespace std::chrono_literals;
using strata::testing::EngineTest;
using strata::testing::makeSet;

namespace fs = std::filesystem;

class Autosave : public EngineTest {
protected:
    fs::path file() const { return Store::fileURL(location()); }
    bool written() const { return fs::exists(file()); }
    // Forgets the last write, so that the next one shows.
    void removeFile() { fs::remove(file()); }
    std::optional<std::string> storedName() const {
        const auto stored = Store::load(location());
        return stored ? std::optional<std::string>(stored->name) : std::nullopt;
    }
};

TEST_F(Autosave, TheLoadedSetIsWrittenOnceAfterTheDebounce) {
    loop.advance(399ms);
    EXPECT_FALSE(written());
    loop.advance(1ms);
    ASSERT_TRUE(written());
    const auto stored = Store::load(location());
    ASSERT_TRUE(stored);
    EXPECT_EQ(*stored, app->setlist());
    EXPECT_FALSE(app->hasUnsavedChanges());

    removeFile();
    loop.advance(10s);
    EXPECT_FALSE(written());
}

TEST_F(Autosave, ABurstOfEditsGivesOneWriteAfterTheLast) {
    loop.advance(400ms);
    removeFile();
    for (int i = 0; i < 10; ++i) {
        app->renameSet("Set " + std::to_string(i));
        loop.advance(30ms);
        EXPECT_FALSE(written()) << "after edit " << i;
    }
    loop.advance(339ms); // 369 ms after the last edit
    EXPECT_FALSE(written());
    loop.advance(31ms); // 400 ms after it
    ASSERT_TRUE(written());
    EXPECT_EQ(storedName(), "Set 9");

    removeFile();
    loop.advance(10s);
    EXPECT_FALSE(written());
}

TEST_F(Autosave, EditsThatChangeNothingDoNotWrite) {
    loop.advance(400ms);
    removeFile();
    app->renameSet(app->setlist().name);
    app->jump(3);
    app->setMode(StrataMode::pro);
    app->deleteSong(99);
    loop.advance(1s);
    EXPECT_FALSE(written());
}

TEST_F(Autosave, FlushWritesAPendingChangeAtOnce) {
    app->renameSet("Before quit");
    EXPECT_TRUE(app->hasUnsavedChanges());
    EXPECT_TRUE(app->flush());
    EXPECT_EQ(storedName(), "Before quit");
    EXPECT_FALSE(app->hasUnsavedChanges());

    // The debounce that was waiting is gone, and a flush with nothing pending writes nothing.
    removeFile();
    loop.advance(1s);
    EXPECT_TRUE(app->flush());
    EXPECT_FALSE(written());
}

TEST_F(Autosave, AFailedWriteStaysPendingForTheNextFlush) {
    const fs::path folder = file().parent_path();
    fs::remove_all(folder);
    { std::ofstream(folder) << "not a folder"; } // the store cannot write below a file
    app->renameSet("Kept");
    {
        strata::testing::LogCapture log;
        loop.advance(400ms);
        EXPECT_FALSE(log.linesStartingWith("[Store]").empty());
    }
    EXPECT_TRUE(app->hasUnsavedChanges());
    {
        strata::testing::LogCapture log;
        EXPECT_FALSE(app->flush());
    }

    fs::remove(folder);
    EXPECT_TRUE(app->flush());
    EXPECT_EQ(storedName(), "Kept");
}

TEST_F(Autosave, StartsFromTheStoredSetOrTheDefaultSet) {
    Setlist set = makeSet({{"Stored", {"A", "B"}}});
    set.controlMode = ControlMode::ccMute;
    ASSERT_TRUE(Store::save(location(), set));
    {
        MemorySettings other;
        AppState state(location(), other, loop);
        EXPECT_EQ(state.setlist(), set);
        EXPECT_EQ(state.currentSongIndex(), 0);
        EXPECT_EQ(state.currentSectionIndex(), 0);
        EXPECT_EQ(state.currentStepIndex(), 0);
    }
    {
        std::ofstream(file(), std::ios::trunc) << "{ not json";
        strata::testing::LogCapture log; // the store may say that it kept the file aside
        MemorySettings other;
        AppState state(location(), other, loop);
        EXPECT_EQ(state.setlist().name, "Untitled Set");
        ASSERT_EQ(state.setlist().songs.size(), 1u);
        EXPECT_EQ(state.setlist().songs[0].sections.size(), 8u);
    }
}
