#include "jack/jack_port_pool.h"

#include "platform/log.h"

#include <algorithm>
#include <cerrno>
#include <jack/jack.h>
#include <jack/midiport.h>
#include <string_view>

namespace strata {
namespace {

// How long output to a new PipeWire connection waits at most for the link to be listed.
constexpr std::chrono::milliseconds kLinkWaitLimit{500};

// The DAW's control-surface output feeds our feedback inputs and nothing else (apart from our
// own input ports, which we connected ourselves). Its traffic is LED and display feedback, not a
// performer pressing something.
bool isSurfaceOutput(jack_client_t* client, const std::string& sourceName,
                     const std::vector<std::string>& feedbackPorts) {
    jack_port_t* port = jack_port_by_name(client, sourceName.c_str());
    if (!port)
        return false;
    const char** connections = jack_port_get_all_connections(client, port);
    if (!connections)
        return false;
    const std::string prefix = ownPrefix(client);
    std::size_t intoFeedback = 0;
    std::size_t elsewhere = 0;
    for (const char** c = connections; *c; ++c) {
        const std::string target(*c);
        if (std::find(feedbackPorts.begin(), feedbackPorts.end(), target) != feedbackPorts.end())
            ++intoFeedback;
        else if (!target.starts_with(prefix))
            ++elsewhere;
    }
    jack_free(connections);
    return intoFeedback > 0 && elsewhere == 0;
}

// Whether the client that owns `sourceName` also listens to one of our outputs.
bool listensToUs(jack_client_t* client, const std::string& sourceName, const JackProcess& process) {
    const std::size_t colon = sourceName.find(':');
    if (colon == std::string::npos)
        return false;
    const std::string owner = sourceName.substr(0, colon + 1);
    for (const JackProcess::OutputChannel& output : process.outputs) {
        jack_port_t* port = output.port.load(std::memory_order_acquire);
        if (!port)
            continue;
        const char** connections = jack_port_get_all_connections(client, port);
        if (!connections)
            continue;
        bool found = false;
        for (const char** c = connections; *c && !found; ++c)
            found = std::string_view(*c).starts_with(owner);
        jack_free(connections);
        if (found)
            return true;
    }
    return false;
}

} // namespace

jack_port_t* registerMidiPort(jack_client_t* client, const std::string& shortName, bool output) {
    if (!client)
        return nullptr;
    return jack_port_register(client, shortName.c_str(), JACK_DEFAULT_MIDI_TYPE,
                              output ? JackPortIsOutput : JackPortIsInput, 0);
}

std::string ownPrefix(jack_client_t* client) {
    return std::string(jack_get_client_name(client)) + ":";
}

JackPortPool::JackPortPool(JackProcess& process, bool onPipeWire)
    : process_(process), onPipeWire_(onPipeWire) {}

JackProcess::InputChannel& JackPortPool::inputChannel(std::size_t slot) {
    return process_.inputs[JackProcess::kVirtualEndpoints + slot];
}

JackProcess::OutputChannel& JackPortPool::outputChannel(std::size_t slot) {
    return process_.outputs[JackProcess::kVirtualEndpoints + slot];
}

std::string JackPortPool::inputName(std::size_t slot) const {
    return slot == 0 ? inputBase_ : inputBase_ + " " + std::to_string(slot + 1);
}

std::string JackPortPool::outputName(std::size_t slot) const {
    return slot == 0 ? outputBase_ : outputBase_ + " " + std::to_string(slot + 1);
}

bool JackPortPool::realizeInput(jack_client_t* client, std::size_t slot) {
    JackProcess::InputChannel& channel = inputChannel(slot);
    if (channel.port.load(std::memory_order_relaxed))
        return true;
    jack_port_t* port = registerMidiPort(client, inputName(slot), false);
    if (!port)
        return false;
    channel.port.store(port, std::memory_order_release);
    inputs_[slot].registered = true;
    return true;
}

bool JackPortPool::realizeOutput(jack_client_t* client, std::size_t slot) {
    JackProcess::OutputChannel& channel = outputChannel(slot);
    if (channel.port.load(std::memory_order_relaxed))
        return true;
    jack_port_t* port = registerMidiPort(client, outputName(slot), true);
    if (!port)
        return false;
    channel.port.store(port, std::memory_order_release);
    outputs_[slot].registered = true;
    return true;
}

void JackPortPool::createInputs(jack_client_t* client, std::string baseName) {
    inputBase_ = std::move(baseName);
    inputs_[0].registered = true;
    realizeInput(client, 0);
}

void JackPortPool::createOutputs(jack_client_t* client, std::string baseName) {
    outputBase_ = std::move(baseName);
    outputs_[0].registered = true;
    realizeOutput(client, 0);
}

jack_port_t* JackPortPool::firstInputPort() const {
    return process_.inputs[JackProcess::kVirtualEndpoints].port.load();
}

jack_port_t* JackPortPool::firstOutputPort() const {
    return process_.outputs[JackProcess::kVirtualEndpoints].port.load();
}

void JackPortPool::reregister(jack_client_t* client) {
    for (SlotBinding& binding : outputs_)
        binding.linkPending = false;
    for (std::size_t s = 0; s < kInputSlots; ++s)
        if (inputs_[s].registered)
            realizeInput(client, s);
    for (std::size_t s = 0; s < kOutputSlots; ++s)
        if (outputs_[s].registered)
            realizeOutput(client, s);
}

bool JackPortPool::owns(jack_port_t* port) const {
    if (!port)
        return false;
    for (std::size_t s = 0; s < kInputSlots; ++s)
        if (process_.inputs[JackProcess::kVirtualEndpoints + s].port.load() == port)
            return true;
    for (std::size_t s = 0; s < kOutputSlots; ++s)
        if (process_.outputs[JackProcess::kVirtualEndpoints + s].port.load() == port)
            return true;
    return false;
}

// ---------------------------------------------------------------------------------------------
// Input

std::optional<std::size_t> JackPortPool::inputSlotFor(jack_client_t* client, MidiRef source) {
    for (std::size_t s = 0; s < kInputSlots; ++s)
        if (inputs_[s].bound == source)
            return s;
    for (std::size_t s = 0; s < kInputSlots; ++s)
        if (inputs_[s].bound == 0)
            return s;
    // All taken: reuse the port of a source that no longer exists.
    for (std::size_t s = 0; s < kInputSlots && client; ++s)
        if (!jack_port_by_name(client, inputs_[s].boundName.c_str()))
            return s;
    return std::nullopt;
}

bool JackPortPool::connectSource(jack_client_t* client, MidiRef source,
                                 const std::string& sourceName, std::uint64_t refCon,
                                 const std::vector<std::string>& feedbackPorts) {
    const std::optional<std::size_t> slot = inputSlotFor(client, source);
    if (!slot) {
        if (!inputsExhaustedLogged_)
            logLine("[MIDI] JACK: no input port left for " + sourceName +
                    "; it is not listened to");
        inputsExhaustedLogged_ = true;
        return false;
    }

    JackProcess::InputChannel& channel = inputChannel(*slot);
    inputs_[*slot].bound = source;
    inputs_[*slot].boundName = sourceName;
    channel.refCon.store(refCon, std::memory_order_release);
    if (!client || !realizeInput(client, *slot))
        return false;
    if (isSurfaceOutput(client, sourceName, feedbackPorts)) {
        channel.suppressed.store(true, std::memory_order_release);
        return false;
    }
    channel.suppressed.store(false, std::memory_order_release);
    channel.loopsBack.store(listensToUs(client, sourceName, process_), std::memory_order_release);
    jack_port_t* port = channel.port.load(std::memory_order_relaxed);
    if (jack_port_connected_to(port, sourceName.c_str()))
        return true;
    const int rc = jack_connect(client, sourceName.c_str(), jack_port_name(port));
    return rc == 0 || rc == EEXIST;
}

void JackPortPool::refreshSuppression(jack_client_t* client,
                                      const std::vector<std::string>& feedbackPorts) {
    if (!client)
        return;
    for (std::size_t s = 0; s < kInputSlots; ++s) {
        if (inputs_[s].bound == 0)
            continue;
        const std::string& name = inputs_[s].boundName;
        JackProcess::InputChannel& channel = inputChannel(s);
        const bool surface = isSurfaceOutput(client, name, feedbackPorts);
        channel.suppressed.store(surface, std::memory_order_release);
        channel.loopsBack.store(listensToUs(client, name, process_), std::memory_order_release);
        jack_port_t* port = channel.port.load(std::memory_order_relaxed);
        // Became the DAW's surface output after we connected it: stop listening to it. The
        // worker thread is not a JACK callback, so disconnecting here is allowed.
        if (surface && port && jack_port_connected_to(port, name.c_str()))
            jack_disconnect(client, name.c_str(), jack_port_name(port));
    }
}

// ---------------------------------------------------------------------------------------------
// Output

std::optional<std::size_t> JackPortPool::outputSlotFor(jack_client_t* client,
                                                       const std::string& target) {
    for (std::size_t s = 0; s < kOutputSlots; ++s)
        if (outputs_[s].target == target)
            return s;
    if (!jack_port_by_name(client, target.c_str()))
        return std::nullopt;
    for (std::size_t s = 0; s < kOutputSlots; ++s)
        if (outputs_[s].target.empty())
            return s;
    // Rebind the least recently used slot, but only one whose events have all gone out:
    // anything still queued must reach the destination it was meant for.
    std::optional<std::size_t> slot;
    std::uint64_t oldest = UINT64_MAX;
    for (std::size_t s = 0; s < kOutputSlots; ++s) {
        if (outputs_[s].lastUse < oldest && outputChannel(s).ring.empty()) {
            oldest = outputs_[s].lastUse;
            slot = s;
        }
    }
    if (!slot)
        return std::nullopt;
    if (jack_port_t* port = outputChannel(*slot).port.load())
        jack_disconnect(client, jack_port_name(port), outputs_[*slot].target.c_str());
    return slot;
}

void JackPortPool::holdUntilConnected(std::size_t slot) {
    JackProcess::OutputChannel& channel = outputChannel(slot);
    if (onPipeWire_) {
        // PipeWire links the ports after jack_connect() has returned, lists the link once it
        // exists, and MIDI written before it carries is lost. Hold what follows back until the
        // worker sees the link listed, and two cycles more (or, should it never be listed, until
        // a deadline).
        channel.gateCycle.store(UINT64_MAX, std::memory_order_release);
        outputs_[slot].linkPending = true;
        outputs_[slot].linkDeadline = std::chrono::steady_clock::now() + kLinkWaitLimit;
        const JackOutRecord gate{kJackOutGate, 0, 0};
        channel.ring.write(&gate, sizeof gate);
        process_.workerWake.post(); // it watches the new link from now on
    } else {
        // jackd switches to the new graph at the start of a cycle after the request; a cycle
        // that is already running still uses the old one. Hold what follows back until the
        // connection is certainly in place.
        const JackOutRecord hold{kJackOutNotBefore, 0,
                                 process_.cycle.load(std::memory_order_acquire) + 2};
        channel.ring.write(&hold, sizeof hold);
    }
}

std::optional<std::size_t> JackPortPool::outputChannelFor(jack_client_t* client,
                                                          const std::string& target) {
    const std::optional<std::size_t> slot = outputSlotFor(client, target);
    if (!slot)
        return std::nullopt;
    SlotBinding& binding = outputs_[*slot];
    binding.target = target;
    binding.lastUse = ++useCounter_;
    if (!realizeOutput(client, *slot))
        return std::nullopt;
    jack_port_t* port = outputChannel(*slot).port.load(std::memory_order_relaxed);
    if (!binding.linkPending && !jack_port_connected_to(port, target.c_str())) {
        const int rc = jack_connect(client, jack_port_name(port), target.c_str());
        if (rc != 0 && rc != EEXIST)
            return std::nullopt;
        holdUntilConnected(*slot);
    }
    return JackProcess::kVirtualEndpoints + *slot;
}

bool JackPortPool::openLinkGates(jack_client_t* client, std::chrono::steady_clock::time_point now) {
    bool stillPending = false;
    for (std::size_t s = 0; s < kOutputSlots; ++s) {
        SlotBinding& binding = outputs_[s];
        if (!binding.linkPending)
            continue;
        JackProcess::OutputChannel& channel = outputChannel(s);
        jack_port_t* port = channel.port.load(std::memory_order_relaxed);
        if (client && port && !jack_port_connected_to(port, binding.target.c_str()) &&
            now < binding.linkDeadline) {
            stillPending = true;
            continue;
        }
        binding.linkPending = false;
        channel.gateCycle.store(process_.cycle.load(std::memory_order_acquire) + 2,
                                std::memory_order_release);
    }
    return stillPending;
}

} // namespace strata
