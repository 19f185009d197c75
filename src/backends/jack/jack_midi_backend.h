#pragma once

#include "common/midi_object_table.h"
#include "jack/jack_observer.h"
#include "jack/jack_port_pool.h"
#include "jack/jack_process.h"
#include "jack/jack_session.h"
#include "jack/trouble_report.h"
#include "platform/midi_backend.h"

#include <array>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

namespace strata {

// MIDI through a JACK server (jackd2, or PipeWire's JACK interface).
//
// One JACK client. What the DAW sees: the outputs "Strata" and "Strata XT" (our virtual sources)
// and the inputs "Strata feedback" and "Strata XT feedback" (our virtual destinations; JACK does
// not let one client own an input and an output of the same name). Inside the engine those four
// keep their logical names "Strata" and "Strata XT".
//
// Input and output to system ports go through a pool of ports, one per source and one per
// destination (JackPortPool).
//
// PipeWire's libjack (same API, same port names) differs where it matters here: it hands its
// reader a Note On of velocity 0 as a Note Off (turned back on input: a Mackie host's dark LED),
// it converts each cycle's MIDI into a sequence of bounded size and drops a cycle that does not
// fit (output per cycle stays well below), it lists other clients' new ports and links a moment
// after they exist (output to a new connection waits until the link is listed), and it reports
// its daemon going away only through jack_on_shutdown.
//
// The parts: JackProcess is the process callback and what it shares (it only moves bytes between
// port buffers and lock-free rings: no allocation, no locks, and no system call but the wake of
// a sleeping worker after a cycle that read input); JackSession opens,
// closes and reopens the client; JackObserver turns JACK's notifications into news; this class
// puts them together behind the MidiBackend interface and runs the worker thread
// (jack_worker.cpp).
//
// Threads: one worker thread of ours reads the incoming ring and calls the read handlers, turns
// JACK's notifications into coalesced setup notifications, and reconnects when the server comes
// back. Handlers are called on that worker thread. It sleeps until something gives it work: a
// cycle that read input, a JACK notification or shutdown, an xrun or a dropped event, a send
// that waits for a new link, its own deadlines (a coalesced setup notification, a report of
// drops and xruns held back to one a second, a retry, a judgement that waits for cycles). At
// rest nothing wakes it but `idleLook`.
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
        // Input wakes the worker (the process callback posts to it once the cycle that read it
        // has finished). Only while something waits for our cycles to pass (a connection to be
        // judged again, a new PipeWire link to open its gate) does the worker follow them: it
        // sleeps until our next process callback is due and then looks closely, at most a
        // quarter of this apart, until that callback has run; this is how often it looks when it
        // cannot tell when the next cycle comes.
        std::chrono::microseconds pollInterval{1000};
        // With nothing to do, the worker still looks around this often. Everything that needs
        // an answer wakes it, so this is a safety net only, and at rest its only wake-up: kept
        // rare, since a program at rest should cost next to nothing.
        std::chrono::milliseconds idleLook{10000};
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
        // Connections to our virtual sources handed to the subscriber handler so far.
        std::uint64_t subscriptions = 0;
        // Presses the process callback answered from a prepared table in their own cycle.
        std::uint64_t answeredInCycle = 0;
    };

    static constexpr std::size_t kVirtualEndpoints = JackProcess::kVirtualEndpoints;
    static constexpr std::size_t kMaxOutputSlots = JackProcess::kMaxOutputSlots;
    static constexpr std::size_t kMaxInputSlots = JackProcess::kMaxInputSlots;

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
    void setDueTime(std::optional<std::chrono::steady_clock::time_point> due) override;
    // Two periods (the cycle that holds the due frame starts up to one period before it, and the
    // record must be in the ring by then) and a margin for the timer and the queue.
    std::chrono::nanoseconds sendLead() const override;
    bool outputPending(MidiRef virtualSource) const override;
    std::chrono::nanoseconds cyclePeriod() const override;
    int realTimePriority() const override;
    // On the worker, which reads the input ring and calls the read handlers.
    bool runOnInputThread(std::function<void()> job) override;
    std::uint64_t cycleCount() const override;
    std::uint64_t deliveredCycle() const override;
    std::uint64_t deliveringCycle() const override;

    std::vector<MidiPortInfo> sources() override;
    std::vector<MidiPortInfo> destinations() override;
    std::optional<std::string> displayName(MidiRef object) override;
    std::optional<std::string> name(MidiRef object) override;
    // A system port's JACK aliases (the names the ALSA drivers give the device behind
    // "system:midi_capture_N", say).
    std::vector<std::string> aliases(MidiRef object) override;
    // Our virtual destinations are the "… feedback" inputs.
    std::string externalName(MidiRef ownEndpoint) override;

    // Prepared answers are written by the process callback in the cycle that reads their press.
    bool takesPreparedAnswers() const override { return true; }
    bool prepareAnswers(const PreparedAnswerSet& set, std::uint64_t generation) override;
    PreparedOutcome withdrawAnswers(std::uint64_t generation) override;
    PreparedOutcome preparedOutcome(std::uint64_t generation) const override;
    bool sendPrepared(std::uint64_t generation, std::size_t index) override;
    void setAnsweredHandler(AnsweredHandler handler) override;

    void setSubscriberHandler(SubscriberHandler handler) override;
    void setAvailabilityHandler(AvailabilityHandler handler) override;

    // setDueTime with the time already on JACK's frame clock: what the calling thread emits or
    // sends from now on is written at `frame` (none: as soon as possible).
    void setDueFrame(std::optional<std::uint32_t> frame);

    // Whether the JACK library this process loaded is PipeWire's (else jackd's).
    static bool libraryIsPipeWire();

    // The JACK name of the client ("Strata", or with JACK's suffix), empty while unavailable.
    std::string jackClientName() const;
    // Full JACK port name of one of our objects (a virtual endpoint, "Strata In", "Strata Out"),
    // empty when it has no port right now.
    std::string jackPortName(MidiRef object) const;
    Counters counters() const;

private:
    using Objects = MidiObjectTable<std::string>; // system ports keyed by their full JACK name
    using Kind = MidiObjectKind;

    // Worker thread.
    void workerLoop();
    // When the worker looks again after a pass at `now`, given when the process callback last
    // began and whether something waits for our cycles to pass.
    std::chrono::steady_clock::time_point nextLook(std::chrono::steady_clock::time_point now,
                                                   std::uint64_t lastProcessMicros,
                                                   bool followCycles) const;
    // Whether a reported shutdown is to be acted on now: the client is closed once libjack's
    // notice thread has ended (looked at every kShutdownLook), or after kShutdownReportWait.
    bool shutdownDue(std::chrono::steady_clock::time_point now);
    static constexpr std::chrono::milliseconds kShutdownReportWait{2000};
    static constexpr std::chrono::milliseconds kShutdownLook{2};
    // How long to sleep until just after our next process callback.
    std::chrono::microseconds untilNextCycle(std::uint64_t lastProcessMicros) const;
    void dispatchIncoming();
    void runWorkerJobs();
    void deliver(std::uint32_t endpoint, const MidiPacketList& list);
    void handleNotifications(std::chrono::steady_clock::time_point now);
    void registerPorts(jack_client_t* client);
    void logDropsIfAny(std::chrono::steady_clock::time_point now);
    std::uint64_t droppedSoFar() const;

    // Control paths (callers hold controlMutex_).
    std::string ownPortName(const std::string& shortName) const;
    std::vector<MidiRef> listSystemPorts(bool sources);
    std::vector<std::string> aliasesOf(const Objects::Object& obj) const;
    std::string destinationJackName(MidiRef destination) const;
    std::string feedbackPortName(std::size_t index) const;
    std::vector<std::string> feedbackPorts() const;
    // The virtual source's channel; none for anything else.
    std::optional<std::size_t> virtualSourceIndex(MidiRef ref) const;

    // Producer side of the outgoing rings.
    bool enqueue(JackProcess::OutputChannel& channel, const std::uint8_t* data, std::size_t length);

    Options options_;
    const bool onPipeWire_;

    // Objects and control state.
    mutable std::mutex controlMutex_;
    JackProcess process_;
    JackObserver observer_;
    JackSession session_;
    JackPortPool pool_;
    Objects objects_;
    MidiRef clientRef_ = 0;
    MidiRef outputPortRef_ = 0;
    MidiRef inputPortRef_ = 0;
    std::array<MidiRef, kVirtualEndpoints> virtualSourceRefs_{};
    std::array<MidiRef, kVirtualEndpoints> virtualDestinationRefs_{};
    std::array<std::string, kVirtualEndpoints> virtualSourceNames_;
    std::array<std::string, kVirtualEndpoints> virtualDestinationNames_;

    std::mutex producerMutex_;
    // Timed sends (under producerMutex_): the frame the calling thread's sends are due at, which
    // thread that is, and which channels have had the hold for it written (a count that changes
    // with every setDueTime).
    std::optional<std::uint32_t> dueFrame_;
    std::thread::id dueThread_;
    std::uint64_t dueGeneration_ = 1;
    std::array<std::uint64_t, kVirtualEndpoints + kMaxOutputSlots> dueMarked_{};
    // Serialises publishing and withdrawing prepared answers (ordinary threads only).
    mutable std::mutex preparedMutex_;

    // Handlers (called on the worker thread, set on the main thread).
    mutable std::mutex handlerMutex_;
    SetupHandler setupHandler_;
    ReadHandler readHandler_;
    std::array<DestinationHandler, kVirtualEndpoints> destinationHandlers_;
    SubscriberHandler subscriberHandler_;
    AnsweredHandler answeredHandler_;
    AvailabilityHandler availabilityHandler_;

    // Worker (it sleeps in process_.workerWake).
    std::atomic<bool> stopping_{false};
    std::thread worker_;
    // Jobs for the worker (runOnInputThread), run at the top of its next pass.
    std::mutex workerJobsMutex_;
    std::vector<std::function<void()>> workerJobs_;
    std::atomic<bool> workerJobsPending_{false};
    // Worker-thread state.
    std::vector<std::uint8_t> dispatchBytes_;
    std::vector<MidiPacket> dispatchPackets_;
    std::chrono::steady_clock::time_point nextRetry_{};
    TroubleReport report_;
    bool lossAnnounced_ = false;
    // When the worker first saw the shutdown it has not acted on yet.
    std::optional<std::chrono::steady_clock::time_point> shutdownSeenAt_;
    // Our cycle count from which the DAW-surface judgement is made again (0: none due).
    std::uint64_t suppressionRecheckAt_ = 0;
    // Set by the worker once it has handed over what the callbacks up to that cycle read.
    std::atomic<std::uint64_t> deliveredCycle_{0};
    // While the worker hands input to a handler: the cycle it was read in.
    std::atomic<std::uint64_t> deliveringCycle_{0};
    std::atomic<std::uint64_t> subscriptionsReported_{0};
};

} // namespace strata
