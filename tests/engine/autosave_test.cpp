#include "engine_fixture.h"

#include <filesystem>
#include <fstream>

using namespace strata;
using namespace strata::testing;
using namespace std::chrono_literals;
namespace fs = std::filesystem;

// Each test forgets a write by removing the file, so that the next write shows.
class Saving : public EngineTest {
protected:
    fs::path file() const { return Store::filePath(location()); }
    bool written() const { return fs::exists(file()); }
    std::optional<std::string> storedName() const {
        const auto stored = Store::load(location());
        return stored ? std::optional(stored->name) : std::nullopt;
    }
};

TEST_F(Saving, TheLoadedSetAndABurstOfEditsAreEachWrittenOnceAfterTheDebounceOrAtOnceOnAFlush) {
    loop.advance(399ms);
    EXPECT_FALSE(written());
    loop.advance(1ms);
    ASSERT_TRUE(written());
    EXPECT_EQ(Store::load(location()), app->setlist());
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

    app->renameSet("Before quit"); // a flush writes a pending change at once
    EXPECT_TRUE(app->flush());
    EXPECT_EQ(storedName(), "Before quit");
    fs::remove(file());
    loop.advance(1s); // the debounce that was waiting is gone
    EXPECT_TRUE(app->flush());
    EXPECT_FALSE(written());
}

// The folder is blocked by a file of the same name, so that every write fails (even for root).
// Reporting once per episode and saving everything once repaired, on real file systems that fill
// up or turn read-only: BadDisk in the storage suite; the notice shown per episode: tst_notices.
TEST_F(Saving, AFailingDiskTellsWhyUntilItWorksAndThenStopsRetrying) {
    const fs::path folder = file().parent_path();
    loop.advance(400ms);
    fs::remove_all(folder);
    std::ofstream(folder) << "a file where the folder belongs";
    LogCapture log;
    // What the window is told: the start of the episode and its end, nothing in between.
    std::vector<std::optional<SaveFailure>> told;
    const Connection watch =
        app->saveFailure.changed.connect([&](const auto& failure) { told.push_back(failure); });
    app->renameSet("Edit");
    loop.advance(400ms);
    app->renameSet("Kept");
    EXPECT_FALSE(app->flush());
    loop.advance(1min); // a dozen retries
    ASSERT_EQ(told.size(), 1u);
    ASSERT_TRUE(told.back().has_value());
    EXPECT_TRUE(told.back()->code == std::errc::not_a_directory) << told.back()->detail;
    EXPECT_NE(told.back()->detail.find(folder.string()), std::string::npos);
    EXPECT_EQ(app->saveFailure(), told.back());

    // Writing works again: the next retry saves everything, without another edit.
    fs::remove(folder);
    loop.advance(AppState::kSaveRetry);
    EXPECT_EQ(storedName(), "Kept");
    ASSERT_EQ(told.size(), 2u);
    EXPECT_EQ(told.back(), std::nullopt);
    // Retries end with the episode.
    fs::remove(file());
    loop.advance(1min);
    EXPECT_FALSE(written());
}

TEST_F(Saving, StartsFromTheStoredSetOrTheDefaultSet) {
    const Setlist set = makeSet({{"Stored", "A", "B"}});
    ASSERT_TRUE(Store::write(location(), set));
    MemorySettings other;
    const AppState stored(location(), other, loop);
    EXPECT_EQ(stored.setlist(), set);
    EXPECT_EQ(stored.loadProblem(), std::nullopt);

    std::ofstream(file(), std::ios::trunc) << "{ not json";
    LogCapture log; // the store says that it kept the file aside
    const AppState fallback(location(), other, loop);
    EXPECT_EQ(fallback.setlist().name, "Untitled Set");
    EXPECT_EQ(fallback.setlist().songs.at(0).sections.size(), 8u);
    // The window is told where the unreadable file went (its wording: tst_notices; the file
    // kept aside: the Store tests).
    const auto& problem = fallback.loadProblem();
    ASSERT_TRUE(problem.has_value());
    ASSERT_TRUE(problem->keptAs.has_value());
    EXPECT_TRUE(fs::exists(*problem->keptAs));

    // No file at all is a first start, not a problem.
    fs::remove(file());
    EXPECT_EQ(AppState(location(), other, loop).loadProblem(), std::nullopt);
}
