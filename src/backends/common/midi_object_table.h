#pragma once

#include "platform/midi_backend.h"

#include <algorithm>
#include <array>
#include <cstddef>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace strata {

enum class MidiObjectKind {
    client,
    outputPort,
    inputPort,
    virtualSource,
    virtualDestination,
    systemSource,
    systemDestination,
};

// The objects a platform backend has handed out refs for: ours (client, ports, virtual
// endpoints) and the system's ports it has listed. Refs count up from 1 and are never reused.
//
// `Key` is what tells one system port from another across listings: JACK's full port name, the
// ALSA sequencer's client:port address. A system port keeps its ref for as long as its key is
// seen, also across a server restart, so that connection values and the trigger source stay
// valid.
//
// Not thread-safe: the backend guards it with its control lock.
template <typename Key>
class MidiObjectTable {
public:
    struct Object {
        MidiObjectKind kind;
        std::string name;      // logical name for ours, the system's name for system ports
        Key key{};             // system ports: what identifies them; ours: the backend's choice
        std::size_t index = 0; // virtual endpoint number for ours
    };

    MidiRef add(MidiObjectKind kind, std::string name, Key key = {}, std::size_t index = 0) {
        objects_.push_back(Object{kind, std::move(name), std::move(key), index});
        return static_cast<MidiRef>(objects_.size());
    }

    // Null for 0 and for refs never handed out.
    const Object* find(MidiRef ref) const {
        if (ref == 0 || ref > objects_.size())
            return nullptr;
        return &objects_[ref - 1];
    }
    // Null unless `ref` is an object of `kind`.
    const Object* find(MidiRef ref, MidiObjectKind kind) const {
        const Object* obj = find(ref);
        return obj && obj->kind == kind ? obj : nullptr;
    }

    // One listing of the system's ports of one kind, each with its key and current name: the
    // refs, in order of first sighting (a port that appears later goes to the end, the others
    // keep their places). A port seen under a new name keeps its ref and takes the name.
    std::vector<MidiRef> listing(MidiObjectKind kind,
                                 const std::vector<std::pair<Key, std::string>>& seen) {
        std::vector<MidiRef> refs;
        refs.reserve(seen.size());
        for (const auto& [key, name] : seen)
            refs.push_back(sighted(kind, key, name));
        std::sort(refs.begin(), refs.end());
        refs.erase(std::unique(refs.begin(), refs.end()), refs.end());
        return refs;
    }

    // The snapshot callers get: every listed object with its name as both names, and the aliases
    // `aliasesOf(object)` gives.
    template <typename AliasesOf>
    std::vector<MidiPortInfo> snapshot(const std::vector<MidiRef>& refs,
                                       AliasesOf&& aliasesOf) const {
        std::vector<MidiPortInfo> out;
        out.reserve(refs.size());
        for (MidiRef ref : refs)
            if (const Object* obj = find(ref))
                out.push_back(MidiPortInfo{ref, obj->name, obj->name, aliasesOf(*obj)});
        return out;
    }
    std::vector<MidiPortInfo> snapshot(const std::vector<MidiRef>& refs) const {
        return snapshot(refs, [](const Object&) { return std::vector<std::string>{}; });
    }

private:
    MidiRef sighted(MidiObjectKind kind, const Key& key, const std::string& name) {
        for (std::size_t i = 0; i < objects_.size(); ++i) {
            if (objects_[i].kind == kind && objects_[i].key == key) {
                objects_[i].name = name;
                return static_cast<MidiRef>(i + 1);
            }
        }
        return add(kind, name, key);
    }

    std::vector<Object> objects_;
};

// The destinations as a platform lists them: our own virtual destinations first, as the system
// lists an application's own virtual endpoints among all others, then the system's.
template <std::size_t N>
std::vector<MidiRef> ownFirst(const std::array<MidiRef, N>& own,
                              const std::vector<MidiRef>& system) {
    std::vector<MidiRef> refs;
    refs.reserve(N + system.size());
    for (MidiRef ref : own)
        if (ref != 0)
            refs.push_back(ref);
    refs.insert(refs.end(), system.begin(), system.end());
    return refs;
}

} // namespace strata
