#pragma once

#include <string>
#include <sys/types.h>

namespace strata::testing {

// A private JACK server for tests that need a real JACK graph: the server the JACK library this
// program loaded talks to. That is jackd with the dummy driver, or, when PipeWire's libjack comes
// first on the library path (as `pw-jack` arranges), a private PipeWire daemon driven by its dummy
// driver, without session manager or D-Bus.
//
// Each instance gets a server name of its own, so suites can run side by side. The process
// environment gets JACK_NO_START_SERVER=1 (no client may start a server behind our back) and
// JACK_DEFAULT_SERVER naming this server; for PipeWire also PIPEWIRE_RUNTIME_DIR, a folder of its
// own where the daemon's socket is named after the server (PipeWire's libjack takes a JACK server
// name as the name of that socket), and PIPEWIRE_QUANTUM with the period.
class JackTestServer {
public:
    static constexpr int kSampleRate = 48000;
    static constexpr int kPeriodFrames = 256;

    enum class Kind { jackd, pipewire };
    // Which server the loaded JACK library talks to.
    static Kind loadedLibraryKind();

    // Synchronous mode makes the server wait for every client to finish a cycle before the next
    // one, so that a busy test machine delays cycles instead of skipping clients (and the MIDI
    // they would have read). Latency figures use the ordinary asynchronous mode. PipeWire has no
    // such choice: its graph always runs the way it runs on a desktop.
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
    Kind kind() const { return kind_; }
    // Lines of the server's own output so far that report a missed cycle (an xrun).
    int xrunReports() const;
    int periodFrames() const { return periodFrames_; }
    // Whether one of the running server's threads actually got real-time scheduling (a system
    // may refuse it; jackd then goes on without).
    bool runsInRealTime() const;

private:
    bool startJackd(std::string* error);
    bool startPipeWire(std::string* error);
    void removeStaleFiles() const;

    Kind kind_;
    Mode mode_;
    int periodFrames_;
    // Whether jackd is asked to run its cycles in real time, as a performer's server does
    // (SCHED_FIFO; the timing harnesses ask for it with STRATA_JACK_REALTIME=1). Tests run
    // without: a real-time server on a shared test machine would take the cores from everything
    // else. Without it, the dummy driver's cycles wake late under load and its frame clock loses
    // that time (an xrun).
    bool realTime_ = false;
    std::string name_;
    std::string logPath_;
    std::string runtimeDir_; // PipeWire: its socket, lock and configuration
    pid_t pid_ = -1;
};

} // namespace strata::testing
