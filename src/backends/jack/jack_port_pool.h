#pragma once

#include "jack/jack_process.h"
#include "platform/midi_backend.h"

#include <array>
#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

typedef struct _jack_client jack_client_t;
typedef struct _jack_port jack_port_t;

namespace strata {

// Registers one MIDI port of ours; null without a client or when JACK refuses.
jack_port_t* registerMidiPort(jack_client_t* client, const std::string& shortName, bool output);

// "<our client>:" — what every port of ours is called first.
std::string ownPrefix(jack_client_t* client);

// The input and output ports the engine's one input port and one output port stand for.
//
// Input: JACK mixes everything connected to one input port into one stream, so each connected
// source gets an input port of its own ("Strata In", "Strata In 2", ...), created when the source
// is first connected and kept for it, so that its connection value travels with every delivery.
//
// Output: one output port connected to several destinations would send everything to all of
// them. The output ports ("Strata Out", "Strata Out 2", ...) are bound to destinations on first
// use, one destination per port; the least recently used idle port is rebound when all are taken.
//
// Every call but the constructor comes with the backend's control lock held and the current JACK
// client, which is null while no server answers.
class JackPortPool {
public:
    static constexpr std::size_t kInputSlots = JackProcess::kMaxInputSlots;
    static constexpr std::size_t kOutputSlots = JackProcess::kMaxOutputSlots;

    JackPortPool(JackProcess& process, bool onPipeWire);

    // The first port of each kind exists from here on (re-registered after a server restart).
    void createInputs(jack_client_t* client, std::string baseName);
    void createOutputs(jack_client_t* client, std::string baseName);
    // The first port of each kind, null when it has none right now.
    jack_port_t* firstInputPort() const;
    jack_port_t* firstOutputPort() const;

    // Listens to the system source `source` (full JACK name `sourceName`) through a port of its
    // own, with `refCon` on every delivery. `feedbackPorts` are the full names of our virtual
    // destinations: a source that feeds only those is the DAW's surface output and is kept but
    // not listened to. False when it is not listened to.
    bool connectSource(jack_client_t* client, MidiRef source, const std::string& sourceName,
                       std::uint64_t refCon, const std::vector<std::string>& feedbackPorts);
    // After connections changed: stops listening to sources that became a surface output.
    void refreshSuppression(jack_client_t* client, const std::vector<std::string>& feedbackPorts);

    // The output channel (an index into the process's outputs) bound to the destination with full
    // JACK name `target`, binding and connecting one when needed; none when no port is free or
    // the destination does not exist. The caller is the outgoing rings' producer.
    std::optional<std::size_t> outputChannelFor(jack_client_t* client, const std::string& target);
    // Opens the gates of new PipeWire connections whose link is listed (or overdue); true while
    // some still wait (the worker then looks cycle by cycle).
    bool openLinkGates(jack_client_t* client, std::chrono::steady_clock::time_point now);

    // A new client: registers the ports that existed before and forgets pending links.
    void reregister(jack_client_t* client);
    // Whether `port` is one of the pool's ports (their connections are made by us).
    bool owns(jack_port_t* port) const;

private:
    struct SlotBinding {
        MidiRef bound = 0;       // input slots: the source's ref, 0 when free
        std::string boundName;   // input slots: the source's full JACK name
        std::string target;      // output slots: the destination's full JACK name, empty when free
        bool registered = false; // has a port (re-registered after a server restart)
        std::uint64_t lastUse = 0; // output slots: for picking the least recently used one
        bool linkPending = false;  // output slots on PipeWire: connected, link not listed yet
        std::chrono::steady_clock::time_point linkDeadline{};
    };

    JackProcess::InputChannel& inputChannel(std::size_t slot);
    JackProcess::OutputChannel& outputChannel(std::size_t slot);
    bool realizeInput(jack_client_t* client, std::size_t slot);
    bool realizeOutput(jack_client_t* client, std::size_t slot);
    std::string inputName(std::size_t slot) const;
    std::string outputName(std::size_t slot) const;
    std::optional<std::size_t> inputSlotFor(jack_client_t* client, MidiRef source);
    std::optional<std::size_t> outputSlotFor(jack_client_t* client, const std::string& target);
    void holdUntilConnected(std::size_t slot);

    JackProcess& process_;
    const bool onPipeWire_;
    std::string inputBase_;
    std::string outputBase_;
    std::array<SlotBinding, kInputSlots> inputs_{};
    std::array<SlotBinding, kOutputSlots> outputs_{};
    std::uint64_t useCounter_ = 0;
    bool inputsExhaustedLogged_ = false;
};

} // namespace strata
