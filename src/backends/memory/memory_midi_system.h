#pragma once

#include "platform/midi_backend.h"

#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace strata {

// A MIDI system that lives in memory: the backend when no MIDI system can be reached. The
// application then still runs, with only its own virtual endpoints, which reach nobody else and
// are listed and behave as a platform's would: it lists virtual endpoints among the sources and
// destinations, a source emitting through received() reaches every input port connected to it,
// and a send to one of our virtual destinations reaches that destination's handler.
//
// Thread-safe. Deliveries run the receiving handler on the calling thread, which plays the
// platform's thread; no lock is held while a handler runs, so handlers may call back in.
//
// What it keeps is protected so that a test double can play other applications on it.
class MemoryMidiSystem : public MidiBackend {
public:
    MemoryMidiSystem();
    ~MemoryMidiSystem() override;
    MemoryMidiSystem(const MemoryMidiSystem&) = delete;
    MemoryMidiSystem& operator=(const MemoryMidiSystem&) = delete;

    std::string_view kind() const override { return "memory"; }
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
    std::vector<MidiPortInfo> sources() override;
    std::vector<MidiPortInfo> destinations() override;
    std::optional<std::string> displayName(MidiRef object) override;
    std::optional<std::string> name(MidiRef object) override;
    std::vector<std::string> aliases(MidiRef object) override;
    void disposeClient(MidiRef client) override;
    void setSubscriberHandler(SubscriberHandler handler) override;
    void setAvailabilityHandler(AvailabilityHandler handler) override;

    // Makes the system reachable or not, telling the availability handler. Without a MIDI system
    // the application sets it unreachable, and the MIDI engine says so.
    void setAvailable(bool available);

protected:
    struct Object {
        enum class Type { client, outputPort, inputPort, source, destination };
        Type type = Type::client;
        MidiRef owner = 0; // the creating client; 0 for endpoints of other applications
        std::optional<std::string> name;
        std::optional<std::string> displayName;
        std::vector<std::string> aliases;
        std::shared_ptr<SetupHandler> onSetup;
        std::shared_ptr<ReadHandler> onRead;
        std::shared_ptr<DestinationHandler> onDestination;

        static Object named(Type type, std::string_view name);
    };
    struct Connection {
        MidiRef inputPort;
        MidiRef source;
        std::uint64_t refCon;
    };
    using Targets = std::vector<std::pair<std::shared_ptr<ReadHandler>, std::uint64_t>>;

    // Callers hold mutex_.
    MidiRef addObject(Object object);
    const Object* findLocked(MidiRef ref) const;
    Object* findLocked(MidiRef ref);
    // One of our virtual sources; an external destination; any destination an output port can
    // send to.
    bool isOwnSourceLocked(MidiRef ref) const;
    bool canSendLocked(MidiRef outputPort, MidiRef destination) const;
    // The input ports connected to `source`, with their connection values.
    Targets targetsOfLocked(MidiRef source) const;
    void removeLocked(MidiRef ref);
    // Without the lock: each target's handler gets the packets as one list.
    static void deliverToPorts(const Targets& targets, const MidiPacketList& packets);

    mutable std::mutex mutex_;
    std::map<MidiRef, std::unique_ptr<Object>> objects_;
    std::vector<MidiRef> sources_;
    std::vector<MidiRef> destinations_;
    std::vector<Connection> connections_;
    std::shared_ptr<SubscriberHandler> subscriberHandler_;

private:
    // Own lock held.
    MidiRef createOwned(MidiRef client, Object object);
    std::vector<MidiPortInfo> infoOf(const std::vector<MidiRef>& refs) const;

    MidiRef nextRef_ = 1;
    bool available_ = true;
    std::shared_ptr<AvailabilityHandler> availabilityHandler_;
};

} // namespace strata
