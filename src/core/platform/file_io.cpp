#include "platform/file_io.h"

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <pwd.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

namespace strata {
namespace {

std::string describe(const char* what, const std::filesystem::path& path, int err) {
    return std::string(what) + " " + path.string() + ": " + std::strerror(err);
}

void setError(std::string* error, std::string text) {
    if (error)
        *error = std::move(text);
}

void setCode(std::error_code* code, int err) {
    if (code)
        *code = std::error_code(err, std::generic_category());
}

// Closes the descriptor on every path out of a function.
class Descriptor {
public:
    explicit Descriptor(int fd) : fd_(fd) {}
    ~Descriptor() { reset(); }
    Descriptor(const Descriptor&) = delete;
    Descriptor& operator=(const Descriptor&) = delete;
    int get() const { return fd_; }
    // Closes now and reports the result (a delayed write error can surface here).
    int reset() {
        int rc = 0;
        if (fd_ >= 0)
            rc = ::close(fd_);
        fd_ = -1;
        return rc;
    }

private:
    int fd_;
};

bool writeAll(int fd, std::string_view bytes) {
    const char* p = bytes.data();
    std::size_t left = bytes.size();
    while (left > 0) {
        const ssize_t n = ::write(fd, p, left);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            return false;
        }
        p += n;
        left -= static_cast<std::size_t>(n);
    }
    return true;
}

// The temporary writeFileAtomically uses for `file`: ".<name>.<pid>.<n>.tmp".
std::string temporaryName(const std::filesystem::path& file, unsigned number) {
    // Built piecewise: GCC 12 at -O3 reports a false overlap (-Wrestrict) for "." + string.
    std::string name = ".";
    name += file.filename().string();
    name += '.';
    name += std::to_string(::getpid());
    name += '.';
    name += std::to_string(number);
    name += ".tmp";
    return name;
}

// The writer's process id when `name` is one of writeFileAtomically's temporaries for a file
// named `target`, else none.
std::optional<pid_t> temporaryWriter(std::string_view name, std::string_view target) {
    const std::string_view suffix = ".tmp";
    if (name.size() < target.size() + 2 + suffix.size() || name.front() != '.' ||
        name.substr(1, target.size()) != target || name[target.size() + 1] != '.' ||
        name.substr(name.size() - suffix.size()) != suffix)
        return std::nullopt;
    // What is left is "<pid>.<n>", both decimal.
    const std::string_view middle =
        name.substr(target.size() + 2, name.size() - target.size() - 2 - suffix.size());
    const std::size_t dot = middle.find('.');
    if (dot == 0 || dot == std::string_view::npos || dot + 1 == middle.size() || dot > 9)
        return std::nullopt;
    pid_t pid = 0;
    for (std::size_t i = 0; i < middle.size(); ++i) {
        if (i == dot)
            continue;
        if (middle[i] < '0' || middle[i] > '9')
            return std::nullopt;
        if (i < dot)
            pid = pid * 10 + (middle[i] - '0');
    }
    if (pid <= 0)
        return std::nullopt;
    return pid;
}

} // namespace

FileReadResult readWholeFile(const std::filesystem::path& path, std::size_t maxBytes) {
    FileReadResult result;
    Descriptor fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
    if (fd.get() < 0) {
        if (errno == ENOENT) {
            result.status = FileReadResult::Status::missing;
        } else {
            result.status = FileReadResult::Status::failed;
            result.error = describe("cannot open", path, errno);
        }
        return result;
    }
    struct stat info {};
    if (::fstat(fd.get(), &info) != 0) {
        result.status = FileReadResult::Status::failed;
        result.error = describe("cannot inspect", path, errno);
        return result;
    }
    if (!S_ISREG(info.st_mode)) {
        result.status = FileReadResult::Status::failed;
        result.error = path.string() + " is not a regular file";
        return result;
    }
    if (static_cast<std::uintmax_t>(info.st_size) > maxBytes) {
        result.status = FileReadResult::Status::tooLarge;
        result.error = path.string() + " is larger than " + std::to_string(maxBytes) + " bytes";
        return result;
    }
    // The size is a hint only: the file may change while it is read, so never read past the limit.
    result.bytes.reserve(static_cast<std::size_t>(info.st_size));
    char buffer[64 * 1024];
    for (;;) {
        const ssize_t n = ::read(fd.get(), buffer, sizeof buffer);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            result.status = FileReadResult::Status::failed;
            result.error = describe("cannot read", path, errno);
            result.bytes.clear();
            return result;
        }
        if (n == 0)
            break;
        if (result.bytes.size() + static_cast<std::size_t>(n) > maxBytes) {
            result.status = FileReadResult::Status::tooLarge;
            result.error = path.string() + " is larger than " + std::to_string(maxBytes) + " bytes";
            result.bytes.clear();
            return result;
        }
        result.bytes.append(buffer, static_cast<std::size_t>(n));
    }
    result.status = FileReadResult::Status::ok;
    return result;
}

namespace {
std::atomic<BeforeReplaceHook> beforeReplace{nullptr};
} // namespace

void setBeforeReplaceHook(BeforeReplaceHook hook) {
    beforeReplace.store(hook);
}

bool writeFileAtomically(const std::filesystem::path& path, std::string_view bytes,
                         std::string* error, std::error_code* code) {
    static std::atomic<unsigned> counter{0};
    const std::filesystem::path folder =
        path.has_parent_path() ? path.parent_path() : std::filesystem::path(".");

    // A name of our own in the same folder (the rename must not cross file systems). O_EXCL makes
    // sure we never write into somebody else's file; the mode leaves the permissions to the umask,
    // as for any newly created document.
    std::filesystem::path temporary;
    int raw = -1;
    for (int attempt = 0; attempt < 100 && raw < 0; ++attempt) {
        temporary = folder / temporaryName(path, counter.fetch_add(1));
        raw = ::open(temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (raw < 0 && errno != EEXIST)
            break;
    }
    if (raw < 0) {
        const int err = errno;
        setError(error, describe("cannot create a temporary file in", folder, err));
        setCode(code, err);
        return false;
    }
    Descriptor fd(raw);
    // `err` is the errno of the failed call, taken before the clean-up can change it.
    auto abandon = [&](const char* what, const std::filesystem::path& subject, int err) {
        fd.reset();
        ::unlink(temporary.c_str());
        setError(error, describe(what, subject, err));
        setCode(code, err);
        return false;
    };
    if (!writeAll(fd.get(), bytes))
        return abandon("cannot write", temporary, errno);
    if (::fsync(fd.get()) != 0)
        return abandon("cannot flush", temporary, errno);
    if (fd.reset() != 0)
        return abandon("cannot close", temporary, errno);
    if (const BeforeReplaceHook hook = beforeReplace.load())
        hook(path);
    if (::rename(temporary.c_str(), path.c_str()) != 0)
        return abandon("cannot replace", path, errno);

    // Make the rename itself durable. The new content is already in place, so a failure here is
    // no reason to report the save as failed.
    Descriptor dir(::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (dir.get() >= 0)
        ::fsync(dir.get());
    return true;
}

std::size_t removeStaleTemporaries(const std::filesystem::path& path) {
    const std::filesystem::path folder =
        path.has_parent_path() ? path.parent_path() : std::filesystem::path(".");
    const std::string target = path.filename().string();
    std::size_t removed = 0;
    std::error_code ec;
    for (auto it = std::filesystem::directory_iterator(folder, ec);
         !ec && it != std::filesystem::directory_iterator(); it.increment(ec)) {
        const std::string name = it->path().filename().string();
        const auto writer = temporaryWriter(name, target);
        if (!writer || *writer == ::getpid())
            continue;
        // ESRCH: no such process. EPERM means it runs under another user: keep its file.
        if (::kill(*writer, 0) == 0 || errno != ESRCH)
            continue;
        struct stat info {};
        if (::lstat(it->path().c_str(), &info) != 0 || !S_ISREG(info.st_mode))
            continue;
        if (::unlink(it->path().c_str()) == 0)
            ++removed;
    }
    return removed;
}

bool renameWithoutReplacing(const std::filesystem::path& from, const std::filesystem::path& to,
                            std::string* error) {
    if (::renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE) == 0)
        return true;
    if (errno != EINVAL && errno != ENOSYS) {
        setError(error, describe("cannot rename", from, errno) + " to " + to.string());
        return false;
    }
    // The file system cannot rename without replacing: check first (a small race, only on such
    // file systems).
    struct stat info {};
    if (::lstat(to.c_str(), &info) == 0) {
        setError(error, to.string() + " already exists");
        return false;
    }
    if (::rename(from.c_str(), to.c_str()) != 0) {
        setError(error, describe("cannot rename", from, errno) + " to " + to.string());
        return false;
    }
    return true;
}

std::optional<std::filesystem::path> homeFolder() {
    if (const char* home = std::getenv("HOME"); home && *home)
        return std::filesystem::path(home);
    struct passwd entry {};
    struct passwd* found = nullptr;
    char buffer[4096];
    if (::getpwuid_r(::getuid(), &entry, buffer, sizeof buffer, &found) == 0 && found &&
        found->pw_dir && *found->pw_dir)
        return std::filesystem::path(found->pw_dir);
    return std::nullopt;
}

} // namespace strata
