#include "support/test_support.h"

#include "platform/log.h"

#include <algorithm>
#include <fstream>
#include <mutex>
#include <random>
#include <sstream>

namespace strata::testing {

TempDir::TempDir() {
    std::random_device rd;
    for (;;) {
        path_ = std::filesystem::temp_directory_path() /
                ("strata-test-" + std::to_string(rd()) + std::to_string(rd()));
        if (std::filesystem::create_directory(path_))
            break;
    }
}

TempDir::~TempDir() {
    std::error_code ec;
    std::filesystem::permissions(path_, std::filesystem::perms::owner_all,
                                 std::filesystem::perm_options::add, ec);
    std::filesystem::remove_all(path_, ec);
}

std::string readFile(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

std::vector<std::string> filesIn(const std::filesystem::path& folder) {
    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(folder))
        names.push_back(entry.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

struct LogCapture::Shared {
    std::mutex mutex;
    std::vector<std::string> lines;
};

LogCapture::LogCapture() : shared_(std::make_shared<Shared>()) {
    auto shared = shared_;
    setLogSink([shared](std::string_view line) {
        std::lock_guard lock(shared->mutex);
        shared->lines.emplace_back(line);
    });
}

LogCapture::~LogCapture() {
    setLogSink({});
}

std::vector<std::string> LogCapture::lines() const {
    std::lock_guard lock(shared_->mutex);
    return shared_->lines;
}

std::vector<std::string> LogCapture::linesStartingWith(const std::string& prefix) const {
    std::vector<std::string> out;
    for (auto& l : lines())
        if (l.rfind(prefix, 0) == 0)
            out.push_back(l);
    return out;
}

} // namespace strata::testing
