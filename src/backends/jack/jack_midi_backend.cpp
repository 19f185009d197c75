#include "jack/jack_midi_backend.h"

#include "jack/midi_message_splitter.h"
#include "platform/log.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <jack/jack.h>
#include <jack/midiport.h>

namespace strata {
namespace {

// What the outgoing rings carry: an event (followed by its bytes), a barrier, a hold that keeps
// everything behind it back until a given cycle, or a gate that keeps it back until the
// channel's gateCycle (set by the worker once a new connection is in place).
enum OutKind : std::uint32_t { kOutEvent = 0, kOutBarrier = 1, kOutNotBefore = 2, kOutGate = 3 };
struct OutRecord {
    std::uint32_t kind;
    std::uint32_t length;
    std::uint64_t cycle;
};
// What the incoming ring carries: one event from one of our input ports, then its bytes.
struct InRecord {
    std::uint32_t endpoint;
    std::uint32_t length;
    std::uint64_t cycle;
};

// Packets handed to the engine hold at most this many bytes; longer events (system-exclusive
// dumps) are cut into consecutive packets of one delivery.
constexpr std::size_t kMaxPacketBytes = 256;

// PipeWire's libjack turns each cycle's MIDI port buffer into a control sequence of its own
// (measured on 0.3.65: at most 32768 bytes, counting 16 for the sequence and, per event, 16 plus
// its bytes rounded up to 8). A cycle whose events do not fit is dropped whole, and an event near
// the largest size jack_midi_max_event_size() reports crashes the reading client. So one port
// writes at most half that per cycle, counted PipeWire's way, and no piece longer than
// kMaxEventPiece; a longer system-exclusive message goes out in pieces over several cycles, as
// it does when jackd's smaller buffers are full. jackd's buffers hold far less than these limits,
// so they change nothing there.
constexpr std::size_t kCycleBudget = 16384;
constexpr std::size_t kMaxEventPiece = 8192;
// How long output to a new PipeWire connection waits at most for the link to be listed.
constexpr std::chrono::milliseconds kLinkWaitLimit{500};

// Messages up to this length go out whole or wait for the next cycle; longer ones may be cut.
constexpr std::size_t kShortestCut = 256;
constexpr std::size_t sequenceCost(std::size_t eventBytes) {
    return 16 + ((eventBytes + 7) & ~std::size_t{7});
}

void silentJackMessage(const char*) {}

// libjack prints to stderr on every failed attempt to reach a server. Reconnection tries once a
// second, so its chatter would flood the terminal; we report the state ourselves instead.
void quietLibjack() {
    static std::once_flag once;
    std::call_once(once, [] {
        jack_set_error_function(silentJackMessage);
        jack_set_info_function(silentJackMessage);
    });
}

bool startsWith(const std::string& text, const std::string& prefix) {
    return text.size() >= prefix.size() && text.compare(0, prefix.size(), prefix) == 0;
}

} // namespace

bool JackMidiBackend::libraryIsPipeWire() {
    // PipeWire's libjack says so in its version ("3.0.0.0 (using PipeWire 0.3.65)"); jackd's
    // gives a bare number.
    const char* version = jack_get_version_string();
    return version && std::string_view(version).find("PipeWire") != std::string_view::npos;
}

JackMidiBackend::JackMidiBackend() : JackMidiBackend(Options{}) {}

JackMidiBackend::JackMidiBackend(Options options)
    : options_(std::move(options)), onPipeWire_(libraryIsPipeWire()) {
    quietLibjack();
    const bool connected = connectToServer();
    nextRetry_ = std::chrono::steady_clock::now() + options_.retryInterval;
    if (connected || options_.waitForServer)
        worker_ = std::thread([this] { workerLoop(); });
}

JackMidiBackend::~JackMidiBackend() {
    {
        std::lock_guard lock(workerMutex_);
        stopping_ = true;
    }
    workerWake_.notify_all();
    if (worker_.joinable())
        worker_.join();
    jack_client_t* client = nullptr;
    {
        std::lock_guard lock(controlMutex_);
        client = client_;
        client_ = nullptr;
        available_.store(false);
    }
    if (client)
        jack_client_close(client);
    // What was handed to JACK, for comparing with what a reader got: under xruns an
    // asynchronous server can leave MIDI written in one client unread by the next.
    const Counters c = counters();
    if (everConnected_)
        logLine("[MIDI] JACK: " + std::to_string(c.writtenOutgoing) + " events written, " +
                std::to_string(c.droppedOutgoing) + " dropped before JACK, " +
                std::to_string(c.xruns) + " xruns reported");
}

bool JackMidiBackend::available() const {
    return available_.load(std::memory_order_acquire);
}

// ---------------------------------------------------------------------------------------------
// Objects

MidiRef JackMidiBackend::addObject(ObjectKind kind, std::string name, std::size_t index) {
    objects_.push_back(Object{kind, std::move(name), index});
    return static_cast<MidiRef>(objects_.size());
}

const JackMidiBackend::Object* JackMidiBackend::object(MidiRef ref) const {
    if (ref == 0 || ref > objects_.size())
        return nullptr;
    return &objects_[ref - 1];
}

MidiRef JackMidiBackend::systemPortRef(ObjectKind kind, const std::string& fullName) {
    // A system port keeps its ref for as long as its name is seen, across server restarts, so
    // that connection values and the trigger source stay valid. Refs are never reused.
    for (std::size_t i = 0; i < objects_.size(); ++i)
        if (objects_[i].kind == kind && objects_[i].name == fullName)
            return static_cast<MidiRef>(i + 1);
    return addObject(kind, fullName);
}

std::string JackMidiBackend::ownPortName(const std::string& shortName) const {
    if (!client_)
        return {};
    return std::string(jack_get_client_name(client_)) + ":" + shortName;
}

std::string JackMidiBackend::inputSlotName(std::size_t slot) const {
    return slot == 0 ? inputBaseName_ : inputBaseName_ + " " + std::to_string(slot + 1);
}

std::string JackMidiBackend::outputSlotName(std::size_t slot) const {
    return slot == 0 ? outputBaseName_ : outputBaseName_ + " " + std::to_string(slot + 1);
}

std::string JackMidiBackend::feedbackPortName(std::size_t index) const {
    return virtualDestinationNames_[index] + " feedback";
}

jack_port_t* JackMidiBackend::registerPort(const std::string& shortName, bool output) {
    if (!client_)
        return nullptr;
    return jack_port_register(client_, shortName.c_str(), JACK_DEFAULT_MIDI_TYPE,
                              output ? JackPortIsOutput : JackPortIsInput, 0);
}

bool JackMidiBackend::realizeInputSlot(std::size_t slot) {
    InputChannel& channel = inputs_[kVirtualEndpoints + slot];
    if (channel.port.load(std::memory_order_relaxed))
        return true;
    jack_port_t* port = registerPort(inputSlotName(slot), false);
    if (!port)
        return false;
    channel.port.store(port, std::memory_order_release);
    inputBindings_[slot].registered = true;
    return true;
}

bool JackMidiBackend::realizeOutputSlot(std::size_t slot) {
    OutputChannel& channel = outputs_[kVirtualEndpoints + slot];
    if (channel.port.load(std::memory_order_relaxed))
        return true;
    jack_port_t* port = registerPort(outputSlotName(slot), true);
    if (!port)
        return false;
    channel.port.store(port, std::memory_order_release);
    outputBindings_[slot].registered = true;
    return true;
}

MidiRef JackMidiBackend::createClient(std::string_view name, SetupHandler onSetupChanged) {
    {
        std::lock_guard lock(handlerMutex_);
        setupHandler_ = std::move(onSetupChanged);
    }
    std::lock_guard lock(controlMutex_);
    // There is one JACK client per backend; its name was fixed when it was opened.
    if (clientRef_ == 0)
        clientRef_ = addObject(ObjectKind::client, std::string(name));
    return clientRef_;
}

MidiRef JackMidiBackend::createOutputPort(MidiRef client, std::string_view name) {
    std::lock_guard lock(controlMutex_);
    if (client == 0 || client != clientRef_ || outputPortRef_ != 0)
        return 0;
    outputBaseName_ = std::string(name);
    outputPortRef_ = addObject(ObjectKind::outputPort, outputBaseName_);
    outputBindings_[0].registered = true;
    realizeOutputSlot(0);
    return outputPortRef_;
}

MidiRef JackMidiBackend::createInputPort(MidiRef client, std::string_view name,
                                         ReadHandler onRead) {
    {
        std::lock_guard lock(controlMutex_);
        if (client == 0 || client != clientRef_ || inputPortRef_ != 0)
            return 0;
        inputBaseName_ = std::string(name);
        inputPortRef_ = addObject(ObjectKind::inputPort, inputBaseName_);
        inputBindings_[0].registered = true;
        realizeInputSlot(0);
    }
    std::lock_guard lock(handlerMutex_);
    readHandler_ = std::move(onRead);
    return inputPortRef_;
}

MidiRef JackMidiBackend::createVirtualSource(MidiRef client, std::string_view name) {
    std::lock_guard lock(controlMutex_);
    if (client == 0 || client != clientRef_)
        return 0;
    for (std::size_t k = 0; k < kVirtualEndpoints; ++k) {
        if (virtualSourceRefs_[k] != 0)
            continue;
        virtualSourceNames_[k] = std::string(name);
        virtualSourceRefs_[k] = addObject(ObjectKind::virtualSource, virtualSourceNames_[k], k);
        if (jack_port_t* port = registerPort(virtualSourceNames_[k], true))
            outputs_[k].port.store(port, std::memory_order_release);
        return virtualSourceRefs_[k];
    }
    return 0;
}

MidiRef JackMidiBackend::createVirtualDestination(MidiRef client, std::string_view name,
                                                  DestinationHandler onRead) {
    std::size_t index = kVirtualEndpoints;
    MidiRef ref = 0;
    {
        std::lock_guard lock(controlMutex_);
        if (client == 0 || client != clientRef_)
            return 0;
        for (std::size_t k = 0; k < kVirtualEndpoints && index == kVirtualEndpoints; ++k)
            if (virtualDestinationRefs_[k] == 0)
                index = k;
        if (index == kVirtualEndpoints)
            return 0;
        virtualDestinationNames_[index] = std::string(name);
        ref = addObject(ObjectKind::virtualDestination, virtualDestinationNames_[index], index);
        virtualDestinationRefs_[index] = ref;
        if (jack_port_t* port = registerPort(feedbackPortName(index), false))
            inputs_[index].port.store(port, std::memory_order_release);
    }
    std::lock_guard lock(handlerMutex_);
    destinationHandlers_[index] = std::move(onRead);
    return ref;
}

void JackMidiBackend::setSubscriberHandler(SubscriberHandler handler) {
    std::lock_guard lock(handlerMutex_);
    subscriberHandler_ = std::move(handler);
}

void JackMidiBackend::setAvailabilityHandler(AvailabilityHandler handler) {
    std::lock_guard lock(handlerMutex_);
    availabilityHandler_ = std::move(handler);
}

std::string JackMidiBackend::jackClientName() const {
    std::lock_guard lock(controlMutex_);
    return client_ ? std::string(jack_get_client_name(client_)) : std::string();
}

std::string JackMidiBackend::jackPortName(MidiRef ref) const {
    std::lock_guard lock(controlMutex_);
    const Object* obj = object(ref);
    if (!obj || !client_)
        return {};
    jack_port_t* port = nullptr;
    switch (obj->kind) {
    case ObjectKind::virtualSource:
        port = outputs_[obj->index].port.load();
        break;
    case ObjectKind::virtualDestination:
        port = inputs_[obj->index].port.load();
        break;
    case ObjectKind::inputPort:
        port = inputs_[kVirtualEndpoints].port.load();
        break;
    case ObjectKind::outputPort:
        port = outputs_[kVirtualEndpoints].port.load();
        break;
    default:
        break;
    }
    return port ? std::string(jack_port_name(port)) : std::string();
}

JackMidiBackend::Counters JackMidiBackend::counters() const {
    return Counters{droppedOutgoing_.load(), droppedIncoming_.load(), writtenOutgoing_.load(),
                    xruns_.load()};
}

// ---------------------------------------------------------------------------------------------
// Enumeration

std::vector<MidiRef> JackMidiBackend::listSystemPorts(bool sources) {
    std::vector<MidiRef> refs;
    if (!client_)
        return refs;
    const char** names = jack_get_ports(client_, nullptr, JACK_DEFAULT_MIDI_TYPE,
                                        sources ? JackPortIsOutput : JackPortIsInput);
    if (!names)
        return refs;
    const std::string ownPrefix = std::string(jack_get_client_name(client_)) + ":";
    const ObjectKind kind = sources ? ObjectKind::systemSource : ObjectKind::systemDestination;
    for (const char** name = names; *name; ++name) {
        const std::string fullName(*name);
        if (!startsWith(fullName, ownPrefix))
            refs.push_back(systemPortRef(kind, fullName));
    }
    jack_free(names);
    // Order of first sighting: a port that appears later goes to the end, and the ports seen
    // before keep their places, also across a server restart.
    std::sort(refs.begin(), refs.end());
    return refs;
}

std::vector<MidiPortInfo> JackMidiBackend::listed(const std::vector<MidiRef>& refs) const {
    std::vector<MidiPortInfo> out;
    out.reserve(refs.size());
    for (MidiRef ref : refs) {
        const Object* obj = object(ref);
        out.push_back(MidiPortInfo{ref, obj->name, obj->name, aliasesOf(*obj)});
    }
    return out;
}

std::vector<MidiPortInfo> JackMidiBackend::sources() {
    std::lock_guard lock(controlMutex_);
    return listed(listSystemPorts(true));
}

std::vector<MidiPortInfo> JackMidiBackend::destinations() {
    std::lock_guard lock(controlMutex_);
    // Our own virtual destinations come first, as the system lists an application's own
    // virtual endpoints among all others.
    std::vector<MidiRef> refs;
    for (MidiRef ref : virtualDestinationRefs_)
        if (ref != 0)
            refs.push_back(ref);
    for (MidiRef ref : listSystemPorts(false))
        refs.push_back(ref);
    return listed(refs);
}

std::optional<std::string> JackMidiBackend::displayName(MidiRef ref) {
    return name(ref);
}

std::optional<std::string> JackMidiBackend::name(MidiRef ref) {
    std::lock_guard lock(controlMutex_);
    const Object* obj = object(ref);
    if (!obj)
        return std::nullopt;
    return obj->name;
}

std::vector<std::string> JackMidiBackend::aliases(MidiRef ref) {
    std::lock_guard lock(controlMutex_);
    const Object* obj = object(ref);
    return obj ? aliasesOf(*obj) : std::vector<std::string>{};
}

std::vector<std::string> JackMidiBackend::aliasesOf(const Object& obj) const {
    if (!client_ ||
        (obj.kind != ObjectKind::systemSource && obj.kind != ObjectKind::systemDestination))
        return {};
    jack_port_t* port = jack_port_by_name(client_, obj.name.c_str());
    if (!port)
        return {};
    // A port has at most two aliases, each up to the size of a full port name.
    const auto size = static_cast<std::size_t>(jack_port_name_size());
    std::vector<char> first(size, '\0');
    std::vector<char> second(size, '\0');
    char* buffers[2] = {first.data(), second.data()};
    const int count = jack_port_get_aliases(port, buffers);
    std::vector<std::string> out;
    for (int i = 0; i < count && i < 2; ++i)
        if (buffers[i][0] != '\0')
            out.emplace_back(buffers[i]);
    return out;
}

std::string JackMidiBackend::externalName(MidiRef ref) {
    std::lock_guard lock(controlMutex_);
    const Object* obj = object(ref);
    if (!obj)
        return {};
    if (obj->kind == ObjectKind::virtualDestination)
        return feedbackPortName(obj->index);
    return obj->name;
}

// ---------------------------------------------------------------------------------------------
// Input connections

bool JackMidiBackend::isSurfaceOutput(const std::string& sourceName) const {
    // The DAW's control-surface output feeds our feedback inputs and nothing else (apart from
    // our own input ports, which we connected ourselves). Its traffic is LED and display
    // feedback, not a performer pressing something.
    jack_port_t* port = jack_port_by_name(client_, sourceName.c_str());
    if (!port)
        return false;
    const char** connections = jack_port_get_all_connections(client_, port);
    if (!connections)
        return false;
    std::array<std::string, kVirtualEndpoints> feedback;
    for (std::size_t k = 0; k < kVirtualEndpoints; ++k)
        if (virtualDestinationRefs_[k] != 0)
            feedback[k] = ownPortName(feedbackPortName(k));
    const std::string ownPrefix = std::string(jack_get_client_name(client_)) + ":";
    std::size_t intoFeedback = 0;
    std::size_t elsewhere = 0;
    for (const char** c = connections; *c; ++c) {
        const std::string target(*c);
        if (std::find(feedback.begin(), feedback.end(), target) != feedback.end())
            ++intoFeedback;
        else if (!startsWith(target, ownPrefix))
            ++elsewhere;
    }
    jack_free(connections);
    return intoFeedback > 0 && elsewhere == 0;
}

bool JackMidiBackend::connectSource(MidiRef inputPort, MidiRef source, std::uint64_t refCon) {
    std::lock_guard lock(controlMutex_);
    const Object* obj = object(source);
    if (inputPort == 0 || inputPort != inputPortRef_ || !obj ||
        obj->kind != ObjectKind::systemSource)
        return false;
    const std::string sourceName = obj->name;

    std::optional<std::size_t> slot;
    for (std::size_t s = 0; s < kMaxInputSlots && !slot; ++s)
        if (inputBindings_[s].bound == source)
            slot = s;
    for (std::size_t s = 0; s < kMaxInputSlots && !slot; ++s)
        if (inputBindings_[s].bound == 0)
            slot = s;
    // All taken: reuse the port of a source that no longer exists.
    for (std::size_t s = 0; s < kMaxInputSlots && !slot && client_; ++s) {
        const Object* old = object(inputBindings_[s].bound);
        if (old && !jack_port_by_name(client_, old->name.c_str()))
            slot = s;
    }
    if (!slot) {
        if (!inputSlotsExhaustedLogged_)
            logLine("[MIDI] JACK: no input port left for " + sourceName +
                    "; it is not listened to");
        inputSlotsExhaustedLogged_ = true;
        return false;
    }

    InputChannel& channel = inputs_[kVirtualEndpoints + *slot];
    inputBindings_[*slot].bound = source;
    channel.refCon.store(refCon, std::memory_order_release);
    if (!client_ || !realizeInputSlot(*slot))
        return false;
    if (isSurfaceOutput(sourceName)) {
        channel.suppressed.store(true, std::memory_order_release);
        return false;
    }
    channel.suppressed.store(false, std::memory_order_release);
    jack_port_t* port = channel.port.load(std::memory_order_relaxed);
    if (jack_port_connected_to(port, sourceName.c_str()))
        return true;
    const int rc = jack_connect(client_, sourceName.c_str(), jack_port_name(port));
    return rc == 0 || rc == EEXIST;
}

void JackMidiBackend::refreshSuppression() {
    std::lock_guard lock(controlMutex_);
    if (!client_)
        return;
    for (std::size_t s = 0; s < kMaxInputSlots; ++s) {
        const Object* obj = object(inputBindings_[s].bound);
        if (!obj)
            continue;
        InputChannel& channel = inputs_[kVirtualEndpoints + s];
        const bool surface = isSurfaceOutput(obj->name);
        channel.suppressed.store(surface, std::memory_order_release);
        jack_port_t* port = channel.port.load(std::memory_order_relaxed);
        // Became the DAW's surface output after we connected it: stop listening to it. The
        // worker thread is not a JACK callback, so disconnecting here is allowed.
        if (surface && port && jack_port_connected_to(port, obj->name.c_str()))
            jack_disconnect(client_, obj->name.c_str(), jack_port_name(port));
    }
}

// ---------------------------------------------------------------------------------------------
// Output

bool JackMidiBackend::enqueue(OutputChannel& channel, const std::uint8_t* data,
                              std::size_t length) {
    // One call is all or nothing, so that a press never goes out without its release.
    std::size_t needed = 0;
    std::size_t messages = 0;
    MidiMessageSplitter::split(data, length, [&](const std::uint8_t*, std::size_t n) {
        needed += sizeof(OutRecord) + n;
        ++messages;
    });
    if (needed > channel.ring.writable()) {
        droppedOutgoing_.fetch_add(messages, std::memory_order_relaxed);
        return false;
    }
    MidiMessageSplitter::split(data, length, [&](const std::uint8_t* bytes, std::size_t n) {
        const OutRecord record{kOutEvent, static_cast<std::uint32_t>(n), 0};
        channel.ring.write(&record, sizeof record, bytes, n);
    });
    return true;
}

void JackMidiBackend::received(MidiRef virtualSource, const std::uint8_t* data,
                               std::size_t length) {
    if (!data || length == 0)
        return;
    std::lock_guard producer(producerMutex_);
    std::size_t index = kVirtualEndpoints;
    {
        std::lock_guard lock(controlMutex_);
        const Object* obj = object(virtualSource);
        if (obj && obj->kind == ObjectKind::virtualSource)
            index = obj->index;
    }
    if (index == kVirtualEndpoints)
        return;
    if (!available()) {
        droppedOutgoing_.fetch_add(1, std::memory_order_relaxed);
        return;
    }
    enqueue(outputs_[index], data, length);
}

void JackMidiBackend::barrier(MidiRef virtualSource) {
    std::lock_guard producer(producerMutex_);
    std::size_t index = kVirtualEndpoints;
    {
        std::lock_guard lock(controlMutex_);
        const Object* obj = object(virtualSource);
        if (obj && obj->kind == ObjectKind::virtualSource)
            index = obj->index;
    }
    if (index == kVirtualEndpoints || !available())
        return;
    const OutRecord record{kOutBarrier, 0, 0};
    outputs_[index].ring.write(&record, sizeof record);
}

bool JackMidiBackend::outputPending(MidiRef virtualSource) const {
    std::lock_guard lock(controlMutex_);
    const Object* obj = object(virtualSource);
    if (!obj || obj->kind != ObjectKind::virtualSource || !client_)
        return false;
    // The ring holds events and barriers alike; a barrier still in it means a cycle break has not
    // been passed yet either.
    return !outputs_[obj->index].ring.empty();
}

std::chrono::nanoseconds JackMidiBackend::cyclePeriod() const {
    const std::uint32_t frames = periodFrames_.load(std::memory_order_relaxed);
    const std::uint32_t rate = sampleRate_.load(std::memory_order_relaxed);
    if (frames == 0 || rate == 0 || !available())
        return {};
    return std::chrono::nanoseconds(std::uint64_t{frames} * 1000000000ull / rate);
}

std::uint64_t JackMidiBackend::cycleCount() const {
    return cycle_.load(std::memory_order_acquire);
}

std::string JackMidiBackend::destinationJackName(MidiRef destination) const {
    const Object* obj = object(destination);
    if (!obj)
        return {};
    if (obj->kind == ObjectKind::systemDestination)
        return obj->name;
    if (obj->kind == ObjectKind::virtualDestination)
        return ownPortName(feedbackPortName(obj->index));
    return {};
}

std::optional<std::size_t> JackMidiBackend::outputSlotFor(const std::string& target) {
    std::optional<std::size_t> slot;
    for (std::size_t s = 0; s < kMaxOutputSlots && !slot; ++s)
        if (outputBindings_[s].target == target)
            slot = s;
    if (!slot) {
        if (!jack_port_by_name(client_, target.c_str()))
            return std::nullopt;
        for (std::size_t s = 0; s < kMaxOutputSlots && !slot; ++s)
            if (outputBindings_[s].target.empty())
                slot = s;
    }
    if (!slot) {
        // Rebind the least recently used slot, but only one whose events have all gone out:
        // anything still queued must reach the destination it was meant for.
        std::uint64_t oldest = UINT64_MAX;
        for (std::size_t s = 0; s < kMaxOutputSlots; ++s) {
            if (outputBindings_[s].lastUse < oldest &&
                outputs_[kVirtualEndpoints + s].ring.empty()) {
                oldest = outputBindings_[s].lastUse;
                slot = s;
            }
        }
        if (!slot)
            return std::nullopt;
        jack_port_t* port = outputs_[kVirtualEndpoints + *slot].port.load();
        if (port)
            jack_disconnect(client_, jack_port_name(port), outputBindings_[*slot].target.c_str());
    }
    SlotBinding& binding = outputBindings_[*slot];
    binding.target = target;
    binding.lastUse = ++useCounter_;
    if (!realizeOutputSlot(*slot))
        return std::nullopt;
    OutputChannel& channel = outputs_[kVirtualEndpoints + *slot];
    jack_port_t* port = channel.port.load(std::memory_order_relaxed);
    if (!binding.linkPending && !jack_port_connected_to(port, target.c_str())) {
        const int rc = jack_connect(client_, jack_port_name(port), target.c_str());
        if (rc != 0 && rc != EEXIST)
            return std::nullopt;
        if (onPipeWire_) {
            // PipeWire links the ports after jack_connect() has returned, lists the link once
            // it exists, and MIDI written before it carries is lost. Hold what follows back
            // until the worker sees the link listed, and two cycles more (or, should it never
            // be listed, until a deadline).
            channel.gateCycle.store(UINT64_MAX, std::memory_order_release);
            binding.linkPending = true;
            binding.linkDeadline = std::chrono::steady_clock::now() + kLinkWaitLimit;
            const OutRecord gate{kOutGate, 0, 0};
            channel.ring.write(&gate, sizeof gate);
        } else {
            // jackd switches to the new graph at the start of a cycle after the request; a
            // cycle that is already running still uses the old one. Hold what follows back
            // until the connection is certainly in place.
            const OutRecord hold{kOutNotBefore, 0, cycle_.load(std::memory_order_acquire) + 2};
            channel.ring.write(&hold, sizeof hold);
        }
    }
    return slot;
}

void JackMidiBackend::send(MidiRef outputPort, MidiRef destination, const std::uint8_t* data,
                           std::size_t length) {
    if (!data || length == 0)
        return;
    std::lock_guard producer(producerMutex_);
    std::optional<std::size_t> slot;
    {
        std::lock_guard lock(controlMutex_);
        if (outputPort == 0 || outputPort != outputPortRef_)
            return;
        if (!client_) {
            droppedOutgoing_.fetch_add(1, std::memory_order_relaxed);
            return;
        }
        const std::string target = destinationJackName(destination);
        if (target.empty())
            return;
        slot = outputSlotFor(target);
    }
    if (!slot) {
        droppedOutgoing_.fetch_add(1, std::memory_order_relaxed);
        return;
    }
    enqueue(outputs_[kVirtualEndpoints + *slot], data, length);
}

// ---------------------------------------------------------------------------------------------
// Process thread: no allocation, no locks, no system calls.

int JackMidiBackend::processCallback(jack_nframes_t frames, void* self) {
    return static_cast<JackMidiBackend*>(self)->process(frames);
}

void JackMidiBackend::drainOutput(OutputChannel& channel, void* buffer, std::uint64_t cycle) {
    // The largest event an empty buffer takes; longer ones go out in pieces of this size.
    const std::size_t pieceLimit = std::min(jack_midi_max_event_size(buffer), kMaxEventPiece);
    std::size_t budget = kCycleBudget - 16;
    bool wroteThisCycle = false;
    OutRecord record;
    while (channel.ring.peek(&record, sizeof record)) {
        if (record.kind == kOutBarrier) {
            // What follows goes out with a cycle between it and what came before: a host may
            // take presses of one button in adjacent cycles for one.
            if (wroteThisCycle ||
                (channel.lastWriteCycle != 0 && cycle < channel.lastWriteCycle + 2))
                return;
            channel.ring.skip(sizeof record);
            continue;
        }
        if (record.kind == kOutNotBefore) {
            if (cycle < record.cycle)
                return;
            channel.ring.skip(sizeof record);
            continue;
        }
        if (record.kind == kOutGate) {
            if (cycle < channel.gateCycle.load(std::memory_order_acquire))
                return;
            channel.ring.skip(sizeof record);
            continue;
        }
        const std::size_t remaining = record.length - channel.sentOfCurrent;
        std::size_t piece = std::min(remaining, pieceLimit);
        if (piece == 0) {
            if (remaining == 0) { // an empty event: nothing to send
                channel.ring.skip(sizeof record);
                continue;
            }
            return;
        }
        const std::size_t room = budget >= 16 ? (budget - 16) & ~std::size_t{7} : 0;
        if (piece > room) {
            if (record.length <= kShortestCut || room < kShortestCut)
                return; // the rest of this cycle's share is too small: next cycle, in order
            piece = room;
        }
        jack_midi_data_t* target = jack_midi_event_reserve(buffer, 0, piece);
        if (!target)
            return; // this cycle's buffer is full: the rest goes out next cycle, in order
        budget -= sequenceCost(piece);
        channel.ring.peek(target, piece, sizeof record + channel.sentOfCurrent);
        channel.sentOfCurrent += piece;
        wroteThisCycle = true;
        channel.lastWriteCycle = cycle;
        if (channel.sentOfCurrent == record.length) {
            channel.ring.skip(sizeof record + record.length);
            channel.sentOfCurrent = 0;
            writtenOutgoing_.fetch_add(1, std::memory_order_relaxed);
        }
    }
}

int JackMidiBackend::process(jack_nframes_t frames) {
    // JACK's clock is a vDSO read, no system call.
    const std::uint64_t startedMicros = jack_get_time();
    const std::uint64_t cycle = cycle_.load(std::memory_order_relaxed) + 1;
    cycle_.store(cycle, std::memory_order_release);

    for (OutputChannel& channel : outputs_) {
        jack_port_t* port = channel.port.load(std::memory_order_acquire);
        if (!port)
            continue;
        void* buffer = jack_port_get_buffer(port, frames);
        jack_midi_clear_buffer(buffer);
        drainOutput(channel, buffer, cycle);
    }

    for (std::size_t endpoint = 0; endpoint < inputs_.size(); ++endpoint) {
        jack_port_t* port = inputs_[endpoint].port.load(std::memory_order_acquire);
        if (!port)
            continue;
        void* buffer = jack_port_get_buffer(port, frames);
        const std::uint32_t count = jack_midi_get_event_count(buffer);
        for (std::uint32_t i = 0; i < count; ++i) {
            jack_midi_event_t event;
            if (jack_midi_event_get(&event, buffer, i) != 0 || event.size == 0)
                continue;
            const InRecord record{static_cast<std::uint32_t>(endpoint),
                                  static_cast<std::uint32_t>(event.size), cycle};
            // PipeWire's libjack hands its reader every Note On of velocity 0 as a Note Off of
            // velocity 64 (its "jack.fix-midi-events", on by default). A Mackie host sends a
            // dark LED as Note On velocity 0, and the feedback reader knows only that form; both
            // mean the same to MIDI, so turn the rewrite back.
            const std::uint8_t* bytes = event.buffer;
            std::uint8_t noteOff[3];
            if (onPipeWire_ && event.size == 3 && (bytes[0] & 0xF0) == 0x80 && bytes[2] == 0x40) {
                noteOff[0] = static_cast<std::uint8_t>(0x90 | (bytes[0] & 0x0F));
                noteOff[1] = bytes[1];
                noteOff[2] = 0;
                bytes = noteOff;
            }
            if (!incoming_.write(&record, sizeof record, bytes, event.size))
                droppedIncoming_.fetch_add(1, std::memory_order_relaxed);
        }
    }
    lastProcessMicros_.store(startedMicros, std::memory_order_release);
    return 0;
}

// ---------------------------------------------------------------------------------------------
// JACK notification threads

void JackMidiBackend::notify(Notification notification) {
    std::lock_guard lock(notifyMutex_);
    notifications_.push_back(notification);
}

void JackMidiBackend::onPortRegistration(jack_port_id_t, int, void* self) {
    static_cast<JackMidiBackend*>(self)->notify({Notification::Type::registration});
}

void JackMidiBackend::onClientRegistration(const char*, int, void* self) {
    static_cast<JackMidiBackend*>(self)->notify({Notification::Type::registration});
}

void JackMidiBackend::onPortConnect(jack_port_id_t a, jack_port_id_t b, int connected, void* self) {
    static_cast<JackMidiBackend*>(self)->notify(
        {Notification::Type::connection, a, b, connected != 0});
}

void JackMidiBackend::onPortRename(jack_port_id_t, const char*, const char*, void* self) {
    static_cast<JackMidiBackend*>(self)->notify({Notification::Type::registration});
}

int JackMidiBackend::onBufferSize(jack_nframes_t frames, void* self) {
    static_cast<JackMidiBackend*>(self)->periodFrames_.store(frames, std::memory_order_relaxed);
    return 0;
}

int JackMidiBackend::onXrun(void* self) {
    // Reported on a notification thread, some time after the cycle it is about, and without
    // saying which one: whether our output of that cycle was lost cannot be told from here.
    static_cast<JackMidiBackend*>(self)->xruns_.fetch_add(1, std::memory_order_relaxed);
    return 0;
}

void JackMidiBackend::onInfoShutdown(int, const char*, void* self) {
    // May run on the process thread: an atomic store and nothing else.
    static_cast<JackMidiBackend*>(self)->shutdownSignalled_.store(true, std::memory_order_release);
}

// ---------------------------------------------------------------------------------------------
// Worker thread

jack_client_t* JackMidiBackend::openClient(const std::string& name) const {
    jack_status_t status{};
    if (options_.serverName)
        return jack_client_open(name.c_str(),
                                static_cast<jack_options_t>(JackNoStartServer | JackServerName),
                                &status, options_.serverName->c_str());
    return jack_client_open(name.c_str(), JackNoStartServer, &status);
}

bool JackMidiBackend::clientNameTaken(jack_client_t* client) {
    // Asked before this client has ports: any port under its name is another program's.
    std::string pattern = "^";
    for (const char c : std::string(jack_get_client_name(client))) {
        if (std::strchr(".[]()*+?{}|^$\\", c))
            pattern += '\\';
        pattern += c;
    }
    pattern += ':';
    const char** ports = jack_get_ports(client, pattern.c_str(), nullptr, 0);
    const bool taken = ports && ports[0];
    if (ports)
        jack_free(ports);
    return taken;
}

bool JackMidiBackend::connectToServer() {
    std::lock_guard lock(controlMutex_);
    if (client_)
        return true;
    jack_client_t* client = openClient(options_.clientName);
    // PipeWire lets a second client take a name in use and then names both clients' ports alike
    // (the second sees its own as "Strata:…", the others see them as "Strata-<id>:…"), so names
    // no longer tell the two programs apart. Take the next free name, as jackd does by itself.
    for (int n = 1; client && onPipeWire_ && clientNameTaken(client) && n < 100; ++n) {
        jack_client_close(client);
        client = openClient(options_.clientName + (n < 10 ? "-0" : "-") + std::to_string(n));
    }
    if (!client)
        return false;

    // Callbacks must be in place before activation.
    jack_set_process_callback(client, processCallback, this);
    jack_set_port_registration_callback(client, onPortRegistration, this);
    jack_set_client_registration_callback(client, onClientRegistration, this);
    jack_set_port_connect_callback(client, onPortConnect, this);
    jack_set_port_rename_callback(client, onPortRename, this);
    jack_set_buffer_size_callback(client, onBufferSize, this);
    jack_set_xrun_callback(client, onXrun, this);
    jack_on_info_shutdown(
        client,
        [](jack_status_t code, const char* reason, void* self) {
            onInfoShutdown(static_cast<int>(code), reason, self);
        },
        this);
    // PipeWire's libjack calls only this one when its daemon goes away (jackd calls only the
    // one above when both are set).
    jack_on_shutdown(
        client, [](void* self) { onInfoShutdown(0, nullptr, self); }, this);
    client_ = client;
    shutdownSignalled_.store(false);

    // The process callback is not running: this thread may act as the rings' consumer and
    // drop whatever was queued before the server went away.
    for (OutputChannel& channel : outputs_) {
        channel.ring.clear();
        channel.sentOfCurrent = 0;
        channel.gateCycle.store(0, std::memory_order_relaxed);
    }
    for (SlotBinding& binding : outputBindings_)
        binding.linkPending = false;
    incoming_.clear();

    for (std::size_t k = 0; k < kVirtualEndpoints; ++k) {
        if (virtualSourceRefs_[k] != 0)
            outputs_[k].port.store(registerPort(virtualSourceNames_[k], true));
        if (virtualDestinationRefs_[k] != 0)
            inputs_[k].port.store(registerPort(feedbackPortName(k), false));
    }
    for (std::size_t s = 0; s < kMaxInputSlots; ++s)
        if (inputBindings_[s].registered)
            realizeInputSlot(s);
    for (std::size_t s = 0; s < kMaxOutputSlots; ++s)
        if (outputBindings_[s].registered)
            realizeOutputSlot(s);

    if (jack_activate(client) != 0) {
        client_ = nullptr;
        for (OutputChannel& channel : outputs_)
            channel.port.store(nullptr);
        for (InputChannel& channel : inputs_)
            channel.port.store(nullptr);
        jack_client_close(client);
        return false;
    }
    periodFrames_.store(jack_get_buffer_size(client), std::memory_order_relaxed);
    sampleRate_.store(jack_get_sample_rate(client), std::memory_order_relaxed);
    everConnected_ = true;
    available_.store(true, std::memory_order_release);
    return true;
}

bool JackMidiBackend::dropServer() {
    jack_client_t* client = nullptr;
    {
        std::lock_guard lock(controlMutex_);
        client = client_;
        client_ = nullptr;
        available_.store(false, std::memory_order_release);
        for (OutputChannel& channel : outputs_)
            channel.port.store(nullptr);
        for (InputChannel& channel : inputs_)
            channel.port.store(nullptr);
    }
    if (client)
        jack_client_close(client);
    // A client's shutdown can be reported twice (once per kind of shutdown callback, from two of
    // its threads); whatever arrived until the close returned is about the client just dropped.
    shutdownSignalled_.store(false, std::memory_order_release);
    std::lock_guard lock(notifyMutex_);
    notifications_.clear();
    return client != nullptr;
}

void JackMidiBackend::deliver(std::uint32_t endpoint, const MidiPacketList& list) {
    std::lock_guard lock(handlerMutex_);
    if (endpoint < kVirtualEndpoints) {
        if (destinationHandlers_[endpoint])
            destinationHandlers_[endpoint](list);
        return;
    }
    const InputChannel& channel = inputs_[endpoint];
    if (channel.suppressed.load(std::memory_order_acquire))
        return;
    if (readHandler_)
        readHandler_(list, channel.refCon.load(std::memory_order_acquire));
}

void JackMidiBackend::dispatchIncoming() {
    // One delivery is what one port received in one cycle.
    InRecord record;
    while (incoming_.peek(&record, sizeof record)) {
        const std::uint32_t endpoint = record.endpoint;
        const std::uint64_t cycle = record.cycle;
        dispatchBytes_.clear();
        std::vector<std::pair<std::size_t, std::size_t>> pieces;
        while (incoming_.peek(&record, sizeof record) && record.endpoint == endpoint &&
               record.cycle == cycle) {
            const std::size_t offset = dispatchBytes_.size();
            dispatchBytes_.resize(offset + record.length);
            incoming_.peek(dispatchBytes_.data() + offset, record.length, sizeof record);
            incoming_.skip(sizeof record + record.length);
            for (std::size_t p = 0; p < record.length; p += kMaxPacketBytes)
                pieces.emplace_back(offset + p, std::min(kMaxPacketBytes, record.length - p));
        }
        dispatchPackets_.clear();
        for (auto [offset, length] : pieces)
            dispatchPackets_.push_back(MidiPacket{dispatchBytes_.data() + offset, length});
        if (endpoint < inputs_.size())
            deliver(endpoint, MidiPacketList{dispatchPackets_.data(), dispatchPackets_.size()});
    }
}

void JackMidiBackend::handleNotifications(std::chrono::steady_clock::time_point now) {
    std::vector<Notification> batch;
    {
        std::lock_guard lock(notifyMutex_);
        batch.swap(notifications_);
    }
    bool setupChanged = false;
    bool connectionChanged = false;
    std::vector<MidiRef> subscribed;
    if (!batch.empty()) {
        std::lock_guard lock(controlMutex_);
        for (const Notification& n : batch) {
            if (n.type == Notification::Type::registration) {
                setupChanged = true;
                continue;
            }
            if (n.type != Notification::Type::connection || !client_)
                continue;
            connectionChanged = true;
            jack_port_t* a = jack_port_by_id(client_, n.portA);
            jack_port_t* b = jack_port_by_id(client_, n.portB);
            bool ownPlumbing = false;
            for (std::size_t k = 0; k < kVirtualEndpoints; ++k) {
                jack_port_t* ours = outputs_[k].port.load();
                if (ours && n.connected && (a == ours || b == ours) && virtualSourceRefs_[k])
                    subscribed.push_back(virtualSourceRefs_[k]);
            }
            // Our own input and output slots are wired by us; those changes are no news.
            for (std::size_t s = 0; s < kMaxInputSlots; ++s) {
                jack_port_t* ours = inputs_[kVirtualEndpoints + s].port.load();
                if (ours && (a == ours || b == ours))
                    ownPlumbing = true;
            }
            for (std::size_t s = 0; s < kMaxOutputSlots; ++s) {
                jack_port_t* ours = outputs_[kVirtualEndpoints + s].port.load();
                if (ours && (a == ours || b == ours))
                    ownPlumbing = true;
            }
            if (!ownPlumbing)
                setupChanged = true;
        }
    }
    if (connectionChanged)
        refreshSuppression();
    if (setupChanged) {
        if (!setupPending_)
            setupFirst_ = now;
        setupPending_ = true;
        setupLast_ = now;
    }
    if (!subscribed.empty()) {
        std::lock_guard lock(handlerMutex_);
        for (MidiRef ref : subscribed)
            if (subscriberHandler_)
                subscriberHandler_(ref);
    }
    // JACK reports a client appearing as a burst of registrations and connections; wait for a
    // short quiet spell (bounded) and report them as one change.
    if (setupPending_ && (now - setupLast_ >= options_.setupCoalesce ||
                          now - setupFirst_ >= 5 * options_.setupCoalesce)) {
        setupPending_ = false;
        std::lock_guard lock(handlerMutex_);
        if (setupHandler_)
            setupHandler_();
    }
}

void JackMidiBackend::openLinkGates(std::chrono::steady_clock::time_point now) {
    std::lock_guard lock(controlMutex_);
    for (std::size_t s = 0; s < kMaxOutputSlots; ++s) {
        SlotBinding& binding = outputBindings_[s];
        if (!binding.linkPending)
            continue;
        OutputChannel& channel = outputs_[kVirtualEndpoints + s];
        jack_port_t* port = channel.port.load(std::memory_order_relaxed);
        if (client_ && port && !jack_port_connected_to(port, binding.target.c_str()) &&
            now < binding.linkDeadline)
            continue;
        binding.linkPending = false;
        channel.gateCycle.store(cycle_.load(std::memory_order_acquire) + 2,
                                std::memory_order_release);
    }
}

void JackMidiBackend::logDropsIfAny(std::chrono::steady_clock::time_point now) {
    const std::uint64_t drops = droppedOutgoing_.load() + droppedIncoming_.load();
    const std::uint64_t xruns = xruns_.load();
    if ((drops == loggedDrops_ && xruns == loggedXruns_) ||
        now - lastDropLog_ < std::chrono::seconds(1))
        return;
    if (drops != loggedDrops_)
        logLine("[MIDI] JACK: " + std::to_string(drops - loggedDrops_) +
                " MIDI events dropped (buffers full or no server)");
    // Under xruns an asynchronous server can leave MIDI we wrote unread by the DAW, and we
    // cannot tell which events. Say so rather than stay silent.
    if (xruns != loggedXruns_)
        logLine("[MIDI] JACK: " + std::to_string(xruns - loggedXruns_) +
                " cycles missed (xruns); MIDI sent meanwhile may not have reached the DAW");
    loggedDrops_ = drops;
    loggedXruns_ = xruns;
    lastDropLog_ = now;
}

std::chrono::microseconds JackMidiBackend::workerWait(std::uint64_t lastProcessMicros) const {
    using std::chrono::microseconds;
    // Setup notifications are looked at on every pass; they need no more than this.
    constexpr microseconds longest{20000};
    const microseconds closely = std::max(microseconds{50}, options_.pollInterval / 4);
    if (!available()) {
        // No cycles and no notifications without a server: only the next retry matters (the
        // destructor wakes the worker to stop).
        if (!options_.waitForServer)
            return longest;
        const auto untilRetry =
            std::chrono::duration_cast<microseconds>(nextRetry_ - std::chrono::steady_clock::now());
        return std::clamp(untilRetry, closely, longest);
    }
    const auto period = std::chrono::duration_cast<microseconds>(cyclePeriod());
    if (lastProcessMicros == 0 || period.count() <= 0)
        return options_.pollInterval;
    // Our next process callback is due one period after the latest began.
    const auto due = static_cast<std::int64_t>(lastProcessMicros + period.count());
    const auto now = static_cast<std::int64_t>(jack_get_time());
    if (due > now)
        return std::clamp(microseconds{due - now} + closely / 4, closely, longest);
    if (now - due < options_.pollInterval.count() + period.count())
        return closely;           // due: look closely until it has run
    return options_.pollInterval; // a late or stalled graph (an xrun): the steady poll
}

void JackMidiBackend::workerLoop() {
    std::unique_lock lock(workerMutex_);
    while (!stopping_) {
        lock.unlock();
        const auto now = std::chrono::steady_clock::now();
        // Read before the ring: everything the callback that finished then wrote is read below.
        const std::uint64_t lastProcess = lastProcessMicros_.load(std::memory_order_acquire);
        dispatchIncoming();

        if (shutdownSignalled_.exchange(false, std::memory_order_acq_rel)) {
            dispatchIncoming();
            if (dropServer()) {
                if (!lossAnnounced_)
                    logLine("[MIDI] JACK server stopped; MIDI is unavailable until it is back");
                lossAnnounced_ = true;
                nextRetry_ = now + options_.retryInterval;
                setupPending_ = false;
                std::lock_guard handlers(handlerMutex_);
                if (availabilityHandler_)
                    availabilityHandler_(false);
                if (setupHandler_)
                    setupHandler_();
            }
        } else {
            handleNotifications(now);
        }

        if (!available() && options_.waitForServer && now >= nextRetry_) {
            nextRetry_ = now + options_.retryInterval;
            const bool wasEverConnected = everConnected_;
            if (connectToServer()) {
                logLine(wasEverConnected ? "[MIDI] JACK server is back"
                                         : "[MIDI] JACK server answered; MIDI is available");
                lossAnnounced_ = false;
                std::lock_guard handlers(handlerMutex_);
                if (availabilityHandler_)
                    availabilityHandler_(true);
                if (setupHandler_)
                    setupHandler_();
            }
        }
        openLinkGates(now);
        logDropsIfAny(now);

        lock.lock();
        workerWake_.wait_for(lock, workerWait(lastProcess), [this] { return stopping_; });
    }
}

} // namespace strata
