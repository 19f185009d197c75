#pragma once

#include <mutex>
#include <string>
#include <sys/types.h>
#include <thread>

namespace strata::testing {

// An interactive program run under a pseudo-terminal of its own, as if someone sat at it: keys
// go to its terminal, and its screen output is drained (a full terminal would block it) and kept.
class PtyPeer {
public:
    explicit PtyPeer(const std::string& program);
    ~PtyPeer(); // hangs up, then kills what is left
    PtyPeer(const PtyPeer&) = delete;
    PtyPeer& operator=(const PtyPeer&) = delete;

    bool running() const { return pid_ > 0; }
    // Types `keys` on its terminal.
    void type(const std::string& keys);
    // The latest output (the last few kilobytes), for failure messages.
    std::string screen() const;

private:
    void drain();

    pid_t pid_ = -1;
    int master_ = -1;
    int stopFd_ = -1;
    mutable std::mutex mutex_;
    std::string tail_;
    std::thread reader_;
};

} // namespace strata::testing
