#include "jack/jack_midi_backend.h"

#include "jack/midi_message_splitter.h"
#include "platform/log.h"

#include <algorithm>
#include <jack/jack.h>
#include <jack/thread.h>

namespace strata {

namespace {
// What a main-loop timer may be late by, and the hop from it through the MIDI queue into the
// ring, on a machine that is not overloaded. Later than that, a timed send goes out as soon as it
// can, a little after its time.
constexpr std::chrono::milliseconds kSendLeadMargin{4};

} // namespace

bool JackMidiBackend::libraryIsPipeWire() {
    return JackSession::libraryIsPipeWire();
}

JackMidiBackend::JackMidiBackend() : JackMidiBackend(Options{}) {}

JackMidiBackend::JackMidiBackend(Options options)
    : options_(std::move(options)), onPipeWire_(libraryIsPipeWire()), process_(onPipeWire_),
      observer_(options_.setupCoalesce, process_.workerWake),
      session_({options_.clientName, options_.serverName}, onPipeWire_, controlMutex_, process_,
               observer_),
      pool_(process_, onPipeWire_) {
    const bool connected = session_.open([this](jack_client_t* client) { registerPorts(client); });
    nextRetry_ = std::chrono::steady_clock::now() + options_.retryInterval;
    if (connected || options_.waitForServer)
        worker_ = std::thread([this] { workerLoop(); });
}

JackMidiBackend::~JackMidiBackend() {
    stopping_.store(true, std::memory_order_release);
    process_.workerWake.post();
    if (worker_.joinable())
        worker_.join();
    session_.close();
    // What was handed to JACK, for comparing with what a reader got: under xruns an
    // asynchronous server can leave MIDI written in one client unread by the next.
    const Counters c = counters();
    if (session_.everConnected())
        logLine("[MIDI] JACK: " + std::to_string(c.writtenOutgoing) + " events written, " +
                std::to_string(c.droppedOutgoing) + " dropped before JACK, " +
                std::to_string(c.xruns) + " xruns reported");
}

bool JackMidiBackend::available() const {
    return session_.available();
}

// ---------------------------------------------------------------------------------------------
// Objects

std::string JackMidiBackend::ownPortName(const std::string& shortName) const {
    jack_client_t* client = session_.client();
    return client ? ownPrefix(client) + shortName : std::string();
}

std::string JackMidiBackend::feedbackPortName(std::size_t index) const {
    return virtualDestinationNames_[index] + " feedback";
}

std::vector<std::string> JackMidiBackend::feedbackPorts() const {
    std::vector<std::string> names;
    for (std::size_t k = 0; k < kVirtualEndpoints; ++k)
        if (virtualDestinationRefs_[k] != 0)
            names.push_back(ownPortName(feedbackPortName(k)));
    return names;
}

std::optional<std::size_t> JackMidiBackend::virtualSourceIndex(MidiRef ref) const {
    if (const auto* obj = objects_.find(ref, Kind::virtualSource))
        return obj->index;
    return std::nullopt;
}

void JackMidiBackend::registerPorts(jack_client_t* client) {
    for (std::size_t k = 0; k < kVirtualEndpoints; ++k) {
        if (virtualSourceRefs_[k] != 0)
            process_.outputs[k].port.store(registerMidiPort(client, virtualSourceNames_[k], true));
        if (virtualDestinationRefs_[k] != 0)
            process_.inputs[k].port.store(registerMidiPort(client, feedbackPortName(k), false));
    }
    pool_.reregister(client);
}

MidiRef JackMidiBackend::createClient(std::string_view name, SetupHandler onSetupChanged) {
    {
        std::lock_guard lock(handlerMutex_);
        setupHandler_ = std::move(onSetupChanged);
    }
    std::lock_guard lock(controlMutex_);
    // There is one JACK client per backend; its name was fixed when it was opened.
    if (clientRef_ == 0)
        clientRef_ = objects_.add(Kind::client, std::string(name));
    return clientRef_;
}

MidiRef JackMidiBackend::createOutputPort(MidiRef client, std::string_view name) {
    std::lock_guard lock(controlMutex_);
    if (client == 0 || client != clientRef_ || outputPortRef_ != 0)
        return 0;
    outputPortRef_ = objects_.add(Kind::outputPort, std::string(name));
    pool_.createOutputs(session_.client(), std::string(name));
    return outputPortRef_;
}

MidiRef JackMidiBackend::createInputPort(MidiRef client, std::string_view name,
                                         ReadHandler onRead) {
    {
        std::lock_guard lock(controlMutex_);
        if (client == 0 || client != clientRef_ || inputPortRef_ != 0)
            return 0;
        inputPortRef_ = objects_.add(Kind::inputPort, std::string(name));
        pool_.createInputs(session_.client(), std::string(name));
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
        virtualSourceRefs_[k] = objects_.add(Kind::virtualSource, virtualSourceNames_[k], {}, k);
        if (jack_port_t* port = registerMidiPort(session_.client(), virtualSourceNames_[k], true))
            process_.outputs[k].port.store(port, std::memory_order_release);
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
        ref = objects_.add(Kind::virtualDestination, virtualDestinationNames_[index], {}, index);
        virtualDestinationRefs_[index] = ref;
        if (jack_port_t* port = registerMidiPort(session_.client(), feedbackPortName(index), false))
            process_.inputs[index].port.store(port, std::memory_order_release);
    }
    std::lock_guard lock(handlerMutex_);
    destinationHandlers_[index] = std::move(onRead);
    return ref;
}

bool JackMidiBackend::prepareAnswers(const PreparedAnswerSet& set, std::uint64_t generation) {
    std::array<int, PreparedAnswer::kOutputs> channel{};
    {
        std::lock_guard lock(controlMutex_);
        for (std::size_t k = 0; k < channel.size(); ++k) {
            const auto index = set.outputs[k] != 0 ? virtualSourceIndex(set.outputs[k])
                                                   : std::optional<std::size_t>();
            channel[k] = index ? static_cast<int>(*index) : -1;
        }
    }
    if (!available())
        return false;
    std::lock_guard lock(preparedMutex_);
    return process_.prepared.publish(set, channel, generation, process_.cycle,
                                     process_.finishedCycle);
}

PreparedOutcome JackMidiBackend::withdrawAnswers(std::uint64_t generation) {
    std::lock_guard lock(preparedMutex_);
    return process_.prepared.withdraw(generation);
}

bool JackMidiBackend::sendPrepared(std::uint64_t generation, std::size_t index) {
    if (!available())
        return false;
    // Whoever else writes into the rings waits; their free space only grows meanwhile.
    std::lock_guard producer(producerMutex_);
    std::lock_guard lock(preparedMutex_);
    const PreparedPool::Table* table = process_.prepared.armedTable(generation);
    if (!table || index >= table->set.count || !table->set.answers[index].answerable)
        return false;
    const PreparedAnswer& answer = table->set.answers[index];
    for (std::size_t k = 0; k < PreparedAnswer::kOutputs; ++k) {
        if (answer.length[k] == 0)
            continue;
        const int channel = table->channel[k];
        if (channel < 0 || static_cast<std::size_t>(channel) >= process_.outputs.size())
            return false;
        std::size_t needed = sizeof(JackOutRecord);
        MidiMessageSplitter::split(
            answer.bytes[k].data(), answer.length[k],
            [&](const std::uint8_t*, std::size_t n) { needed += sizeof(JackOutRecord) + n; });
        if (needed > process_.outputs[static_cast<std::size_t>(channel)].ring.writable())
            return false;
    }
    PreparedPool::Claim claim;
    if (!process_.prepared.claim(*table, index, claim))
        return false; // a press claimed it first
    for (std::size_t k = 0; k < PreparedAnswer::kOutputs; ++k) {
        if (answer.length[k] == 0)
            continue;
        SpscByteRing& ring = process_.outputs[static_cast<std::size_t>(table->channel[k])].ring;
        // A cycle between these presses and whatever went out before: a host merges repeats.
        const JackOutRecord barrier{kJackOutBarrier, 0, 0};
        ring.write(&barrier, sizeof barrier);
        MidiMessageSplitter::split(
            answer.bytes[k].data(), answer.length[k],
            [&](const std::uint8_t* bytes, std::size_t n) {
                const JackOutRecord record{kJackOutEvent, static_cast<std::uint32_t>(n), 0};
                ring.write(&record, sizeof record, bytes, n);
            });
    }
    return true;
}

PreparedOutcome JackMidiBackend::preparedOutcome(std::uint64_t generation) const {
    std::lock_guard lock(preparedMutex_);
    return process_.prepared.outcome(generation);
}

void JackMidiBackend::setAnsweredHandler(AnsweredHandler handler) {
    std::lock_guard lock(handlerMutex_);
    answeredHandler_ = std::move(handler);
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
    jack_client_t* client = session_.client();
    return client ? std::string(jack_get_client_name(client)) : std::string();
}

std::string JackMidiBackend::jackPortName(MidiRef ref) const {
    std::lock_guard lock(controlMutex_);
    const auto* obj = objects_.find(ref);
    if (!obj || !session_.client())
        return {};
    jack_port_t* port = nullptr;
    switch (obj->kind) {
    case Kind::virtualSource:
        port = process_.outputs[obj->index].port.load();
        break;
    case Kind::virtualDestination:
        port = process_.inputs[obj->index].port.load();
        break;
    case Kind::inputPort:
        port = pool_.firstInputPort();
        break;
    case Kind::outputPort:
        port = pool_.firstOutputPort();
        break;
    default:
        break;
    }
    return port ? std::string(jack_port_name(port)) : std::string();
}

JackMidiBackend::Counters JackMidiBackend::counters() const {
    return Counters{process_.droppedOutgoing.load(),
                    process_.droppedIncoming.load(),
                    process_.writtenOutgoing.load(),
                    process_.xruns.load(),
                    subscriptionsReported_.load(std::memory_order_acquire),
                    process_.answeredInCycle.load()};
}

// ---------------------------------------------------------------------------------------------
// Enumeration

std::vector<MidiRef> JackMidiBackend::listSystemPorts(bool sources) {
    jack_client_t* client = session_.client();
    if (!client)
        return {};
    const char** names = jack_get_ports(client, nullptr, JACK_DEFAULT_MIDI_TYPE,
                                        sources ? JackPortIsOutput : JackPortIsInput);
    if (!names)
        return {};
    const std::string prefix = ownPrefix(client);
    std::vector<std::pair<std::string, std::string>> seen;
    for (const char** name = names; *name; ++name)
        if (!std::string_view(*name).starts_with(prefix))
            seen.emplace_back(*name, *name);
    jack_free(names);
    return objects_.listing(sources ? Kind::systemSource : Kind::systemDestination, seen);
}

std::vector<MidiPortInfo> JackMidiBackend::sources() {
    std::lock_guard lock(controlMutex_);
    return objects_.snapshot(listSystemPorts(true),
                             [this](const Objects::Object& obj) { return aliasesOf(obj); });
}

std::vector<MidiPortInfo> JackMidiBackend::destinations() {
    std::lock_guard lock(controlMutex_);
    return objects_.snapshot(ownFirst(virtualDestinationRefs_, listSystemPorts(false)),
                             [this](const Objects::Object& obj) { return aliasesOf(obj); });
}

std::optional<std::string> JackMidiBackend::displayName(MidiRef ref) {
    return name(ref);
}

std::optional<std::string> JackMidiBackend::name(MidiRef ref) {
    std::lock_guard lock(controlMutex_);
    const auto* obj = objects_.find(ref);
    if (!obj)
        return std::nullopt;
    return obj->name;
}

std::vector<std::string> JackMidiBackend::aliases(MidiRef ref) {
    std::lock_guard lock(controlMutex_);
    const auto* obj = objects_.find(ref);
    return obj ? aliasesOf(*obj) : std::vector<std::string>{};
}

std::vector<std::string> JackMidiBackend::aliasesOf(const Objects::Object& obj) const {
    jack_client_t* client = session_.client();
    if (!client || (obj.kind != Kind::systemSource && obj.kind != Kind::systemDestination))
        return {};
    jack_port_t* port = jack_port_by_name(client, obj.name.c_str());
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
    const auto* obj = objects_.find(ref);
    if (!obj)
        return {};
    if (obj->kind == Kind::virtualDestination)
        return feedbackPortName(obj->index);
    return obj->name;
}

// ---------------------------------------------------------------------------------------------
// Connections and output

bool JackMidiBackend::connectSource(MidiRef inputPort, MidiRef source, std::uint64_t refCon) {
    std::lock_guard lock(controlMutex_);
    const auto* obj = objects_.find(source, Kind::systemSource);
    if (inputPort == 0 || inputPort != inputPortRef_ || !obj)
        return false;
    return pool_.connectSource(session_.client(), source, obj->name, refCon, feedbackPorts());
}

bool JackMidiBackend::enqueue(JackProcess::OutputChannel& channel, const std::uint8_t* data,
                              std::size_t length) {
    // The first send of a timed batch on this channel is preceded by the hold until its frame.
    const auto index = static_cast<std::size_t>(&channel - process_.outputs.data());
    const bool timed = dueFrame_ && dueMarked_[index] != dueGeneration_ &&
                       dueThread_ == std::this_thread::get_id();
    // One call is all or nothing, so that a press never goes out without its release.
    std::size_t needed = timed ? sizeof(JackOutRecord) : 0;
    std::size_t messages = 0;
    MidiMessageSplitter::split(data, length, [&](const std::uint8_t*, std::size_t n) {
        needed += sizeof(JackOutRecord) + n;
        ++messages;
    });
    if (needed > channel.ring.writable()) {
        process_.dropOutgoing(messages);
        return false;
    }
    if (timed) {
        const JackOutRecord hold{kJackOutAtFrame, 0, *dueFrame_};
        channel.ring.write(&hold, sizeof hold);
        dueMarked_[index] = dueGeneration_;
    }
    MidiMessageSplitter::split(data, length, [&](const std::uint8_t* bytes, std::size_t n) {
        const JackOutRecord record{kJackOutEvent, static_cast<std::uint32_t>(n), 0};
        channel.ring.write(&record, sizeof record, bytes, n);
    });
    return true;
}

void JackMidiBackend::received(MidiRef virtualSource, const std::uint8_t* data,
                               std::size_t length) {
    if (!data || length == 0)
        return;
    std::lock_guard producer(producerMutex_);
    std::optional<std::size_t> index;
    {
        std::lock_guard lock(controlMutex_);
        index = virtualSourceIndex(virtualSource);
    }
    if (!index)
        return;
    if (!available()) {
        process_.dropOutgoing(1);
        return;
    }
    enqueue(process_.outputs[*index], data, length);
}

void JackMidiBackend::barrier(MidiRef virtualSource) {
    std::lock_guard producer(producerMutex_);
    std::optional<std::size_t> index;
    {
        std::lock_guard lock(controlMutex_);
        index = virtualSourceIndex(virtualSource);
    }
    if (!index || !available())
        return;
    const JackOutRecord record{kJackOutBarrier, 0, 0};
    process_.outputs[*index].ring.write(&record, sizeof record);
}

void JackMidiBackend::setDueTime(std::optional<std::chrono::steady_clock::time_point> due) {
    std::optional<std::uint32_t> frame;
    if (due) {
        std::lock_guard lock(controlMutex_);
        if (jack_client_t* client = session_.client()) {
            // JACK's clock runs at the steady clock's rate but not necessarily from its origin
            // (jackd's is a quarter of a second apart from it here): bridged by their difference
            // now, read back to back.
            const auto steadyNow = std::chrono::steady_clock::now();
            const jack_time_t jackNow = jack_get_time();
            const auto ahead =
                std::chrono::duration_cast<std::chrono::microseconds>(*due - steadyNow).count();
            const std::uint32_t rate = process_.sampleRate.load(std::memory_order_relaxed);
            const std::uint32_t limit =
                jackMaxFramesAhead(rate, process_.periodFrames.load(std::memory_order_relaxed));
            // What is due already, or further ahead than the process callback would hold for,
            // goes out as any other send.
            if (ahead > 0 && rate != 0 &&
                static_cast<std::uint64_t>(ahead) * rate < std::uint64_t{limit} * 1000000u)
                frame = jack_time_to_frames(client, jackNow + static_cast<jack_time_t>(ahead));
        }
    }
    setDueFrame(frame);
}

void JackMidiBackend::setDueFrame(std::optional<std::uint32_t> frame) {
    std::lock_guard producer(producerMutex_);
    dueFrame_ = frame;
    dueThread_ = std::this_thread::get_id();
    ++dueGeneration_;
}

std::chrono::nanoseconds JackMidiBackend::sendLead() const {
    const std::chrono::nanoseconds period = cyclePeriod();
    if (period <= std::chrono::nanoseconds::zero())
        return {};
    return 2 * period + kSendLeadMargin;
}

bool JackMidiBackend::outputPending(MidiRef virtualSource) const {
    std::lock_guard lock(controlMutex_);
    const std::optional<std::size_t> index = virtualSourceIndex(virtualSource);
    if (!index || !session_.client())
        return false;
    // The ring holds events and barriers alike; a barrier still in it means a cycle break has not
    // been passed yet either.
    return !process_.outputs[*index].ring.empty();
}

std::chrono::nanoseconds JackMidiBackend::cyclePeriod() const {
    const std::uint32_t frames = process_.periodFrames.load(std::memory_order_relaxed);
    const std::uint32_t rate = process_.sampleRate.load(std::memory_order_relaxed);
    if (frames == 0 || rate == 0 || !available())
        return {};
    return std::chrono::nanoseconds(std::uint64_t{frames} * 1000000000ull / rate);
}

int JackMidiBackend::realTimePriority() const {
    std::lock_guard lock(controlMutex_);
    jack_client_t* client = session_.client();
    // -1 from JACK too when the server runs without real-time scheduling.
    return client ? jack_client_real_time_priority(client) : -1;
}

bool JackMidiBackend::runOnInputThread(std::function<void()> job) {
    if (!worker_.joinable() || !job)
        return false;
    {
        std::lock_guard lock(workerJobsMutex_);
        workerJobs_.push_back(std::move(job));
        workerJobsPending_.store(true, std::memory_order_release);
    }
    process_.workerWake.post();
    return true;
}

std::uint64_t JackMidiBackend::cycleCount() const {
    return process_.cycle.load(std::memory_order_acquire);
}

std::uint64_t JackMidiBackend::deliveredCycle() const {
    // The worker sleeps while no input comes, and its count stands still meanwhile. Cycles that
    // read nothing have nothing to hand over: once the latest cycle that read input is handed
    // over, so is every cycle finished since. The finished cycle is read first, so that the
    // latest input cycle read after it covers every cycle up to it.
    const std::uint64_t finished = process_.finishedCycle.load(std::memory_order_acquire);
    const std::uint64_t lastInput = process_.lastInputCycle.load(std::memory_order_acquire);
    const std::uint64_t delivered = deliveredCycle_.load(std::memory_order_acquire);
    return lastInput <= delivered ? std::max(delivered, finished) : delivered;
}

std::uint64_t JackMidiBackend::deliveringCycle() const {
    return deliveringCycle_.load(std::memory_order_acquire);
}

std::string JackMidiBackend::destinationJackName(MidiRef destination) const {
    const auto* obj = objects_.find(destination);
    if (!obj)
        return {};
    if (obj->kind == Kind::systemDestination)
        return obj->name;
    if (obj->kind == Kind::virtualDestination)
        return ownPortName(feedbackPortName(obj->index));
    return {};
}

void JackMidiBackend::send(MidiRef outputPort, MidiRef destination, const std::uint8_t* data,
                           std::size_t length) {
    if (!data || length == 0)
        return;
    std::lock_guard producer(producerMutex_);
    std::optional<std::size_t> channel;
    {
        std::lock_guard lock(controlMutex_);
        if (outputPort == 0 || outputPort != outputPortRef_)
            return;
        if (!session_.client()) {
            process_.dropOutgoing(1);
            return;
        }
        const std::string target = destinationJackName(destination);
        if (target.empty())
            return;
        channel = pool_.outputChannelFor(session_.client(), target);
    }
    if (!channel) {
        process_.dropOutgoing(1);
        return;
    }
    enqueue(process_.outputs[*channel], data, length);
}

} // namespace strata
