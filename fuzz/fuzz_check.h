#pragma once

// What the fuzz targets share: a check that turns a broken property into a crash libFuzzer
// records (with the input that caused it), a log sink that keeps the run quiet, and a scratch
// folder for the targets that go through the file system.

#include "platform/log.h"

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <string_view>
#include <system_error>
#include <unistd.h>

namespace strata::fuzz {

// Aborts with the property that failed; libFuzzer keeps the input as a crash artifact.
[[noreturn]] inline void fail(const char* what, const char* file, int line) {
    std::fprintf(stderr, "\n*** property broken at %s:%d: %s\n", file, line, what);
    std::fflush(stderr);
    std::abort();
}

#define FUZZ_CHECK(condition)                                                                      \
    do {                                                                                           \
        if (!(condition))                                                                          \
            ::strata::fuzz::fail(#condition, __FILE__, __LINE__);                                  \
    } while (false)

// Diagnostic lines are part of what is fuzzed (they are built from hostile text) but printing
// them would drown libFuzzer's own output.
inline void silenceLog() {
    setLogSink([](std::string_view line) {
        // Every line is a single "[Tag] ..." line, whatever text went into it.
        FUZZ_CHECK(!line.empty() && line.front() == '[');
        FUZZ_CHECK(line.find('\n') == std::string_view::npos);
    });
}

// A private folder for one fuzzing process, in memory when /dev/shm is there (the store flushes
// every write to the disk, which would otherwise dominate the run), removed at exit.
class ScratchFolder {
public:
    ScratchFolder() {
        namespace fs = std::filesystem;
        std::error_code ec;
        const fs::path base = fs::is_directory("/dev/shm", ec) && ::access("/dev/shm", W_OK) == 0
                                  ? fs::path("/dev/shm")
                                  : fs::temp_directory_path();
        std::string pattern = (base / "strata-fuzz-XXXXXX").string();
        if (::mkdtemp(pattern.data()) == nullptr)
            fail("mkdtemp", __FILE__, __LINE__);
        path_ = pattern;
    }
    ~ScratchFolder() {
        std::error_code ec;
        std::filesystem::remove_all(path_, ec);
    }
    ScratchFolder(const ScratchFolder&) = delete;
    ScratchFolder& operator=(const ScratchFolder&) = delete;

    const std::filesystem::path& path() const { return path_; }
    // Empties the folder, so that every input starts from nothing.
    void clear() const {
        std::error_code ec;
        for (const auto& entry : std::filesystem::directory_iterator(path_, ec))
            std::filesystem::remove_all(entry.path(), ec);
    }

private:
    std::filesystem::path path_;
};

} // namespace strata::fuzz
