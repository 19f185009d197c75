#include "live/setlist_backups.h"

#include "model/setlist_codec.h"
#include "platform/file_io.h"
#include "platform/log.h"

#include <algorithm>
#include <chrono>
#include <ctime>

namespace strata {

namespace fs = std::filesystem;

namespace {

constexpr const char* kSuffix = ".json";

// "20250520-213000-042": local time to the millisecond, so names sort in time order.
std::string timestamp(std::chrono::system_clock::time_point at) {
    const std::time_t seconds = std::chrono::system_clock::to_time_t(at);
    const auto millis =
        std::chrono::duration_cast<std::chrono::milliseconds>(at.time_since_epoch()).count() % 1000;
    char stamp[32] = "unknown-time";
    std::tm local{};
    if (::localtime_r(&seconds, &local))
        std::strftime(stamp, sizeof stamp, "%Y%m%d-%H%M%S", &local);
    char ms[8];
    std::snprintf(ms, sizeof ms, "-%03d", static_cast<int>(millis));
    return std::string(stamp) + ms;
}

bool isBackupName(const std::string& name) {
    const std::string prefix = SetlistBackups::kPrefix;
    const std::string suffix = kSuffix;
    return name.size() > prefix.size() + suffix.size() && name.rfind(prefix, 0) == 0 &&
           name.compare(name.size() - suffix.size(), suffix.size(), suffix) == 0;
}

} // namespace

SetlistBackups::SetlistBackups(StoreLocation location, std::size_t keep)
    : location_(std::move(location)), keep_(std::max<std::size_t>(keep, 1)),
      queue_("org.strata.setlistBackups") {}

SetlistBackups::~SetlistBackups() = default;

void SetlistBackups::keep(Setlist setlist, std::string what) {
    // The folder is looked up here, on the main thread, like every other use of the store.
    const fs::path folder = Store::filePath(location_).parent_path();
    queue_.submit([this, folder, setlist = std::move(setlist), what = std::move(what)] {
        write(folder, setlist, what);
    });
}

std::vector<fs::path> SetlistBackups::list(const fs::path& folder) {
    std::vector<fs::path> found;
    std::error_code ec;
    for (const auto& entry : fs::directory_iterator(folder, ec))
        if (isBackupName(entry.path().filename().string()))
            found.push_back(entry.path());
    std::sort(found.begin(), found.end());
    return found;
}

void SetlistBackups::write(const fs::path& folder, const Setlist& setlist,
                           const std::string& what) {
    const auto bytes = encodeSetlist(setlist);
    if (!bytes) {
        logLine("[LiveCoordinator] " + what + "; the set could not be encoded for a copy");
        return;
    }
    // Never overwrite an earlier copy: a name already taken (a copy from the same millisecond)
    // moves on to the next millisecond's name, which keeps the names in the order of the copies.
    auto at = std::chrono::system_clock::now();
    fs::path file;
    std::error_code ec;
    for (int attempt = 0; attempt < 1000; ++attempt, at += std::chrono::milliseconds(1)) {
        file = folder / (std::string(kPrefix) + timestamp(at) + kSuffix);
        if (!fs::exists(file, ec))
            break;
    }

    std::string error;
    if (!writeFileAtomically(file, *bytes, &error)) {
        logLine("[LiveCoordinator] " + what + "; could not keep a copy of the set before it (" +
                error + ")");
        return;
    }
    logLine("[LiveCoordinator] " + what + "; the set as it was before is kept in " + file.string());

    auto copies = list(folder);
    if (copies.size() > keep_) {
        const std::size_t excess = copies.size() - keep_;
        for (std::size_t i = 0; i < excess; ++i) {
            if (copies[i] == file)
                continue;
            fs::remove(copies[i], ec);
        }
    }
}

} // namespace strata
