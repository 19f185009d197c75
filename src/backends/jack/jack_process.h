#pragma once

#include "jack/jack_worker_wake.h"
#include "jack/spsc_byte_ring.h"
#include "platform/prepared_pool.h"

#include <algorithm>
#include <array>
#include <atomic>
#include <cstddef>
#include <cstdint>

typedef struct _jack_port jack_port_t;
typedef struct _jack_client jack_client_t;

namespace strata {

// What the outgoing rings carry: an event (followed by its bytes), a barrier, a hold that keeps
// everything behind it back until a given cycle, a gate that keeps it back until the channel's
// gateCycle (set by the worker once a new connection is in place), or a hold until a given JACK
// frame, at which what follows is written (its frame time in `cycle`).
enum JackOutKind : std::uint32_t {
    kJackOutEvent = 0,
    kJackOutBarrier = 1,
    kJackOutNotBefore = 2,
    kJackOutGate = 3,
    kJackOutAtFrame = 4,
};
struct JackOutRecord {
    std::uint32_t kind;
    std::uint32_t length;
    std::uint64_t cycle;
};

// A frame time further ahead than this is not held for: a clock mapped wrongly must not keep the
// output back. At least 100 ms, and four periods when they are longer.
constexpr std::uint32_t jackMaxFramesAhead(std::uint32_t sampleRate, std::uint32_t periodFrames) {
    return std::max(sampleRate / 10, 4 * periodFrames);
}

// What the incoming ring carries: one event from one of our input ports, then its bytes. A press
// that claimed a prepared answer says which (`answer` is its index + 1, else 0). `frame` is the
// event's frame time, when the cycle's was known (`framed`).
struct JackInRecord {
    std::uint32_t endpoint;
    std::uint32_t length;
    std::uint64_t cycle;
    std::uint32_t answer = 0;
    std::uint32_t frame = 0;
    std::uint64_t generation = 0;
    std::uint32_t framed = 0;
    std::uint32_t reserved = 0;
};

// The state the JACK process callback shares with ordinary threads, and the callback itself.
//
// Channels 0 and 1 of each direction are the virtual endpoints; the port pool's slots follow.
// Every outgoing ring has one producer (whoever holds the backend's producer lock) and the
// process callback as its consumer; the incoming ring has the process callback as its producer
// and the worker thread as its consumer. Ports are published with release stores, so the
// callback sees a port only once it is registered, and nothing once it is gone.
class JackProcess {
public:
    static constexpr std::size_t kVirtualEndpoints = 2;
    static constexpr std::size_t kMaxOutputSlots = 8;
    static constexpr std::size_t kMaxInputSlots = 64;
    static constexpr std::size_t kOutgoingRingBytes = 64 * 1024;
    static constexpr std::size_t kIncomingRingBytes = 256 * 1024;

    // One outgoing stream: a virtual source or one output slot.
    struct OutputChannel {
        OutputChannel() : ring(kOutgoingRingBytes) {}
        SpscByteRing ring;
        std::atomic<jack_port_t*> port{nullptr};
        std::size_t sentOfCurrent = 0; // process callback only: bytes of the head event already out
        std::uint64_t lastWriteCycle = 0;        // process callback only: the last cycle that wrote
        std::atomic<std::uint64_t> gateCycle{0}; // a gate record waits for this cycle
    };
    // One incoming stream: a virtual destination or one input slot.
    struct InputChannel {
        std::atomic<jack_port_t*> port{nullptr};
        std::atomic<std::uint64_t> refCon{0};
        std::atomic<bool> suppressed{false};
        // The source's client also listens to one of our outputs. JACK breaks such a loop by
        // running one of the two a cycle behind the other, so an answer reaches that client one
        // period later than the frames say (whichever of the two runs first).
        std::atomic<bool> loopsBack{false};
    };

    explicit JackProcess(bool onPipeWire) : onPipeWire_(onPipeWire) {}
    JackProcess(const JackProcess&) = delete;
    JackProcess& operator=(const JackProcess&) = delete;

    // Handed to JACK with this object as `self`.
    static int processCallback(std::uint32_t frames, void* self);
    static int bufferSizeCallback(std::uint32_t frames, void* self);
    static int xrunCallback(void* self);
    // Both kinds of shutdown notice; may run on the process thread.
    static void shutdownCallback(void* self);

    // Threads other than the real-time one: counts events dropped on their way to JACK and wakes
    // the worker to report them. (The callback's own drops are of answers to a press, in a cycle
    // that read input: that cycle wakes the worker anyway.)
    void dropOutgoing(std::uint64_t events) {
        droppedOutgoing.fetch_add(events, std::memory_order_relaxed);
        workerWake.post();
    }
    // Not while the process callback may run: forgets what was queued and every port.
    void resetStreams();
    void forgetPorts();

    std::array<OutputChannel, kVirtualEndpoints + kMaxOutputSlots> outputs;
    std::array<InputChannel, kVirtualEndpoints + kMaxInputSlots> inputs;
    SpscByteRing incoming{kIncomingRingBytes};

    std::atomic<std::uint64_t> cycle{0};
    // The latest cycle that read anything from an input port (whether it fitted into the incoming
    // ring or not). Stored before finishedCycle: whoever reads finishedCycle and then this knows
    // that the cycles in between read nothing.
    std::atomic<std::uint64_t> lastInputCycle{0};
    // The latest cycle the callback has finished: everything it read into the incoming ring is
    // there for whoever reads this.
    std::atomic<std::uint64_t> finishedCycle{0};
    // JACK's clock when the latest process callback began, stored when it has finished (so
    // that what it wrote into the incoming ring is visible to whoever reads this).
    std::atomic<std::uint64_t> lastProcessMicros{0};
    // The open client, for the frame time of each cycle; none while there is none.
    std::atomic<jack_client_t*> client{nullptr};
    std::atomic<std::uint32_t> periodFrames{0};
    std::atomic<std::uint32_t> sampleRate{0};
    std::atomic<std::uint64_t> droppedOutgoing{0};
    std::atomic<std::uint64_t> droppedIncoming{0};
    // Events written whole into an output port's buffer: what JACK was handed.
    std::atomic<std::uint64_t> writtenOutgoing{0};
    std::atomic<std::uint64_t> xruns{0};
    std::atomic<bool> shutdownSignalled{false};
    // The thread (its Linux thread id) that reported the shutdown when that was not our process
    // thread: with jackd, libjack's notification thread (0: none, or the process thread).
    std::atomic<int> shutdownReporter{0};
    // Where the worker thread sleeps. A cycle that read input wakes it once that cycle has
    // finished; so do a shutdown, an xrun, a dropped event and, from other threads, whatever
    // else gives the worker work.
    JackWorkerWake workerWake;

    // Prepared answers (platform/prepared_answers.h): published and withdrawn by ordinary
    // threads, claimed by the callback.
    PreparedPool prepared;
    // Set by the worker: every cycle up to this one has had its input handed to the handlers.
    // A press is answered from a prepared table only when no earlier press still waits for
    // them (that press may move the position the table was prepared from).
    std::atomic<std::uint64_t> handedOnCycle{0};
    // Presses answered from a prepared table.
    std::atomic<std::uint64_t> answeredInCycle{0};

private:
    int process(std::uint32_t frames);
    // What a cycle's output is written against: its count, its length, and the frame time of its
    // first frame (none when unknown: frame holds then let everything through).
    struct CycleFrames {
        std::uint64_t cycle = 0;
        std::uint32_t frames = 0;
        std::uint32_t firstFrame = 0;
        bool frameKnown = false;
    };
    void drainOutput(OutputChannel& channel, void* buffer, const CycleFrames& now);
    // Input step: reads every input port into the incoming ring; true when any port had input.
    bool readInputs(const CycleFrames& now);
    // Input step: whether the press read from a source claims a prepared answer now, or is
    // left to the worker (refused: it may be a trigger), or is no trigger the table knows.
    enum class ClaimResult { claimed, refused, noTrigger };
    ClaimResult claimPrepared(const std::uint8_t* bytes, std::size_t size, std::uint64_t source,
                              std::uint64_t cycle);
    // Output step, before the ring is drained: the answer claimed in this cycle, if it has bytes
    // for this channel.
    void writePrepared(std::size_t channelIndex, void* buffer, std::uint64_t cycle);

    // Callback only: the last press read from a source (claimed or not), its source and cycle,
    // and the last cycle in which a press that may be a trigger went to the worker unclaimed.
    std::uint64_t lastPressCycle_ = 0;
    std::uint32_t lastPressKey_ = 0;
    std::uint64_t lastPressSource_ = 0;
    std::uint64_t lastUnansweredCycle_ = 0;
    // Callback only: the claim of the current cycle.
    PreparedPool::Claim claim_{};
    std::uint64_t claimCycle_ = 0;

    const bool onPipeWire_;
};

} // namespace strata
