#pragma once

#include "platform/prepared_answers.h"

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace strata {

// Handle of a MIDI object (client, port, endpoint). 0 means "no object".
using MidiRef = std::uint32_t;

struct MidiPacket {
    const std::uint8_t* data = nullptr;
    std::size_t length = 0;
    // How long before the handler's call the packet arrived, for systems that time their input
    // (JACK: the event's frame); zero for the others, which hand input on as it arrives. Every
    // packet of one delivery is aged against the same instant, so their differences are exact.
    // It may come out a little below zero: a cycle's frames run slightly ahead of its wake-up.
    // From a program that also listens to us it is a cycle more: an answer timed by it then
    // reaches that program on the frame it sent at (the graph runs one of the two a cycle late).
    std::chrono::microseconds age{0};
};

// What one platform delivery carries: packets that arrived together. Only valid during the call.
struct MidiPacketList {
    const MidiPacket* packets = nullptr;
    std::size_t count = 0;
};

// One endpoint as one enumeration saw it. The names are copies: they stay as they were when the
// list was taken, whatever the system does afterwards.
struct MidiPortInfo {
    MidiRef ref = 0;
    // None when the system gives the endpoint no such property.
    std::optional<std::string> name;
    std::optional<std::string> displayName;
    // Other names the system gives the endpoint (JACK's port aliases), in the system's order.
    std::vector<std::string> aliases;
};

// The MIDI system as the engine needs it: named virtual sources and destinations that other
// applications (the DAW) see, an input port that receives from connected sources together with a
// per-connection value, sending to a destination, enumeration with names, and notifications.
//
// Threads: connectSource is called on the main thread; send, received and barrier on the engine's
// MIDI queue; handlers are called on the backend's own threads and must only copy what they need
// and hand it on. Enumeration and names are called on the main thread and also from the MIDI queue
// (a port name is looked up among the destinations at the moment of sending) and from the input
// handler (the source a packet list came from is named), so they must be thread-safe. One
// enumeration call returns the whole list at once, so two threads enumerating together never see
// a mix of two listings.
// Connecting a source that is already connected to the port must not duplicate its input.
class MidiBackend {
public:
    using SetupHandler = std::function<void()>;
    using ReadHandler = std::function<void(const MidiPacketList&, std::uint64_t refCon)>;
    using DestinationHandler = std::function<void(const MidiPacketList&)>;
    // A consumer (a DAW) connected to one of our virtual sources.
    using SubscriberHandler = std::function<void(MidiRef virtualSource)>;
    // The MIDI system became available or went away (a JACK server stopping, say).
    using AvailabilityHandler = std::function<void(bool available)>;

    virtual ~MidiBackend() = default;

    // "jack", "alsa" or "memory".
    virtual std::string_view kind() const = 0;
    // False while the MIDI system cannot be reached.
    virtual bool available() const = 0;

    virtual MidiRef createClient(std::string_view name, SetupHandler onSetupChanged) = 0;
    virtual MidiRef createOutputPort(MidiRef client, std::string_view name) = 0;
    virtual MidiRef createInputPort(MidiRef client, std::string_view name, ReadHandler onRead) = 0;
    virtual bool connectSource(MidiRef inputPort, MidiRef source, std::uint64_t refCon) = 0;
    virtual MidiRef createVirtualSource(MidiRef client, std::string_view name) = 0;
    virtual MidiRef createVirtualDestination(MidiRef client, std::string_view name,
                                             DestinationHandler onRead) = 0;

    // Emits one packet from one of our virtual sources to whoever listens to it.
    virtual void received(MidiRef virtualSource, const std::uint8_t* data, std::size_t length) = 0;
    // Sends one packet through an output port to a system destination.
    virtual void send(MidiRef outputPort, MidiRef destination, const std::uint8_t* data,
                      std::size_t length) = 0;
    // Everything emitted from `virtualSource` after this call reaches the listeners in a later
    // delivery than everything emitted before it, with one process cycle between the two. DAWs
    // that read a control surface once per cycle merge repeated presses of one button within a
    // cycle, and at times in adjacent cycles.
    virtual void barrier(MidiRef virtualSource) { (void)virtualSource; }
    // Timed sends. What the calling thread emits or sends after this call, up to its next call,
    // is due at `due`, a point on the steady clock (the main loop's clock); none: as soon as
    // possible. A system that delivers in cycles writes it at the frame `due` falls on, holding
    // it (and whatever is queued behind it on the same endpoint: order is kept) until that
    // cycle; what is due already goes out at once, and so does what is due implausibly far
    // ahead. Others ignore it and deliver at once. Only the calling thread's sends are timed:
    // another thread emitting meanwhile is not held unless it queues behind a held send.
    virtual void setDueTime(std::optional<std::chrono::steady_clock::time_point> due) { (void)due; }
    // How long before its due time a send must be made for it to go out at that time (a
    // main-loop timer's lateness and the hop to the MIDI queue included); zero for systems that
    // ignore due times, where a send is made when it is due. Thread-safe.
    virtual std::chrono::nanoseconds sendLead() const { return {}; }
    // True while something emitted from `virtualSource` still waits for a coming cycle to go out.
    // Systems that hand everything over at once never have anything pending. Thread-safe.
    virtual bool outputPending(MidiRef virtualSource) const {
        (void)virtualSource;
        return false;
    }
    // Systems that deliver in cycles (JACK): how long one cycle lasts and how many have run so
    // far. Both are zero for systems that deliver at once. Thread-safe.
    virtual std::chrono::nanoseconds cyclePeriod() const { return {}; }
    virtual std::uint64_t cycleCount() const { return 0; }
    // Systems that deliver in cycles: the latest cycle whose input has been handed to the
    // handlers in full, together with every earlier cycle's. The cycles run on a thread of their
    // own and the handlers on another, which a busy machine can hold back well behind the cycle
    // count: input read by then may not have reached its handler yet. Thread-safe.
    virtual std::uint64_t deliveredCycle() const { return cycleCount(); }
    // Systems that deliver in cycles, asked from within a handler: the cycle the input being
    // handed over was read in, which may lie many cycles back.
    virtual std::uint64_t deliveringCycle() const { return cycleCount(); }
    // The scheduling priority of the system's own real-time thread (JACK's process thread), or
    // -1 when it runs none or does not say; threads that must answer quickly ask for one below
    // it. Thread-safe.
    virtual int realTimePriority() const { return -1; }

    // Runs `job` once on the system's own thread that hands input to the read handlers, soon
    // (never before this returns); false, and `job` dropped, when there is no such thread (input
    // arrives on the caller's, or the system is not running). The program sets that thread's
    // scheduling this way. Thread-safe.
    virtual bool runOnInputThread(std::function<void()> job) {
        (void)job;
        return false;
    }

    // Prepared answers (prepared_answers.h), for systems that can write a known answer in the
    // cycle that reads its press; the others keep these defaults and take none, and every press
    // then goes to the read handler as always.
    //
    // Whether the system takes prepared answers at all.
    virtual bool takesPreparedAnswers() const { return false; }
    // Hands `set` over as the system's latest; `generation` grows with every hand-over. The one
    // before must have been withdrawn (or seen claimed) by then. True when the system took it.
    // Called from one thread at a time.
    virtual bool prepareAnswers(const PreparedAnswerSet& set, std::uint64_t generation) {
        (void)set;
        (void)generation;
        return false;
    }
    // Takes hand-over `generation` back unless a press has claimed it; says which happened.
    // Thread-safe (not from a real-time thread).
    virtual PreparedOutcome withdrawAnswers(std::uint64_t generation) {
        (void)generation;
        return {};
    }
    // Claims answer `index` of hand-over `generation` for a move decided on an ordinary thread
    // (a cue-link FIRE, the remote's NEXT) and queues its bytes to go out in a coming cycle, after
    // a cycle break. False (nothing done) when that hand-over is no longer armed, or the answer
    // was not prepared or does not fit. Thread-safe (not from a real-time thread).
    virtual bool sendPrepared(std::uint64_t generation, std::size_t index) {
        (void)generation;
        (void)index;
        return false;
    }
    // What became of hand-over `generation` so far, without taking it back. Thread-safe (not
    // from a real-time thread).
    virtual PreparedOutcome preparedOutcome(std::uint64_t generation) const {
        (void)generation;
        return {};
    }
    // A press that claimed answer `index` of hand-over `generation` is handed to this handler
    // instead of the read handler, on the same thread and in the same order as the rest of the
    // input. One handler, set by the MIDI engine.
    using AnsweredHandler = std::function<void(std::uint64_t generation, std::size_t index)>;
    virtual void setAnsweredHandler(AnsweredHandler handler) { (void)handler; }

    // Enumeration, in the system's order, with the names and aliases each endpoint has now.
    virtual std::vector<MidiPortInfo> sources() = 0;
    virtual std::vector<MidiPortInfo> destinations() = 0;
    // Display name and name of an object; none when the property is missing.
    virtual std::optional<std::string> displayName(MidiRef object) = 0;
    virtual std::optional<std::string> name(MidiRef object) = 0;
    // Other names the system gives an endpoint (JACK's port aliases), in the system's order; none
    // where it has no such thing. Thread-safe like the names.
    virtual std::vector<std::string> aliases(MidiRef object) {
        (void)object;
        return {};
    }
    // The name under which other applications (the DAW) list one of our own virtual sources or
    // destinations, for texts that tell the user which port to pick. Where a system can give an
    // input and an output the same name this is the endpoint's name; empty when it has none.
    virtual std::string externalName(MidiRef ownEndpoint) {
        return name(ownEndpoint).value_or(std::string());
    }

    // Removes the client with its ports and virtual endpoints; no call of its handlers starts once
    // this returns (one already running may still finish). The engine calls it when it shuts down.
    virtual void disposeClient(MidiRef client) { (void)client; }

    // One handler each, and the MIDI engine (MidiService) sets both: whoever else wants to know
    // whether MIDI is available reads MidiService::midiAvailable, since setting the handler again
    // would take it away from the engine.
    virtual void setSubscriberHandler(SubscriberHandler handler) { (void)handler; }
    virtual void setAvailabilityHandler(AvailabilityHandler handler) { (void)handler; }
};

} // namespace strata
