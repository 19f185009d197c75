#include "jack_test_client.h"

#include "jack/jack_midi_backend.h"

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <jack/jack.h>
#include <jack/midiport.h>
#include <thread>

namespace strata::testing {

bool connectPorts(jack_client_t* client, const std::string& source, const std::string& destination,
                  std::chrono::milliseconds timeout) {
    const bool listed = waitUntil(
        [&] {
            return jack_port_by_name(client, source.c_str()) &&
                   jack_port_by_name(client, destination.c_str());
        },
        timeout);
    if (!listed)
        return false;
    const int rc = jack_connect(client, source.c_str(), destination.c_str());
    return rc == 0 || rc == EEXIST;
}

jack_client_t* openJackClient(const std::string& serverName, const std::string& clientName) {
    // A server that has just started (or restarted under the same name while another client
    // registers its ports) can refuse or time out the first attempts: keep trying for a while,
    // and say why when it never worked.
    const auto giveUpAt = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    jack_status_t status{};
    for (int attempt = 0;; ++attempt) {
        if (attempt > 0)
            std::this_thread::sleep_for(std::chrono::milliseconds(200));
        status = {};
        jack_client_t* client = jack_client_open(
            clientName.c_str(),
            static_cast<jack_options_t>(JackNoStartServer | JackServerName | JackUseExactName),
            &status, serverName.c_str());
        if (client)
            return client;
        if (attempt >= 4 && std::chrono::steady_clock::now() >= giveUpAt)
            break;
    }
    std::fprintf(stderr, "test client \"%s\" could not open on JACK server \"%s\" (status 0x%x)\n",
                 clientName.c_str(), serverName.c_str(), static_cast<unsigned>(status));
    return nullptr;
}

JackTestClient::JackTestClient(const std::string& serverName, const std::string& clientName) {
    for (std::size_t i = 0; i < kMaxPorts; ++i) {
        outRings_.push_back(std::make_unique<strata::SpscByteRing>(256 * 1024));
        passTo_[i].store(-1);
    }
    client_ = openJackClient(serverName, clientName);
    if (!client_)
        return;
    jack_set_process_callback(client_, processCallback, this);
    // Ready once it takes part in cycles: jackd runs an activated client from the next cycle on,
    // PipeWire once it has added the client to its graph a little later.
    if (jack_activate(client_) != 0 || !waitCycles(1)) {
        jack_client_close(client_);
        client_ = nullptr;
    }
}

std::vector<std::uint8_t> JackTestClient::asReceived(std::vector<std::uint8_t> bytes) {
    if (JackMidiBackend::libraryIsPipeWire() && bytes.size() == 3 && (bytes[0] & 0xF0) == 0x90 &&
        bytes[2] == 0) {
        bytes[0] = static_cast<std::uint8_t>(0x80 | (bytes[0] & 0x0F));
        bytes[2] = 0x40;
    }
    return bytes;
}

JackTestClient::~JackTestClient() {
    if (client_)
        jack_client_close(client_);
}

std::size_t JackTestClient::addPort(const std::string& shortName, bool output) {
    jack_port_t* port = client_ && portCount_ < kMaxPorts
                            ? jack_port_register(client_, shortName.c_str(), JACK_DEFAULT_MIDI_TYPE,
                                                 output ? JackPortIsOutput : JackPortIsInput, 0)
                            : nullptr;
    if (!port)
        return kMaxPorts;
    isOutput_[portCount_] = output;
    ports_[portCount_].store(port);
    return portCount_++;
}

void JackTestClient::passThrough(std::size_t from, std::size_t to) {
    if (from < kMaxPorts)
        passTo_[from].store(static_cast<int>(to));
}

std::string JackTestClient::fullName(std::size_t port) const {
    jack_port_t* p = port < kMaxPorts ? ports_[port].load() : nullptr;
    return p ? jack_port_name(p) : "";
}

bool JackTestClient::setAlias(std::size_t port, const std::string& alias) {
    jack_port_t* p = port < kMaxPorts ? ports_[port].load() : nullptr;
    return p && jack_port_set_alias(p, alias.c_str()) == 0;
}

bool JackTestClient::send(std::size_t port, const std::vector<std::uint8_t>& bytes,
                          std::uint32_t offset) {
    if (port >= portCount_ || !isOutput_[port])
        return false;
    std::lock_guard lock(sendMutex_);
    const Queued queued{static_cast<std::uint32_t>(bytes.size()), offset, 0, 0};
    return outRings_[port]->write(&queued, sizeof queued, bytes.data(), bytes.size());
}

bool JackTestClient::sendAtFrame(std::size_t port, const std::vector<std::uint8_t>& bytes,
                                 std::uint32_t frame) {
    if (port >= portCount_ || !isOutput_[port])
        return false;
    std::lock_guard lock(sendMutex_);
    const Queued queued{static_cast<std::uint32_t>(bytes.size()), 0, frame, 1};
    return outRings_[port]->write(&queued, sizeof queued, bytes.data(), bytes.size());
}

int JackTestClient::processCallback(jack_nframes_t frames, void* self) {
    return static_cast<JackTestClient*>(self)->process(frames);
}

int JackTestClient::process(jack_nframes_t frames) {
    cycles_.fetch_add(1, std::memory_order_release);
    const std::uint32_t cycleFrame = jack_last_frame_time(client_);
    const std::uint64_t micros = jack_get_time();
    std::array<void*, kMaxPorts> buffers{};
    for (std::size_t i = 0; i < kMaxPorts; ++i) {
        jack_port_t* port = ports_[i].load(std::memory_order_acquire);
        if (!port)
            continue;
        buffers[i] = jack_port_get_buffer(port, frames);
        if (isOutput_[i])
            jack_midi_clear_buffer(buffers[i]);
    }
    for (std::size_t i = 0; i < kMaxPorts; ++i) {
        if (!buffers[i] || !isOutput_[i])
            continue;
        Queued queued{};
        std::uint8_t bytes[4096];
        // Offsets never go back within a cycle.
        std::uint32_t at = 0;
        while (outRings_[i]->peek(&queued, sizeof queued)) {
            const std::uint32_t length = queued.length;
            if (length > sizeof bytes) {
                outRings_[i]->skip(sizeof queued + length);
                continue;
            }
            std::uint32_t offset = queued.offset;
            if (queued.atFrame) {
                // Held, with everything behind it, until the cycle its frame falls in; one
                // already past goes out at once.
                const auto ahead = static_cast<std::int32_t>(queued.frame - cycleFrame);
                if (ahead >= static_cast<std::int32_t>(frames))
                    break;
                offset = static_cast<std::uint32_t>(std::max(ahead, 0));
            }
            outRings_[i]->peek(bytes, length, sizeof queued);
            at = std::max(at, std::min(offset, frames - 1));
            if (jack_midi_event_write(buffers[i], at, bytes, length) != 0)
                break;
            outRings_[i]->skip(sizeof queued + length);
            const Record record{static_cast<std::uint32_t>(i), length, cycleFrame, at, micros};
            sent_.write(&record, sizeof record, bytes, length);
        }
    }
    for (std::size_t i = 0; i < kMaxPorts; ++i) {
        if (!buffers[i] || isOutput_[i])
            continue;
        const int to = passTo_[i].load();
        const std::uint32_t count = jack_midi_get_event_count(buffers[i]);
        for (std::uint32_t e = 0; e < count; ++e) {
            jack_midi_event_t event;
            if (jack_midi_event_get(&event, buffers[i], e) != 0)
                continue;
            if (to >= 0 && static_cast<std::size_t>(to) < kMaxPorts && buffers[to])
                jack_midi_event_write(buffers[to], event.time, event.buffer, event.size);
            const Record record{static_cast<std::uint32_t>(i),
                                static_cast<std::uint32_t>(event.size), cycleFrame, event.time,
                                micros};
            received_.write(&record, sizeof record, event.buffer, event.size);
        }
    }
    return 0;
}

std::vector<JackTestEvent> JackTestClient::drain(strata::SpscByteRing& ring) {
    std::vector<JackTestEvent> events;
    Record record{};
    while (ring.peek(&record, sizeof record)) {
        JackTestEvent event;
        event.port = record.port;
        event.bytes.resize(record.length);
        ring.peek(event.bytes.data(), record.length, sizeof record);
        ring.skip(sizeof record + record.length);
        event.cycleFrame = record.cycleFrame;
        event.offset = record.offset;
        event.cycleMicros = record.micros;
        events.push_back(std::move(event));
    }
    return events;
}

std::vector<JackTestEvent> JackTestClient::takeReceived() {
    std::vector<JackTestEvent> events = std::move(collected_);
    collected_.clear();
    for (auto& e : drain(received_))
        events.push_back(std::move(e));
    return events;
}

std::vector<JackTestEvent> JackTestClient::takeSent() {
    return drain(sent_);
}

bool JackTestClient::waitUntil(const std::function<bool(const std::vector<JackTestEvent>&)>& done,
                               std::chrono::milliseconds timeout) {
    return testing::waitUntil(
        [&] {
            for (auto& e : drain(received_))
                collected_.push_back(std::move(e));
            return done(collected_);
        },
        timeout);
}

bool JackTestClient::waitCycles(int cycles, std::chrono::milliseconds timeout) {
    const std::uint64_t target = cycles_.load(std::memory_order_acquire) + cycles;
    return testing::waitUntil([&] { return cycles_.load(std::memory_order_acquire) >= target; },
                              timeout);
}

} // namespace strata::testing
