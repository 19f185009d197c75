#pragma once

#include "midi/ardour_cc_mutes.h"
#include "midi/clock_input.h"
#include "midi/device_identity.h"
#include "midi/mackie_output.h"
#include "midi/output_path.h"
#include "midi/port_directory.h"
#include "midi/prepared_output.h"
#include "midi/reflex_snapshot.h"
#include "midi/service_tasks.h"
#include "midi/surface_feedback.h"
#include "midi/trigger_input.h"
#include "model/setlist.h"
#include "platform/main_loop.h"
#include "platform/midi_backend.h"
#include "platform/serial_queue.h"
#include "platform/settings.h"
#include "platform/signal.h"
#include "platform/thread_check.h"

#include <array>
#include <atomic>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace strata {

// The one object through which Strata talks MIDI: its client, ports and the virtual endpoints
// "Strata" and "Strata XT" that the DAW sees as a Mackie Control surface and extender, the MIDI
// queue and the liveness of everything handed to other threads. The work is done by its parts:
// the port directory (port_directory.h), the Mackie output (mackie_output.h), CC mutes
// (ardour_cc_mutes.h), the surface-feedback parser (surface_feedback.h) and trigger input and
// learning (trigger_input.h); each says how it works.
//
// Threads:
// - main thread: construction, destruction, refreshPorts, the trigger settings, panicAllOn, and
//   every published field and event (other threads hand them over through MainLoop::post, so
//   observers see events in the order the input was parsed);
// - midiQueue: all output and all feedback parsing; it alone owns the Mackie shadow, the bank
//   positions, the SysEx accumulator, the LCD mirror and the last published names;
// - the backend's threads: the read handlers copy what they need and hand it on.
//
// Every handler, queue job and posted task checks a shared liveness token first, so nothing runs
// against a destroyed service; destruction waits for handlers in flight and stops the queue.
//
// Mute output follows the host the set names (DawHost) and the control mode: Mackie Control
// (mackie_output.h), or CC mutes, which carry the state for Logic and toggle for Ardour
// (ardour_cc_mutes.h).
class MidiService {
public:
    static constexpr std::string_view kClientName = "Strata";
    static constexpr std::string_view kOutputPortName = "Strata Out";
    static constexpr std::string_view kInputPortName = "Strata In";
    static constexpr std::string_view kAdvanceTriggerKey = TriggerInput::kAdvanceTriggerKey;
    static constexpr std::string_view kQueueLabel = "org.strata.midiQueue";
    // Bytes of one packet looked at, on input and feedback alike.
    static constexpr std::size_t kMaxPacketBytes = TriggerInput::kMaxPacketBytes;
    static constexpr std::size_t kMaxSysexBytes = SurfaceFeedbackParser::kMaxSysexBytes;
    static constexpr std::size_t kLcdCells = mackie::kLcdCells;
    static constexpr int kMackieSlots = MackieOutput::kSlots;
    static constexpr std::int64_t kMaxBankOffset = MackieOutput::kMaxBankOffset;
    static constexpr Duration kSettleTime = MackieOutput::kSettleTime;
    static constexpr int kSettleCycles = MackieOutput::kSettleCycles;
    static constexpr Duration kConnectionSettle = MackieOutput::kConnectionSettle;
    static constexpr Duration kSettleLimit = MackieOutput::kSettleLimit;
    static constexpr Duration kSettlePoll = MackieOutput::kSettlePoll;
    static constexpr Duration kEchoHold = ArdourCCMutes::kEchoHold;

    // Who connects the sources to the input port at start: the constructor, or its caller with
    // connectSources() (each connection is a round trip to the MIDI system, and the first push
    // does not need them).
    enum class SourceConnection { atConstruction, byCaller };
    MidiService(MidiBackend& backend, MainLoop& loop, Settings& settings,
                SourceConnection sources = SourceConnection::atConstruction);
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
    // The MIDI clock source's state changed (clock_input.h): after every message of it.
    Signal<const ClockState&> clockChanged;
    // The device whose MIDI clock is followed; none follows nothing. Main thread.
    void setClockDevice(std::optional<std::string> device) { clock_.setDevice(std::move(device)); }
    // What a choice of the source named `name` (an entry of `sources`) is stored as: the device a
    // trigger learned from it stores, so that it is found again after a replug or a reboot; the
    // stable form of `name` when no such source is listed. Main thread.
    std::string deviceOfSource(std::string_view name) const;
    // The first listed source that a stored device names. Main thread.
    std::optional<std::string> sourceOfDevice(std::string_view storedDevice) const;
    ClockInput& clockInput() { return clock_; }

    // ---- Threads
    // --------------------------------------------------------------------------------- The threads
    // a trigger's mutes pass through here: the MIDI queue, which turns decisions into bytes, and
    // the MIDI system's input thread (if it has one), which reads presses and decides. Runs `job`
    // once on each, soon, with the thread's name for the log; the program sets their scheduling
    // this way. Both threads sleep until work arrives. Any thread.
    void runOnMutePathThreads(std::function<void(std::string_view thread)> job);

    // ---- Port directory -------------------------------------------------------------------------
    // Rebuilds `destinations` and `sources`. Main thread.
    void refreshPorts();
    // Connects every listed source to the input port, with its own reference as the value.
    void connectSources();
    // Display name, else name, else "Unknown".
    std::string endpointName(MidiRef ref) const { return ports_.endpointName(ref); }
    // The first destination in system order whose endpointName is exactly `name`.
    std::optional<MidiRef> systemDestinationRef(std::string_view name) const {
        return ports_.scanDestination(name);
    }
    // Whether a source that answers to a trigger's stored device is present now (as of the last
    // refreshPorts). Main thread.
    bool deviceConnected(std::string_view deviceName) const {
        return input_.deviceConnected(deviceName);
    }
    // Throttled activity stamps; any thread.
    void noteTx() { out_.noteTx(); }
    void noteMackieRx();

    // ---- Mute output ----------------------------------------------------------------------------
    // Any thread; returns at once. The arguments are copied into one midiQueue job, which also
    // keeps them as the state to bring a newly connected DAW to. In Mackie mode, presses that
    // depend on a bank move follow once the bank has settled (mackie_output.h).
    // `due`: when the send is meant to reach the DAW (on the main loop's clock), for a send made
    // ahead of its time (sendLead); what the job sends at once is timed to it (and what waits for
    // a bank to settle follows as soon as it has). None: as soon as possible.
    void sendSectionState(std::vector<Layer> allLayers, UuidSet mutedIDs, ControlMode mode,
                          std::optional<std::string> mackiePort, std::int64_t mackieTrackOffset,
                          DawHost host = DawHost::logic, std::optional<TimePoint> due = {});
    // How long before its due time a timed send should be made (zero: when it is due). Any
    // thread.
    Duration sendLead() const { return out_.sendLead(); }
    // Forgets both bank positions (on midiQueue), so the next send positions the banks again and
    // lets them settle before it presses anything (MackieOutput::forgetPositions).
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
    // Any thread; one midiQueue job each. Values are clamped to their MIDI ranges. `due`: as for
    // sendSectionState (a Moment decided ahead of its bar line sends its changes for it).
    void sendProgramChange(std::int64_t program, std::int64_t channel, std::string portName,
                           std::optional<TimePoint> due = {});
    void sendControlChange(std::int64_t cc, std::int64_t value, std::int64_t channel,
                           std::string portName, std::optional<TimePoint> due = {});

    // ---- Surface feedback -----------------------------------------------------------------------
    // Read handler of the virtual destination "Strata"; backend thread.
    void handleMackieFeedback(const MidiPacketList& packets);
    // Read handler of the virtual destination "Strata XT": only its mute LEDs are used (slots
    // 8-15); the extender's display carries no track names we show. Backend thread.
    void handleExtenderFeedback(const MidiPacketList& packets);

    // ---- Trigger input and learning (trigger_input.h) -------------------------------------------
    void handleIncoming(const MidiPacketList& packets, std::uint64_t srcRefCon) {
        input_.handleIncoming(packets, srcRefCon);
    }
    void parsePacketBytes(const std::uint8_t* bytes, std::size_t length, bool isTriggerDevice,
                          bool learning, std::string_view learnSource, std::string_view srcName) {
        input_.parsePacketBytes(bytes, length, isTriggerDevice, learning, learnSource, srcName);
    }
    void resolveTriggerSource() { input_.resolveTriggerSource(); }
    void loadAdvanceTrigger() { input_.loadAdvanceTrigger(); }
    void persistAdvanceTrigger() { input_.persistAdvanceTrigger(); }
    void setJumpTriggers(JumpTriggerTable triggers) { input_.setJumpTriggers(std::move(triggers)); }
    void setMomentTriggers(MomentTriggerTable triggers) {
        input_.setMomentTriggers(std::move(triggers));
    }
    // What the input side answers moves from from now on; none stops it answering any. Main
    // thread. A snapshot describes the main thread's state after every reflexMoved delivered so
    // far (observers take each move over while it is delivered).
    void publishReflex(std::shared_ptr<const ReflexSnapshot> snapshot) {
        input_.publishReflex(std::move(snapshot));
    }
    // A jump commanded over the cue link (a FIRE: section `section` of song `song`), answered
    // at once from the published snapshot when it can be, as a press is; true when the mutes are
    // queued and reflexMoved will follow on the main thread. False (nothing done) leaves the jump
    // to the main thread. Any thread but a real-time one; false once the service is going.
    bool answerCueJump(std::int64_t song, std::int64_t section);
    // NEXT (`trigger` next) or a jump to `section` (`trigger` jump) from the band remote, taking
    // the footswitch's way: the reflex when the snapshot answers it, else advancePressed or
    // jumpRequested on the main thread; exactly one of them. Any thread but a real-time one;
    // nothing once the service is going.
    void remoteMove(ReflexTrigger trigger, std::int64_t section);
    // The input side's plan changed (prepared_output.h); any thread but a real-time one.
    void planChanged(std::shared_ptr<const ReflexPlan> plan);

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
    // Whether answers prepared ahead are with the MIDI system now (prepared_output.h), as the
    // queue sees it after taking in any that a press claimed. Not from the queue itself.
    bool answersPrepared();
    // The source whose presses count for NEXT, 0 when none.
    MidiRef footswitchSource() const { return input_.footswitchSource(); }
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
    SurfacePorts surfacePorts(bool extender) const;

private:
    void sendSectionStateImpl(SectionRequest request);
    // Sends what the last request still needs (after a settle, say).
    void pump();
    void panicImpl(std::vector<Layer> allLayers, ControlMode mode,
                   std::optional<std::string> mackiePort, std::int64_t mackieTrackOffset,
                   DawHost host);
    // A DAW connected to one of our surface ports.
    void surfaceConnected(MidiRef virtualSource, Stamp at);
    // One chunk of a unit's feedback, on midiQueue.
    void feedSurface(const std::uint8_t* bytes, std::size_t length, bool extender,
                     const Stamp& arrived);
    void publishSlotNames();

    MidiBackend& backend_;
    MainLoop& loop_;
    std::shared_ptr<ServiceLife> life_;
    std::unique_ptr<SerialQueue> midiQueue_;
    ServiceTasks tasks_;
    std::atomic<Duration::rep> lastRxPublish_;

    MidiRef client_ = 0;
    MidiRef outPort_ = 0;
    MidiRef inPort_ = 0;
    MidiRef virtualSrc_ = 0;
    MidiRef virtualDst_ = 0;
    MidiRef virtualSrcXT_ = 0;
    MidiRef virtualDstXT_ = 0;

    // Main thread: the destinations listed last.
    std::vector<std::string> knownDestinations_;

    // midiQueue: the last state asked for, the surface feedback read so far, the names last
    // published.
    std::optional<SectionRequest> lastRequest_;
    SurfaceFeedbackParser feedback_;
    SlotNames lastPublishedNames_;

    ThreadCheck mainThread_;
    PortDirectory ports_;
    // The listed sources' names and identities, in the order of `sources` (main thread).
    std::vector<std::pair<std::string, DeviceIdentity>> sourceIdentities_;
    OutputPath out_;
    MackieOutput mackie_;
    ArdourCCMutes cc_;
    ClockInput clock_;
    TriggerInput input_;
    PreparedOutput prepared_;
};

} // namespace strata
