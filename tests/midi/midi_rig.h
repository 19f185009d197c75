#pragma once

#include "backends/memory/memory_midi_system.h"
#include "midi/midi_service.h"
#include "platform/memory_settings.h"
#include "platform/virtual_main_loop.h"

#include <algorithm>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace strata::testing {

using Bytes = std::vector<std::uint8_t>;
using Packets = std::vector<Bytes>;

// A MidiService on the in-memory MIDI system, on virtual time, with a DAW listening to both
// surfaces. Tests play the main thread.
struct MidiRig {
    MemoryMidiSystem midi;
    VirtualMainLoop loop;
    MemorySettings settings;
    std::unique_ptr<MidiService> service;
    MemoryMidiSystem::ListenerId daw = 0;
    MemoryMidiSystem::ListenerId dawXT = 0;

    explicit MidiRig(bool startNow = true) {
        if (startNow)
            start();
    }

    void start() {
        service = std::make_unique<MidiService>(midi, loop, settings);
        daw = midi.listen(service->virtualSourceRef(false));
        dawXT = midi.listen(service->virtualSourceRef(true));
    }

    // Lets the MIDI queue finish, then runs what it handed to the main thread.
    // Until nothing is left: a main-loop task may queue MIDI work (a port listing that finds a
    // new destination), and a queue job may post back to the main loop.
    void settle() {
        do
            service->drain();
        while (loop.runPending() > 0);
    }

    bool settling() {
        const auto s = service->mackieShadow();
        return s.settling[0] || s.settling[1];
    }

    // Lets bank settles run out on virtual time, a millisecond at a time, as the main loop's
    // timers would; returns how long that took.
    Duration settleBanks() {
        settle();
        Duration waited{};
        for (int i = 0; i < 5000 && settling(); ++i) {
            loop.advance(std::chrono::milliseconds(1));
            waited += std::chrono::milliseconds(1);
            settle();
        }
        return waited;
    }

    void sendMackie(const std::vector<Layer>& layers, const UuidSet& muted, std::int64_t offset = 0,
                    std::optional<std::string> port = std::nullopt) {
        service->sendSectionState(layers, muted, ControlMode::mackieControl, std::move(port),
                                  offset);
        settleBanks();
    }

    Packets heard() { return midi.heardPackets(daw); }
    Packets heardXT() { return midi.heardPackets(dawXT); }

    // An external controller, connected the way a setup notification connects it.
    MidiRef plugSource(const std::string& name) {
        const MidiRef ref = midi.addSource(name);
        midi.notifySetupChanged();
        loop.runPending();
        return ref;
    }
};

// Mackie button presses as the DAW hears them: a press and a release per button.
inline void press(Packets& out, std::uint8_t note, int times = 1) {
    for (int i = 0; i < times; ++i) {
        out.push_back({0x90, note, 0x7F});
        out.push_back({0x90, note, 0x00});
    }
}

// Where the cycle breaks fall: one string per delivery, "L"/"R" for a bank press, "C" for a
// channel-right press, "M<n>" for a mute press of strip n, each press with its release; "|" for
// a break.
inline std::string cycles(const std::vector<MemoryMidiSystem::Heard>& heard) {
    std::string out;
    for (const auto& h : heard) {
        if (h.barrier) {
            out += '|';
        } else if (h.bytes.size() == 3 && h.bytes[2] == 0x7F) {
            out += h.bytes[1] == 0x2E   ? std::string("L")
                   : h.bytes[1] == 0x2F ? std::string("R")
                   : h.bytes[1] == 0x31 ? std::string("C")
                                        : "M" + std::to_string(h.bytes[1] - 0x10);
        }
    }
    return out;
}

inline std::string repeat(const std::string& s, int n) {
    std::string out;
    for (int i = 0; i < n; ++i)
        out += s;
    return out;
}

// Mute LED reports of the DAW for one unit's strips: lit for the given strips, dark otherwise.
inline Bytes ledReport(std::initializer_list<int> lit) {
    Bytes out;
    for (int strip = 0; strip < 8; ++strip) {
        const bool on = std::find(lit.begin(), lit.end(), strip) != lit.end();
        out.insert(out.end(), {0x90, static_cast<std::uint8_t>(0x10 + strip),
                               static_cast<std::uint8_t>(on ? 0x7F : 0x00)});
    }
    return out;
}

// A bank move to the first track, then `right` banks to the right.
inline Packets bankMove(int right) {
    Packets out;
    press(out, 0x2E, 32);
    press(out, 0x2F, right);
    return out;
}

// A trigger on a note of `device`.
inline AdvanceTrigger note(std::string device, int number) {
    return {std::move(device), AdvanceTrigger::Kind::note, number};
}

inline std::vector<Layer> makeLayers(std::size_t n) {
    std::vector<Layer> layers(n);
    for (std::size_t i = 0; i < n; ++i)
        layers[i].name = "L" + std::to_string(i + 1);
    return layers;
}

inline UuidSet idsAt(const std::vector<Layer>& layers, std::initializer_list<std::size_t> at) {
    UuidSet ids;
    for (std::size_t i : at)
        ids.insert(layers[i].id);
    return ids;
}

// An LCD write of the surface: text at `offset`.
inline Bytes lcdMessage(std::uint8_t offset, const std::string& text) {
    Bytes m{0xF0, 0x00, 0x00, 0x66, 0x14, 0x12, offset};
    m.insert(m.end(), text.begin(), text.end());
    m.push_back(0xF7);
    return m;
}

} // namespace strata::testing
