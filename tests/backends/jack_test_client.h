#pragma once

#include "jack/spsc_byte_ring.h"
#include "support/test_support.h"

#include <array>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

typedef struct _jack_client jack_client_t;
typedef struct _jack_port jack_port_t;

namespace strata::testing {

// Connects two ports by their full names once `client` lists both (waiting up to `timeout`):
// jackd lists a port from the moment it is registered, PipeWire once the news has reached
// `client`. An existing connection counts as success.
bool connectPorts(jack_client_t* client, const std::string& source, const std::string& destination,
                  std::chrono::milliseconds timeout = kPatience);

// Opens a client of exactly `clientName` on the server, or nullptr. A busy server can let a first
// attempt time out: it tries five times.
jack_client_t* openJackClient(const std::string& serverName, const std::string& clientName);

// One MIDI event as a test client saw it.
struct JackTestEvent {
    std::size_t port = 0;            // index of the test client's port
    std::vector<std::uint8_t> bytes; // exactly one JACK event
    std::uint32_t cycleFrame = 0;    // frame time at the start of the cycle it arrived in
    std::uint32_t offset = 0;        // its frame offset within that cycle
    std::uint64_t cycleMicros = 0;   // JACK's microsecond clock when that cycle was processed
};

// A small libjack client that plays a DAW or a controller in tests: MIDI ports of its own,
// bytes sent out in the next cycle, and everything received recorded with its cycle.
class JackTestClient {
public:
    static constexpr std::size_t kMaxPorts = 16;

    JackTestClient(const std::string& serverName, const std::string& clientName);
    ~JackTestClient();
    JackTestClient(const JackTestClient&) = delete;
    JackTestClient& operator=(const JackTestClient&) = delete;

    // What a JACK client of this process reads when `bytes` are sent to it: jackd passes every
    // event unchanged; PipeWire's libjack hands its reader a Note On of velocity 0 as a Note Off
    // of velocity 64 (as a DAW running on PipeWire's JACK reads Strata's button releases).
    static std::vector<std::uint8_t> asReceived(std::vector<std::uint8_t> bytes);

    bool ok() const { return client_ != nullptr; }
    jack_client_t* handle() const { return client_; }

    // Registers a port and returns its index (or kMaxPorts on failure). Works while active.
    std::size_t addInput(const std::string& shortName) { return addPort(shortName, false); }
    std::size_t addOutput(const std::string& shortName) { return addPort(shortName, true); }
    // Copies every event arriving on input `from` to output `to` in the same cycle.
    void passThrough(std::size_t from, std::size_t to);
    std::string fullName(std::size_t port) const;
    // Gives a port an alias, as JACK's ALSA drivers name the device behind a system port.
    bool setAlias(std::size_t port, const std::string& alias);

    bool connect(const std::string& source, const std::string& destination) {
        return connectPorts(client_, source, destination);
    }

    // Queues one event on output `port`; it goes out in a coming cycle, at `offset` within it (or
    // the offset of the event before it in that cycle, when that is later).
    bool send(std::size_t port, const std::vector<std::uint8_t>& bytes, std::uint32_t offset = 0);
    // Queues one event on output `port` for JACK frame time `frame`: it goes out at that frame
    // (at once when the frame has passed), and what is queued behind it waits for it.
    bool sendAtFrame(std::size_t port, const std::vector<std::uint8_t>& bytes, std::uint32_t frame);
    // Waits until this client has been through `cycles` more process cycles: a connection made
    // just before is then in place in the server's graph.
    bool waitCycles(int cycles, std::chrono::milliseconds timeout = kPatience);

    // Events that arrived so far (all ports, in arrival order); takes them out of the client.
    std::vector<JackTestEvent> takeReceived();
    // Events this client wrote out, with the cycle they went out in (only `send`, not
    // pass-through).
    std::vector<JackTestEvent> takeSent();

    // Polls `done` (collecting arrivals) until it is true or `timeout` has passed.
    bool waitUntil(const std::function<bool(const std::vector<JackTestEvent>&)>& done,
                   std::chrono::milliseconds timeout = kPatience);
    // Everything collected by waitUntil so far, and what arrived since.
    std::vector<JackTestEvent> takeCollected() { return takeReceived(); }

private:
    struct Record {
        std::uint32_t port;
        std::uint32_t length;
        std::uint32_t cycleFrame;
        std::uint32_t offset;
        std::uint64_t micros;
    };
    static int processCallback(std::uint32_t frames, void* self);
    int process(std::uint32_t frames);
    static std::vector<JackTestEvent> drain(strata::SpscByteRing& ring);
    std::size_t addPort(const std::string& shortName, bool output);

    jack_client_t* client_ = nullptr;
    std::array<std::atomic<jack_port_t*>, kMaxPorts> ports_{};
    std::array<bool, kMaxPorts> isOutput_{};
    std::array<std::atomic<int>, kMaxPorts> passTo_{};
    std::size_t portCount_ = 0;
    std::atomic<std::uint64_t> cycles_{0};
    std::vector<std::unique_ptr<strata::SpscByteRing>> outRings_;
    strata::SpscByteRing received_{4 << 20};
    strata::SpscByteRing sent_{4 << 20};
    std::mutex sendMutex_;
    // What an output ring holds ahead of each event's bytes.
    struct Queued {
        std::uint32_t length;
        std::uint32_t offset;
        std::uint32_t frame;   // with atFrame: the frame time it is due at
        std::uint32_t atFrame; // 1: held until `frame`
    };
    std::vector<JackTestEvent> collected_;
};

} // namespace strata::testing
