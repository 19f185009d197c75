#include "engine_fixture.h"

#include <filesystem>
#include <fstream>

using namespace strata;
using namespace strata::testing;
using namespace std::chrono_literals;
namespace fs = std::filesystem;

// Each test forgets a write by removing the file, so that the next write shows.
class Autosave : public EngineTest {
protected:
    fs::path file() const { return Store::fileURL(location()); }
    bool written() const { return fs::exists(file()); }
    std::optional<std::string> storedName() const {
        const auto stored = Store::load(location());
        return stored ? std::optional(stored->name) : std::nullopt;
    }
};

TEST_F(Autosave, TheLoadedSetIsWrittenOnceAfterTheDebounce) {
    loop.advance(399ms);
    EXPECT_FALSE(written());
    loop.advance(1ms);
    ASSERT_TRUE(written());
    EXPECT_EQ(Store::load(location()), app->setlist());
    fs::remove(file());
    loop.advance(10s);
    EXPECT_FALSE(written());
}

TEST_F(Autosave, ABurstOfEditsGivesOneWriteAfterTheLast) {
    loop.advance(400ms);
    fs::remove(file());
    for (int i = 0; i < 10; ++i) {
        app->renameSet("Set " + std::to_string(i));
        loop.advance(30ms);
    }
    loop.advance(339ms); // 369 ms after the last edit
    EXPECT_FALSE(written());
    loop.advance(31ms);
    EXPECT_EQ(storedName(), "Set 9");
    fs::remove(file());
    app->jump(3); // not an edit
    loop.advance(10s);
    EXPECT_FALSE(written());
}

TEST_F(Autosave, FlushWritesAPendingChangeAtOnce) {
    app->renameSet("Before quit");
    EXPECT_TRUE(app->flush());
    EXPECT_EQ(storedName(), "Before quit");
    fs::remove(file());
    loop.advance(1s); // the debounce that was waiting is gone
    EXPECT_TRUE(app->flush());
    EXPECT_FALSE(written());
}

TEST_F(Autosave, AFailedWriteStaysPendingForTheNextFlush) {
    const fs::path folder = file().parent_path();
    fs::remove_all(folder);
    std::ofstream(folder) << "a file where the folder belongs";
    app->renameSet("Kept");
    LogCapture log;
    loop.advance(400ms);
    EXPECT_EQ(log.linesStartingWith("[Store]").size(), 1u);
    EXPECT_TRUE(app->hasUnsavedChanges());
    EXPECT_FALSE(app->flush());

    fs::remove(folder);
    EXPECT_TRUE(app->flush());
    EXPECT_EQ(storedName(), "Kept");
}

TEST_F(Autosave, StartsFromTheStoredSetOrTheDefaultSet) {
    const Setlist set = makeSet({{"Stored", "A", "B"}});
    ASSERT_TRUE(Store::save(location(), set));
    MemorySettings other;
    EXPECT_EQ(AppState(location(), other, loop).setlist(), set);

    std::ofstream(file(), std::ios::trunc) << "{ not json";
    LogCapture log; // the store says that it kept the file aside
    const AppState fallback(location(), other, loop);
    EXPECT_EQ(fallback.setlist().name, "Untitled Set");
    EXPECT_EQ(fallback.setlist().songs.at(0).sections.size(), 8u);
}
