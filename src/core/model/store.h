#pragma once

#include "model/setlist.h"

#include <cstddef>
#include <filesystem>
#include <optional>
#include <string>
#include <system_error>

namespace strata {

// Where the setlist file lives: <application support>/KorvelPatches/setlist.json, with the home
// folder standing in when there is no application-support folder.
struct StoreLocation {
    // $XDG_DATA_HOME (when absolute), else $HOME/.local/share; none when neither can be determined.
    std::optional<std::filesystem::path> applicationSupport;
    std::filesystem::path home;

    static StoreLocation fromEnvironment();
    // Everything under one folder (tests, benchmarks): <root>/data as application support,
    // <root>/home as the home folder.
    static StoreLocation under(const std::filesystem::path& root);
};

// Stateless file access for the setlist document. Main thread only.
namespace Store {

// Why a setlist file that exists was not loaded, and where it went.
struct LoadProblem {
    // What was wrong with it ("not a setlist document: ...", a read error).
    std::string reason;
    // Where the file was moved so that the next save cannot destroy it; none when it could not
    // be moved (then `keepError` says why).
    std::optional<std::filesystem::path> keptAs;
    std::string keepError;
};

// Files larger than this are not read (a real set is a few megabytes at most); they are treated
// like any other file that cannot be decoded.
inline constexpr std::size_t kMaxFileBytes = 64u << 20;

// The file's path; creates the "KorvelPatches" folder (errors ignored). Repeats the steps on every
// call.
std::filesystem::path filePath(const StoreLocation& location);

// Reads and decodes the file once, after removing the unfinished temporary files of saves that
// were cut short by the end of their process (one "[Store] ..." line when there were any). None
// when there is no file or it cannot be read or decoded. A file that exists but cannot be read or
// decoded is first renamed to "setlist.unreadable-<local time>.json" beside it, with one "[Store]
// ..." line, so that the next save cannot destroy it; `problem` (when given) then receives what
// happened, for the window to say.
std::optional<Setlist> load(const StoreLocation& location, LoadProblem* problem = nullptr);

// Encodes and writes the whole file atomically (temporary file in the same folder, flushed, then
// renamed over the old one). Returns whether the file now holds the set; a failure leaves the old
// file as it was. On failure `error` (when given) receives the reason and `code` (when given) the
// system's error number (none when the set could not be encoded). Reporting is the caller's (the
// autosave reports a failing disk once, not on every attempt).
bool write(const StoreLocation& location, const Setlist& setlist, std::string* error = nullptr,
           std::error_code* code = nullptr);

} // namespace Store

} // namespace strata
