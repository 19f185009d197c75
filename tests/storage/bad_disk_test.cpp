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

} // namespace

// An AppState whose store folder lies on a tiny file system of its own. One app through both
// episodes: the second starts from what the first saved.
TEST(BadDisk, KeepsEditsInMemoryReportsOnceAndSavesEverythingOnceRepaired) {
    TempDir dir;
    TinyFilesystem disk{dir.path()};
    ASSERT_TRUE(disk.mounted) << "cannot mount a tmpfs (" << disk.error
                              << "); run the suite through tools/mountns, as ctest does";
    const StoreLocation location = StoreLocation::under(dir.path());
    MemorySettings settings;
    VirtualMainLoop loop;
    AppState app(location, settings, loop);
    loop.advance(AppState::kSaveDebounce); // the start-up write
    ASSERT_FALSE(app.hasUnsavedChanges());
    const fs::path file = Store::filePath(location);
    for (const bool full : {true, false}) {
        SCOPED_TRACE(full ? "disk full" : "read-only");
        const std::string before = readFile(file);
        const std::size_t songs = app.setlist().songs.size();
        fs::path filler;
        if (full)
            filler = disk.fill();
        else
            ASSERT_TRUE(disk.setReadOnly(true)) << std::strerror(errno);
        LogCapture log;
        // Edits of every kind, each settling into a save attempt; the document grows.
        for (int round = 1; round <= 3; ++round) {
            app.renameSet("Set after edit " + std::to_string(round));
            loop.advance(AppState::kSaveDebounce);
            app.importSetlist("Song " + std::to_string(round) + "\nIntro\nVerse\nChorus", false);
            loop.advance(AppState::kSaveDebounce);
            app.addSection();
            loop.advance(AppState::kSaveDebounce);
        }
        loop.advance(1min); // retries

        auto lines = log.linesStartingWith("[Store]");
        ASSERT_EQ(lines.size(), 1u);
        EXPECT_NE(lines[0].find(std::strerror(full ? ENOSPC : EROFS)), std::string::npos)
            << lines[0];
        EXPECT_TRUE(app.isSaveFailing());
        EXPECT_TRUE(app.hasUnsavedChanges());
        EXPECT_EQ(app.setlist().name, "Set after edit 3");
        EXPECT_EQ(app.setlist().songs.size(), songs + 3);
        // The file holds exactly the document it held before, complete and loadable, with no
        // half-written temporary file beside it.
        EXPECT_EQ(readFile(file), before);
        EXPECT_TRUE(decodeSetlist(before).has_value());
        EXPECT_EQ(filesIn(file.parent_path()), std::vector<std::string>{"setlist.json"});

        if (full)
            fs::remove(filler);
        else
            ASSERT_TRUE(disk.setReadOnly(false)) << std::strerror(errno);
        // Writing works again: the next retry writes everything, and says so once.
        loop.advance(AppState::kSaveRetry);
        EXPECT_FALSE(app.isSaveFailing());
        EXPECT_FALSE(app.hasUnsavedChanges());
        EXPECT_EQ(Store::load(location), app.setlist());
        lines = log.linesStartingWith("[Store]");
        ASSERT_EQ(lines.size(), 2u);
        EXPECT_NE(lines[1].find("works again"), std::string::npos) << lines[1];
        EXPECT_EQ(filesIn(file.parent_path()), std::vector<std::string>{"setlist.json"});
    }
}
