#pragma once

#include "model/setlist.h"
#include "model/store.h"
#include "platform/serial_queue.h"

#include <cstddef>
#include <filesystem>
#include <string>
#include <vector>

namespace strata {

// Copies of the whole set kept beside the setlist file before a change that removes the user's
// work from it (Cadenzo's setlist replacing a song's sections), so that nothing is lost without a
// way back. Each copy is an ordinary setlist document named
// "setlist.before-cadenzo-<local time>.json"; only the newest `keep` copies stay.
//
// Encoding and writing happen on a worker thread of their own: a copy is taken on the main thread
// (the set as it was), and the disk is never waited for there. Each copy prints one
// "[LiveCoordinator] ..." line that names its file (or says why it could not be written).
class SetlistBackups {
public:
    static constexpr std::size_t kDefaultKeep = 20;
    static constexpr const char* kPrefix = "setlist.before-cadenzo-";

    explicit SetlistBackups(StoreLocation location, std::size_t keep = kDefaultKeep);
    // Writes the copies still waiting.
    ~SetlistBackups();
    SetlistBackups(const SetlistBackups&) = delete;
    SetlistBackups& operator=(const SetlistBackups&) = delete;

    // Keeps `setlist` as a copy; `what` says in the diagnostic line what the change removes.
    // Main thread; returns at once.
    void keep(Setlist setlist, std::string what);
    // Waits until every copy asked for so far is on disk (tests, quit).
    void drain() { queue_.drain(); }

    // The copies in the folder, oldest first.
    static std::vector<std::filesystem::path> list(const std::filesystem::path& folder);

private:
    void write(const std::filesystem::path& folder, const Setlist& setlist,
               const std::string& what);

    StoreLocation location_;
    std::size_t keep_;
    SerialQueue queue_;
};

} // namespace strata
