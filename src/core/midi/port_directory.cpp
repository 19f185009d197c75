#include "midi/port_directory.h"

#include "model/setlist.h"

namespace strata {

std::vector<MidiPortInfo> PortDirectory::listed(bool destinations) const {
    std::vector<MidiPortInfo> ports = destinations ? backend_.destinations() : backend_.sources();
    std::erase_if(ports, [](const MidiPortInfo& port) { return port.ref == 0; });
    return ports;
}

std::string PortDirectory::endpointName(MidiRef ref) const {
    if (auto name = backend_.displayName(ref))
        return *name;
    if (auto name = backend_.name(ref))
        return *name;
    return "Unknown";
}

std::string PortDirectory::endpointName(const MidiPortInfo& port) {
    if (port.displayName)
        return *port.displayName;
    return port.name.value_or("Unknown");
}

DeviceIdentity PortDirectory::identityOf(MidiRef source) const {
    return deviceIdentity(endpointName(source), backend_.aliases(source));
}

DeviceIdentity PortDirectory::identityOf(const MidiPortInfo& port) {
    return deviceIdentity(endpointName(port), port.aliases);
}

std::optional<MidiRef> PortDirectory::scanDestination(std::string_view name) const {
    for (const MidiPortInfo& port : destinations())
        if (endpointName(port) == name)
            return port.ref;
    return std::nullopt;
}

void PortDirectory::rebuild() {
    byName_.clear();
    // The first destination of a name wins, as in a scan.
    for (const MidiPortInfo& port : destinations())
        byName_.try_emplace(endpointName(port), port.ref);
}

std::optional<MidiRef> PortDirectory::cached(std::string_view name) const {
    const auto it = byName_.find(name);
    if (it == byName_.end())
        return std::nullopt;
    return it->second;
}

std::optional<MidiRef> PortDirectory::destinationRef(std::string_view name) {
    // Cleared before the rebuild: a change reported while it runs makes the next use rebuild
    // again.
    if (stale_.exchange(false, std::memory_order_acq_rel)) {
        rebuild();
        return cached(name);
    }
    if (auto hit = cached(name))
        return hit;
    // A port that came without a notification yet (or never was there): one scan.
    rebuild();
    return cached(name);
}

MidiRef PortDirectory::surfaceSource(std::string_view portName) const {
    if (portName == kMainSurfacePort)
        return surfaceSrc_;
    if (portName == kExtenderPort)
        return extenderSrc_;
    return 0;
}

bool PortDirectory::deliver(const std::uint8_t* bytes, std::size_t length,
                            std::string_view portName) {
    if (portName.empty())
        return false;
    if (portName == kMainSurfacePort || portName == kExtenderPort) {
        // A device that happens to carry one of our surface names must not receive Mackie
        // traffic meant for the DAW.
        if (const MidiRef source = surfaceSource(portName))
            backend_.received(source, bytes, length);
    } else if (auto dst = destinationRef(portName)) {
        backend_.send(outPort_, *dst, bytes, length);
    }
    return true;
}

} // namespace strata
