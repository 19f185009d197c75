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

// A MIDI system that lives in memory. It is the backend when no MIDI system can be reached (the
// application then still runs, with only its own virtual endpoints), and the test double of the
// engine: tests play the other applications on it. They add external sources that send packet
// lists, external destinations that record what reaches them, DAW listeners that record what our
// virtual sources emit, send surface feedback into our virtual destinations, rename and remove
// endpoints and fire setup-change notifications.
//
// Like the platform systems, it lists virtual endpoints among the sources and destinations, and a
// source emitting through received() reaches every input port connected to it (our own virtual
// sources included).
//
// Thread-safe. Deliveries run the receiving handler on the calling thread, which plays the
// platform's thread; no lock is held while a handler runs, so handlers may call back in.
class MemoryMidiSystem final : public MidiBackend {
public:
    using Bytes = std::vector<std::uint8_t>;
    using ListenerId = std::uint32_t;

    // One entry of what a DAW listener heard: a packet, or the mark of a barrier between
    // deliveries.
    struct Heard {
        bool barrier = false;
        Bytes bytes;
        friend bool operator==(const Heard&, const Heard&) = default;
    };

    MemoryMidiSystem();
    ~MemoryMidiSystem() override;
    MemoryMidiSystem(const MemoryMidiSystem&) = delete;
    MemoryMidiSystem& operator=(const MemoryMidiSystem&) = delete;

    // ---- MidiBackend ----------------------------------------------------------------------------
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
    void barrier(MidiRef virtualSource) override;
    std::vector<MidiPortInfo> sources() override;
    std::vector<MidiPortInfo> destinations() override;
    std::optional<std::string> displayName(MidiRef object) override;
    std::optional<std::string> name(MidiRef object) override;
    std::vector<std::string> aliases(MidiRef object) override;
    void disposeClient(MidiRef client) override;
    void setSubscriberHandler(SubscriberHandler handler) override;
    void setAvailabilityHandler(AvailabilityHandler handler) override;

    // ---- The other applications -----------------------------------------------------------------

    // An external source or destination, appended to the system order, with `name` as its name
    // and display name (rename() gives it other names or none).
    MidiRef addSource(std::string_view name);
    MidiRef addDestination(std::string_view name);
    // Takes any endpoint out of the system (its connections go with it).
    void removeEndpoint(MidiRef endpoint);
    // Changes both names of any object.
    void rename(MidiRef object, std::optional<std::string> name,
                std::optional<std::string> displayName);
    // Gives any object the aliases a JACK port may carry.
    void setAliases(MidiRef object, std::vector<std::string> aliases);
    // Calls every client's setup handler on the calling thread.
    void notifySetupChanged();
    // Makes the system reachable or not, telling the availability handler.
    void setAvailable(bool available);

    // `source` sends one packet list: every input port connected to it receives it, with the
    // connection's value.
    void sendFromSource(MidiRef source, const std::vector<Bytes>& packets);
    // Delivers a packet list to an input port with any connection value (0: none), as a platform
    // would for input it cannot attribute.
    void deliverToInputPort(MidiRef inputPort, const std::vector<Bytes>& packets,
                            std::uint64_t refCon);
    // Another application sends one packet list to a destination: a virtual destination's handler
    // receives it; an external destination records it.
    void sendToDestination(MidiRef destination, const std::vector<Bytes>& packets);

    // Each packet an external destination has received, in order.
    std::vector<Bytes> receivedBy(MidiRef destination) const;

    // A DAW connects to one of the virtual sources (the subscriber handler is told) and from then
    // on records what it emits and where barriers fall.
    ListenerId listen(MidiRef virtualSource);
    void stopListening(ListenerId listener);
    std::vector<Heard> heard(ListenerId listener) const;
    // The packets only, barrier marks left out.
    std::vector<Bytes> heardPackets(ListenerId listener) const;
    void clearHeard();

    // Lookup helpers for tests: the first endpoint (in system order) whose display name, else
    // name, equals `name`; 0 when there is none.
    MidiRef sourceNamed(std::string_view name) const;
    MidiRef destinationNamed(std::string_view name) const;
    // The first object of any kind whose name is `name`, 0 when none (ports, clients).
    MidiRef objectNamed(std::string_view name) const;
    // Which client created an object (0 for external endpoints and unknown references).
    MidiRef ownerOf(MidiRef object) const;
    // How many input connections exist from `source`.
    std::size_t connectionCount(MidiRef source) const;

    // Called with every packet handed over through received() or send() (after it was recorded),
    // on the calling thread. For latency measurements.
    using DeliveryHook = std::function<void(MidiRef endpoint, const std::uint8_t*, std::size_t)>;
    void setDeliveryHook(DeliveryHook hook);

private:
    struct Object;
    struct Connection {
        MidiRef inputPort;
        MidiRef source;
        std::uint64_t refCon;
    };
    struct Listener {
        MidiRef source;
        std::vector<Heard> heard;
    };

    MidiRef addObject(Object object);
    // Adds an object of `client`; 0 when there is no such client.
    MidiRef createOwned(MidiRef client, Object object);
    std::string endpointLabel(const Object& object) const;
    std::vector<MidiPortInfo> infoOf(const std::vector<MidiRef>& refs) const;
    MidiRef firstNamed(const std::vector<MidiRef>& order, std::string_view name) const;
    void removeLocked(MidiRef ref);
    void deliverToPorts(
        const std::vector<std::pair<std::shared_ptr<ReadHandler>, std::uint64_t>>& targets,
        const std::vector<Bytes>& packets);

    mutable std::mutex mutex_;
    MidiRef nextRef_ = 1;
    std::map<MidiRef, std::unique_ptr<Object>> objects_;
    std::vector<MidiRef> sources_;
    std::vector<MidiRef> destinations_;
    std::vector<Connection> connections_;
    std::map<ListenerId, Listener> listeners_;
    ListenerId nextListener_ = 1;
    bool available_ = true;
    std::shared_ptr<SubscriberHandler> subscriberHandler_;
    std::shared_ptr<AvailabilityHandler> availabilityHandler_;
    std::shared_ptr<DeliveryHook> deliveryHook_;
};

} // namespace strata
