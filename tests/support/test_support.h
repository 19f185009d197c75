#pragma once

#include <chrono>
#include <filesystem>
#include <memory>
#include <string>
#include <thread>
#include <vector>

namespace strata::testing {

// A fresh folder under the system's temporary folder, removed with everything in it at the end.
class TempDir {
public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    const std::filesystem::path& path() const { return path_; }

private:
    std::filesystem::path path_;
};

// The whole file's bytes ("" when it cannot be read), and the names in a folder, sorted.
std::string readFile(const std::filesystem::path& path);
std::vector<std::string> filesIn(const std::filesystem::path& folder);

// Collects the diagnostic lines printed while it lives, instead of printing them.
class LogCapture {
public:
    LogCapture();
    ~LogCapture();
    std::vector<std::string> lines() const;
    // Lines that start with `prefix`.
    std::vector<std::string> linesStartingWith(const std::string& prefix) const;

private:
    struct Shared;
    std::shared_ptr<Shared> shared_;
};

// How long a wait on other threads and processes (a JACK server, the real program) may take
// before it counts as failed. A wait ends as soon as its condition holds, so this only bounds a
// failure; it is generous because a loaded two-core machine with sanitizers can hold a process
// off the CPU for seconds.
inline constexpr std::chrono::milliseconds kPatience{20000};

// Polls `done` until it holds or `timeout` of real time has passed: the one wait on other threads
// and processes. Nothing may assert how long it took.
template <typename Done>
bool waitUntil(Done done, std::chrono::milliseconds timeout = kPatience,
               std::chrono::milliseconds poll = std::chrono::milliseconds(1)) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (!done()) {
        if (std::chrono::steady_clock::now() >= deadline)
            return false;
        std::this_thread::sleep_for(poll);
    }
    return true;
}

} // namespace strata::testing
