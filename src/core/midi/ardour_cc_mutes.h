#pragma once

#include "midi/mackie_output.h"
#include "midi/output_path.h"

#include <atomic>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <vector>

namespace strata {

// CC mutes as Logic Pro / MainStage take them: a CC carries the state (127 sounding, 0 muted), so
// every send repeats every layer's CC. Layers of `onlyPort` alone, when given; none muted when
// `mutedIDs` is null. A layer's CC is its own or 20 + its position.
void sendCCMutes(OutputPath& out, const std::vector<Layer>& allLayers, const UuidSet* mutedIDs,
                 std::optional<std::string_view> onlyPort = std::nullopt);

// CC mutes as Ardour takes them. A CC bound to a track's mute toggles it on every value of 64 or
// more and ignores lower values, so CC mutes are toggles with a shadow of their own (what each
// bound track is believed to be: sounding until known otherwise): a send presses, with 127, only
// the CCs whose state changes. The host echoes a track's mute state on its CC (127 muted, 0
// sounding), but only when it changes: a track muted before we were heard cannot be seen until it
// changes. So one toggle of a CC at a time: the next waits for the echo that answers it (or, with
// no echo, for kEchoHold), which keeps every echo's meaning plain and toggles of one CC cycles
// apart. An answer that shows the track ended opposite to what was asked means the shadow was
// wrong before the toggle: it is pressed once more, and the answer to that press is taken as it is
// (nothing can loop). An echo that answers no toggle of ours is a change by hand in the DAW and
// stays. The first layer with a channel + CC drives it (as in the generated binding map), whatever
// the port. The CC shadow of a port is forgotten when a DAW connects to it anew (one of our surface
// ports) or it appears again (a system destination), and the current state is sent as after
// forget(); a host keeps its mutes when only the Mackie shadow is reset.
//
// Where an echo comes from: a layer's port is a destination. For "Strata" and "Strata XT" the
// host's answer arrives on our own destinations of those names (the DAW's output wired to them, as
// its surface feedback is); for a system destination it arrives from a source of the same device,
// that is of the same name once a trailing direction word is dropped ("ardour:MIDI Control In" is
// answered from "ardour:MIDI Control Out"; a device that lists one name for both directions
// answers under that name).
//
// Threads: the MIDI queue, except echoesWanted (any thread).
class ArdourCCMutes {
public:
    // How long the answer to one of our CC toggles is waited for (the host answers a cycle or a
    // few later, or at its next feedback round); that CC is not toggled again meanwhile.
    static constexpr Duration kEchoHold = std::chrono::milliseconds(150);
    // Where an echo arrives: a system source (named by its device), "Strata" or "Strata XT".
    enum Surface : int { kDevice = 0, kMainSurface = 1, kExtender = 2 };

    // `lastRequest`: the MIDI queue's last section state, which deferred toggles go on with.
    ArdourCCMutes(OutputPath& out, MackieOutput& mackie,
                  const std::optional<SectionRequest>& lastRequest);

    // A new section state in Ardour's CC mode.
    void send(const SectionRequest& r);
    // Toggles what the last request still needs.
    void pump();
    // Forget what is believed of every bound track and take them all to be sounding.
    void forget();
    // The control changes of one chunk that may be echoes, from `surface` (and for kDevice, the
    // device part of the source's name) that reached us at `arrived`.
    void feedEchoes(const std::uint8_t* bytes, std::size_t length, Surface surface,
                    const std::string& device, const Stamp& arrived);
    // A system destination appeared (again): what was believed of its tracks is forgotten and
    // they are brought to the current state.
    void destinationsAppeared(const std::vector<std::string>& names);
    // A DAW connected to one of our surface ports anew: it is taken to have every track sounding.
    void surfaceConnected(Surface surface);

    // Whether CCs from system sources may be echoes (the input side collects them only then,
    // so that other input costs nothing extra). Any thread.
    bool echoesWanted() const { return echoesWanted_.load(std::memory_order_relaxed); }
    void setEchoesWanted(bool wanted) { echoesWanted_.store(wanted, std::memory_order_relaxed); }

    // The device part of a port name for matching echoes: the name without a trailing direction
    // word ("in", "out", "input", "output", "capture", "playback").
    static std::string echoDevice(std::string_view name);

private:
    // One track bound to a CC: the way its echoes come back and the channel and controller.
    struct CCTarget {
        int surface = kDevice;
        std::string device;       // see echoDevice()
        std::uint8_t channel = 0; // 0-15
        std::uint8_t cc = 0;
        friend auto operator<=>(const CCTarget&, const CCTarget&) = default;
    };
    struct CCState {
        bool muted = false; // what the track is believed to be
        // Our toggle whose answer is awaited, and whether that toggle was itself a re-press.
        std::optional<Stamp> toggledAt;
        bool repress = false;
        // The last answer showed the track opposite to what was asked: the next toggle is the
        // one re-press. `stuck`: a re-press was answered the same way; leave the track alone
        // until the next section state.
        bool pressAgain = false;
        bool stuck = false;
    };

    // Toggles the CCs of the layers whose believed state differs (only those of `only`, when
    // given).
    void sendToggles(const std::vector<Layer>& allLayers, const UuidSet& mutedIDs,
                     const std::set<CCTarget>* only = nullptr);
    // sendToggles for the last request, for `only`.
    void pumpOnly(const std::set<CCTarget>& only);
    CCTarget target(std::string_view portName, std::int64_t channel, std::int64_t cc) const;
    bool portReady(std::string_view portName);
    // Returns whether the echo answered a toggle of ours.
    bool applyEcho(const CCTarget& target, bool muted, const Stamp& arrived);
    // Toggles whose answer did not come in time are taken as done as asked.
    void releaseHolds(const Stamp& at);
    bool lastIsArdourCC() const;

    OutputPath& out_;
    MackieOutput& mackie_;
    const std::optional<SectionRequest>& lastRequest_;
    std::atomic<bool> echoesWanted_{false};

    std::map<CCTarget, CCState> states_;
    // Toggles held back while an earlier toggle of the same CC awaits its answer.
    std::set<CCTarget> deferred_;
    // The wake-up for deferred toggles, a timed job on this queue: only the latest one armed
    // acts.
    std::uint64_t retryRound_ = 0;
};

} // namespace strata
