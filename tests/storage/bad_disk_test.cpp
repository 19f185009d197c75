// Nothing is lost on a bad disk: with the disk full or the folder read-only, edits go on in
// memory, the failure is reported once, the file on disk stays the last complete document, and
// once writing works again the next save writes everything, without another edit. Real file
// systems: a 64 KiB tmpfs, remounted read-only where needed, in this process's own mount
// namespace (see tools/mountns).

#include "engine/app_state.h"
#include "model/setlist_codec.h"
#include "platform/memory_settings.h"
#include "platform/virtual_main_loop.h"
#include "support/test_support.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/mount.h>
#include <unistd.h>

using namespace strata;
using namespace strata::testing;
using namespace std::chrono_literals;
namespace fs = std::filesystem;

namespace {

// A tmpfs of a few pages mounted over a fresh folder, unmounted at the end.
class TinyFilesystem {
public:
    explicit TinyFilesystem(const fs::path& folder)
        : at(folder), mounted(::mount("tmpfs", folder.c_str(), "tmpfs", MS_NOSUID | MS_NODEV,
                                      "size=64k,mode=0755") == 0),
          error(mounted ? "" : std::strerror(errno)) {}
    ~TinyFilesystem() {
        if (mounted)
            ::umount2(at.c_str(), MNT_DETACH);
    }

    bool setReadOnly(bool readOnly) {
        const unsigned long flags = MS_REMOUNT | MS_NOSUID | MS_NODEV | (readOnly ? MS_RDONLY : 0);
        return ::mount("tmpfs", at.c_str(), "tmpfs", flags, "size=64k") == 0;
    }

    // Writes a file until the file system has no block left; returns its path.
    fs::path fill() const {
        const fs::path filler = at / "filler";
        const int fd = ::open(filler.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
        EXPECT_GE(fd, 0);
        // Whole pages while they fit, then ever smaller pieces for whatever is left.
        const std::string block(4096, 'x');
        for (std::size_t size = block.size(); size > 0;)
            if (::write(fd, block.data(), size) <= 0)
                size /= 2;
        ::close(fd);
        return filler;
    }

    const fs::path at;
    const bool mounted;
    const std::string error;
};

// An AppState whose store folder lies on a tiny file system of its own.
class BadDisk : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(disk.mounted) << "cannot mount a tmpfs (" << disk.error
                                  << "); run the suite through tools/mountns, as ctest does";
        app = std::make_unique<AppState>(location, settings, loop);
        loop.advance(AppState::kSaveDebounce); // the start-up write
        ASSERT_FALSE(app->hasUnsavedChanges());
        file = Store::filePath(location);
    }
    void TearDown() override { app.reset(); }

    // Edits of every kind, each settling into a save attempt; the document grows.
    void edit(int round) {
        app->renameSet("Set after edit " + std::to_string(round));
        loop.advance(AppState::kSaveDebounce);
        app->importSetlist("Song " + std::to_string(round) + "\nIntro\nVerse\nChorus\nOutro",
                           false);
        loop.advance(AppState::kSaveDebounce);
        app->addSection();
        loop.advance(AppState::kSaveDebounce);
    }

    // The file holds exactly the document it held before, complete and loadable.
    void expectFileIs(const std::string& bytes) const {
        EXPECT_EQ(readFile(file), bytes);
        EXPECT_TRUE(decodeSetlist(bytes).has_value());
    }

    // Writing works again: the next retry writes everything, and says so once.
    void expectRecovery(const LogCapture& log) {
        loop.advance(AppState::kSaveRetry);
        EXPECT_FALSE(app->isSaveFailing());
        EXPECT_FALSE(app->hasUnsavedChanges());
        EXPECT_EQ(Store::load(location), app->setlist());
        const auto lines = log.linesStartingWith("[Store]");
        ASSERT_EQ(lines.size(), 2u);
        EXPECT_NE(lines[1].find("works again"), std::string::npos) << lines[1];
        EXPECT_EQ(filesIn(file.parent_path()), std::vector<std::string>{"setlist.json"});
    }

    TempDir dir;
    TinyFilesystem disk{dir.path()};
    StoreLocation location = StoreLocation::under(dir.path());
    MemorySettings settings;
    VirtualMainLoop loop;
    std::unique_ptr<AppState> app;
    fs::path file;
};

} // namespace

// The disk full, or the folder read-only: edits go on in memory, one report with the system's
// reason, the file stays as it was with no half-written temporary file beside it, and once the
// disk is repaired the next retry saves everything.
TEST_F(BadDisk, KeepsEditsInMemoryReportsOnceAndSavesEverythingOnceRepaired) {
    // One app through both: the second episode starts from what the first saved.
    for (const bool full : {true, false}) {
        SCOPED_TRACE(full ? "disk full" : "read-only");
        const std::string before = readFile(file);
        const std::size_t songs = app->setlist().songs.size();
        fs::path filler;
        if (full)
            filler = disk.fill();
        else
            ASSERT_TRUE(disk.setReadOnly(true)) << std::strerror(errno);
        LogCapture log;
        for (int round = 1; round <= 3; ++round)
            edit(round);
        loop.advance(1min); // retries

        const auto lines = log.linesStartingWith("[Store]");
        ASSERT_EQ(lines.size(), 1u);
        EXPECT_NE(lines[0].find(std::strerror(full ? ENOSPC : EROFS)), std::string::npos)
            << lines[0];
        EXPECT_TRUE(app->isSaveFailing());
        EXPECT_TRUE(app->hasUnsavedChanges());
        EXPECT_EQ(app->setlist().name, "Set after edit 3");
        EXPECT_EQ(app->setlist().songs.size(), songs + 3);
        expectFileIs(before);
        EXPECT_EQ(filesIn(file.parent_path()), std::vector<std::string>{"setlist.json"});

        if (full)
            fs::remove(filler);
        else
            ASSERT_TRUE(disk.setReadOnly(false)) << std::strerror(errno);
        expectRecovery(log);
    }
}
