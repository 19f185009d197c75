#include "model/store.h"

#include "model/setlist_codec.h"
#include "platform/file_io.h"
#include "platform/log.h"

#include <cstdlib>
#include <ctime>

namespace strata {

namespace fs = std::filesystem;

StoreLocation StoreLocation::fromEnvironment() {
    StoreLocation location;
    const auto home = homeFolder();
    location.home = home.value_or(fs::path("/"));
    // A relative XDG_DATA_HOME is invalid and ignored, as the base-directory convention asks.
    if (const char* data = std::getenv("XDG_DATA_HOME");
        data && *data && fs::path(data).is_absolute())
        location.applicationSupport = fs::path(data);
    else if (home)
        location.applicationSupport = *home / ".local" / "share";
    return location;
}

StoreLocation StoreLocation::under(const fs::path& root) {
    return StoreLocation{root / "data", root / "home"};
}

namespace Store {
namespace {

constexpr const char* kFolderName = "KorvelPatches";
constexpr const char* kFileName = "setlist.json";

// "setlist.unreadable-20250520-213000.json", with "-2", "-3", ... when that name is taken.
fs::path asideName(const fs::path& file, int attempt) {
    char stamp[32] = "unknown-time";
    const std::time_t now = std::time(nullptr);
    if (const std::tm* local = std::localtime(&now))
        std::strftime(stamp, sizeof stamp, "%Y%m%d-%H%M%S", local);
    std::string name = file.stem().string() + ".unreadable-" + stamp;
    // Appended piecewise: GCC 12 at -O3 reports a false overlap (-Wrestrict) for "-" + string.
    if (attempt > 1) {
        name += '-';
        name += std::to_string(attempt);
    }
    return file.parent_path() / (name + file.extension().string());
}

// Moves a file that could not be loaded out of the way of the next save, and says so once.
void keepAside(const fs::path& file, const std::string& reason, LoadProblem* problem) {
    std::string error;
    if (problem)
        *problem = LoadProblem{reason, std::nullopt, {}};
    for (int attempt = 1; attempt <= 100; ++attempt) {
        const fs::path aside = asideName(file, attempt);
        if (renameWithoutReplacing(file, aside, &error)) {
            logLine("[Store] " + file.string() + " could not be loaded (" + reason +
                    "); kept it as " + aside.string() + " and started with the default set");
            if (problem)
                problem->keptAs = aside;
            return;
        }
        std::error_code ec;
        if (!fs::exists(aside, ec))
            break; // the name was free: the rename failed for another reason
    }
    logLine("[Store] " + file.string() + " could not be loaded (" + reason +
            ") and could not be kept aside (" + error + "); started with the default set");
    if (problem)
        problem->keepError = error;
}

} // namespace

fs::path filePath(const StoreLocation& location) {
    fs::path base = location.home;
    if (location.applicationSupport) {
        std::error_code ec;
        fs::create_directories(*location.applicationSupport, ec);
        if (fs::is_directory(*location.applicationSupport, ec))
            base = *location.applicationSupport;
    }
    const fs::path folder = base / kFolderName;
    std::error_code ignored; // it usually exists already
    fs::create_directories(folder, ignored);
    return folder / kFileName;
}

std::optional<Setlist> load(const StoreLocation& location, LoadProblem* problem) {
    const fs::path file = filePath(location);
    // A program killed in the middle of a save leaves its unfinished temporary file behind; the
    // document itself is whole (the rename never happened), so the leftover is only clutter.
    if (const std::size_t stale = removeStaleTemporaries(file); stale > 0)
        logLine("[Store] removed " + std::to_string(stale) +
                " unfinished save(s) left behind by an earlier run");
    FileReadResult read = readWholeFile(file, kMaxFileBytes);
    switch (read.status) {
    case FileReadResult::Status::missing:
        return std::nullopt; // first start: nothing to keep
    case FileReadResult::Status::failed:
    case FileReadResult::Status::tooLarge:
        keepAside(file, read.error, problem);
        return std::nullopt;
    case FileReadResult::Status::ok:
        break;
    }
    auto setlist = decodeSetlist(read.bytes);
    if (!setlist)
        keepAside(file, "not a setlist document: " + setlist.reason(), problem);
    return setlist;
}

bool write(const StoreLocation& location, const Setlist& setlist, std::string* error,
           std::error_code* code) {
    const auto bytes = encodeSetlist(setlist);
    if (!bytes) {
        if (error)
            *error = "the setlist could not be encoded; the file is unchanged";
        return false;
    }
    return writeFileAtomically(filePath(location), *bytes, error, code);
}

} // namespace Store
} // namespace strata
