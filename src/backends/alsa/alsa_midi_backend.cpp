#include "alsa/alsa_midi_backend.h"

#include "platform/log.h"

#include <algorithm>
#include <alsa/asoundlib.h>
#include <cerrno>
#include <poll.h>
#include <unistd.h>

namespace strata {
namespace {

constexpr std::size_t kMaxPacketBytes = 256;

constexpr unsigned kDuplexCaps = SND_SEQ_PORT_CAP_READ | SND_SEQ_PORT_CAP_SUBS_READ |
                                 SND_SEQ_PORT_CAP_WRITE | SND_SEQ_PORT_CAP_SUBS_WRITE;
constexpr unsigned kAppPortType = SND_SEQ_PORT_TYPE_MIDI_GENERIC | SND_SEQ_PORT_TYPE_APPLICATION;

} // namespace

AlsaMidiBackend::AlsaMidiBackend() : AlsaMidiBackend(Options{}) {}

AlsaMidiBackend::AlsaMidiBackend(Options options)
    : options_(std::move(options)), setup_(options_.setupCoalesce) {
    const int rc =
        snd_seq_open(&seq_, options_.device.c_str(), SND_SEQ_OPEN_DUPLEX, SND_SEQ_NONBLOCK);
    if (rc < 0) {
        seq_ = nullptr;
        logLine(std::string("[MIDI] ALSA sequencer unavailable: ") + snd_strerror(rc));
        return;
    }
    ownClient_ = snd_seq_client_id(seq_);
    for (auto& codec : sourceCodecs_)
        codec = std::make_unique<AlsaMidiCodec>();
    sendCodec_ = std::make_unique<AlsaMidiCodec>();
    if (pipe(wakePipe_) != 0) {
        wakePipe_[0] = wakePipe_[1] = -1;
        logLine("[MIDI] ALSA: no pipe for the input thread; MIDI input is off");
        return;
    }
    inputThread_ = std::thread([this] { inputLoop(); });
}

AlsaMidiBackend::~AlsaMidiBackend() {
    if (inputThread_.joinable()) {
        stopping_.store(true, std::memory_order_release);
        const char stop = 1;
        [[maybe_unused]] const ssize_t written = write(wakePipe_[1], &stop, 1);
        inputThread_.join();
    }
    for (int fd : wakePipe_)
        if (fd >= 0)
            close(fd);
    if (seq_)
        snd_seq_close(seq_);
}

MidiRef AlsaMidiBackend::createClient(std::string_view name, SetupHandler onSetupChanged) {
    if (!seq_)
        return 0;
    {
        std::lock_guard lock(handlerMutex_);
        setupHandler_ = std::move(onSetupChanged);
    }
    std::lock_guard lock(controlMutex_);
    if (clientRef_ == 0) {
        snd_seq_set_client_name(seq_, std::string(name).c_str());
        clientRef_ = objects_.add(Kind::client, std::string(name), {ownClient_, 0});
    }
    return clientRef_;
}

MidiRef AlsaMidiBackend::createOutputPort(MidiRef client, std::string_view name) {
    std::lock_guard lock(controlMutex_);
    if (!seq_ || client == 0 || client != clientRef_ || outputPortRef_ != 0)
        return 0;
    // Sends are addressed directly; nobody subscribes to this port.
    const int port = snd_seq_create_simple_port(seq_, std::string(name).c_str(),
                                                SND_SEQ_PORT_CAP_READ | SND_SEQ_PORT_CAP_NO_EXPORT,
                                                kAppPortType);
    if (port < 0)
        return 0;
    outputPortId_ = port;
    outputPortRef_ = objects_.add(Kind::outputPort, std::string(name), {ownClient_, port});
    return outputPortRef_;
}

MidiRef AlsaMidiBackend::createInputPort(MidiRef client, std::string_view name,
                                         ReadHandler onRead) {
    MidiRef ref = 0;
    {
        std::lock_guard lock(controlMutex_);
        if (!seq_ || client == 0 || client != clientRef_ || inputPortRef_ != 0)
            return 0;
        const int port = snd_seq_create_simple_port(
            seq_, std::string(name).c_str(), SND_SEQ_PORT_CAP_WRITE | SND_SEQ_PORT_CAP_NO_EXPORT,
            kAppPortType);
        if (port < 0)
            return 0;
        inputPortId_.store(port);
        // Setup changes arrive as announcements on this port.
        snd_seq_connect_from(seq_, port, SND_SEQ_CLIENT_SYSTEM, SND_SEQ_PORT_SYSTEM_ANNOUNCE);
        inputPortRef_ = objects_.add(Kind::inputPort, std::string(name), {ownClient_, port});
        ref = inputPortRef_;
    }
    std::lock_guard lock(handlerMutex_);
    readHandler_ = std::move(onRead);
    return ref;
}

int AlsaMidiBackend::duplexPort(std::size_t index, const std::string& name) {
    if (duplexPortIds_[index] >= 0)
        return duplexPortIds_[index];
    const int port = snd_seq_create_simple_port(seq_, name.c_str(), kDuplexCaps, kAppPortType);
    if (port >= 0) {
        duplexPortIds_[index] = port;
        duplexNames_[index] = name;
    }
    return port;
}

MidiRef AlsaMidiBackend::createVirtualSource(MidiRef client, std::string_view name) {
    std::lock_guard lock(controlMutex_);
    if (!seq_ || client == 0 || client != clientRef_)
        return 0;
    // The source and the destination of one name share one duplex port.
    const std::string portName(name);
    std::size_t index = kVirtualEndpoints;
    for (std::size_t k = 0; k < kVirtualEndpoints && index == kVirtualEndpoints; ++k)
        if (virtualSourceRefs_[k] == 0 && (duplexNames_[k] == portName || duplexNames_[k].empty()))
            index = k;
    if (index == kVirtualEndpoints)
        return 0;
    const int port = duplexPort(index, portName);
    if (port < 0)
        return 0;
    virtualSourceRefs_[index] =
        objects_.add(Kind::virtualSource, portName, {ownClient_, port}, index);
    return virtualSourceRefs_[index];
}

MidiRef AlsaMidiBackend::createVirtualDestination(MidiRef client, std::string_view name,
                                                  DestinationHandler onRead) {
    std::size_t index = kVirtualEndpoints;
    MidiRef ref = 0;
    {
        std::lock_guard lock(controlMutex_);
        if (!seq_ || client == 0 || client != clientRef_)
            return 0;
        const std::string portName(name);
        for (std::size_t k = 0; k < kVirtualEndpoints && index == kVirtualEndpoints; ++k)
            if (virtualDestinationRefs_[k] == 0 &&
                (duplexNames_[k] == portName || duplexNames_[k].empty()))
                index = k;
        if (index == kVirtualEndpoints)
            return 0;
        const int port = duplexPort(index, portName);
        if (port < 0)
            return 0;
        ref = objects_.add(Kind::virtualDestination, portName, {ownClient_, port}, index);
        virtualDestinationRefs_[index] = ref;
    }
    std::lock_guard lock(handlerMutex_);
    destinationHandlers_[index] = std::move(onRead);
    return ref;
}

void AlsaMidiBackend::setSubscriberHandler(SubscriberHandler handler) {
    std::lock_guard lock(handlerMutex_);
    subscriberHandler_ = std::move(handler);
}

void AlsaMidiBackend::setAvailabilityHandler(AvailabilityHandler) {
    // The kernel sequencer does not come and go while the process runs.
}

// ---------------------------------------------------------------------------------------------
// Enumeration

std::vector<AlsaPortInfo> AlsaMidiBackend::listPorts() const {
    std::vector<AlsaPortInfo> ports;
    if (!seq_)
        return ports;
    snd_seq_client_info_t* clientInfo;
    snd_seq_port_info_t* portInfo;
    snd_seq_client_info_alloca(&clientInfo);
    snd_seq_port_info_alloca(&portInfo);
    snd_seq_client_info_set_client(clientInfo, -1);
    while (snd_seq_query_next_client(seq_, clientInfo) >= 0) {
        const int client = snd_seq_client_info_get_client(clientInfo);
        snd_seq_port_info_set_client(portInfo, client);
        snd_seq_port_info_set_port(portInfo, -1);
        while (snd_seq_query_next_port(seq_, portInfo) >= 0) {
            AlsaPortInfo info;
            info.client = client;
            info.port = snd_seq_port_info_get_port(portInfo);
            info.clientName = snd_seq_client_info_get_name(clientInfo);
            info.portName = snd_seq_port_info_get_name(portInfo);
            info.capability = snd_seq_port_info_get_capability(portInfo);
            info.type = snd_seq_port_info_get_type(portInfo);
            ports.push_back(std::move(info));
        }
    }
    return ports;
}

std::vector<MidiRef> AlsaMidiBackend::listed(bool sources) {
    std::vector<std::pair<AlsaAddress, std::string>> seen;
    for (const AlsaPortInfo& info : listPorts())
        if (sources ? isListedSource(info, ownClient_) : isListedDestination(info, ownClient_))
            seen.emplace_back(AlsaAddress{info.client, info.port}, info.fullName());
    // A port keeps its ref, and takes the name it has now.
    return objects_.listing(sources ? Kind::systemSource : Kind::systemDestination, seen);
}

std::vector<MidiPortInfo> AlsaMidiBackend::sources() {
    std::lock_guard lock(controlMutex_);
    return objects_.snapshot(listed(true));
}

std::vector<MidiPortInfo> AlsaMidiBackend::destinations() {
    std::lock_guard lock(controlMutex_);
    return objects_.snapshot(ownFirst(virtualDestinationRefs_, listed(false)));
}

std::optional<std::string> AlsaMidiBackend::displayName(MidiRef ref) {
    return name(ref);
}

std::optional<std::string> AlsaMidiBackend::name(MidiRef ref) {
    std::lock_guard lock(controlMutex_);
    const auto* obj = objects_.find(ref);
    if (!obj)
        return std::nullopt;
    return obj->name;
}

// ---------------------------------------------------------------------------------------------
// Connections

std::vector<AlsaAddress> AlsaMidiBackend::feedbackAddresses() const {
    std::vector<AlsaAddress> addresses;
    for (std::size_t k = 0; k < kVirtualEndpoints; ++k)
        if (virtualDestinationRefs_[k] != 0)
            addresses.push_back({ownClient_, duplexPortIds_[k]});
    return addresses;
}

bool AlsaMidiBackend::surfaceOutput(const AlsaAddress& source) const {
    std::vector<AlsaAddress> subscribers;
    snd_seq_query_subscribe_t* query;
    snd_seq_query_subscribe_alloca(&query);
    snd_seq_addr_t root;
    root.client = static_cast<unsigned char>(source.client);
    root.port = static_cast<unsigned char>(source.port);
    snd_seq_query_subscribe_set_root(query, &root);
    snd_seq_query_subscribe_set_type(query, SND_SEQ_QUERY_SUBS_READ);
    snd_seq_query_subscribe_set_index(query, 0);
    while (snd_seq_query_port_subscribers(seq_, query) >= 0) {
        const snd_seq_addr_t* addr = snd_seq_query_subscribe_get_addr(query);
        subscribers.push_back({addr->client, addr->port});
        snd_seq_query_subscribe_set_index(query, snd_seq_query_subscribe_get_index(query) + 1);
    }
    return isSurfaceOutput(subscribers, feedbackAddresses(), {ownClient_, inputPortId_.load()});
}

bool AlsaMidiBackend::connectSource(MidiRef inputPort, MidiRef source, std::uint64_t refCon) {
    std::lock_guard lock(controlMutex_);
    const auto* obj = objects_.find(source, Kind::systemSource);
    if (!seq_ || inputPort == 0 || inputPort != inputPortRef_ || !obj)
        return false;
    const auto key = std::make_pair(obj->key.client, obj->key.port);
    refCons_[key] = refCon;
    if (surfaceOutput(obj->key)) {
        suppressed_[key] = true;
        return false;
    }
    suppressed_[key] = false;
    const int rc = snd_seq_connect_from(seq_, inputPortId_.load(), obj->key.client, obj->key.port);
    return rc >= 0 || rc == -EBUSY;
}

// ---------------------------------------------------------------------------------------------
// Output

void AlsaMidiBackend::output(snd_seq_event_t& event) {
    snd_seq_ev_set_direct(&event);
    // Non-blocking handle: a full kernel pool answers -EAGAIN. Give it a moment, then drop.
    for (int attempt = 0; attempt < 50; ++attempt) {
        const int rc = snd_seq_event_output_direct(seq_, &event);
        if (rc >= 0)
            return;
        if (rc != -EAGAIN)
            break;
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    droppedOutgoing_.fetch_add(1, std::memory_order_relaxed);
}

void AlsaMidiBackend::received(MidiRef virtualSource, const std::uint8_t* data,
                               std::size_t length) {
    if (!seq_ || !data || length == 0)
        return;
    int port = -1;
    std::size_t index = 0;
    {
        std::lock_guard lock(controlMutex_);
        const auto* obj = objects_.find(virtualSource, Kind::virtualSource);
        if (!obj)
            return;
        index = obj->index;
        port = duplexPortIds_[index];
    }
    std::lock_guard lock(outputMutex_);
    sourceCodecs_[index]->encode(data, length, [&](snd_seq_event_t& event) {
        snd_seq_ev_set_source(&event, port);
        snd_seq_ev_set_subs(&event);
        output(event);
    });
}

void AlsaMidiBackend::send(MidiRef outputPort, MidiRef destination, const std::uint8_t* data,
                           std::size_t length) {
    if (!seq_ || !data || length == 0)
        return;
    AlsaAddress target;
    int sourcePort = -1;
    {
        std::lock_guard lock(controlMutex_);
        const auto* obj = objects_.find(destination);
        if (outputPort == 0 || outputPort != outputPortRef_ || !obj ||
            (obj->kind != Kind::systemDestination && obj->kind != Kind::virtualDestination))
            return;
        target = obj->key;
        sourcePort = outputPortId_;
    }
    std::lock_guard lock(outputMutex_);
    // A message left incomplete for one destination must not be finished by bytes for another.
    if (destination != lastSendDestination_)
        sendCodec_->resetEncoder();
    lastSendDestination_ = destination;
    sendCodec_->encode(data, length, [&](snd_seq_event_t& event) {
        snd_seq_ev_set_source(&event, sourcePort);
        snd_seq_ev_set_dest(&event, target.client, target.port);
        output(event);
    });
}

// ---------------------------------------------------------------------------------------------
// Input thread

void AlsaMidiBackend::handleAnnouncement(const snd_seq_event_t& event) {
    bool setupChanged = false;
    std::vector<MidiRef> subscribed;
    switch (event.type) {
    case SND_SEQ_EVENT_CLIENT_START:
    case SND_SEQ_EVENT_CLIENT_EXIT:
    case SND_SEQ_EVENT_CLIENT_CHANGE:
    case SND_SEQ_EVENT_PORT_START:
    case SND_SEQ_EVENT_PORT_EXIT:
    case SND_SEQ_EVENT_PORT_CHANGE:
        setupChanged = event.data.addr.client != ownClient_;
        break;
    case SND_SEQ_EVENT_PORT_SUBSCRIBED:
    case SND_SEQ_EVENT_PORT_UNSUBSCRIBED: {
        const snd_seq_addr_t sender = event.data.connect.sender;
        const snd_seq_addr_t dest = event.data.connect.dest;
        std::lock_guard lock(controlMutex_);
        for (std::size_t k = 0; k < kVirtualEndpoints; ++k)
            if (event.type == SND_SEQ_EVENT_PORT_SUBSCRIBED && sender.client == ownClient_ &&
                sender.port == duplexPortIds_[k] && virtualSourceRefs_[k] != 0)
                subscribed.push_back(virtualSourceRefs_[k]);
        // Our own input's subscriptions are made by us and are no news.
        const bool ownPlumbing = dest.client == ownClient_ && dest.port == inputPortId_.load();
        setupChanged = !ownPlumbing;
        // A source whose only listeners became our feedback ports is the DAW's surface output.
        for (auto& [key, refCon] : refCons_) {
            (void)refCon;
            const bool surface = surfaceOutput({key.first, key.second});
            suppressed_[key] = surface;
            if (surface)
                snd_seq_disconnect_from(seq_, inputPortId_.load(), key.first, key.second);
        }
        break;
    }
    default:
        break;
    }
    if (!subscribed.empty()) {
        std::lock_guard lock(handlerMutex_);
        for (MidiRef ref : subscribed)
            if (subscriberHandler_)
                subscriberHandler_(ref);
    }
    if (setupChanged)
        setup_.changed(std::chrono::steady_clock::now());
}

void AlsaMidiBackend::handleEvent(const snd_seq_event_t& event) {
    if (event.source.client == SND_SEQ_CLIENT_SYSTEM &&
        event.source.port == SND_SEQ_PORT_SYSTEM_ANNOUNCE) {
        handleAnnouncement(event);
        return;
    }
    inputBytes_.clear();
    if (!inputCodec_.decode(event, inputBytes_))
        return;
    // One event is one delivery; a long system-exclusive chunk is cut into packets of at most
    // 256 bytes, which the engine joins again.
    inputPackets_.clear();
    for (std::size_t offset = 0; offset < inputBytes_.size(); offset += kMaxPacketBytes)
        inputPackets_.push_back(MidiPacket{inputBytes_.data() + offset,
                                           std::min(kMaxPacketBytes, inputBytes_.size() - offset)});
    const MidiPacketList list{inputPackets_.data(), inputPackets_.size()};

    if (event.dest.port == inputPortId_.load()) {
        std::uint64_t refCon = 0;
        {
            std::lock_guard lock(controlMutex_);
            const auto key = std::make_pair(int(event.source.client), int(event.source.port));
            if (suppressed_.count(key) && suppressed_[key])
                return;
            if (auto it = refCons_.find(key); it != refCons_.end())
                refCon = it->second;
        }
        std::lock_guard lock(handlerMutex_);
        if (readHandler_)
            readHandler_(list, refCon);
        return;
    }
    std::size_t index = kVirtualEndpoints;
    {
        std::lock_guard lock(controlMutex_);
        for (std::size_t k = 0; k < kVirtualEndpoints; ++k)
            if (duplexPortIds_[k] >= 0 && event.dest.port == duplexPortIds_[k])
                index = k;
    }
    if (index == kVirtualEndpoints)
        return;
    std::lock_guard lock(handlerMutex_);
    if (destinationHandlers_[index])
        destinationHandlers_[index](list);
}

bool AlsaMidiBackend::runOnInputThread(std::function<void()> job) {
    if (!inputThread_.joinable() || !job)
        return false;
    {
        std::lock_guard lock(inputJobsMutex_);
        inputJobs_.push_back(std::move(job));
    }
    const char wake = 2;
    return write(wakePipe_[1], &wake, 1) == 1;
}

void AlsaMidiBackend::inputLoop() {
    const int count = snd_seq_poll_descriptors_count(seq_, POLLIN);
    std::vector<pollfd> fds(static_cast<std::size_t>(std::max(count, 0)) + 1);
    fds[0] = pollfd{wakePipe_[0], POLLIN, 0};
    snd_seq_poll_descriptors(seq_, fds.data() + 1, static_cast<unsigned>(count), POLLIN);
    for (;;) {
        int timeout = -1;
        if (const auto due = setup_.dueAt()) {
            const auto now = std::chrono::steady_clock::now();
            timeout = *due <= now
                          ? 0
                          : static_cast<int>(
                                std::chrono::duration_cast<std::chrono::milliseconds>(*due - now)
                                    .count()) +
                                1;
        }
        const int ready = poll(fds.data(), fds.size(), timeout);
        if (ready < 0 && errno != EINTR)
            return;
        if (fds[0].revents & POLLIN) {
            char wakes[64];
            [[maybe_unused]] const ssize_t read = ::read(wakePipe_[0], wakes, sizeof wakes);
            if (stopping_.load(std::memory_order_acquire))
                return;
            std::vector<std::function<void()>> jobs;
            {
                std::lock_guard lock(inputJobsMutex_);
                jobs.swap(inputJobs_);
            }
            for (auto& job : jobs)
                job();
        }
        for (;;) {
            snd_seq_event_t* event = nullptr;
            const int rc = snd_seq_event_input(seq_, &event);
            if (rc == -ENOSPC) // the kernel dropped input while we were late; go on
                continue;
            if (rc < 0)
                break;
            if (event)
                handleEvent(*event);
        }
        if (setup_.takeDue(std::chrono::steady_clock::now())) {
            std::lock_guard lock(handlerMutex_);
            if (setupHandler_)
                setupHandler_();
        }
    }
}

} // namespace strata
