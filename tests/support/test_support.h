#pragma once

#include <filesystem>
#include <memory>
#include <string>
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

} // namespace strata::testing
