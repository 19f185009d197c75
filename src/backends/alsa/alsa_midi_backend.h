#pragma once

#include "alsa/alsa_midi_codec.h"
#include "alsa/alsa_port_info.h"
#include "common/midi_object_table.h"
#include "common/setup_coalescer.h"
#include "platform/midi_backend.h"

#include <array>
#include <atomic>
#include <chrono>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

typedef struct _snd_seq snd_seq_t;

namespace strata {

// MIDI through the ALSA sequencer.
//
// One client. "Strata" and "Strata XT" are duplex ports (readable and writable, both
// subscribable): the DAW subscribes to read them (our virtual sources) and to write to them (our
// virtual destinations). "Strata In" is subscribed to every source the engine connects; each
// event says which port it came from, so one port serves all sources. "Strata Out" sends events
// addressed directly to one destination port, so a send reaches that port and no other.
// Setup changes come from a subscription to the system announce port.
//
// When the sequencer cannot be opened (no /dev/snd/seq), the backend says so once, stays
// unavailable, creates nothing (refs are 0) and ignores every call.
class AlsaMidiBackend : public MidiBackend {
public:
    struct Options {
        std::string device = "default";
        std::chrono::milliseconds setupCoalesce{10};
    };

    static constexpr std::size_t kVirtualEndpoints = 2;

    AlsaMidiBackend();
    explicit AlsaMidiBackend(Options options);
    ~AlsaMidiBackend() override;
    AlsaMidiBackend(const AlsaMidiBackend&) = delete;
    AlsaMidiBackend& operator=(const AlsaMidiBackend&) = delete;

    std::string_view kind() const override { return "alsa"; }
    bool available() const override { return seq_ != nullptr; }

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
    // The sequencer delivers each event on its own, at once: a later event is always a later
    // delivery, so there is nothing to do.
    void barrier(MidiRef) override {}

    std::vector<MidiPortInfo> sources() override;
    std::vector<MidiPortInfo> destinations() override;
    std::optional<std::string> displayName(MidiRef object) override;
    std::optional<std::string> name(MidiRef object) override;

    void setSubscriberHandler(SubscriberHandler handler) override;
    void setAvailabilityHandler(AvailabilityHandler handler) override;
    // On the input thread, which reads the sequencer and calls the read handlers.
    bool runOnInputThread(std::function<void()> job) override;

    std::uint64_t droppedOutgoing() const { return droppedOutgoing_.load(); }

private:
    using Objects = MidiObjectTable<AlsaAddress>; // system ports keyed by their address
    using Kind = MidiObjectKind;

    std::vector<AlsaPortInfo> listPorts() const;
    std::vector<MidiRef> listed(bool sources);
    int duplexPort(std::size_t index, const std::string& name);
    void output(snd_seq_event_t& event);
    bool surfaceOutput(const AlsaAddress& source) const;
    std::vector<AlsaAddress> feedbackAddresses() const;

    void inputLoop();
    void handleEvent(const snd_seq_event_t& event);
    void handleAnnouncement(const snd_seq_event_t& event);

    Options options_;
    snd_seq_t* seq_ = nullptr;
    int ownClient_ = -1;

    mutable std::mutex controlMutex_;
    Objects objects_;
    MidiRef clientRef_ = 0;
    MidiRef outputPortRef_ = 0;
    MidiRef inputPortRef_ = 0;
    int outputPortId_ = -1;
    std::atomic<int> inputPortId_{-1};
    std::array<int, kVirtualEndpoints> duplexPortIds_{-1, -1};
    std::array<std::string, kVirtualEndpoints> duplexNames_;
    std::array<MidiRef, kVirtualEndpoints> virtualSourceRefs_{};
    std::array<MidiRef, kVirtualEndpoints> virtualDestinationRefs_{};
    std::map<std::pair<int, int>, std::uint64_t> refCons_; // source address -> connection value
    std::map<std::pair<int, int>, bool> suppressed_;       // surface outputs we do not read

    std::mutex outputMutex_;
    std::array<std::unique_ptr<AlsaMidiCodec>, kVirtualEndpoints> sourceCodecs_;
    std::unique_ptr<AlsaMidiCodec> sendCodec_;
    MidiRef lastSendDestination_ = 0;
    std::atomic<std::uint64_t> droppedOutgoing_{0};

    mutable std::mutex handlerMutex_;
    SetupHandler setupHandler_;
    ReadHandler readHandler_;
    std::array<DestinationHandler, kVirtualEndpoints> destinationHandlers_;
    SubscriberHandler subscriberHandler_;

    // Input thread: woken through the pipe to stop (stopping_) or to run inputJobs_.
    int wakePipe_[2] = {-1, -1};
    std::atomic<bool> stopping_{false};
    std::mutex inputJobsMutex_;
    std::vector<std::function<void()>> inputJobs_;
    std::thread inputThread_;
    AlsaMidiCodec inputCodec_;
    std::vector<std::uint8_t> inputBytes_;
    std::vector<MidiPacket> inputPackets_;
    SetupCoalescer setup_;
};

} // namespace strata
