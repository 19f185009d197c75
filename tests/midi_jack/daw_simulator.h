#pragma once

#include "jack/spsc_byte_ring.h"

#include <array>
#include <atomic>
#include <cstdint>
#include <string>
#include <vector>

typedef struct _jack_client jack_client_t;
typedef struct _jack_port jack_port_t;

namespace strata::testing {

// A JACK client that behaves like a DAW driving a Mackie Control surface and extender, as far as
// Strata's traffic goes, with the host behaviour measured on a real one:
// - a session of N tracks, some muted from the start; a mute button press toggles the mute of the
//   track on that strip;
// - each unit shows a bank of 8 tracks; bank left/right move it by 8, held at the first and the
//   last bank; the extender follows its own bank;
// - the surface is read once per cycle: presses of one button within a cycle count as one, and
//   mute presses act on the bank the cycle began with (a bank move in the same cycle comes too
//   late for them);
// - one cycle after a bank move, the unit's mute LEDs (all 8, lit or dark) and its LCD (the
//   bank's track names) are sent; one cycle after a mute toggle, that strip's LED;
// - a while after something connects to a unit's input (about 100 ms), the unit's whole state.
// Feedback goes out of each unit's output port; a test wires these to Strata's feedback inputs.
class DawSimulator {
public:
    static constexpr int kMaxTracks = 256;

    struct Options {
        int tracks = 24;
        std::vector<int> mutedAtStart; // track indices from 0
        int mainBank = 0;              // first track of each unit's bank at start
        int extenderBank = 8;
        // Cycles from a connection to the full-state report (19 cycles of 256 frames at
        // 48 kHz: about 100 ms).
        int fullStateCycles = 19;
    };

    // One event the DAW received from Strata.
    struct Received {
        int unit = 0; // 0 main surface, 1 extender
        std::vector<std::uint8_t> bytes;
        std::uint64_t cycle = 0; // the DAW's cycle number
    };

    DawSimulator(const std::string& serverName, const std::string& clientName, Options options);
    ~DawSimulator();
    DawSimulator(const DawSimulator&) = delete;
    DawSimulator& operator=(const DawSimulator&) = delete;

    bool ok() const { return client_ != nullptr; }
    // Full JACK names of a unit's input (what Strata's surface port feeds) and output (feedback).
    std::string inputName(int unit) const;
    std::string outputName(int unit) const;
    // Wires one unit both ways: `strataSource` -> its input, its output -> `strataFeedback`.
    bool connectUnit(int unit, const std::string& strataSource, const std::string& strataFeedback);
    bool disconnectUnit(int unit, const std::string& strataSource,
                        const std::string& strataFeedback);

    // The session as it is now.
    std::vector<bool> mutes() const;
    int bank(int unit) const;
    std::string trackName(int track) const;
    // The user clicks a mute in the DAW window (the LED follows a cycle later).
    void userToggle(int track);

    // Everything received so far, taken out of the simulator.
    std::vector<Received> takeReceived();
    // Cycles this client has been through.
    std::uint64_t cycles() const { return cycle_.load(std::memory_order_acquire); }
    // Presses the DAW took as one because they shared a cycle with a press of the same button,
    // and mute presses that shared a cycle with a bank move of the same unit.
    int mergedPresses() const { return merged_.load(); }
    int mutesBesideBankMoves() const { return mutesBesideBankMoves_.load(); }

private:
    struct Unit {
        std::atomic<jack_port_t*> in{nullptr};
        std::atomic<jack_port_t*> out{nullptr};
        std::atomic<int> bank{0};
        std::atomic<bool> connected{false}; // set by the connect callback
        // Process thread only.
        std::uint64_t fullStateAt = 0;  // 0: none due
        std::uint64_t bankReportAt = 0; // 0: none due
        std::uint32_t ledsDue = 0;      // strips whose LED goes out next cycle
        std::uint32_t ledsNow = 0;
    };

    static int processCallback(std::uint32_t frames, void* self);
    int process(std::uint32_t frames);
    static void onConnect(std::uint32_t a, std::uint32_t b, int connected, void* self);
    void readUnit(int u, void* buffer, std::uint64_t cycle);
    void writeUnit(int u, void* buffer, std::uint64_t cycle);
    bool toggle(int track);
    int maxBank() const;

    Options options_;
    jack_client_t* client_ = nullptr;
    std::array<Unit, 2> units_;
    std::array<std::atomic<bool>, kMaxTracks> muted_{};
    std::array<char[8], kMaxTracks> names_{};
    std::atomic<std::uint64_t> cycle_{0};
    std::atomic<int> merged_{0};
    std::atomic<int> mutesBesideBankMoves_{0};
    // User clicks, handed to the process thread.
    SpscByteRing clicks_{4096};
    SpscByteRing received_{1 << 20};
    std::vector<Received> collected_;
};

} // namespace strata::testing
