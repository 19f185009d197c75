#pragma once

#include <cstddef>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <system_error>

namespace strata {

// Whole-file access as the document store needs it. The only place in the core that talks to the
// operating system's file calls directly, so that moving to another system means replacing this.

struct FileReadResult {
    enum class Status {
        ok,       // `bytes` holds the whole file
        missing,  // there is no file at the path
        failed,   // it exists but could not be read (`error` says why)
        tooLarge, // it exists but is larger than the limit asked for
    };
    Status status = Status::missing;
    std::string bytes;
    std::string error;
};

// Reads the whole file, refusing (without reading) a file larger than `maxBytes`.
FileReadResult readWholeFile(const std::filesystem::path& path, std::size_t maxBytes);

// Writes `bytes` into a new temporary file in the same folder, flushes it to the disk, renames it
// over `path` and flushes the folder, so that `path` always holds either the old or the new
// content. On failure the temporary file is removed, `path` is untouched, `error` (when given)
// receives the reason and `code` (when given) the system's error number.
bool writeFileAtomically(const std::filesystem::path& path, std::string_view bytes,
                         std::string* error = nullptr, std::error_code* code = nullptr);

// For the crash tests only: `hook` runs in writeFileAtomically after the temporary is written and
// flushed, right before it replaces the file at the path it is given (none by default). It lets a
// test stop the program at the one moment a kill must not cost the document, instead of hoping a
// kill lands there.
using BeforeReplaceHook = void (*)(const std::filesystem::path& file);
void setBeforeReplaceHook(BeforeReplaceHook hook);

// Removes the temporary files that writeFileAtomically(`path`) left behind in processes that no
// longer run (a program killed in the middle of a save). A temporary of a process that still runs
// is never touched, whoever owns it. Returns how many were removed.
std::size_t removeStaleTemporaries(const std::filesystem::path& path);

// Renames `from` to `to` unless `to` already exists. On failure `error` receives the reason.
bool renameWithoutReplacing(const std::filesystem::path& from, const std::filesystem::path& to,
                            std::string* error = nullptr);

// The user's home folder: $HOME, else the account's entry in the user database; none when neither
// is known.
std::optional<std::filesystem::path> homeFolder();

} // namespace strata
