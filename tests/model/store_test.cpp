#include "model/setlist_codec.h"
#include "model/store.h"
#include "support/test_support.h"

#include <cstdlib>
#include <fstream>
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

using namespace strata;
using strata::testing::filesIn;
using strata::testing::LogCapture;
using strata::testing::readFile;
using strata::testing::TempDir;
namespace fs = std::filesystem;

namespace {

void writeFile(const fs::path& path, std::string_view bytes) {
    std::ofstream out(path, std::ios::binary);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

// Sets an environment variable (nullptr: unsets it); returns the value it had.
std::optional<std::string> setEnv(const char* name, const char* value) {
    const char* old = std::getenv(name);
    std::optional<std::string> was = old ? std::optional<std::string>(old) : std::nullopt;
    value ? ::setenv(name, value, 1) : ::unsetenv(name);
    return was;
}

} // namespace

TEST(StoreLocation, FollowsXdgDataHomeThenHomeAndFallsBackToHome) {
    TempDir tmp;
    const std::string home = (tmp.path() / "h").string();
    const auto oldHome = setEnv("HOME", home.c_str());
    const auto oldXdg = setEnv("XDG_DATA_HOME", nullptr);
    struct Row {
        const char* xdg;
        fs::path expected;
    };
    const std::string xdg = (tmp.path() / "xdg").string();
    const std::vector<Row> rows = {
        {xdg.c_str(), tmp.path() / "xdg"},
        {nullptr, tmp.path() / "h/.local/share"},
        {"", tmp.path() / "h/.local/share"},
        {"relative/data", tmp.path() / "h/.local/share"},
    };
    for (const auto& row : rows) {
        setEnv("XDG_DATA_HOME", row.xdg);
        const auto location = StoreLocation::fromEnvironment();
        EXPECT_EQ(location.applicationSupport, row.expected);
        EXPECT_EQ(location.home, fs::path(home));
        const auto file = Store::filePath(location);
        EXPECT_EQ(file, row.expected / "KorvelPatches" / "setlist.json");
        EXPECT_TRUE(fs::is_directory(file.parent_path())); // the folders are created
    }
    // Where the data folder cannot be made, the home folder takes the file.
    writeFile(tmp.path() / "data", "a file where the folder should be");
    fs::create_directories(tmp.path() / "home");
    EXPECT_EQ(Store::filePath(StoreLocation::under(tmp.path())),
              tmp.path() / "home" / "KorvelPatches" / "setlist.json");
    StoreLocation none{std::nullopt, tmp.path() / "home"};
    EXPECT_EQ(Store::filePath(none), tmp.path() / "home" / "KorvelPatches" / "setlist.json");
    setEnv("HOME", oldHome ? oldHome->c_str() : nullptr);
    setEnv("XDG_DATA_HOME", oldXdg ? oldXdg->c_str() : nullptr);
}

TEST(Store, UnreadableFileIsKeptAsideBeforeAnySaveCanReplaceIt) {
    TempDir tmp;
    const auto location = StoreLocation::under(tmp.path());
    const auto file = Store::filePath(location);
    for (std::string_view damaged : {std::string_view("{\"name\": \"half a fi"),
                                     std::string_view("{\"name\":\"x\",\"songs\":[],\"layers\":[],"
                                                      "\"controlMode\":\"telepathy\"}")}) {
        writeFile(file, damaged);
        LogCapture log;
        Store::LoadProblem problem;
        EXPECT_FALSE(Store::load(location, &problem));
        const auto lines = log.linesStartingWith("[Store] ");
        ASSERT_EQ(lines.size(), 1u);
        EXPECT_EQ(log.lines().size(), 1u);
        EXPECT_FALSE(fs::exists(file));
        ASSERT_TRUE(Store::write(location, Setlist::empty()));
        // The damaged bytes survive under a name that says what happened.
        std::optional<fs::path> aside;
        for (const auto& name : filesIn(file.parent_path()))
            if (name.starts_with("setlist.unreadable-") &&
                readFile(file.parent_path() / name) == damaged)
                aside = name;
        ASSERT_TRUE(aside);
        EXPECT_EQ(aside->extension(), ".json");
        EXPECT_NE(lines[0].find(aside->string()), std::string::npos) << lines[0];
        // The caller learns the same, to tell the user.
        EXPECT_EQ(problem.keptAs, file.parent_path() / *aside);
        EXPECT_NE(lines[0].find(problem.reason), std::string::npos) << problem.reason;
        EXPECT_TRUE(problem.keepError.empty());
    }
    // Both damaged files are still there (the second did not overwrite the first) next to the new
    // one.
    EXPECT_EQ(filesIn(file.parent_path()).size(), 3u);
}

TEST(Store, FailedWriteSaysWhyLeavesTheOldFileAndTheNextSaveTriesAgainAndLoadsWhatItSaved) {
    TempDir tmp;
    const auto location = StoreLocation::under(tmp.path());
    const auto file = Store::filePath(location);
    LogCapture log;
    EXPECT_FALSE(Store::load(location)); // no file yet: nothing, and nothing said
    // A non-empty folder where the file should be: the final rename must fail (even for root).
    fs::create_directories(file / "blocker");
    std::string error;
    std::error_code code;
    EXPECT_FALSE(Store::write(location, Setlist::empty(), &error, &code));
    EXPECT_NE(error.find("setlist.json"), std::string::npos) << error;
    EXPECT_TRUE(code);
    EXPECT_TRUE(log.lines().empty()); // reporting is the caller's
    EXPECT_TRUE(fs::is_directory(file / "blocker"));
    EXPECT_EQ(filesIn(file.parent_path()),
              std::vector<std::string>{"setlist.json"}); // temp removed

    fs::remove_all(file);
    Setlist set = Setlist::empty();
    set.songs[0].tempo = 98.5;
    ASSERT_TRUE(Store::write(location, set));
    set.name = "Second";
    ASSERT_TRUE(Store::write(location, set));
    EXPECT_EQ(Store::load(location), set);
    EXPECT_EQ(readFile(file), encodeSetlist(set));
    EXPECT_EQ(filesIn(file.parent_path()), std::vector<std::string>{"setlist.json"});
    EXPECT_TRUE(log.lines().empty());
}

TEST(Store, LoadRemovesUnfinishedSavesOfProcessesThatAreGoneAndNothingElse) {
    TempDir tmp;
    const auto location = StoreLocation::under(tmp.path());
    const Setlist set = Setlist::empty();
    ASSERT_TRUE(Store::write(location, set));
    const auto file = Store::filePath(location);
    const fs::path folder = file.parent_path();

    // A process id that is certainly free now: a child that has ended and been reaped.
    const pid_t gone = ::fork();
    if (gone == 0)
        ::_exit(0);
    ASSERT_GT(gone, 0);
    ::waitpid(gone, nullptr, 0);
    const std::string dead = std::to_string(gone);
    const std::string alive = std::to_string(::getppid());
    const std::vector<std::string> kept = {
        ".setlist.json." + alive + ".0.tmp",                      // its writer still runs
        ".setlist.json." + std::to_string(::getpid()) + ".7.tmp", // our own
        ".other.json." + dead + ".0.tmp",                         // another file's
        ".setlist.json." + dead + ".x.tmp",                       // not a name the writer makes
        "setlist.json." + dead + ".0.tmp",                        // no leading dot
    };
    const std::vector<std::string> removed = {".setlist.json." + dead + ".0.tmp",
                                              ".setlist.json." + dead + ".12.tmp"};
    for (const auto& name : kept)
        writeFile(folder / name, "{\"half");
    for (const auto& name : removed)
        writeFile(folder / name, "{\"half");

    LogCapture log;
    EXPECT_EQ(Store::load(location), set);
    for (const auto& name : kept)
        EXPECT_TRUE(fs::exists(folder / name)) << name;
    for (const auto& name : removed)
        EXPECT_FALSE(fs::exists(folder / name)) << name;
    ASSERT_EQ(log.lines().size(), 1u);
    EXPECT_NE(log.lines()[0].find("[Store] removed 2 unfinished save(s)"), std::string::npos)
        << log.lines()[0];
}
