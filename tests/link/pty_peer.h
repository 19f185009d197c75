#pragma once

#include <cstdint>
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

// Link's command-line peer takes one tempo key at a time: types `key` (one BPM up or down) until
// `bpm()` reads `target`, each press waiting through `waitFor(condition)` for the tempo it makes.
// Whether it got there.
template <typename Bpm, typename WaitFor>
bool stepTempo(PtyPeer& peer, const char* key, std::int64_t target, Bpm bpm, WaitFor waitFor) {
    for (std::int64_t now = bpm().value_or(0); now != target; now += (now < target ? 1 : -1)) {
        peer.type(key);
        const std::int64_t next = now + (now < target ? 1 : -1);
        if (!waitFor([&] { return bpm() == next; }))
            return false;
    }
    return true;
}

} // namespace strata::testing
