#pragma once

#include "cuelink/connection_state.h"
#include "cuelink/cue_messages.h"
#include "platform/lifetime.h"
#include "platform/main_loop.h"
#include "platform/signal.h"
#include "platform/thread_check.h"

#include <array>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string_view>
#include <thread>
#include <vector>

namespace strata {

// Fixed figures of the cue link.
namespace cue_link {
inline constexpr std::string_view kGroupAddress = "239.42.7.1";
inline constexpr std::uint16_t kPort = 46810;
inline constexpr std::size_t kReadSize = kMaxDatagramSize;
// One-shot discovery sends after start, then one every kDiscoveryPeriod from start.
inline constexpr std::array<double, 4> kEarlyDiscoverySeconds{0.0, 0.5, 1.5, 3.0};
inline constexpr Duration kDiscoveryPeriod = seconds(5.0);
inline constexpr Duration kWatchdogPeriod = seconds(2.0);
// The connection is given up once more than this has passed since the last envelope.
inline constexpr Duration kSilenceLimit = seconds(10.0);
// Host shown when live state arrives without a greeting.
inline constexpr std::string_view kFallbackHost = "Cadenzo";
} // namespace cue_link

// Listens to Cadenzo on the cue-link multicast group, keeps the connection state the toolbar
// shows, and republishes Cadenzo's messages as events. It never sends anything but its discovery
// datagram. Without a network (or with no Cadenzo) it simply stays disconnected.
//
// Threads: the socket is read on a reader thread of the link's own, which decodes each datagram
// and posts it to the main loop as a value; the link's state, its timers and every event and
// change notification live on the main thread, synchronously from the datagram handler, in the
// order the datagrams were read. The one exception is the FIRE reflex (setFireReflex): a FIRE it
// answers on the reader thread is then not republished on `fire` (the move reaches the main
// thread by the reflex's own way). The link may be destroyed from inside one of its own
// notifications; the destructor stops and joins the reader.
class CadenzoLink {
public:
    struct Options {
        // False builds a link with no socket at all: nothing is opened, read, sent or logged,
        // while the timers run as usual. For runs on virtual time that hand datagrams over with
        // handleDatagram() and must not join a multicast group.
        bool openSocket = true;
        // A datagram socket that is already open and read instead of the group's (tests hand in
        // one end of a socket pair); the link owns it from then on. No discovery is sent on it.
        int adoptSocket = -1;
        // Runs on the reader thread before it reads anything: the program asks there for the
        // scheduling priority that lets a FIRE's mutes go out without waiting behind ordinary
        // work (the core makes no such system call of its own). Not called without a reader.
        std::function<void()> readerStarted = nullptr;
    };
    // Answers a FIRE on the reader thread, before the datagram reaches the main thread; true
    // when it did (the jump is made), false to leave the FIRE to the main thread's `fire`.
    using FireReflex = std::function<bool(const Fire&)>;

    // Opens and joins the socket (a failure prints one line and leaves the link without a
    // socket), then starts the watchdog and the discovery sends.
    explicit CadenzoLink(MainLoop& loop);
    CadenzoLink(MainLoop& loop, Options options);
    // Stops and joins the reader, stops the timers, and closes the socket exactly once.
    ~CadenzoLink();
    CadenzoLink(const CadenzoLink&) = delete;
    CadenzoLink& operator=(const CadenzoLink&) = delete;

    // Written by the link only; observers are notified on every write, changed or not.
    Published<ConnectionState> connection;

    // The last live state received; no change notification.
    const std::optional<LiveState>& liveState() const { return liveState_; }

    // One event per valid datagram of the type; subscribers receive only later events. `fire`
    // leaves out the FIREs the reflex answered.
    Signal<const Fire&> fire;
    Signal<const SetlistSnapshot&> snapshot;
    Signal<const MarkerHit&> markerHit;
    Signal<const LiveState&> liveTick;

    // The datagram handler: decodes one datagram and applies it, as if it had been read from the
    // socket with no reflex installed. Malformed input is dropped silently. Main thread.
    void handleDatagram(CueBytes bytes);

    // Installs (or with nullptr removes) the FIRE reflex. Any thread; once it returns, the
    // previous reflex is not running and is never called again.
    void setFireReflex(FireReflex reflex);

    // The socket, or -1 when there is none.
    int fd() const { return fd_; }
    // When the last well-formed envelope from Cadenzo arrived, if any did (discovery datagrams,
    // ours looped back or another Strata's, do not count).
    const std::optional<TimePoint>& lastHeartbeat() const { return lastHeartbeat_; }

private:
    void openSocket();
    // Reads the socket on a thread of its own; without a way to stop one, on the main thread.
    void startReading(std::function<void()> started);
    void readLoop();
    // Reader thread: one datagram read off the socket.
    void readOne(std::vector<std::uint8_t>& buffer);
    // Main thread: one decoded datagram, `answered` when the FIRE reflex took its jump.
    void apply(const DecodedDatagram& decoded, bool answered);
    // Runs the watchdog (every kWatchdogPeriod) unless it runs already; called as the link
    // connects, and stopped by disconnect().
    void watchHeartbeat();
    void startDiscoveryPing();
    void receive();
    void sendDiscovery();
    void checkHeartbeat();
    // Sets `disconnected`, then clears the live state (unless an observer destroyed the link).
    void disconnect();

    MainLoop& loop_;
    int fd_ = -1;
    bool groupSocket_ = false; // fd_ is the group's socket (discovery is sent on it)
    // The reader thread and the eventfd that tells it to stop (-1 when reading on the main loop).
    int stopFd_ = -1;
    std::thread reader_;
    std::mutex reflexLock_; // held by the reader while it calls fireReflex_
    FireReflex fireReflex_;
    TimerHandle source_;
    std::optional<TimePoint> lastHeartbeat_;
    std::optional<LiveState> liveState_;
    TimerHandle heartbeatTimer_;
    TimerHandle discoveryTimer_;
    std::array<TimerHandle, cue_link::kEarlyDiscoverySeconds.size()> earlyDiscovery_;
    std::vector<std::uint8_t> readBuffer_; // the main-loop reader's
    // Expires when the link is destroyed; lets the handler notice an observer that destroyed it.
    ThreadCheck thread_;
    Lifetime<CadenzoLink> lifetime_{this};
};

} // namespace strata
