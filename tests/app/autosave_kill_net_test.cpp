// The real program killed with SIGKILL at random moments while Cadenzo's setlist keeps renaming
// the sections of the current song, so that the autosave keeps writing: after every kill the file
// must hold one whole document that the program had (the one on disk before, or a later one), and
// the next start must load it. Some kills land inside a save: the program's test hook stops it
// once its temporary file is written and before that replaces the set's file, and the kill
// follows; some follow a finished save (its rename into place), the rest strike at a random
// moment. The first three rounds strike each way once, so that every run sees all three.
//
// Bounded for CI by a time budget; STRATA_KILL_ROUNDS and STRATA_KILL_SECONDS run it longer,
// STRATA_KILL_SEED repeats a run.

#include "app_process.h"
#include "model/setlist_codec.h"
#include "model/store.h"
#include "platform/file_io.h"
#include "support/cue_sender.h"
#include "support/large_set.h"
#include "support/test_support.h"

#include <csignal>
#include <cstdlib>
#include <gtest/gtest.h>
#include <iostream>
#include <random>
#include <thread>
#include <unistd.h>

using namespace strata;
using namespace strata::testing;
using namespace std::chrono_literals;
namespace fs = std::filesystem;

namespace {

long environmentNumber(const char* name, long fallback) {
    const char* text = std::getenv(name);
    return text && *text ? std::strtol(text, nullptr, 10) : fallback;
}

// Section names of the document after edit `k` (-1: the set as written at the start).
std::vector<std::string> editNames(int k, std::size_t count) {
    std::vector<std::string> names;
    for (std::size_t i = 0; i < count; ++i)
        names.push_back("Edit " + std::to_string(k) + " part " + std::to_string(i));
    return names;
}

std::vector<fs::path> temporariesIn(const fs::path& folder) {
    std::vector<fs::path> found;
    for (const auto& entry : fs::directory_iterator(folder))
        if (entry.path().filename().string().starts_with(".setlist.json."))
            found.push_back(entry.path());
    return found;
}

// Whether the process is stopped (by a signal), as /proc shows it.
bool isStopped(pid_t pid) {
    const FileReadResult stat = readWholeFile("/proc/" + std::to_string(pid) + "/stat", 4096);
    const auto close = stat.bytes.rfind(") ");
    return close != std::string::npos && close + 2 < stat.bytes.size() &&
           stat.bytes[close + 2] == 'T';
}

} // namespace

TEST(StrataAppCrash, SigkillWhileAutosavingLeavesAWholeDocumentThatLoads) {
    const auto started = std::chrono::steady_clock::now();
    const long maxRounds = environmentNumber("STRATA_KILL_ROUNDS", 40);
    const auto budget = std::chrono::seconds(environmentNumber("STRATA_KILL_SECONDS", 20));
    const auto seed = static_cast<unsigned>(
        environmentNumber("STRATA_KILL_SEED", static_cast<long>(std::random_device{}() >> 1)));
    std::cout << "seed " << seed << " (STRATA_KILL_SEED repeats this run)\n";
    std::mt19937 random(seed);
    const auto uniform = [&](int lo, int hi) {
        return std::uniform_int_distribution<int>(lo, hi)(random);
    };

    TempDir dir;
    const AppFixtureFiles files{dir.path()};
    files.writeSettings({{"showModeChooserAtStartup", false}, {"hasSeenQuickStart", true}},
                        {{"strataMode", "pro"}}, std::nullopt);
    // Big enough (about 1 MB) that a save takes a while, small enough for many rounds.
    files.writeSet(largeSet(12));
    const StoreLocation location{files.dataHome(), files.home()};
    const fs::path file = Store::filePath(location);
    // Every document the program can have written: the set as it reads it, with the current
    // song's sections renamed by edit k.
    const auto first = Store::load(location);
    ASSERT_TRUE(first);
    const std::string songName = first->songs.at(0).name;
    const std::size_t sectionCount = first->songs[0].sections.size();
    const auto documentAfter = [&](int k) {
        Setlist set = *first;
        if (k >= 0)
            for (std::size_t i = 0; i < sectionCount; ++i)
                set.songs[0].sections[i].name = editNames(k, sectionCount)[i];
        return set;
    };
    // Which edit a document on disk carries.
    const auto editOf = [&](const Setlist& set) -> std::optional<int> {
        if (set.songs.empty() || set.songs[0].sections.size() != sectionCount)
            return std::nullopt;
        const std::string& name = set.songs[0].sections[0].name;
        if (name == first->songs[0].sections[0].name)
            return -1;
        if (!name.starts_with("Edit "))
            return std::nullopt;
        return std::atoi(name.c_str() + 5);
    };

    CueSender cadenzo;
    ASSERT_TRUE(cadenzo.ok());

    int onDisk = -1; // the edit the file holds
    int sent = -1;   // the last edit sent
    int rounds = 0, aimed = 0, midSave = 0, savesSeen = 0;
    const auto goOn = [&] {
        return rounds < 3 ||
               (rounds < maxRounds && std::chrono::steady_clock::now() - started < budget);
    };
    while (goOn()) {
        ++rounds;
        AppProcess app;
        ASSERT_TRUE(app.start(STRATA_APP_PATH, files, {"STRATA_MIDI=none", "STRATA_TEST_HOOKS=1"}));
        ASSERT_TRUE(app.waitForLine("[Strata] Ready", 60s)) << app.output();
        // It loaded the file (a file it could not read would have been put aside, with a line).
        ASSERT_EQ(app.output().find("could not be loaded"), std::string::npos) << app.output();
        EXPECT_TRUE(temporariesIn(file.parent_path()).empty()) << "round " << rounds;

        enum class Strike { inSave, afterSave, anytime };
        const Strike strike =
            rounds <= 3 ? static_cast<Strike>(rounds - 1) : static_cast<Strike>(uniform(0, 2));
        if (strike == Strike::inSave) {
            const std::size_t from = app.output().size();
            ASSERT_EQ(::kill(app.pid(), SIGUSR2), 0);
            ASSERT_TRUE(app.waitForLine("the next save stops", kPatience, from)) << app.output();
        }
        const int edits = uniform(1, 5);
        for (int e = 0; e < edits; ++e) {
            ASSERT_TRUE(cadenzo.send(snapshotDatagram(songName, editNames(++sent, sectionCount))));
            if (e + 1 < edits || strike == Strike::anytime)
                std::this_thread::sleep_for(std::chrono::milliseconds(uniform(20, 700)));
        }
        if (strike == Strike::inSave) {
            // The first save after the edits stops the program before its rename.
            ++aimed;
            const bool stopped = waitUntil([&] { return isStopped(app.pid()); }, kPatience, 5ms);
            ASSERT_TRUE(stopped) << "round " << rounds << ": no save began\n" << app.output();
        } else if (strike == Strike::afterSave) {
            // The last edit's save in place (the file is only ever replaced whole), then a while
            // on.
            const bool saved = waitUntil(
                [&] {
                    const FileReadResult now = readWholeFile(file, Store::kMaxFileBytes);
                    if (now.status != FileReadResult::Status::ok)
                        return false;
                    const auto set = decodeSetlist(now.bytes);
                    return set && editOf(*set) == sent;
                },
                kPatience, 20ms);
            EXPECT_TRUE(saved) << "round " << rounds << ": the last edit was not saved";
            std::this_thread::sleep_for(std::chrono::milliseconds(uniform(0, 300)));
        } else {
            std::this_thread::sleep_for(std::chrono::milliseconds(uniform(0, 900)));
        }
        app.stop(SIGKILL, 10s);

        // Killed between the temporary's creation and the rename: the unfinished save is there.
        const bool leftOver = !temporariesIn(file.parent_path()).empty();
        midSave += leftOver;
        if (strike == Strike::inSave) {
            EXPECT_TRUE(leftOver) << "round " << rounds;
        }
        const FileReadResult read = readWholeFile(file, Store::kMaxFileBytes);
        ASSERT_EQ(read.status, FileReadResult::Status::ok) << "round " << rounds;
        const auto onFile = decodeSetlist(read.bytes);
        ASSERT_TRUE(onFile) << "round " << rounds << ": " << onFile.reason();
        const auto edit = editOf(*onFile);
        ASSERT_TRUE(edit) << "round " << rounds << ": a document the program never had";
        // The one before or a later one the program had by then, whole and exactly.
        ASSERT_GE(*edit, onDisk) << "round " << rounds;
        ASSERT_LE(*edit, sent) << "round " << rounds;
        ASSERT_EQ(*onFile, documentAfter(*edit)) << "round " << rounds << ", edit " << *edit;
        // A save cut short before its rename leaves the document it would have replaced.
        if (strike == Strike::inSave) {
            EXPECT_EQ(*edit, onDisk) << "round " << rounds;
        }
        savesSeen += *edit > onDisk;
        onDisk = *edit;
    }

    // Once more: the last document loads, the leftovers go, and an orderly quit keeps it.
    AppProcess app;
    ASSERT_TRUE(app.start(STRATA_APP_PATH, files, {"STRATA_MIDI=none"}));
    ASSERT_TRUE(app.waitForLine("[Strata] Ready", 60s)) << app.output();
    EXPECT_EQ(app.stop(SIGTERM, 30s), std::optional<int>(0)) << app.output();
    EXPECT_EQ(app.output().find("could not be loaded"), std::string::npos) << app.output();
    EXPECT_TRUE(temporariesIn(file.parent_path()).empty());
    EXPECT_EQ(Store::load(location), documentAfter(onDisk));

    std::cout << rounds << " kills (" << aimed << " aimed at a save), " << midSave
              << " in the middle of a save, " << savesSeen << " rounds with a newer document, "
              << sent + 1 << " edits sent\n";
    // The run proved something: saves happened between kills.
    EXPECT_GT(savesSeen, 0);
}
