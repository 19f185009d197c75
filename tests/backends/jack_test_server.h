#pragma once

#include <string>
#include <sys/types.h>

namespace strata::testing {

// A private jackd with the dummy driver, for tests that need a real JACK graph. Each instance
// gets a server name of its own, so suites can run side by side. The process environment gets
// JACK_NO_START_SERVER=1 (no client may start a server behind our back) and JACK_DEFAULT_SERVER
// naming this server.
class JackTestServer {
public:
    static constexpr int kSampleRate = 48000;
    static constexpr int kPeriodFrames = 256;

    // Synchronous mode makes the server wait for every client to finish a cycle before the next
    // one, so that a busy test machine delays cycles instead of skipping clients (and the MIDI
    // they would have read). Latency figures use the ordinary asynchronous mode.
    enum class Mode { synchronous, asynchronous };

    // `periodFrames`: frames per cycle (timing harnesses use smaller ones for finer stamps).
    explicit JackTestServer(Mode mode = Mode::synchronous, int periodFrames = kPeriodFrames);
    ~JackTestServer();
    JackTestServer(const JackTestServer&) = delete;
    JackTestServer& operator=(const JackTestServer&) = delete;

    // Starts the server and waits until it answers. On failure, `error` says why.
    bool start(std::string* error = nullptr);
    // Stops it (SIGTERM to its PID, SIGKILL if it does not go) and removes what it left behind.
    void stop();
    bool running() const { return pid_ > 0; }
    // Stops the server process in its tracks (SIGSTOP) and returns once it is stopped: no cycle
    // runs, so no client's process callback drains anything, until thaw() lets it go on.
    void freeze();
    void thaw();
    const std::string& name() const { return name_; }
    // Lines of the server's own output so far that report a missed cycle (an xrun).
    int xrunReports() const;
    int periodFrames() const { return periodFrames_; }

private:
    bool startOnce(std::string* error);
    void removeStaleFiles() const;

    Mode mode_;
    int periodFrames_;
    std::string name_;
    std::string logPath_;
    pid_t pid_ = -1;
};

} // namespace strata::testing
