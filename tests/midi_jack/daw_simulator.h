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
//   late for them); as Ardour, a press of a button pressed in the cycle before counts as one
//   with it as well (measured: now and then; here: always);
// - one cycle after a bank move, the unit's mute LEDs (all 8, lit or dark) and its LCD (the
//   bank's track names) are sent; one cycle after a mute toggle, that strip's LED;
// - a while after something connects to a unit's input (about 100 ms), the unit's whole state.
// Feedback goes out of each unit's output port; a test wires these to Strata's feedback inputs.
//
// As Ardour (measured on Ardour 7 over JACK):
// - with the extender set up, both units form one group of 16 strips, banked from the main
//   unit: bank left/right move the group by 16, channel left/right (0x30/0x31) by one track; the
//   extender's bank and channel buttons are ignored, and both units report their strips after
//   every move of the group. Without the extender, the main unit banks by 8 as above;
// - Generic MIDI: a third port pair takes CCs bound to track mutes (from a binding map); a bound
//   CC toggles the track's mute on every value of 64 or more and is ignored below, except that a
//   toggle of a CC toggled in the same or the cycle before counts as one with it (measured on
//   Ardour 7.3: 51 of 236 pairs one cycle apart; here: always); with feedback on (always, here), a
//   bound track's mute state goes out on its CC (127 muted, 0 sounding) a cycle after it changes,
//   whatever changed it, and only then (Ardour 7.3 reports no state when something connects).
class DawSimulator {
public:
    static constexpr int kMaxTracks = 256;
    static constexpr int kMaxBindings = 64;

    enum class Host { logic, ardour };

    // A Generic MIDI binding: CC `cc` on channel `channel` (1-16) toggles the mute of `track`
    // (from 0).
    struct CCBinding {
        int channel = 1;
        int cc = 0;
        int track = 0;
    };
    // The "/route/mute N" bindings of an Ardour binding map (N counted from 1).
    static std::vector<CCBinding> bindingsFromMap(const std::string& xml);

    struct Options {
        int tracks = 24;
        std::vector<int> mutedAtStart; // track indices from 0
        int mainBank = 0;              // first track of each unit's bank at start
        int extenderBank = 8;
        Host host = Host::logic;
        // Ardour: the extender is set up (the units bank as one group of 16 strips).
        bool groupedExtender = false;
        // Ardour's Generic MIDI.
        std::vector<CCBinding> ccBindings{};
    };

    // One event the DAW received from Strata.
    struct Received {
        int unit = 0; // 0 main surface, 1 extender, 2 Generic MIDI
        std::vector<std::uint8_t> bytes;
        std::uint64_t cycle = 0; // the DAW's cycle number
        std::uint32_t frame = 0; // JACK's frame time at the start of that cycle
    };

    DawSimulator(const std::string& serverName, const std::string& clientName, Options options);
    ~DawSimulator();
    DawSimulator(const DawSimulator&) = delete;
    DawSimulator& operator=(const DawSimulator&) = delete;

    bool ok() const { return client_ != nullptr; }
    // Full JACK names of a unit's input (what Strata's surface port feeds) and output (feedback);
    // unit 2 is Generic MIDI.
    std::string inputName(int unit) const;
    std::string outputName(int unit) const;
    // Wires one unit both ways: `strataSource` -> its input, its output -> `strataFeedback`.
    // The server orders a loop by the connection made first: with `surfaceFirst` the DAW runs
    // after Strata in each cycle and reads what Strata wrote in that cycle; otherwise before it,
    // reading it a cycle later.
    bool connectUnit(int unit, const std::string& strataSource, const std::string& strataFeedback,
                     bool surfaceFirst = false);
    bool disconnectUnit(int unit, const std::string& strataSource,
                        const std::string& strataFeedback);

    // The session as it is now.
    std::vector<bool> mutes() const;
    int bank(int unit) const;
    // The user clicks a mute in the DAW window (the LED follows a cycle later).
    void userToggle(int track);

    // Everything received so far, taken out of the simulator.
    std::vector<Received> takeReceived();
    // Presses the DAW took as one because they shared a cycle (as Ardour, or came a cycle
    // after) a press of the same button, and mute presses that shared a cycle with a bank move of
    // the same unit.
    int mergedPresses() const { return merged_.load(); }
    // Generic MIDI toggles taken as one with a toggle of the same CC a cycle before or in the
    // same cycle.
    int mergedToggles() const { return mergedToggles_.load(); }
    // Bank or channel buttons pressed on the extender (Ardour ignores them).
    int extenderMoves() const { return extenderMoves_.load(); }
    int mutesBesideBankMoves() const { return mutesBesideBankMoves_.load(); }

private:
    static constexpr int kUnits = 3; // main surface, extender, Generic MIDI
    static constexpr int kGeneric = 2;
    // Cycles from a connection to the full-state report (of 256 frames at 48 kHz: about 100 ms).
    static constexpr std::uint64_t kFullStateCycles = 19;

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
        std::array<std::uint64_t, 128> pressedAt{}; // cycle each button was last pressed in
    };

    static int processCallback(std::uint32_t frames, void* self);
    int process(std::uint32_t frames);
    static void onConnect(std::uint32_t a, std::uint32_t b, int connected, void* self);
    void readUnit(int u, void* buffer, std::uint64_t cycle, int bankAtStart);
    void readGeneric(void* buffer, std::uint64_t cycle);
    void writeUnit(int u, void* buffer, std::uint64_t cycle);
    void writeGeneric(void* buffer);
    void record(int unit, const std::uint8_t* bytes, std::size_t size, std::uint64_t cycle);
    bool toggle(int track);
    int maxBank() const;
    bool grouped() const { return options_.host == Host::ardour && options_.groupedExtender; }
    // Moves a unit's bank (the group's, when grouped) by `by` tracks; true when it moved.
    bool moveBank(int u, int by);

    Options options_;
    jack_client_t* client_ = nullptr;
    std::array<Unit, kUnits> units_;
    std::array<CCBinding, kMaxBindings> bindings_{};
    int bindingCount_ = 0;
    // Tracks whose mute changed, for Generic MIDI feedback (process thread only).
    std::array<bool, kMaxTracks> feedbackDue_{};
    std::array<bool, kMaxTracks> feedbackNow_{};
    std::uint32_t cycleFrame_ = 0; // process thread: the current cycle's first frame
    std::array<std::atomic<bool>, kMaxTracks> muted_{};
    std::array<char[8], kMaxTracks> names_{};
    std::atomic<std::uint64_t> cycle_{0};
    std::atomic<int> merged_{0};
    std::atomic<int> mergedToggles_{0};
    std::array<std::uint64_t, 16 * 128> toggledAt_{}; // Generic MIDI: cycle of each CC's toggle
    std::atomic<int> mutesBesideBankMoves_{0};
    std::atomic<int> extenderMoves_{0};
    // User clicks, handed to the process thread.
    SpscByteRing clicks_{4096};
    SpscByteRing received_{1 << 20};
    std::vector<Received> collected_;
};

} // namespace strata::testing
