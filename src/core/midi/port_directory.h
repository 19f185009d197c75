#pragma once

#include "midi/device_identity.h"
#include "platform/midi_backend.h"

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace strata {

// The MIDI system's ports as Strata names them, and delivery to a port by name.
//
// A port is named by its display name, else its name, else "Unknown"; a name means the first
// destination in system order that carries it. Our own surface names ("Strata", "Strata XT")
// always mean our virtual sources and never fall through to a system destination of that name.
//
// Delivery to a named system destination runs for every control change, program change and CC
// mute, so the destination behind a name is looked up in a cache rather than by asking the
// system for every port each time. The cache is rebuilt after the system reports a change of its
// setup (ports come, go or are renamed) and whenever a name is not in it, so it can be out of date
// only between a change and its notification, which is as far as any listing can be trusted.
//
// Threads: delivery and the cached lookup on the MIDI queue; setupChanged on any thread; the
// listings and names on any thread (the system's enumeration is thread-safe).
class PortDirectory {
public:
    explicit PortDirectory(MidiBackend& backend) : backend_(backend) {}
    PortDirectory(const PortDirectory&) = delete;
    PortDirectory& operator=(const PortDirectory&) = delete;

    // Our own endpoints, once created: the output port and the surfaces' virtual sources.
    void setOwnEndpoints(MidiRef outputPort, MidiRef surfaceSource, MidiRef extenderSource) {
        outPort_ = outputPort;
        surfaceSrc_ = surfaceSource;
        extenderSrc_ = extenderSource;
    }

    // The system's sources and destinations as one listing each, in the system's order (no null
    // references), with the names they had when it was taken.
    std::vector<MidiPortInfo> sources() const { return listed(false); }
    std::vector<MidiPortInfo> destinations() const { return listed(true); }

    // Display name, else name, else "Unknown": asked of the system now, or as listed.
    std::string endpointName(MidiRef ref) const;
    static std::string endpointName(const MidiPortInfo& port);
    // How a source is recognised: asked of the system now, or as listed.
    DeviceIdentity identityOf(MidiRef source) const;
    static DeviceIdentity identityOf(const MidiPortInfo& port);

    // The first destination in system order whose endpointName is exactly `name`, asked of the
    // system now.
    std::optional<MidiRef> scanDestination(std::string_view name) const;
    // The same answer from the cache. MIDI queue only.
    std::optional<MidiRef> destinationRef(std::string_view name);
    // The system's setup changed: the cache is rebuilt before its next use. Any thread.
    void setupChanged() { stale_.store(true, std::memory_order_release); }

    // The virtual source behind one of our surface names, 0 for any other name.
    MidiRef surfaceSource(std::string_view portName) const;
    MidiRef surfaceSource(bool extender) const { return extender ? extenderSrc_ : surfaceSrc_; }

    // Sends one message to the port of that name: our surface names out of our virtual sources,
    // any other name to the system destination it means, and no name (a row left on "No port")
    // nowhere. Returns whether the name meant a port at all. MIDI queue only.
    bool deliver(const std::uint8_t* bytes, std::size_t length, std::string_view portName);

private:
    // The one place that asks the system for its ports.
    std::vector<MidiPortInfo> listed(bool destinations) const;
    void rebuild();
    std::optional<MidiRef> cached(std::string_view name) const;

    MidiBackend& backend_;
    MidiRef outPort_ = 0;
    MidiRef surfaceSrc_ = 0;
    MidiRef extenderSrc_ = 0;

    std::atomic<bool> stale_{true};
    std::map<std::string, MidiRef, std::less<>> byName_; // MIDI queue only
};

} // namespace strata
