#include "platform/log.h"

#include <cstdio>
#include <mutex>
#include <string>

namespace strata {
namespace {
std::mutex& sinkMutex() {
    static std::mutex m;
    return m;
}
std::function<void(std::string_view)>& sink() {
    static std::function<void(std::string_view)> s;
    return s;
}
} // namespace

void logLine(std::string_view line) {
    std::lock_guard lock(sinkMutex());
    if (sink()) {
        sink()(line);
        return;
    }
    // One write per line so that lines from different threads never interleave.
    std::string text(line);
    text.push_back('\n');
    std::fwrite(text.data(), 1, text.size(), stdout);
    std::fflush(stdout);
}

void setLogSink(std::function<void(std::string_view)> s) {
    std::lock_guard lock(sinkMutex());
    sink() = std::move(s);
}

} // namespace strata
