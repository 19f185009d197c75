#include "test_hooks.h"

#include "model/store.h"
#include "platform/file_io.h"
#include "platform/log.h"

#include <QSocketNotifier>
#include <QTimer>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <thread>
#include <unistd.h>

namespace strata {
namespace {

int holdPipe[2] = {-1, -1};

std::atomic<bool> stopAtNextReplace{false};

extern "C" void onHookSignal(int number) {
    const int saved = errno;
    const unsigned char byte = number == SIGUSR2 ? 2 : 1;
    [[maybe_unused]] const ssize_t n = ::write(holdPipe[1], &byte, 1);
    errno = saved;
}

// Long enough to span many presses and several JACK periods.
constexpr auto kHold = std::chrono::seconds(2);
// After a hold the work queued meanwhile runs first; the report waits for it.
constexpr int kCatchUpMs = 250;

// Only the set's own file: backups and generated maps are written through the same call.
void stopBeforeReplace(const std::filesystem::path& file) {
    if (file == Store::filePath(StoreLocation::fromEnvironment()) &&
        stopAtNextReplace.exchange(false))
        ::raise(SIGSTOP);
}

} // namespace

bool TestHooks::install() {
    const char* on = std::getenv("STRATA_TEST_HOOKS");
    if (!on || std::strcmp(on, "1") != 0 || holdPipe[0] >= 0)
        return holdPipe[0] >= 0;
    if (::pipe2(holdPipe, O_CLOEXEC | O_NONBLOCK) != 0) {
        holdPipe[0] = holdPipe[1] = -1;
        return false;
    }
    struct sigaction action {};
    action.sa_handler = onHookSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    if (::sigaction(SIGUSR1, &action, nullptr) != 0 || ::sigaction(SIGUSR2, &action, nullptr) != 0)
        return false;
    setBeforeReplaceHook(stopBeforeReplace);
    logLine("[Strata] test hooks on: SIGUSR1 holds the main thread for 2 s, SIGUSR2 stops the "
            "next save before it replaces the file");
    return true;
}

TestHooks::TestHooks(std::function<std::string()> describe, QObject* parent)
    : QObject(parent), describe_(std::move(describe)) {
    if (holdPipe[0] < 0)
        return;
    notifier_ = new QSocketNotifier(holdPipe[0], QSocketNotifier::Read, this);
    connect(notifier_, &QSocketNotifier::activated, this, [this] { onSignal(); });
}

TestHooks::~TestHooks() = default;

void TestHooks::onSignal() {
    unsigned char bytes[16];
    const ssize_t n = ::read(holdPipe[0], bytes, sizeof bytes);
    bool holdNow = false;
    for (ssize_t i = 0; i < n; ++i) {
        if (bytes[i] == 2) {
            stopAtNextReplace.store(true);
            logLine("[Strata] test hook: the next save stops before it replaces the file");
        } else {
            holdNow = true;
        }
    }
    if (holdNow)
        hold();
}

void TestHooks::hold() {
    logLine("[Strata] test hook: holding the main thread at " + describe_());
    std::this_thread::sleep_for(kHold);
    QTimer::singleShot(kCatchUpMs, this,
                       [this] { logLine("[Strata] test hook: released at " + describe_()); });
}

} // namespace strata
