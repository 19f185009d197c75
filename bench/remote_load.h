#pragma once

// Load on the band remote for the performance suite: a crowd of WebSocket viewers that keep
// reading the state the program sends, and a flood of malformed input from every side the remote
// listens on. Both run on threads of their own until stopped, over loopback only.

#include <atomic>
#include <cstdint>
#include <string>
#include <thread>
#include <vector>

namespace strata::bench {

// Where the remote listens and the link's token.
struct RemoteEndpoint {
    std::uint16_t webPort = 0;
    std::uint16_t oscPort = 0;
    std::string token;
};

// A minimal WebSocket client's first step: the opening request and the wait for the server's
// "101". Returns the connected socket (bytes that came after the answer in `rest`), or -1.
int openWebSocket(const RemoteEndpoint& remote, const std::string& token, std::string* rest,
                  int timeoutMs = 2000);

// Viewers of the page's WebSocket: each connection is read all the time (one thread polls them
// all), and the text frames the program sends are counted.
class ViewerCrowd {
public:
    ViewerCrowd() = default;
    ~ViewerCrowd() { stop(); }
    ViewerCrowd(const ViewerCrowd&) = delete;
    ViewerCrowd& operator=(const ViewerCrowd&) = delete;

    // Opens `count` viewers and starts reading; false (with why) when one could not connect.
    bool open(const RemoteEndpoint& remote, int count, std::string* error);
    void stop();

    // Viewers whose connection the program has not closed.
    int connected() const { return connected_.load(); }
    // State messages received by all viewers so far, and by the one that received fewest.
    std::uint64_t messages() const { return messages_.load(); }
    std::uint64_t fewestPerViewer() const { return fewest_.load(); }

private:
    struct Viewer {
        int fd = -1;
        std::string buffer;
        std::uint64_t messages = 0;
        bool open = true;
    };
    void run();
    static bool takeFrames(Viewer& viewer);

    std::vector<Viewer> viewers_;
    std::thread reader_;
    std::atomic<bool> stopping_{false};
    std::atomic<int> connected_{0};
    std::atomic<std::uint64_t> messages_{0};
    std::atomic<std::uint64_t> fewest_{0};
};

// Malformed input at a steady pace, from two threads: one makes TCP connections (garbage HTTP
// requests, WebSockets that send bad frames), the other sends malformed OSC datagrams from an
// allowed sender (127.0.0.1) and from a refused one (127.0.0.2). Nothing sent is a valid
// command, so the set never moves because of it.
class MalformedFlood {
public:
    struct Counts {
        std::uint64_t httpRequests = 0;
        std::uint64_t badFrameSockets = 0;
        std::uint64_t webSocketsRefused = 0; // handshakes the program did not answer with "101"
        std::uint64_t oscAllowed = 0;
        std::uint64_t oscRefused = 0;
        std::uint64_t oscSubscribes = 0;
    };

    MalformedFlood() = default;
    ~MalformedFlood() { stop(); }
    MalformedFlood(const MalformedFlood&) = delete;
    MalformedFlood& operator=(const MalformedFlood&) = delete;

    // False (with why) when the datagram senders could not be set up.
    bool start(const RemoteEndpoint& remote, std::string* error);
    void stop();
    Counts counts() const;

private:
    void runTcp();
    void runOsc();

    RemoteEndpoint remote_;
    std::thread tcp_;
    std::thread osc_;
    int allowedFd_ = -1;
    int refusedFd_ = -1;
    std::atomic<bool> stopping_{false};
    std::atomic<std::uint64_t> http_{0}, frames_{0}, wsRefused_{0}, oscAllowed_{0}, oscRefused_{0},
        subscribes_{0};
};

} // namespace strata::bench
