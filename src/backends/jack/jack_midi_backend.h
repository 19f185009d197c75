#pragma once

#include "jack/spsc_byte_ring.h"
#include "platform/midi_backend.h"

#include <array>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

typedef struct _jack_client jack_client_t;
typedef struct _jack_port jack_port_t;

namespace strata {

// MIDI through a JACK server (jackd2, or PipeWire's JACK interface).
//
// One JACK client. What the DAW sees: the outputs "Strata" and "Strata XT" (our virtual sources)
// and the inputs "Strata feedback" and "Strata XT feedback" (our virtual destinations; JACK does
// not let one client own an input and an output of the same name). Inside the engine those four
// keep their logical names "Strata" and "Strata XT".
//
// Input: JACK mixes everything connected to one input port into one stream, so a single port
// could not tell which source a byte came from. Each connected source therefore gets an input
// port of its own ("Strata In", "Strata In 2", ...), created when the source is first connected
// and kept for it, so that its connection value (refCon) travels with every delivery.
//
// Output to system destinations: likewise, one output port connected to several destinations
// would send everything to all of them. A small pool of output ports ("Strata Out",
// "Strata Out 2", ...) is bound to destinations on first use, one destination per port; the
// least recently used idle port is rebound when all are taken.
//
// PipeWire's libjack (same API, same port names) differs where it matters here: it hands its
// reader a Note On of velocity 0 as a Note Off (turned back on input: a Mackie host's dark LED),
// it converts each cycle's MIDI into a sequence of bounded size and drops a cycle that does not
// fit (output per cycle stays well below), it lists other clients' new ports and links a moment
// after they exist (output to a new connection waits until the link is listed), and it reports
// its daemon going away only through jack_on_shutdown.
//
// Threads: the process callback only moves bytes between port buffers and lock-free rings
// (no allocation, locks or system calls). One worker thread of ours reads the incoming ring and
// calls the read handlers, turns JACK's notifications into coalesced setup notifications, and
// reconnects when the server comes back. Handlers are called on that worker thread.
class JackMidiBackend : public MidiBackend {
public:
    struct Options {
        // The JACK client name; JACK appends a suffix when it is taken.
        std::string clientName = "Strata";
        // The server to talk to; none means the default (JACK_DEFAULT_SERVER or "default").
        std::optional<std::string> serverName;
        // Keep trying to reach a server (every `retryInterval`) while none answers.
        bool waitForServer = true;
        std::chrono::milliseconds retryInterval{1000};
        // How often the worker thread looks at the incoming ring when it cannot tell when the
        // next cycle comes (the process callback does not wake it: that would be a system call).
        // Otherwise it sleeps until our next process callback is due and then looks closely, at
        // most a quarter of this apart, until that callback has run: one or two wake-ups a cycle
        // instead of one every interval, and no more added input latency than before.
        std::chrono::microseconds pollInterval{1000};
        // Setup notifications arriving closer together than this are delivered as one.
        std::chrono::milliseconds setupCoalesce{10};
    };

    struct Counters {
        std::uint64_t droppedOutgoing = 0; // events that did not fit into an outgoing ring
        std::uint64_t droppedIncoming = 0; // events that did not fit into the incoming ring
        // Events written whole into an output port's buffer: what JACK was handed. A reader
        // that sees fewer lost them in the server (a late client in an asynchronous graph).
        std::uint64_t writtenOutgoing = 0;
        std::uint64_t xruns = 0; // cycles the server reported as missed (by any client)
    };

    static constexpr std::size_t kVirtualEndpoints = 2;
    static constexpr std::size_t kMaxOutputSlots = 8;
    static constexpr std::size_t kMaxInputSlots = 64;
    static constexpr std::size_t kOutgoingRingBytes = 64 * 1024;
    static constexpr std::size_t kIncomingRingBytes = 256 * 1024;

    JackMidiBackend();
    explicit JackMidiBackend(Options options);
    ~JackMidiBackend() override;
    JackMidiBackend(const JackMidiBackend&) = delete;
    JackMidiBackend& operator=(const JackMidiBackend&) = delete;

    std::string_view kind() const override { return "jack"; }
    bool available() const override;

    MidiRef createClient(std::string_view name, SetupHandler onSetupChanged) override;
    MidiRef createOutputPort(MidiRef client, std::string_view name) override;
    MidiRef createInputPort(MidiRef client, std::string_view name, ReadHandler onRead) override;
    bool connectSource(MidiRef inputPort, MidiRef source, std::uint64_t refCon) override;
    MidiRef createVirtualSource(MidiRef client, std::string_view name) override;
    MidiRef createVirtualDestination(MidiRef client, std::string_view name,
                                     DestinationHandler onRead) override;

    void received(MidiRef virtualSource, const std::uint8_t* data, std::size_t length) override;
    void send(MidiRef outputPort, MidiRef destination, const std::uint8_t* data,
              std::size_t length) override;
    void barrier(MidiRef virtualSource) override;
    bool outputPending(MidiRef virtualSource) const override;
    std::chrono::nanoseconds cyclePeriod() const override;
    std::uint64_t cycleCount() const override;

    std::vector<MidiPortInfo> sources() override;
    std::vector<MidiPortInfo> destinations() override;
    std::optional<std::string> displayName(MidiRef object) override;
    std::optional<std::string> name(MidiRef object) override;
    // A system port's JACK aliases (the names the ALSA drivers give the device behind
    // "system:midi_capture_N", say).
    std::vector<std::string> aliases(MidiRef object) override;
    // Our virtual destinations are the "… feedback" inputs.
    std::string externalName(MidiRef ownEndpoint) override;

    void setSubscriberHandler(SubscriberHandler handler) override;
    void setAvailabilityHandler(AvailabilityHandler handler) override;

    // Whether the JACK library this process loaded is PipeWire's (else jackd's).
    static bool libraryIsPipeWire();

    // The JACK name of the client ("Strata", or with JACK's suffix), empty while unavailable.
    std::string jackClientName() const;
    // Full JACK port name of one of our objects (a virtual endpoint, "Strata In", "Strata Out"),
    // empty when it has no port right now.
    std::string jackPortName(MidiRef object) const;
    Counters counters() const;

private:
    enum class ObjectKind {
        client,
        outputPort,
        inputPort,
        virtualSource,
        virtualDestination,
        systemSource,
        systemDestination,
    };
    struct Object {
        ObjectKind kind;
        std::string name;      // logical name for ours, full JACK port name for system ports
        std::size_t index = 0; // virtual endpoint number for ours
    };

    // One outgoing stream: a virtual source or one output slot. The ring's producer is whoever
    // holds producerMutex_; its consumer is the process callback.
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
    };
    // Control-thread bookkeeping of a pool slot (under controlMutex_).
    struct SlotBinding {
        MidiRef bound = 0;       // input slots: the source's ref, 0 when free
        std::string target;      // output slots: the destination's full JACK name, empty when free
        bool registered = false; // has a port (re-registered after a server restart)
        std::uint64_t lastUse = 0; // output slots: for picking the least recently used one
        bool linkPending = false;  // output slots on PipeWire: connected, link not listed yet
        std::chrono::steady_clock::time_point linkDeadline{};
    };
    struct Notification {
        enum class Type { registration, connection, shutdown } type;
        std::uint32_t portA = 0;
        std::uint32_t portB = 0;
        bool connected = false;
    };

    // Process thread.
    static int processCallback(std::uint32_t frames, void* self);
    int process(std::uint32_t frames);
    void drainOutput(OutputChannel& channel, void* buffer, std::uint64_t cycle);

    // JACK notification threads: record and return.
    static void onPortRegistration(std::uint32_t port, int registered, void* self);
    static void onClientRegistration(const char* name, int registered, void* self);
    static void onPortConnect(std::uint32_t a, std::uint32_t b, int connected, void* self);
    static void onPortRename(std::uint32_t port, const char* oldName, const char* newName,
                             void* self);
    static void onInfoShutdown(int code, const char* reason, void* self);
    static int onBufferSize(std::uint32_t frames, void* self);
    static int onXrun(void* self);
    void notify(Notification notification);

    // Worker thread.
    void workerLoop();
    // How long the worker sleeps after a pass, given when the process callback last finished.
    std::chrono::microseconds workerWait(std::uint64_t lastProcessMicros) const;
    void dispatchIncoming();
    void handleNotifications(std::chrono::steady_clock::time_point now);
    void refreshSuppression();
    jack_client_t* openClient(const std::string& name) const;
    static bool clientNameTaken(jack_client_t* client);
    bool connectToServer();
    // Closes the client; false when there was none (a late, repeated shutdown notice).
    bool dropServer();
    void openLinkGates(std::chrono::steady_clock::time_point now);
    void logDropsIfAny(std::chrono::steady_clock::time_point now);

    // Control paths (callers hold controlMutex_).
    MidiRef addObject(ObjectKind kind, std::string name, std::size_t index = 0);
    const Object* object(MidiRef ref) const;
    MidiRef systemPortRef(ObjectKind kind, const std::string& fullName);
    jack_port_t* registerPort(const std::string& shortName, bool output);
    bool realizeInputSlot(std::size_t slot);
    bool realizeOutputSlot(std::size_t slot);
    std::string ownPortName(const std::string& shortName) const;
    std::vector<MidiRef> listSystemPorts(bool sources);
    std::vector<MidiPortInfo> listed(const std::vector<MidiRef>& refs) const;
    std::vector<std::string> aliasesOf(const Object& obj) const;
    std::string destinationJackName(MidiRef destination) const;
    std::optional<std::size_t> outputSlotFor(const std::string& destinationName);
    bool isSurfaceOutput(const std::string& sourceName) const;
    std::string inputSlotName(std::size_t slot) const;
    std::string outputSlotName(std::size_t slot) const;
    std::string feedbackPortName(std::size_t index) const;
    void deliver(std::uint32_t endpoint, const MidiPacketList& list);

    // Producer side of the outgoing rings.
    bool enqueue(OutputChannel& channel, const std::uint8_t* data, std::size_t length);

    Options options_;
    const bool onPipeWire_;

    // Objects and control state.
    mutable std::mutex controlMutex_;
    jack_client_t* client_ = nullptr;
    bool everConnected_ = false;
    std::vector<Object> objects_; // ref - 1 indexes this
    MidiRef clientRef_ = 0;
    MidiRef outputPortRef_ = 0;
    MidiRef inputPortRef_ = 0;
    std::array<MidiRef, kVirtualEndpoints> virtualSourceRefs_{};
    std::array<MidiRef, kVirtualEndpoints> virtualDestinationRefs_{};
    std::array<std::string, kVirtualEndpoints> virtualSourceNames_;
    std::array<std::string, kVirtualEndpoints> virtualDestinationNames_;
    std::string inputBaseName_;
    std::string outputBaseName_;
    std::array<SlotBinding, kMaxInputSlots> inputBindings_{};
    std::array<SlotBinding, kMaxOutputSlots> outputBindings_{};
    std::uint64_t useCounter_ = 0;
    bool inputSlotsExhaustedLogged_ = false;

    // Shared with the process callback.
    std::atomic<bool> available_{false};
    std::atomic<std::uint64_t> cycle_{0};
    // JACK's clock when the latest process callback began, stored when it has finished (so
    // that what it wrote into the incoming ring is visible to whoever reads this).
    std::atomic<std::uint64_t> lastProcessMicros_{0};
    std::atomic<std::uint32_t> periodFrames_{0};
    std::atomic<std::uint32_t> sampleRate_{0};
    std::array<OutputChannel, kVirtualEndpoints + kMaxOutputSlots> outputs_;
    std::array<InputChannel, kVirtualEndpoints + kMaxInputSlots> inputs_;
    SpscByteRing incoming_{kIncomingRingBytes};
    std::atomic<std::uint64_t> droppedOutgoing_{0};
    std::atomic<std::uint64_t> droppedIncoming_{0};
    std::atomic<std::uint64_t> writtenOutgoing_{0};
    std::atomic<std::uint64_t> xruns_{0};
    std::atomic<bool> shutdownSignalled_{false};

    std::mutex producerMutex_;

    // Handlers (called on the worker thread, set on the main thread).
    mutable std::mutex handlerMutex_;
    SetupHandler setupHandler_;
    ReadHandler readHandler_;
    std::array<DestinationHandler, kVirtualEndpoints> destinationHandlers_;
    SubscriberHandler subscriberHandler_;
    AvailabilityHandler availabilityHandler_;

    // Notifications from JACK's threads to the worker.
    std::mutex notifyMutex_;
    std::vector<Notification> notifications_;

    // Worker.
    std::mutex workerMutex_;
    std::condition_variable workerWake_;
    bool stopping_ = false;
    std::thread worker_;
    // Worker-thread state.
    std::vector<std::uint8_t> dispatchBytes_;
    std::vector<MidiPacket> dispatchPackets_;
    bool setupPending_ = false;
    std::chrono::steady_clock::time_point setupFirst_{};
    std::chrono::steady_clock::time_point setupLast_{};
    std::chrono::steady_clock::time_point nextRetry_{};
    std::chrono::steady_clock::time_point lastDropLog_{};
    std::uint64_t loggedDrops_ = 0;
    std::uint64_t loggedXruns_ = 0;
    bool lossAnnounced_ = false;
};

} // namespace strata
