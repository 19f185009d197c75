#include "pty_peer.h"

#include <cerrno>
#include <csignal>
#include <poll.h>
#include <pty.h>
#include <sys/eventfd.h>
#include <sys/wait.h>
#include <unistd.h>

namespace strata::testing {

namespace {

constexpr std::size_t kKept = 4096;

} // namespace

PtyPeer::PtyPeer(const std::string& program) {
    stopFd_ = ::eventfd(0, EFD_CLOEXEC);
    const pid_t pid = ::forkpty(&master_, nullptr, nullptr, nullptr);
    if (pid == 0) {
        ::execlp(program.c_str(), program.c_str(), static_cast<char*>(nullptr));
        ::_exit(127);
    }
    if (pid < 0) {
        master_ = -1;
        return;
    }
    pid_ = pid;
    reader_ = std::thread([this] { drain(); });
}

PtyPeer::~PtyPeer() {
    if (pid_ > 0) {
        ::kill(pid_, SIGTERM);
        // A peer that ignores the hang-up gets no second chance after a short grace.
        for (int i = 0; i < 200; ++i) {
            if (::waitpid(pid_, nullptr, WNOHANG) == pid_) {
                pid_ = -1;
                break;
            }
            ::usleep(10'000);
        }
        if (pid_ > 0) {
            ::kill(pid_, SIGKILL);
            ::waitpid(pid_, nullptr, 0);
        }
    }
    if (reader_.joinable()) {
        const std::uint64_t one = 1;
        [[maybe_unused]] const auto written = ::write(stopFd_, &one, sizeof one);
        reader_.join();
    }
    if (master_ >= 0)
        ::close(master_);
    if (stopFd_ >= 0)
        ::close(stopFd_);
}

void PtyPeer::type(const std::string& keys) {
    // A key or two at a time: a terminal takes them whole.
    if (master_ >= 0) {
        [[maybe_unused]] const auto written = ::write(master_, keys.data(), keys.size());
    }
}

std::string PtyPeer::screen() const {
    std::lock_guard lock(mutex_);
    return tail_;
}

void PtyPeer::drain() {
    char buffer[4096];
    for (;;) {
        pollfd fds[2] = {{master_, POLLIN, 0}, {stopFd_, POLLIN, 0}};
        if (::poll(fds, 2, -1) < 0) {
            if (errno == EINTR)
                continue;
            return;
        }
        if (fds[1].revents)
            return;
        const ssize_t n = ::read(master_, buffer, sizeof buffer);
        if (n <= 0) {
            if (n < 0 && errno == EINTR)
                continue;
            return; // the peer is gone (EIO once the other side closed)
        }
        std::lock_guard lock(mutex_);
        tail_.append(buffer, static_cast<std::size_t>(n));
        if (tail_.size() > kKept)
            tail_.erase(0, tail_.size() - kKept);
    }
}

} // namespace strata::testing
