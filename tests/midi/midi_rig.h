#pragma once

#include "support/core_stack.h"
#include "support/midi_bytes.h"

#include <algorithm>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace strata::testing {

// The MIDI engine alone from the core stack, with a DAW listening to both surfaces. Tests play the
// main thread.
struct MidiRig : CoreStack {
    MemoryMidiProbe::ListenerId dawXT = 0;

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
    // Twice a round: a timed check that falls due hands what it decided on as a job of its own
    // (a settle's end).
    void settle() {
        do {
            service->drain();
            service->drain();
        } while (loop.runPending() > 0);
    }

    bool settling() {
        const auto s = service->mackieShadow();
        return s.settling[0] || s.settling[1];
    }

    // Lets bank settles run out on virtual time, a millisecond at a time (the MIDI queue's timed
    // checks join it as time passes); returns how long that took.
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

    // A Mackie section state handed to the engine; nothing is let run.
    void queueMackie(const std::vector<Layer>& layers, const UuidSet& muted,
                     std::int64_t offset = 0) {
        service->sendSectionState(layers, muted, ControlMode::mackieControl, std::nullopt, offset);
    }

    void sendMackie(const std::vector<Layer>& layers, const UuidSet& muted, std::int64_t offset = 0,
                    std::optional<std::string> port = std::nullopt) {
        service->sendSectionState(layers, muted, ControlMode::mackieControl, std::move(port),
                                  offset);
        settleBanks();
    }

    // A section's state sent, and the banks let settle.
    void push(const std::vector<Layer>& layers, const UuidSet& muted,
              ControlMode mode = ControlMode::mackieControl, DawHost host = DawHost::logic,
              std::int64_t offset = 0) {
        service->sendSectionState(layers, muted, mode, std::nullopt, offset, host);
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

// A trigger on a note of `device`.
inline AdvanceTrigger note(std::string device, int number) {
    return {std::move(device), AdvanceTrigger::Kind::note, number};
}

} // namespace strata::testing
