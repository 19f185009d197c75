#include "test_hooks.h"

#include "platform/log.h"

#include <QSocketNotifier>
#include <QTimer>
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

extern "C" void onHoldSignal(int) {
    const int saved = errno;
    const unsigned char byte = 1;
    [[maybe_unused]] const ssize_t n = ::write(holdPipe[1], &byte, 1);
    errno = saved;
}

// Long enough to span many presses and several JACK periods.
constexpr auto kHold = std::chrono::seconds(2);
// After a hold the work queued meanwhile runs first; the report waits for it.
constexpr int kCatchUpMs = 250;

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
    action.sa_handler = onHoldSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    if (::sigaction(SIGUSR1, &action, nullptr) != 0)
        return false;
    logLine("[Strata] test hooks on: SIGUSR1 holds the main thread for 2 s");
    return true;
}

TestHooks::TestHooks(std::function<std::string()> describe, QObject* parent)
    : QObject(parent), describe_(std::move(describe)) {
    if (holdPipe[0] < 0)
        return;
    notifier_ = new QSocketNotifier(holdPipe[0], QSocketNotifier::Read, this);
    connect(notifier_, &QSocketNotifier::activated, this, [this] { hold(); });
}

TestHooks::~TestHooks() = default;

void TestHooks::hold() {
    unsigned char bytes[16];
    if (::read(holdPipe[0], bytes, sizeof bytes) <= 0)
        return;
    logLine("[Strata] test hook: holding the main thread at " + describe_());
    std::this_thread::sleep_for(kHold);
    QTimer::singleShot(kCatchUpMs, this,
                       [this] { logLine("[Strata] test hook: released at " + describe_()); });
}

} // namespace strata
