#include "backends/memory/memory_midi_system.h"

#include <algorithm>

namespace strata {

struct MemoryMidiSystem::Object {
    enum class Type { client, outputPort, inputPort, source, destination };
    Type type = Type::client;
    MidiRef owner = 0; // the creating client; 0 for endpoints of other applications
    std::optional<std::string> name;
    std::optional<std::string> displayName;
    std::vector<std::string> aliases;
    std::shared_ptr<SetupHandler> onSetup;
    std::shared_ptr<ReadHandler> onRead;
    std::shared_ptr<DestinationHandler> onDestination;
    std::vector<Bytes> received; // external destinations only

    static Object named(Type type, std::string_view name) {
        Object o;
        o.type = type;
        o.name = o.displayName = std::string(name);
        return o;
    }
};

namespace {

std::vector<MidiPacket> packetsOf(const std::vector<MemoryMidiSystem::Bytes>& packets) {
    std::vector<MidiPacket> out;
    out.reserve(packets.size());
    for (const auto& p : packets)
        out.push_back(MidiPacket{p.data(), p.size()});
    return out;
}

} // namespace

MemoryMidiSystem::MemoryMidiSystem() = default;
MemoryMidiSystem::~MemoryMidiSystem() = default;

bool MemoryMidiSystem::available() const {
    std::lock_guard lock(mutex_);
    return available_;
}

MidiRef MemoryMidiSystem::addObject(Object object) {
    const MidiRef ref = nextRef_++;
    const auto type = object.type;
    objects_.emplace(ref, std::make_unique<Object>(std::move(object)));
    if (type == Object::Type::source)
        sources_.push_back(ref);
    else if (type == Object::Type::destination)
        destinations_.push_back(ref);
    return ref;
}

MidiRef MemoryMidiSystem::createOwned(MidiRef client, Object object) {
    std::lock_guard lock(mutex_);
    auto it = objects_.find(client);
    if (it == objects_.end() || it->second->type != Object::Type::client)
        return 0;
    object.owner = client;
    return addObject(std::move(object));
}

MidiRef MemoryMidiSystem::createClient(std::string_view name, SetupHandler onSetupChanged) {
    Object o = Object::named(Object::Type::client, name);
    if (onSetupChanged)
        o.onSetup = std::make_shared<SetupHandler>(std::move(onSetupChanged));
    std::lock_guard lock(mutex_);
    return addObject(std::move(o));
}

MidiRef MemoryMidiSystem::createOutputPort(MidiRef client, std::string_view name) {
    return createOwned(client, Object::named(Object::Type::outputPort, name));
}

MidiRef MemoryMidiSystem::createInputPort(MidiRef client, std::string_view name,
                                          ReadHandler onRead) {
    Object o = Object::named(Object::Type::inputPort, name);
    if (onRead)
        o.onRead = std::make_shared<ReadHandler>(std::move(onRead));
    return createOwned(client, std::move(o));
}

MidiRef MemoryMidiSystem::createVirtualSource(MidiRef client, std::string_view name) {
    return createOwned(client, Object::named(Object::Type::source, name));
}

MidiRef MemoryMidiSystem::createVirtualDestination(MidiRef client, std::string_view name,
                                                   DestinationHandler onRead) {
    Object o = Object::named(Object::Type::destination, name);
    if (onRead)
        o.onDestination = std::make_shared<DestinationHandler>(std::move(onRead));
    return createOwned(client, std::move(o));
}

bool MemoryMidiSystem::connectSource(MidiRef inputPort, MidiRef source, std::uint64_t refCon) {
    std::lock_guard lock(mutex_);
    auto port = objects_.find(inputPort);
    auto src = objects_.find(source);
    if (port == objects_.end() || port->second->type != Object::Type::inputPort ||
        src == objects_.end() || src->second->type != Object::Type::source)
        return false;
    for (auto& c : connections_)
        if (c.inputPort == inputPort && c.source == source) {
            c.refCon = refCon; // connecting again changes the value, never doubles the input
            return true;
        }
    connections_.push_back(Connection{inputPort, source, refCon});
    return true;
}

void MemoryMidiSystem::received(MidiRef virtualSource, const std::uint8_t* data,
                                std::size_t length) {
    std::vector<std::pair<std::shared_ptr<ReadHandler>, std::uint64_t>> targets;
    std::shared_ptr<DeliveryHook> hook;
    {
        std::lock_guard lock(mutex_);
        auto it = objects_.find(virtualSource);
        if (it == objects_.end() || it->second->type != Object::Type::source ||
            it->second->owner == 0)
            return;
        for (auto& [id, l] : listeners_)
            if (l.source == virtualSource)
                l.heard.push_back(Heard{false, Bytes(data, data + length)});
        hook = deliveryHook_;
        for (const auto& c : connections_)
            if (c.source == virtualSource)
                if (auto port = objects_.find(c.inputPort);
                    port != objects_.end() && port->second->onRead)
                    targets.emplace_back(port->second->onRead, c.refCon);
    }
    if (hook)
        (*hook)(virtualSource, data, length);
    if (!targets.empty())
        deliverToPorts(targets, {Bytes(data, data + length)});
}

void MemoryMidiSystem::send(MidiRef outputPort, MidiRef destination, const std::uint8_t* data,
                            std::size_t length) {
    std::shared_ptr<DestinationHandler> handler;
    std::shared_ptr<DeliveryHook> hook;
    {
        std::lock_guard lock(mutex_);
        auto port = objects_.find(outputPort);
        auto dst = objects_.find(destination);
        if (port == objects_.end() || port->second->type != Object::Type::outputPort ||
            dst == objects_.end() || dst->second->type != Object::Type::destination)
            return;
        hook = deliveryHook_;
        if (dst->second->owner == 0) {
            dst->second->received.emplace_back(data, data + length);
        } else {
            handler = dst->second->onDestination;
        }
    }
    if (hook)
        (*hook)(destination, data, length);
    if (handler) {
        const MidiPacket packet{data, length};
        (*handler)(MidiPacketList{&packet, 1});
    }
}

void MemoryMidiSystem::barrier(MidiRef virtualSource) {
    std::lock_guard lock(mutex_);
    for (auto& [id, l] : listeners_)
        if (l.source == virtualSource)
            l.heard.push_back(Heard{true, {}});
}

std::vector<MidiPortInfo> MemoryMidiSystem::infoOf(const std::vector<MidiRef>& refs) const {
    std::vector<MidiPortInfo> out;
    out.reserve(refs.size());
    for (MidiRef ref : refs) {
        const Object& o = *objects_.at(ref);
        out.push_back(MidiPortInfo{ref, o.name, o.displayName, o.aliases});
    }
    return out;
}

std::vector<MidiPortInfo> MemoryMidiSystem::sources() {
    std::lock_guard lock(mutex_);
    return infoOf(sources_);
}

std::vector<MidiPortInfo> MemoryMidiSystem::destinations() {
    std::lock_guard lock(mutex_);
    return infoOf(destinations_);
}

std::optional<std::string> MemoryMidiSystem::displayName(MidiRef object) {
    std::lock_guard lock(mutex_);
    auto it = objects_.find(object);
    return it == objects_.end() ? std::nullopt : it->second->displayName;
}

std::optional<std::string> MemoryMidiSystem::name(MidiRef object) {
    std::lock_guard lock(mutex_);
    auto it = objects_.find(object);
    return it == objects_.end() ? std::nullopt : it->second->name;
}

std::vector<std::string> MemoryMidiSystem::aliases(MidiRef object) {
    std::lock_guard lock(mutex_);
    auto it = objects_.find(object);
    return it == objects_.end() ? std::vector<std::string>() : it->second->aliases;
}

void MemoryMidiSystem::setAliases(MidiRef object, std::vector<std::string> aliases) {
    std::lock_guard lock(mutex_);
    if (auto it = objects_.find(object); it != objects_.end())
        it->second->aliases = std::move(aliases);
}

void MemoryMidiSystem::removeLocked(MidiRef ref) {
    std::erase(sources_, ref);
    std::erase(destinations_, ref);
    std::erase_if(connections_,
                  [ref](const Connection& c) { return c.source == ref || c.inputPort == ref; });
    std::erase_if(listeners_, [ref](const auto& entry) { return entry.second.source == ref; });
    objects_.erase(ref);
}

void MemoryMidiSystem::disposeClient(MidiRef client) {
    std::lock_guard lock(mutex_);
    auto it = objects_.find(client);
    if (it == objects_.end() || it->second->type != Object::Type::client)
        return;
    std::vector<MidiRef> owned;
    for (const auto& [ref, o] : objects_)
        if (o->owner == client)
            owned.push_back(ref);
    for (MidiRef ref : owned)
        removeLocked(ref);
    removeLocked(client);
}

void MemoryMidiSystem::setSubscriberHandler(SubscriberHandler handler) {
    std::lock_guard lock(mutex_);
    subscriberHandler_ =
        handler ? std::make_shared<SubscriberHandler>(std::move(handler)) : nullptr;
}

void MemoryMidiSystem::setAvailabilityHandler(AvailabilityHandler handler) {
    std::lock_guard lock(mutex_);
    availabilityHandler_ =
        handler ? std::make_shared<AvailabilityHandler>(std::move(handler)) : nullptr;
}

// ---- The other applications
// ----------------------------------------------------------------------

MidiRef MemoryMidiSystem::addSource(std::string_view name) {
    std::lock_guard lock(mutex_);
    return addObject(Object::named(Object::Type::source, name));
}

MidiRef MemoryMidiSystem::addDestination(std::string_view name) {
    std::lock_guard lock(mutex_);
    return addObject(Object::named(Object::Type::destination, name));
}

void MemoryMidiSystem::removeEndpoint(MidiRef endpoint) {
    std::lock_guard lock(mutex_);
    auto it = objects_.find(endpoint);
    if (it == objects_.end())
        return;
    if (it->second->type != Object::Type::source && it->second->type != Object::Type::destination)
        return;
    removeLocked(endpoint);
}

void MemoryMidiSystem::rename(MidiRef object, std::optional<std::string> name,
                              std::optional<std::string> displayName) {
    std::lock_guard lock(mutex_);
    auto it = objects_.find(object);
    if (it == objects_.end())
        return;
    it->second->name = std::move(name);
    it->second->displayName = std::move(displayName);
}

void MemoryMidiSystem::notifySetupChanged() {
    std::vector<std::shared_ptr<SetupHandler>> handlers;
    {
        std::lock_guard lock(mutex_);
        for (const auto& [ref, o] : objects_)
            if (o->type == Object::Type::client && o->onSetup)
                handlers.push_back(o->onSetup);
    }
    for (const auto& h : handlers)
        (*h)();
}

void MemoryMidiSystem::setAvailable(bool available) {
    std::shared_ptr<AvailabilityHandler> handler;
    {
        std::lock_guard lock(mutex_);
        available_ = available;
        handler = availabilityHandler_;
    }
    if (handler)
        (*handler)(available);
}

void MemoryMidiSystem::deliverToPorts(
    const std::vector<std::pair<std::shared_ptr<ReadHandler>, std::uint64_t>>& targets,
    const std::vector<Bytes>& packets) {
    const auto list = packetsOf(packets);
    const MidiPacketList packetList{list.data(), list.size()};
    for (const auto& [handler, refCon] : targets)
        (*handler)(packetList, refCon);
}

void MemoryMidiSystem::sendFromSource(MidiRef source, const std::vector<Bytes>& packets) {
    std::vector<std::pair<std::shared_ptr<ReadHandler>, std::uint64_t>> targets;
    {
        std::lock_guard lock(mutex_);
        for (const auto& c : connections_)
            if (c.source == source)
                if (auto port = objects_.find(c.inputPort);
                    port != objects_.end() && port->second->onRead)
                    targets.emplace_back(port->second->onRead, c.refCon);
    }
    deliverToPorts(targets, packets);
}

void MemoryMidiSystem::deliverToInputPort(MidiRef inputPort, const std::vector<Bytes>& packets,
                                          std::uint64_t refCon) {
    std::vector<std::pair<std::shared_ptr<ReadHandler>, std::uint64_t>> targets;
    {
        std::lock_guard lock(mutex_);
        auto port = objects_.find(inputPort);
        if (port == objects_.end() || !port->second->onRead)
            return;
        targets.emplace_back(port->second->onRead, refCon);
    }
    deliverToPorts(targets, packets);
}

void MemoryMidiSystem::sendToDestination(MidiRef destination, const std::vector<Bytes>& packets) {
    std::shared_ptr<DestinationHandler> handler;
    {
        std::lock_guard lock(mutex_);
        auto dst = objects_.find(destination);
        if (dst == objects_.end() || dst->second->type != Object::Type::destination)
            return;
        if (dst->second->owner == 0) {
            for (const auto& p : packets)
                dst->second->received.push_back(p);
            return;
        }
        handler = dst->second->onDestination;
    }
    if (!handler)
        return;
    const auto list = packetsOf(packets);
    (*handler)(MidiPacketList{list.data(), list.size()});
}

std::vector<MemoryMidiSystem::Bytes> MemoryMidiSystem::receivedBy(MidiRef destination) const {
    std::lock_guard lock(mutex_);
    auto it = objects_.find(destination);
    return it == objects_.end() ? std::vector<Bytes>{} : it->second->received;
}

MemoryMidiSystem::ListenerId MemoryMidiSystem::listen(MidiRef virtualSource) {
    ListenerId id = 0;
    std::shared_ptr<SubscriberHandler> handler;
    {
        std::lock_guard lock(mutex_);
        auto it = objects_.find(virtualSource);
        if (it == objects_.end() || it->second->type != Object::Type::source ||
            it->second->owner == 0)
            return 0;
        id = nextListener_++;
        listeners_.emplace(id, Listener{virtualSource, {}});
        handler = subscriberHandler_;
    }
    if (handler)
        (*handler)(virtualSource);
    return id;
}

void MemoryMidiSystem::stopListening(ListenerId listener) {
    std::lock_guard lock(mutex_);
    listeners_.erase(listener);
}

std::vector<MemoryMidiSystem::Heard> MemoryMidiSystem::heard(ListenerId listener) const {
    std::lock_guard lock(mutex_);
    auto it = listeners_.find(listener);
    return it == listeners_.end() ? std::vector<Heard>{} : it->second.heard;
}

std::vector<MemoryMidiSystem::Bytes> MemoryMidiSystem::heardPackets(ListenerId listener) const {
    std::vector<Bytes> out;
    for (auto& h : heard(listener))
        if (!h.barrier)
            out.push_back(std::move(h.bytes));
    return out;
}

void MemoryMidiSystem::clearHeard() {
    std::lock_guard lock(mutex_);
    for (auto& [id, l] : listeners_)
        l.heard.clear();
    for (auto& [ref, o] : objects_)
        o->received.clear();
}

std::string MemoryMidiSystem::endpointLabel(const Object& object) const {
    if (object.displayName)
        return *object.displayName;
    if (object.name)
        return *object.name;
    return {};
}

MidiRef MemoryMidiSystem::firstNamed(const std::vector<MidiRef>& order,
                                     std::string_view name) const {
    for (MidiRef ref : order) {
        auto it = objects_.find(ref);
        if (it != objects_.end() && (it->second->displayName || it->second->name) &&
            endpointLabel(*it->second) == name)
            return ref;
    }
    return 0;
}

MidiRef MemoryMidiSystem::sourceNamed(std::string_view name) const {
    std::lock_guard lock(mutex_);
    return firstNamed(sources_, name);
}

MidiRef MemoryMidiSystem::destinationNamed(std::string_view name) const {
    std::lock_guard lock(mutex_);
    return firstNamed(destinations_, name);
}

MidiRef MemoryMidiSystem::objectNamed(std::string_view name) const {
    std::lock_guard lock(mutex_);
    for (const auto& [ref, o] : objects_)
        if (o->name && *o->name == name)
            return ref;
    return 0;
}

MidiRef MemoryMidiSystem::ownerOf(MidiRef object) const {
    std::lock_guard lock(mutex_);
    auto it = objects_.find(object);
    return it == objects_.end() ? 0 : it->second->owner;
}

std::size_t MemoryMidiSystem::connectionCount(MidiRef source) const {
    std::lock_guard lock(mutex_);
    return static_cast<std::size_t>(
        std::count_if(connections_.begin(), connections_.end(),
                      [source](const Connection& c) { return c.source == source; }));
}

void MemoryMidiSystem::setDeliveryHook(DeliveryHook hook) {
    std::lock_guard lock(mutex_);
    deliveryHook_ = hook ? std::make_shared<DeliveryHook>(std::move(hook)) : nullptr;
}

} // namespace strata
