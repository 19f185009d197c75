#pragma once

#include "midi/device_identity.h"
#include "midi/reflex_snapshot.h"
#include "model/setlist.h"
#include "platform/main_loop.h"
#include "platform/midi_backend.h"
#include "platform/serial_queue.h"
#include "platform/settings.h"
#include "platform/signal.h"

#include <array>
#include <atomic>
#include <bitset>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace strata {

// Section jump triggers of the current song, by section index.
using JumpTriggerTable = std::map<int, AdvanceTrigger>;
// Triggers of the hand-fired Moments of the current section, by Moment id.
using MomentTriggerTable = std::vector<std::pair<Uuid, AdvanceTrigger>>;
// DAW track names by channel strip 0-7; a strip without a name has no entry.
using SlotNames = std::map<int, std::string>;

// The one object through which Strata talks MIDI: its client, ports and the virtual endpoints
// "Strata" and "Strata XT" that the DAW sees as a Mackie Control surface and extender; the port
// directory; mute output (Mackie Control or CC mutes), program and control changes; surface
// feedback (mute LEDs, LCD track names); trigger input and learning.
//
// Threads:
// - main thread: construction, destruction, refreshPorts, the trigger settings, panicAllOn, and
//   every published field and event (other threads hand them over through MainLoop::post, so
//   observers see events in the order the input was parsed);
// - midiQueue: all output and all feedback parsing; it alone owns the Mackie shadow, the bank
//   positions, the SysEx accumulator, the LCD mirror and the last published names;
// - the backend's threads: the read handlers copy what they need and hand it on.
// What the input threads read of the main thread's state (the learn flag, the NEXT trigger and its
// source, the jump triggers) is mirrored under jumpLock_.
//
// The reflex: a trigger that moves the position (NEXT, a jump trigger, a program change) is
// answered on the input thread from the last ReflexSnapshot the main thread published, so that the
// mute output never waits for a busy main thread. The input thread queues the mutes for the new
// position at once (the ordinary output path, so banks, settles and shadows stay right) and then
// posts reflexMoved; the main thread takes the position over. Until it has, the input side steps
// on from its own latest position. What the snapshot cannot answer (no snapshot, a learn in
// progress, another song, a move within the section) goes to the main thread as before.
//
// Every handler, queue job and posted task checks a shared liveness token first, so nothing runs
// against a destroyed service; destruction waits for handlers in flight and stops the queue.
//
// Mackie banks and the settle: a DAW's mute button is a toggle, so a press is only right when the
// shadow is. Whenever a unit's bank is (re)positioned (the first push, after a shadow reset, after
// a DAW connects, when the offset changes) the bank moves go out one per cycle, and the presses
// that depend on them wait until the DAW's LED feedback for the new bank has had time to arrive:
// until the moves have left the backend and a few cycles more have passed (and, after a new
// connection, until the DAW's full-state report is due). The wait is a timer on the main loop; it
// blocks neither the main thread nor the MIDI queue. Meanwhile section changes only update the
// last requested state; when the wait ends, what still differs from the shadow is pressed. The
// shadow keeps what is known (the DAW resends nothing for bank presses that do not move the bank)
// and the DAW's LED reports overwrite it, except that a report for a strip we pressed a moment
// ago is held back until that press can have been answered (it may answer an earlier one).
// A DAW reads the surface once per cycle and takes repeated presses of one button within a cycle,
// and at times in adjacent cycles, for one, so a button is never pressed twice between two cycle
// breaks (MidiBackend::barrier), which leave a cycle between them.
//
// DAW hosts. Mute output follows the host the set names (DawHost):
// - Logic Pro / MainStage: each unit banks on its own, 8 tracks per bank-right press; a CC mute
//   carries the state (127 sounding, 0 muted), so every send repeats every layer's CC.
// - Ardour: with the extender in use, the host banks both units as one group of 16 strips from
//   the main unit and ignores the extender's bank buttons. The group is positioned from the main
//   unit alone: back to the first track, then one bank-right press per 16 tracks, and where 8
//   tracks remain, 8 channel-right presses, one per cycle, once the bank moves have settled (the
//   host takes channel moves sent alongside bank moves wrongly); the presses that depend on it
//   wait for a second settle. Without the extender, banking is as for Logic. A CC bound to a
//   track's mute toggles it on every value of 64 or more and ignores lower values, so CC mutes
//   are toggles with a shadow of their own (what each bound track is believed to be: sounding
//   until known otherwise): a send presses, with 127, only the CCs whose state changes. The host
//   echoes a track's mute state on its CC (127 muted, 0 sounding), but only when it changes:
//   a track muted before we were heard cannot be seen until it changes. So one toggle of a CC at
//   a time: the next waits for the echo that answers it (or, with no echo, for kEchoHold), which
//   keeps every echo's meaning plain and toggles of one CC cycles apart. An answer that shows
//   the track ended opposite to what was asked means the shadow was wrong before the toggle: it
//   is pressed once more, and the answer to that press is taken as it is (nothing can loop). An
//   echo that answers no toggle of ours is a change by hand in the DAW and stays. The first
//   layer with a channel + CC drives it (as in the generated binding map), whatever the port.
//   The CC shadow of a port is forgotten when a DAW connects to it anew (one of our surface
//   ports) or it appears again (a system destination), and the current state is sent as after
//   resyncCCMutes(); a host keeps its mutes when only the Mackie shadow is reset.
// Where an echo comes from: a layer's port is a destination. For "Strata" and "Strata XT" the
// host's answer arrives on our own destinations of those names (the DAW's output wired to them,
// as its surface feedback is); for a system destination it arrives from a source of the same
// device, that is of the same name once a trailing direction word is dropped ("ardour:MIDI
// Control In" is answered from "ardour:MIDI Control Out"; a device that lists one name for both
// directions answers under that name).
//
// Triggers name their device by its stable identity (device_identity.h): a trigger learned from a
// source stores that source's identity, and fires from whichever source answers to it now, so a
// footswitch keeps working when it comes back under another number. A press fires one thing: a
// section jump before a Moment of the current section before NEXT.
class MidiService {
public:
    static constexpr std::string_view kClientName = "Strata";
    static constexpr std::string_view kOutputPortName = "Strata Out";
    static constexpr std::string_view kInputPortName = "Strata In";
    static constexpr std::string_view kAdvanceTriggerKey = "strataAdvanceTrigger";
    static constexpr std::string_view kQueueLabel = "org.strata.midiQueue";
    // Bytes of one packet looked at, on input and feedback alike.
    static constexpr std::size_t kMaxPacketBytes = 256;
    // A SysEx message that runs past this many bytes without its end is dropped.
    static constexpr std::size_t kMaxSysexBytes = 512;
    static constexpr std::size_t kLcdCells = 112;
    static constexpr int kMackieSlots = 16;
    // Track offsets beyond this are treated as this (256 banks of 8).
    static constexpr std::int64_t kMaxBankOffset = 2048;
    // After a unit's bank moves have gone out: how long (and, on a system that runs in cycles,
    // how many cycles at least) until the DAW's LED reports for the new bank count as in. DAWs
    // answer one to two cycles after a bank move.
    static constexpr Duration kSettleTime = std::chrono::milliseconds(25);
    static constexpr int kSettleCycles = 4;
    // After a DAW connects to a surface port it reports its whole surface state about 100 ms
    // later; a settle that follows a connection lasts at least this long from the connection.
    static constexpr Duration kConnectionSettle = std::chrono::milliseconds(250);
    // No settle lasts longer than this beyond the cycles its bank moves need, whatever the MIDI
    // system does (a server that stops running cycles, say).
    static constexpr Duration kSettleLimit = std::chrono::seconds(3);
    // How often the main loop looks at a settle in progress.
    static constexpr Duration kSettlePoll = std::chrono::milliseconds(2);
    // How long the answer to one of our CC toggles is waited for (the host answers a cycle or a
    // few later, or at its next feedback round); that CC is not toggled again meanwhile.
    static constexpr Duration kEchoHold = std::chrono::milliseconds(150);

    MidiService(MidiBackend& backend, MainLoop& loop, Settings& settings);
    ~MidiService();
    MidiService(const MidiService&) = delete;
    MidiService& operator=(const MidiService&) = delete;

    // ---- Published fields (main thread) ---------------------------------------------------------
    // Names for the destination picker: "Strata" first and once, then the system's destinations.
    Published<std::vector<std::string>> destinations;
    // Names of every MIDI source, in system order.
    Published<std::vector<std::string>> sources;
    // The learned NEXT trigger. Whoever writes it then calls resolveTriggerSource() and
    // persistAdvanceTrigger().
    Published<std::optional<AdvanceTrigger>> advanceTrigger;
    // Whether a source that the NEXT trigger fires from is present now (false without a trigger).
    Published<bool> advanceTriggerConnected{false};
    // Set to true by the learn controls; set back to false when a learn ends.
    Published<bool> isLearningTrigger{false};
    Published<SlotNames> mackieSlotNames;
    // Activity lights: the latest published transmission and surface-feedback reception.
    Published<std::optional<TimePoint>> lastTxAt;
    Published<std::optional<TimePoint>> lastMackieRxAt;
    // Whether the MIDI system can be reached (false while a JACK server is gone, or when there is
    // no MIDI system at all).
    Published<bool> midiAvailable{false};

    // ---- Event streams (emitted on the main thread) ---------------------------------------------
    // A learn finished (the trigger) or was refused (none).
    Signal<const std::optional<AdvanceTrigger>&> triggerLearned;
    // A program change arrived on any input: the program number 0-127.
    Signal<int> sectionAdvanceRequest;
    Signal<> advancePressed;
    // A section jump trigger was pressed: its key in the jump-trigger table.
    Signal<int> jumpRequested;
    // The trigger of a hand-fired Moment was pressed: the Moment's id.
    Signal<const Uuid&> momentRequested;
    // The input side moved the position on its own and has queued the mutes for it already; in
    // the order the moves were made, each once.
    Signal<const ReflexMove&> reflexMoved;

    // ---- Port directory -------------------------------------------------------------------------
    // Rebuilds `destinations` and `sources`. Main thread.
    void refreshPorts();
    // Connects every listed source to the input port, with its own reference as the value.
    void connectSources();
    // Display name, else name, else "Unknown".
    std::string endpointName(MidiRef ref) const;
    // The first destination in system order whose endpointName is exactly `name`.
    std::optional<MidiRef> systemDestinationRef(std::string_view name) const;
    // Whether a source that answers to a trigger's stored device is present now (as of the last
    // refreshPorts). Main thread.
    bool deviceConnected(std::string_view deviceName) const;
    // Throttled activity stamps; any thread.
    void noteTx();
    void noteMackieRx();

    // ---- Mute output ----------------------------------------------------------------------------
    // Any thread; returns at once. The arguments are copied into one midiQueue job, which also
    // keeps them as the state to bring a newly connected DAW to. In Mackie mode, presses that
    // depend on a bank move follow once the bank has settled (see the class comment).
    void sendSectionState(std::vector<Layer> allLayers, UuidSet mutedIDs, ControlMode mode,
                          std::optional<std::string> mackiePort, std::int64_t mackieTrackOffset,
                          DawHost host = DawHost::logic);
    // Forgets both bank positions (on midiQueue), so the next send positions the banks again and
    // lets them settle before it presses anything. The mute shadow is kept for strips that will
    // show the same tracks again, and dropped for a unit whose bank goes elsewhere: the DAW
    // resends nothing for bank presses that do not move its bank, so an emptied shadow could not
    // be rebuilt, while its LED reports correct a kept one.
    void resetMackieShadow();
    // The performer's panic: everything sounds. Runs as a midiQueue job and returns when it has
    // run, so it never overlaps other output or feedback; releases that depend on a bank move
    // follow once the bank has settled. Main thread.
    // With Ardour's CC mutes, the panic toggles each layer believed muted.
    void panicAllOn(std::vector<Layer> allLayers, ControlMode mode,
                    std::optional<std::string> mackiePort, std::int64_t mackieTrackOffset,
                    DawHost host = DawHost::logic);
    // Ardour's CC mutes: forget what is believed of every bound track and take them all to be
    // sounding (the user has unmuted everything in the DAW, or reloaded its session). Sends
    // nothing itself; the next send brings the DAW to the wanted state. Any thread.
    void resyncCCMutes();
    // Any thread; one midiQueue job each. Values are clamped to their MIDI ranges.
    void sendProgramChange(std::int64_t program, std::int64_t channel, std::string portName);
    void sendControlChange(std::int64_t cc, std::int64_t value, std::int64_t channel,
                           std::string portName);

    // ---- Surface feedback -----------------------------------------------------------------------
    // Read handler of the virtual destination "Strata"; backend thread.
    void handleMackieFeedback(const MidiPacketList& packets);
    // Read handler of the virtual destination "Strata XT": only its mute LEDs are used (slots
    // 8-15); the extender's display carries no track names we show. Backend thread.
    void handleExtenderFeedback(const MidiPacketList& packets);
    // Letters in `text`. The LCD cells reach it as ASCII only (a cell with any byte of 0x80 or
    // above reads as empty), so ASCII letters are all the letters there can be.
    static std::size_t letterCount(std::string_view text);

    // ---- Trigger input and learning -------------------------------------------------------------
    // Read handler of the input port; backend thread. `srcRefCon` carries the source's reference,
    // 0 when the input came without one.
    void handleIncoming(const MidiPacketList& packets, std::uint64_t srcRefCon);
    // Parses one packet (at most 256 bytes) from a source named `srcName`; backend thread.
    void parsePacketBytes(const std::uint8_t* bytes, std::size_t length, bool isTriggerDevice,
                          bool learning, std::string_view learnSource, std::string_view srcName);
    // Ends a learn with a result (delivered on the main thread).
    void finishLearn(AdvanceTrigger trigger);
    // Finds the NEXT trigger's source among the current sources. Main thread.
    void resolveTriggerSource();
    // Reads and stores the NEXT trigger under "strataAdvanceTrigger". Main thread.
    void loadAdvanceTrigger();
    void persistAdvanceTrigger();
    // Replaces the jump-trigger table. Any thread.
    void setJumpTriggers(JumpTriggerTable triggers);
    // Replaces the table of Moment triggers. Any thread.
    void setMomentTriggers(MomentTriggerTable triggers);
    // What the input side answers moves from from now on; none stops it answering any. Main
    // thread. A snapshot describes the main thread's state after every reflexMoved delivered so
    // far (observers take each move over while it is delivered).
    void publishReflex(std::shared_ptr<const ReflexSnapshot> snapshot);

    // ---- Inspection (tests, views) --------------------------------------------------------------

    struct MackieShadow {
        // Slot 0-7: main surface strips, 8-15: extender strips; none when unknown.
        std::array<std::optional<bool>, kMackieSlots> muted{};
        std::optional<std::int64_t> bankPositionedAt;
        std::optional<std::int64_t> bankPositionedAtXT;
        std::array<std::uint8_t, kLcdCells> lcd{};
        std::size_t sysexPending = 0; // bytes of an unfinished SysEx message
        // Main surface, extender: a bank settle in progress (its presses are held back).
        std::array<bool, 2> settling{};
    };
    // A copy of the midiQueue's state, taken on the queue (LED reports held back for presses
    // that are answered by now are applied first). Not from the queue itself.
    MackieShadow mackieShadow();
    // Waits until every midiQueue job submitted before the call has run.
    void drain();
    // The source whose presses count for NEXT, 0 when none.
    MidiRef footswitchSource() const;
    MidiRef clientRef() const { return client_; }
    MidiRef inputPortRef() const { return inPort_; }
    MidiRef outputPortRef() const { return outPort_; }
    MidiRef virtualSourceRef(bool extender) const { return extender ? virtualSrcXT_ : virtualSrc_; }
    MidiRef virtualDestinationRef(bool extender) const {
        return extender ? virtualDstXT_ : virtualDst_;
    }

    // How the DAW lists the main surface's or the extender's ports: the one it reads the surface
    // from (our virtual source) and the one it sends feedback to (our virtual destination). Some
    // MIDI systems need two different names; the logical name stands in when the system has none.
    struct SurfacePorts {
        std::string dawInput;
        std::string dawOutput;
        friend bool operator==(const SurfacePorts&, const SurfacePorts&) = default;
    };
    SurfacePorts surfacePorts(bool extender) const {
        const std::string logical(extender ? kExtenderPort : kMainSurfacePort);
        auto named = [&](MidiRef ref) {
            std::string external = ref != 0 ? backend_.externalName(ref) : std::string();
            return external.empty() ? logical : external;
        };
        return {named(virtualSourceRef(extender)), named(virtualDestinationRef(extender))};
    }

private:
    struct Life;

    // The two Mackie units: the main surface (slots 0-7) and the extender (slots 8-15).
    enum Unit : int { kMainUnit = 0, kExtenderUnit = 1 };

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

    // What midiQueue knows of one unit beyond its shadow slots and position.
    struct UnitState {
        // Where the bank was last moved to, and on which port; unlike the position, a shadow
        // reset keeps them, so that re-positioning to the same place can keep the shadow.
        std::optional<std::int64_t> lastKnownPosition;
        std::string lastKnownPort; // the port that position was reached on
        bool settling = false;
        std::uint64_t settleToken = 0;
        // When a DAW last connected to the unit's port and its full-state report is awaited.
        std::optional<Stamp> connectedAt;
        // Ardour's group of 16 strips: channel-right presses still to send once the bank moves
        // have settled (main unit only).
        std::int64_t pendingChannelRights = 0;
    };

    // A strip we pressed: the DAW's LED reports for it that arrive before the press can have
    // been answered may still be about the state before it (an earlier press of ours on its
    // way), so the latest of them is held back until then.
    struct SlotHold {
        std::optional<Stamp> pressedAt;
        std::optional<bool> reported;
    };

    // One track bound to a CC, as Ardour's CC mutes see it: the way its echoes come back (a
    // device's name, or one of our own surface ports) and the channel and controller.
    struct CCTarget {
        int surface = 0;          // 0: a device named `device`; 1: "Strata"; 2: "Strata XT"
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

    // What midiQueue owns. Only queue jobs touch it.
    struct QueueState {
        std::array<std::optional<bool>, kMackieSlots> mackieMuteState{};
        std::array<SlotHold, kMackieSlots> holds{};
        std::optional<std::int64_t> mackieBankPositionedAt;
        std::optional<std::int64_t> mackieBankPositionedAtXT;
        std::array<UnitState, 2> units{};
        std::optional<SectionRequest> lastRequest;
        // Per virtual source ("Strata", "Strata XT"): buttons pressed since the last cycle break,
        // and CCs toggled (channel * 128 + controller).
        std::array<std::bitset<128>, 2> pressedSinceBreak{};
        std::array<std::bitset<16 * 128>, 2> toggledSinceBreak{};
        std::map<CCTarget, CCState> ccMutes;
        // Toggles held back while an earlier toggle of the same CC awaits its answer.
        std::set<CCTarget> ccDeferred;
        std::uint64_t nextSettleToken = 0;
        std::array<std::uint8_t, kMaxSysexBytes + 1> sysexAccumulator{};
        std::size_t sysexLength = 0;
        std::array<std::uint8_t, kLcdCells> lcdBuffer{};
        SlotNames lastPublishedNames;
    };

    // A settle in progress, as the main loop watches it.
    struct SettleWatch {
        std::uint64_t token = 0;
        MidiRef source = 0; // the virtual source the bank moves went out of; 0 for a device
        TimePoint giveUpAt{};
        std::optional<Stamp> drainedAt;
        std::optional<Stamp> connectedAt;
        TimerHandle timer;
    };

    // How each listed source is recognised, by reference.
    using SourceIdentities = std::map<MidiRef, DeviceIdentity>;

    // What the input threads read of main-thread state; under jumpLock_. The triggers' devices are
    // kept in stable form.
    struct InputView {
        std::shared_ptr<const JumpTriggerTable> jumpTriggers;
        std::shared_ptr<const MomentTriggerTable> momentTriggers;
        std::shared_ptr<const SourceIdentities> sources;
        std::shared_ptr<const AdvanceTrigger> advanceTrigger;
        MidiRef footswitchSrc = 0;
        bool learning = false;
    };

    template <typename F>
    void onMain(F&& task);
    template <typename F>
    void onQueue(F&& job);

    // midiQueue only. Mackie output: move the banks where needed (each move starts that unit's
    // settle), then press what differs on every unit that is not settling.
    void sendSectionStateImpl(SectionRequest request);
    // Sends what the last request still needs (after a settle, say).
    void pump();
    void pumpMackie();
    // Ardour's CC mutes: toggles the CCs of the layers whose believed state differs (only those
    // of `only`, when given).
    void sendCCToggles(const std::vector<Layer>& allLayers, const UuidSet& mutedIDs,
                       const std::set<CCTarget>* only = nullptr);
    // sendCCToggles for the last request, for `only`.
    void pumpCCToggles(const std::set<CCTarget>& only);
    void toggleCC(std::uint8_t channel, std::uint8_t cc, std::string_view portName);
    CCTarget ccTarget(std::string_view portName, std::int64_t channel, std::int64_t cc) const;
    // Whether CC toggles may go out on `portName` now: not while a DAW that has just connected
    // to one of our surface ports may still be reporting its state (that starts its settle).
    bool ccPortReady(std::string_view portName);
    // An echo of a CC mute (value 64 and above is muted) that reached us at `arrived`. Returns
    // whether it answered a toggle of ours.
    bool applyCCEcho(const CCTarget& target, bool muted, const Stamp& arrived);
    void feedCCEchoes(const std::uint8_t* bytes, std::size_t length, int surface,
                      const std::string& device, const Stamp& arrived);
    // Toggles whose answer did not come in time are taken as done as asked.
    void releaseCCHolds(const Stamp& at);
    // A system destination appeared (again): what was believed of its tracks is forgotten.
    void destinationsAppeared(const std::vector<std::string>& names);
    // The device part of a port name for matching echoes: the name without a trailing
    // direction word ("in", "out", "input", "output", "capture", "playback").
    static std::string echoDevice(std::string_view name);
    // Ardour: positions the group of 16 strips from the main unit. Returns whether it moved.
    bool positionGroup(std::string_view port, std::int64_t desiredOffset);
    // Ardour: the channel-right presses of a group position, once its bank moves have settled.
    void nudgeGroup(std::string_view port);
    // CC mutes of every layer (or only of those routed to `onlyPort`); none muted when
    // `mutedIDs` is null.
    void sendCCMutes(const std::vector<Layer>& allLayers, const UuidSet* mutedIDs,
                     std::optional<std::string_view> onlyPort = std::nullopt);
    // Returns whether the bank was moved.
    bool positionBank(std::string_view port, std::int64_t desiredOffset, bool isExtender);
    void sendMackieButton(std::uint8_t noteNumber, std::string_view portName);
    // A button press that never shares a cycle with an earlier press of the same button.
    void pressButton(std::uint8_t noteNumber, std::string_view portName);
    // Everything emitted on `portName` after this goes out in a later cycle.
    void cycleBreak(std::string_view portName);
    void panicImpl(std::vector<Layer> allLayers, ControlMode mode,
                   std::optional<std::string> mackiePort, std::int64_t mackieTrackOffset,
                   DawHost host);
    // `presses`: the bank presses just sent, one cycle each.
    void startSettle(Unit unit, std::string_view port, std::int64_t presses);
    void finishSettle(Unit unit, std::uint64_t token);
    // A DAW connected to one of our surface ports.
    void surfaceConnected(MidiRef virtualSource, Stamp at);
    std::optional<std::int64_t>& bankPosition(Unit unit);
    // The virtual source behind a port name, 0 when the name means a system destination.
    MidiRef surfaceSource(std::string_view portName) const;
    Stamp stampNow() const;

    // Main thread: watching settles.
    void watchSettle(Unit unit, std::uint64_t token, MidiRef source, TimePoint giveUpAt,
                     std::optional<Stamp> connectedAt);
    void pollSettle(Unit unit);
    // Whether `span` has passed since `since`, in time and, on a system with cycles, in cycles
    // (until now, or until `at`). Any thread.
    bool hasPassed(const Stamp& since, Duration span) const;
    bool hasPassed(const Stamp& since, Duration span, const Stamp& at) const;
    // How long the DAW may take to answer what has left the backend.
    Duration answerTime() const;
    // midiQueue only: applies the held-back LED reports of strips whose presses are answered.
    void releaseHolds();
    // The routing rule: "Strata"/"Strata XT" go out of our virtual sources, any other name to the
    // first system destination of that name, and no name (a row left on "No port") nowhere.
    void deliver(const std::uint8_t* bytes, std::size_t length, std::string_view portName);

    void feedSysexBytes(const std::uint8_t* bytes, std::size_t length);
    // LEDs of one unit's strips, into slots `firstSlot` .. `firstSlot` + 7.
    void feedMuteLEDs(const std::uint8_t* bytes, std::size_t length, int firstSlot = 0);
    void processSysex(const std::uint8_t* message, std::size_t length);
    void publishSlotNames();

    InputView inputView() const;
    // The parser behind parsePacketBytes; `source` is how the packet's source is recognised.
    void parseInput(const std::uint8_t* bytes, std::size_t length, bool isTriggerDevice,
                    bool learning, std::string_view learnSource, const DeviceIdentity& source,
                    const InputView& view);
    // How a source is recognised, asked of the MIDI system now. Any thread.
    DeviceIdentity identityOf(MidiRef source) const;
    // Answers a move on the input side when the reflex snapshot can; false leaves it to the main
    // thread. Input threads.
    bool tryReflex(ReflexTrigger trigger, std::int64_t argument, bool learning);

    MidiBackend& backend_;
    MainLoop& loop_;
    Settings& settings_;
    std::shared_ptr<Life> life_;

    // Whether CCs from system sources may be echoes of Ardour's CC mutes (read by the input
    // thread, so that other input costs nothing extra).
    std::atomic<bool> sourceEchoes_{false};
    std::atomic<Duration::rep> lastTxPublish_;
    std::atomic<Duration::rep> lastRxPublish_;

    mutable std::mutex jumpLock_;
    InputView input_; // guarded by jumpLock_

    // The reflex; guarded by reflexLock_, which the main thread takes to publish and an input
    // thread to decide (never a real-time thread). A decision queues its output and posts its
    // move under the lock, so moves reach the queue and the main thread in the order they were
    // made.
    std::mutex reflexLock_;
    std::shared_ptr<const ReflexSnapshot> reflex_;
    // Moves delivered on the main thread when reflex_ was published: while the input side has
    // made more, its own latest position is newer than the snapshot's.
    std::uint64_t reflexBasis_ = 0;
    ReflexPosition reflexAt_;           // where the input side's latest move went
    std::uint64_t reflexMoves_ = 0;     // moves made so far
    std::uint64_t reflexDelivered_ = 0; // main thread: moves handed to reflexMoved so far

    MidiRef client_ = 0;
    MidiRef outPort_ = 0;
    MidiRef inPort_ = 0;
    MidiRef footswitchSrc_ = 0; // main thread's copy; the input threads read input_
    // Main thread's copy of input_.sources, rebuilt by refreshPorts.
    std::shared_ptr<const SourceIdentities> sourceIdentities_;
    MidiRef virtualSrc_ = 0;
    MidiRef virtualDst_ = 0;
    MidiRef virtualSrcXT_ = 0;
    MidiRef virtualDstXT_ = 0;

    QueueState q_;
    std::array<SettleWatch, 2> settleWatch_; // main thread
    // Main thread: the destinations listed last, and the wake-up for deferred CC toggles.
    std::vector<std::string> knownDestinations_;
    TimerHandle ccRetry_;
    ConnectionBag mirrors_;
    std::unique_ptr<SerialQueue> midiQueue_;
};

} // namespace strata
