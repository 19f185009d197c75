#pragma once

#include "engine/engine_fixture.h"
#include "model/setlist_codec.h"
#include "support/core_stack.h"
#include "support/midi_bytes.h"

#include <algorithm>
#include <gtest/gtest.h>
#include <memory>
#include <ostream>
#include <string>
#include <vector>

namespace strata::testing {

// Stores `trigger` as the learned NEXT trigger, as the program finds it at start-up.
inline void storeNextTrigger(MemorySettings& settings, const AdvanceTrigger& trigger) {
    const auto json = encodeAdvanceTrigger(trigger);
    settings.setBytes(MidiService::kAdvanceTriggerKey, Bytes(json->begin(), json->end()));
}

// Rounds of packets one after another.
inline Packets concat(std::initializer_list<Packets> rounds) {
    Packets out;
    for (const Packets& round : rounds)
        out.insert(out.end(), round.begin(), round.end());
    return out;
}

// Where the performer stands: song, section, step.
struct Position {
    std::int64_t song = 0, section = 0, step = 0;
    friend bool operator==(const Position&, const Position&) = default;
    friend std::ostream& operator<<(std::ostream& os, const Position& p) {
        return os << "(" << p.song << ", " << p.section << ", " << p.step << ")";
    }
};

// The whole live setup on virtual time: AppState, MidiService on the in-memory MIDI system,
// CadenzoLink without a socket (datagrams handed in), and the coordinator. The DAW listens to
// "Strata"; a CC synth "Synth" and a footswitch "Pedal" are plugged in. Layers A-D send their CC
// mutes to "Synth" on channels 1-4. The tests play the main thread.
// Holds the log capture, so that it outlives the objects whose teardown may write to the log.
struct CapturedLog {
    LogCapture log;
};

class LiveTest : public ::testing::Test, public CapturedLog, public CoreStack {
protected:
    LiveTest() {
        synth = midi.addDestination("Synth");
        pedal = midi.addSource("Pedal");
        makeState();
        app->setMode(StrataMode::pro);
    }

    // The engine tests' set (layers A-D), in `mode`, each layer sending to "Synth" on channels
    // 1-4.
    static Setlist makeSet(const std::vector<Names>& songs, ControlMode mode) {
        Setlist set = strata::testing::makeSet(songs);
        set.controlMode = mode;
        int channel = 1;
        for (Layer& layer : set.layers) {
            layer.portName = "Synth";
            layer.channel = channel++;
        }
        return set;
    }

    // Mutes layers (by index) in one step of a set being prepared.
    static void muteAt(Setlist& set, std::size_t song, std::size_t section, std::size_t step,
                       std::initializer_list<std::size_t> layers) {
        for (std::size_t i : layers)
            set.songs.at(song).sections.at(section).steps.at(step).mutedLayerIDs.insert(
                set.layers.at(i).id);
    }
    // Loads the set, then builds the engine, the link and the coordinator on top of it.
    void start(Setlist set) {
        app->setSetlist(std::move(set));
        loop.runPending();
        makeLive();
        dawSeen = 0;
    }
    // start(), and the window appears.
    void show(Setlist set) {
        start(std::move(set));
        live->appear();
        settle();
    }

    // Runs what the main thread has been handed, lets the MIDI queue send, and repeats.
    void settle() {
        for (int i = 0; i < 4; ++i) {
            loop.runPending();
            service->drain();
        }
        loop.runPending();
    }
    // settle(), and lets any wait of the MIDI engine for the DAW's answer to a bank move run out
    // on virtual time, a millisecond at a time as the main loop's timers would. Only for tests
    // that let time pass anyway (Mackie output).
    void settleBanks() {
        for (int i = 0; i < 500; ++i) {
            settle();
            loop.advance(std::chrono::milliseconds(1));
        }
        settle();
    }
    // What the DAW and the synth heard since the last call.
    Packets heard() { return since(midi.heardPackets(daw), dawSeen); }
    Packets synthHeard() { return since(midi.receivedBy(synth), synthSeen); }
    static Packets since(Packets all, std::size_t& seen) {
        Packets out(all.begin() + static_cast<std::ptrdiff_t>(std::min(seen, all.size())),
                    all.end());
        seen = all.size();
        return out;
    }
    void cue(const std::string& json) { link->handleDatagram(cueBytes(json)); }
    void footswitch(Bytes message) { midi.sendFromSource(pedal, {std::move(message)}); }

    const Layer& layer(std::size_t i) const { return app->setlist().layers.at(i); }
    const Section& section(std::size_t k, std::size_t song = 0) const {
        return app->setlist().songs.at(song).sections.at(k);
    }
    Position position() const {
        return {app->currentSongIndex(), app->currentSectionIndex(), app->currentStepIndex()};
    }

    MidiRef synth = 0;
    MidiRef pedal = 0;
    std::size_t synthSeen = 0;
    std::size_t dawSeen = 0;
};

} // namespace strata::testing
