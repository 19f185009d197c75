#pragma once

#include "model/setlist.h"
#include "model/store.h"
#include "platform/main_loop.h"

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <system_error>

namespace strata {

// Why writing the set failed: the store's text and the system's error number (none when the set
// could not be encoded).
struct SaveFailure {
    std::string detail;
    std::error_code code;

    friend bool operator==(const SaveFailure&, const SaveFailure&) = default;
};

// Writes the set to the store a debounce interval after the last change, and keeps retrying after
// a failed write until one succeeds. A run of failures is one episode: one "[Store] ..." line and
// one `onFailure` call with the reason when it starts, one line and `onFailure(none)` when a write
// succeeds again; nothing for the attempts in between. Main thread only.
class Autosave {
public:
    // The pause after the last change before the set is written.
    static constexpr Duration kDebounce = std::chrono::milliseconds(400);
    // After a failed write (a full disk, a read-only folder) the set is written again this often
    // until it succeeds, so that it reaches the disk once the disk allows, edit or no edit.
    static constexpr Duration kRetry = std::chrono::seconds(5);

    using Current = std::function<const Setlist&()>;
    using FailureChanged = std::function<void(std::optional<SaveFailure>)>;

    // `current` gives the set to write at the moment of writing.
    Autosave(StoreLocation location, MainLoop& loop, Current current, FailureChanged onFailure);
    Autosave(const Autosave&) = delete;
    Autosave& operator=(const Autosave&) = delete;

    // A change: the set is written after the debounce, which every further change restarts.
    void schedule();
    // Writes a change that is still waiting (or whose last write failed) at once. Returns whether
    // the file holds the current set afterwards.
    bool flush();

    bool hasUnsavedChanges() const { return dirty_; }
    bool isFailing() const { return failedSaves_ > 0; }

private:
    bool saveNow();

    StoreLocation location_;
    MainLoop& loop_;
    Current current_;
    FailureChanged onFailure_;
    bool dirty_ = false;
    // Failed writes since the last successful one.
    std::int64_t failedSaves_ = 0;
    TimerHandle timer_;
};

} // namespace strata
