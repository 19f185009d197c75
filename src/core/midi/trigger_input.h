#pragma once

#include "midi/ardour_cc_mutes.h"
#include "midi/device_identity.h"
#include "midi/output_path.h"
#include "midi/port_directory.h"
#include "midi/reflex_snapshot.h"
#include "model/setlist.h"
#include "platform/settings.h"
#include "platform/signal.h"

#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace strata {

class MidiService;

// Section jump triggers of the current song, by section index.
using JumpTriggerTable = std::map<int, AdvanceTrigger>;
// Triggers of the hand-fired Moments of the current section, by Moment id.
using MomentTriggerTable = std::vector<std::pair<Uuid, AdvanceTrigger>>;

// Trigger input and learning: what arrives on the input port fires NEXT, a section jump, a
// Moment or a program change, or ends a learn.
//
// Triggers name their device by its stable identity (device_identity.h): a trigger learned from a
// source stores that source's identity, and fires from whichever source answers to it now, so a
// footswitch keeps working when it comes back under another number. A press fires one thing: a
// section jump before a Moment of the current section before NEXT.
//
// The reflex: a trigger that moves the position (NEXT, a jump trigger, a program change) is
// answered on the input thread from the last ReflexSnapshot the main thread published, so that the
// mute output never waits for a busy main thread. The input thread queues the mutes for the new
// position at once (the ordinary output path, so banks, settles and shadows stay right) and then
// posts reflexMoved; the main thread takes the position over. Until it has, the input side steps
// on from its own latest position. What the snapshot cannot answer (no snapshot, a learn in
// progress, another song, a move within the section) goes to the main thread as before.
//
// Threads: the main thread owns the trigger settings and the source listing; the input threads
// read copies of them (the learn flag, the NEXT trigger and its source, the jump and Moment
// triggers) under a lock, and hand every event to the main thread in the order they parsed it.
// The events are the service's own (MidiService's published fields and signals).
class TriggerInput {
public:
    // How each listed source is recognised, by reference.
    using SourceIdentities = std::map<MidiRef, DeviceIdentity>;
    static constexpr std::string_view kAdvanceTriggerKey = "strataAdvanceTrigger";
    // Bytes of one packet looked at.
    static constexpr std::size_t kMaxPacketBytes = 256;

    TriggerInput(MidiService& service, PortDirectory& ports, OutputPath& out, ArdourCCMutes& cc,
                 Settings& settings);

    // Read handler of the input port; backend thread. `srcRefCon` carries the source's reference,
    // 0 when the input came without one.
    void handleIncoming(const MidiPacketList& packets, std::uint64_t srcRefCon);
    // Parses one packet from a source named `srcName`; backend thread.
    void parsePacketBytes(const std::uint8_t* bytes, std::size_t length, bool isTriggerDevice,
                          bool learning, std::string_view learnSource, std::string_view srcName);

    // The sources as listed now. Main thread.
    void setSources(std::shared_ptr<const SourceIdentities> sources);
    // Whether a source that answers to a trigger's stored device is present now. Main thread.
    bool deviceConnected(std::string_view deviceName) const;
    // Finds the NEXT trigger's source among the current sources. Main thread.
    void resolveTriggerSource();
    MidiRef footswitchSource() const { return footswitchSrc_; }
    void loadAdvanceTrigger();
    void persistAdvanceTrigger();
    // Any thread.
    void setJumpTriggers(JumpTriggerTable triggers);
    void setMomentTriggers(MomentTriggerTable triggers);
    // Main thread.
    void publishReflex(std::shared_ptr<const ReflexSnapshot> snapshot);
    // The cue link's FIRE, answered by the same reflex as a press when the snapshot can: true
    // when the mutes are queued and the move is on its way to the main thread (reflexMoved). A
    // learn in progress does not take it. Any thread but a real-time one.
    bool answerCue(std::int64_t song, std::int64_t section);
    // A NEXT or a section jump from the band remote: answered by the reflex as a press is, else
    // handed to the main thread as a press's fallback is (advancePressed, jumpRequested). Exactly
    // one of the two happens. A learn in progress does not take it: it is no MIDI input. Any thread
    // but a real-time one.
    void remoteMove(ReflexTrigger trigger, std::int64_t section);

    // Answers prepared ahead (prepared_output.h). The plan says what each trigger would do from
    // where the input side stands; it is rebuilt, and the prepared answers withdrawn, before
    // anything moves that position, so an answer is only ever claimed for the position it was
    // prepared from. A claimed answer is taken over here as a move, exactly once, by whoever
    // learns of it first: the input thread when the press reaches it, or any thread that
    // withdraws the answers under the reflex lock before a move of its own.
    //
    // MIDI queue: hands `set` (prepared for plan `planId`) to the backend as `generation`.
    enum class PreparedHandOver { handed, stale, refused };
    PreparedHandOver handOverPrepared(std::uint64_t planId, std::uint64_t generation,
                                      const PreparedAnswerSet& set);
    // Input thread: a press claimed answer `index` of `generation` and it went out.
    void answered(std::uint64_t generation, std::size_t index);
    // Rebuilds the plan (after the triggers or the sources changed). Any thread but a real-time
    // one.
    void replan();

private:
    // What the input threads read of main-thread state; under lock_. The triggers' devices are
    // kept in stable form.
    struct InputView {
        std::shared_ptr<const JumpTriggerTable> jumpTriggers;
        std::shared_ptr<const MomentTriggerTable> momentTriggers;
        std::shared_ptr<const SourceIdentities> sources;
        std::shared_ptr<const AdvanceTrigger> advanceTrigger;
        MidiRef footswitchSrc = 0;
        bool learning = false;
    };

    InputView inputView() const;
    // `source` is how the packet's source is recognised.
    void parseInput(const std::uint8_t* bytes, std::size_t length, bool isTriggerDevice,
                    bool learning, std::string_view learnSource, const DeviceIdentity& source,
                    const InputView& view);
    // Ends a learn with a result (delivered on the main thread).
    void finishLearn(AdvanceTrigger trigger);
    // Answers a move on the input side when the reflex snapshot can; false leaves it to the main
    // thread. Input threads.
    // `ordinaryThread`: a move decided off the input thread (a cue, the remote), which may send
    // a prepared answer itself.
    bool tryReflex(ReflexTrigger trigger, std::int64_t argument, bool learning,
                   std::int64_t song = -1, bool ordinaryThread = false);
    // A move decided on an ordinary thread, answered with the prepared answer for its target when
    // one is armed: its bytes go straight to the MIDI system, without the MIDI queue's hop.
    bool sendPreparedLocked(ReflexTrigger trigger, std::int64_t argument, std::int64_t song);

    MidiService& service_;
    PortDirectory& ports_;
    OutputPath& out_;
    ArdourCCMutes& cc_;
    Settings& settings_;
    ServiceTasks& tasks_;

    mutable std::mutex lock_;
    InputView view_; // guarded by lock_

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

    // Prepared answers; guarded by reflexLock_.
    void replanLocked();
    // Learns what became of the answers last handed over, withdrawing them, and takes over the
    // move of a press that claimed one.
    void settleClaimLocked();
    // Where `trigger` leads from the reflex's own position (a snapshot is in place).
    std::optional<ReflexPosition> targetLocked(ReflexTrigger trigger, std::int64_t argument,
                                               std::int64_t song) const;
    void absorbLocked(std::uint64_t generation, std::size_t index, const ReflexPlan& plan);
    std::shared_ptr<const ReflexPlan> plan_;
    std::uint64_t nextPlanId_ = 0;
    std::uint64_t preparedGeneration_ = 0; // handed over and not yet settled (0: none)
    std::shared_ptr<const ReflexPlan> preparedPlan_;
    std::uint64_t absorbedGeneration_ = 0; // the latest claim taken over

    MidiRef footswitchSrc_ = 0; // main thread's copy; the input threads read view_
    // Main thread's copy of view_.sources.
    std::shared_ptr<const SourceIdentities> sources_;
    ConnectionBag mirrors_;
};

} // namespace strata
