#include "signal_quitter.h"

#include <QSocketNotifier>
#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <unistd.h>

namespace strata {
namespace {

int pipeFds[2] = {-1, -1};

extern "C" void onSignal(int number) {
    const int saved = errno;
    const unsigned char byte = static_cast<unsigned char>(number);
    // Async-signal-safe; a full pipe only means a quit is already waiting.
    [[maybe_unused]] const ssize_t n = ::write(pipeFds[1], &byte, 1);
    errno = saved;
}

} // namespace

bool SignalQuitter::install() {
    if (pipeFds[0] >= 0)
        return true;
    if (::pipe2(pipeFds, O_CLOEXEC | O_NONBLOCK) != 0) {
        pipeFds[0] = pipeFds[1] = -1;
        return false;
    }
    struct sigaction action {};
    action.sa_handler = onSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    bool ok = true;
    for (int number : {SIGTERM, SIGINT})
        ok = ::sigaction(number, &action, nullptr) == 0 && ok;
    return ok;
}

SignalQuitter::SignalQuitter(QObject* parent) : QObject(parent) {
    if (pipeFds[0] < 0)
        return;
    notifier_ = new QSocketNotifier(pipeFds[0], QSocketNotifier::Read, this);
    connect(notifier_, &QSocketNotifier::activated, this, [this] { readPipe(); });
}

SignalQuitter::~SignalQuitter() = default;

void SignalQuitter::readPipe() {
    unsigned char bytes[16];
    const ssize_t n = ::read(pipeFds[0], bytes, sizeof bytes);
    for (ssize_t i = 0; i < n; ++i)
        Q_EMIT quitRequested(bytes[i]);
}

} // namespace strata
