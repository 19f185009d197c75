#pragma once

#include "model/setlist.h"

#include <chrono>
#include <filesystem>
#include <map>
#include <optional>
#include <string>
#include <sys/types.h>
#include <vector>

namespace strata::testing {

// What a test run of the program starts with: its preferences and its set, in folders of their
// own (XDG_CONFIG_HOME, XDG_DATA_HOME, HOME under `root`).
struct AppFixtureFiles {
    std::filesystem::path root;

    std::filesystem::path configHome() const { return root / "config"; }
    std::filesystem::path dataHome() const { return root / "data"; }
    std::filesystem::path home() const { return root / "home"; }
    // Where QSettings keeps the preferences for organization "Korvel", application "Strata".
    std::filesystem::path settingsFile() const { return configHome() / "Korvel" / "Strata.conf"; }

    // Writes the preferences the way the program's own settings store does.
    void writeSettings(const std::map<std::string, bool>& flags,
                       const std::map<std::string, std::string>& texts,
                       const std::optional<AdvanceTrigger>& nextTrigger) const;
    // Writes the set where the program loads it from.
    void writeSet(const Setlist& set) const;
};

// The real `strata` program started as a child (inside the network namespace the test runs in),
// offscreen, with its output in a file. Killed at the end if it is still running.
class AppProcess {
public:
    AppProcess() = default;
    ~AppProcess();
    AppProcess(const AppProcess&) = delete;
    AppProcess& operator=(const AppProcess&) = delete;

    // Starts `program` with the environment of this process plus QT_QPA_PLATFORM=offscreen and the
    // folders of `files`; `extraEnvironment` entries are added last (an empty value empties a
    // variable). `arguments` follow the program name.
    bool start(const std::string& program, const AppFixtureFiles& files,
               const std::vector<std::string>& extraEnvironment = {},
               const std::vector<std::string>& arguments = {});
    // When start() spawned the program (steady clock).
    std::chrono::steady_clock::time_point startedAt() const { return startedAt_; }

    // Waits until the program's output, from character `from` on, holds a line containing `text`
    // (a `from` of output().size() taken earlier waits for a new such line).
    bool waitForLine(const std::string& text, std::chrono::milliseconds timeout,
                     std::size_t from = 0);
    std::string output() const;

    // Sends `signal` and waits for the program to end; its exit code, or none when it did not end
    // by itself in time (it is then killed) or was killed by a signal.
    std::optional<int> stop(int signal, std::chrono::milliseconds timeout);
    // Waits for the program to end by itself; its exit code as stop() gives it.
    std::optional<int> waitForExit(std::chrono::milliseconds timeout) { return stop(0, timeout); }
    // The running program's process id (for /proc figures), or -1.
    pid_t pid() const { return pid_; }

private:
    pid_t pid_ = -1;
    std::filesystem::path outputPath_;
    std::chrono::steady_clock::time_point startedAt_{};
};

} // namespace strata::testing
