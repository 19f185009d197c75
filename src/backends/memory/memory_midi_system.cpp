#include "backends/memory/memory_midi_system.h"

#include <algorithm>

namespace strata {

MemoryMidiSystem::Object MemoryMidiSystem::Object::named(Type type, std::string_view name) {
    Object o;
    o.type = type;
    o.name = o.displayName = std::string(name);
    return o;
}

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

const MemoryMidiSystem::Object* MemoryMidiSystem::findLocked(MidiRef ref) const {
    auto it = objects_.find(ref);
    return it == objects_.end() ? nullptr : it->second.get();
}

MemoryMidiSystem::Object* MemoryMidiSystem::findLocked(MidiRef ref) {
    auto it = objects_.find(ref);
    return it == objects_.end() ? nullptr : it->second.get();
}

bool MemoryMidiSystem::isOwnSourceLocked(MidiRef ref) const {
    const Object* o = findLocked(ref);
    return o && o->type == Object::Type::source && o->owner != 0;
}

bool MemoryMidiSystem::canSendLocked(MidiRef outputPort, MidiRef destination) const {
    const Object* port = findLocked(outputPort);
    const Object* dst = findLocked(destination);
    return port && port->type == Object::Type::outputPort && dst &&
           dst->type == Object::Type::destination;
}

MemoryMidiSystem::Targets MemoryMidiSystem::targetsOfLocked(MidiRef source) const {
    Targets targets;
    for (const auto& c : connections_)
        if (c.source == source)
            if (const Object* port = findLocked(c.inputPort); port && port->onRead)
                targets.emplace_back(port->onRead, c.refCon);
    return targets;
}

void MemoryMidiSystem::deliverToPorts(const Targets& targets, const MidiPacketList& packets) {
    for (const auto& [handler, refCon] : targets)
        (*handler)(packets, refCon);
}

MidiRef MemoryMidiSystem::createOwned(MidiRef client, Object object) {
    std::lock_guard lock(mutex_);
    const Object* owner = findLocked(client);
    if (!owner || owner->type != Object::Type::client)
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
    const Object* port = findLocked(inputPort);
    const Object* src = findLocked(source);
    if (!port || port->type != Object::Type::inputPort || !src || src->type != Object::Type::source)
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
    Targets targets;
    {
        std::lock_guard lock(mutex_);
        if (!isOwnSourceLocked(virtualSource))
            return;
        targets = targetsOfLocked(virtualSource);
    }
    const MidiPacket packet{data, length};
    deliverToPorts(targets, MidiPacketList{&packet, 1});
}

void MemoryMidiSystem::send(MidiRef outputPort, MidiRef destination, const std::uint8_t* data,
                            std::size_t length) {
    std::shared_ptr<DestinationHandler> handler;
    {
        std::lock_guard lock(mutex_);
        if (!canSendLocked(outputPort, destination))
            return;
        // Only our own destinations have someone listening.
        handler = findLocked(destination)->onDestination;
    }
    if (handler) {
        const MidiPacket packet{data, length};
        (*handler)(MidiPacketList{&packet, 1});
    }
}

std::vector<MidiPortInfo> MemoryMidiSystem::infoOf(const std::vector<MidiRef>& refs) const {
    std::vector<MidiPortInfo> out;
    out.reserve(refs.size());
    for (MidiRef ref : refs)
        if (const Object* o = findLocked(ref))
            out.push_back(MidiPortInfo{ref, o->name, o->displayName, o->aliases});
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
    const Object* o = findLocked(object);
    return o ? o->displayName : std::nullopt;
}

std::optional<std::string> MemoryMidiSystem::name(MidiRef object) {
    std::lock_guard lock(mutex_);
    const Object* o = findLocked(object);
    return o ? o->name : std::nullopt;
}

std::vector<std::string> MemoryMidiSystem::aliases(MidiRef object) {
    std::lock_guard lock(mutex_);
    const Object* o = findLocked(object);
    return o ? o->aliases : std::vector<std::string>();
}

void MemoryMidiSystem::removeLocked(MidiRef ref) {
    std::erase(sources_, ref);
    std::erase(destinations_, ref);
    std::erase_if(connections_,
                  [ref](const Connection& c) { return c.source == ref || c.inputPort == ref; });
    objects_.erase(ref);
}

void MemoryMidiSystem::disposeClient(MidiRef client) {
    std::lock_guard lock(mutex_);
    const Object* o = findLocked(client);
    if (!o || o->type != Object::Type::client)
        return;
    std::vector<MidiRef> owned;
    for (const auto& [ref, object] : objects_)
        if (object->owner == client)
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

} // namespace strata
