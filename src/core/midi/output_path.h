#pragma once

#include "midi/port_directory.h"
#include "midi/service_tasks.h"
#include "model/setlist.h"
#include "platform/midi_backend.h"
#include "platform/signal.h"

#include <array>
#include <atomic>
#include <bitset>
#include <cstdint>
#include <functional>
#include <limits>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace strata {

// The last state asked for, kept to bring a DAW that connects later up to date.
struct SectionRequest {
    std::vector<Layer> allLayers;
    UuidSet mutedIDs;
    ControlMode mode = ControlMode::ccMute;
    std::optional<std::string> mackiePort;
    std::int64_t mackieTrackOffset = 0;
    bool allOn = false; // the panic: everything sounds, both units positioned
    DawHost host = DawHost::logic;
};

// A point in time together with the MIDI system's cycle count then.
struct Stamp {
    TimePoint time{};
    std::uint64_t cycle = 0;
};

// The port a set's Mackie output goes to: its own choice, else our main surface.
std::string_view mainSurfacePort(const std::optional<std::string>& mackiePort);

// What the mute outputs share: delivery by port name, presses and toggles that respect the DAW's
// cycles, and time as the MIDI system counts it.
//
// A DAW reads the surface once per cycle and takes repeated presses of one button within a cycle,
// and at times in adjacent cycles, for one, so a button is never pressed (nor a CC toggled) twice
// between two cycle breaks (MidiBackend::barrier), which leave a cycle between them.
//
// MIDI queue only, except for noteTx and the time helpers (any thread).
class OutputPath {
public:
    OutputPath(MidiBackend& backend, PortDirectory& ports, ServiceTasks& tasks,
               Published<std::optional<TimePoint>>& txLight);

    void deliver(const std::uint8_t* bytes, std::size_t length, std::string_view portName);
    // A Mackie button press and release that never shares a cycle with an earlier press of the
    // same button.
    void pressButton(std::uint8_t noteNumber, std::string_view portName);
    // A CC at 127 (a toggle for hosts that toggle on it), never in a cycle with an earlier toggle
    // of the same CC on the same surface.
    void toggleCC(std::uint8_t channel, std::uint8_t cc, std::string_view portName);
    // Everything emitted on `portName` after this goes out in a later cycle.
    void cycleBreak(std::string_view portName);
    // A press of `noteNumber` on `portName` went out by another way (a prepared answer): the
    // next press of that button waits for a cycle break as if this one had gone out here.
    void notePressed(std::uint8_t noteNumber, std::string_view portName);
    // Called before anything is written to the MIDI system (prepared answers are withdrawn
    // then). Set once, before the first output.
    void setBeforeOutput(std::function<void()> hook) { beforeOutput_ = std::move(hook); }

    // Throttled activity stamp of transmission; any thread.
    void noteTx();

    // While one lives, what this thread delivers is due at `due` (none: as soon as possible);
    // see MidiBackend::setDueTime. MIDI queue only.
    class TimedSends {
    public:
        TimedSends(OutputPath& path, std::optional<TimePoint> due);
        ~TimedSends();
        TimedSends(const TimedSends&) = delete;
        TimedSends& operator=(const TimedSends&) = delete;

    private:
        OutputPath& path_;
        bool timed_;
    };
    // How long before its due time a timed send should be made; zero: when it is due. Any
    // thread.
    Duration sendLead() const;
    // When what is delivered now goes out: now, or within TimedSends its due time (with the
    // cycles that will have begun by then, counted low), so that an answer from the DAW that
    // arrives before it is not taken for the answer to it. MIDI queue only.
    Stamp sendStamp() const;

    Stamp stampNow() const;
    // Within a backend's input handler: now, with the cycle the input being handed over was read
    // in. What the DAW answered in time stays an answer however late a busy input thread hands
    // it on.
    Stamp arrivalStamp() const;
    // Whether `span` has passed since `since`, in time and, on a system with cycles, in cycles
    // (until now, or until `at`).
    bool hasPassed(const Stamp& since, Duration span) const;
    bool hasPassed(const Stamp& since, Duration span, const Stamp& at) const;
    // As hasPassed, with the cycles counted only as far as their input has been handed on: what
    // the DAW sent within `span` has by then been passed to its handler (which hands it to the
    // MIDI queue), however far a busy input thread lags behind the cycles.
    bool inputHasPassed(const Stamp& since, Duration span) const;
    Duration cyclePeriod() const;

    MidiBackend& backend() const { return backend_; }
    PortDirectory& ports() const { return ports_; }
    ServiceTasks& tasks() const { return tasks_; }

private:
    int surfaceIndex(MidiRef source) const { return source == ports_.surfaceSource(false) ? 0 : 1; }

    MidiBackend& backend_;
    PortDirectory& ports_;
    ServiceTasks& tasks_;
    Published<std::optional<TimePoint>>& txLight_;
    std::atomic<Duration::rep> lastTxPublish_;
    // Per virtual source ("Strata", "Strata XT"): buttons pressed since the last cycle break, and
    // CCs toggled (channel * 128 + controller).
    std::array<std::bitset<128>, 2> pressedSinceBreak_{};
    std::array<std::bitset<16 * 128>, 2> toggledSinceBreak_{};
    // The due time of the sends being made (TimedSends); MIDI queue only.
    std::optional<TimePoint> sendDue_;
    std::function<void()> beforeOutput_;
};

// Stamps `last` with `now` when more than `threshold` has passed; true when this caller won.
// `last` starts at kNeverStamped.
inline constexpr Duration::rep kNeverStamped = std::numeric_limits<Duration::rep>::min();
bool throttle(std::atomic<Duration::rep>& last, TimePoint now, Duration threshold);

} // namespace strata
