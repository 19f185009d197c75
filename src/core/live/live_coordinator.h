#pragma once

#include "cuelink/cadenzo_link.h"
#include "engine/app_state.h"
#include "live/setlist_backups.h"
#include "live/step_clock.h"
#include "midi/midi_service.h"
#include "platform/beat_session.h"
#include "platform/lifetime.h"
#include "platform/main_loop.h"
#include "platform/settings.h"
#include "platform/signal.h"
#include "platform/thread_check.h"

#include <cstdint>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace strata {

// Sections that Cadenzo's setlist took out of a local song: the song's last ones, kept whole (ids,
// steps, Moments, triggers) so that they can be put back.
struct DroppedSections {
    Uuid songID;
    std::string songName;
    // The index the first of them had in the song.
    std::size_t from = 0;
    std::vector<Section> sections;
};

// The hub between the performance state, the MIDI engine and the cue link. It turns every event
// of MidiService and CadenzoLink into a call on AppState, decides when the DAW's mute state is
// sent (by watching sectionStateKey), keeps the MIDI engine's jump-trigger table in step with the
// current song (by watching jumpTriggerKey), fires bar-anchored Moments from Cadenzo's live state,
// follows Cadenzo's jumps and setlist snapshots, and runs the auto-advance clock.
//
// It keeps no state of its own beyond the last seen keys, the clock and the view flags; everything
// else is recomputed from AppState when needed. One instance per process, created after the three
// objects it joins and destroyed before them. Main thread only.
//
// Key watching: every AppState change posts one re-evaluation (several changes in one main-loop
// turn give one), which compares both keys with the values seen last and runs each key's action
// once when its value differs. So the action runs after the event that caused the change has been
// handled completely, once per actual change, and never for the value the keys had at start.
// Handlers that send at once (step changes through pushNow, "FIRE", live ticks, the toolbar) are
// not followed by a second send of the same state from the watcher: in CC Mute mode every send
// repeats all of the layers' CCs, and each change is meant to reach the DAW once.
class LiveCoordinator {
public:
    // Settings keys read and written by the first-run flow.
    static constexpr std::string_view kShowModeChooserKey = "showModeChooserAtStartup";
    static constexpr std::string_view kHasSeenQuickStartKey = "hasSeenQuickStart";
    // The delay between the window appearing and the quick start being offered.
    static constexpr Duration kQuickStartDelay = std::chrono::milliseconds(400);

    // Auto-advance: every bar has four beats; without any tempo, 120 beats per minute.
    static constexpr double kBeatsPerBar = 4.0;
    static constexpr double kFallbackTempo = 120.0;
    // Delays beyond this (a tempo of a fraction of a beat per minute, say) are not armed: they
    // could never come due in a show, and the clock's time arithmetic has limits.
    static constexpr double kMaxAdvanceSeconds = 1.0e8;
    // Bank stepper limits of the toolbar.
    static constexpr std::int64_t kMaxBankOffset = 248;
    // A learn that hears nothing usable ends by itself after this long, and every trigger works
    // again (learning swallows every press meanwhile).
    static constexpr Duration kLearnTimeout = std::chrono::seconds(30);

    // Subscribes to the event streams at once. `backupLocation` is where the setlist file lives;
    // copies of the set are kept beside it before Cadenzo's setlist drops sections.
    LiveCoordinator(AppState& app, MidiService& midi, CadenzoLink& link, MainLoop& loop,
                    Settings& settings, StoreLocation backupLocation);
    ~LiveCoordinator();
    LiveCoordinator(const LiveCoordinator&) = delete;
    LiveCoordinator& operator=(const LiveCoordinator&) = delete;

    // ---- The two watched keys ----------------------------------------------------------------

    // Everything the mute output depends on: it changes exactly when the output may need
    // resending. Layers in the set's order; the muted layers as a set (the set's own order never
    // makes two states differ); the bank is the offset as the surface sees it.
    struct SectionState {
        struct Route {
            Uuid layer;
            std::string portName;
            std::int64_t channel = 1;
            std::optional<std::int64_t> muteCC;
            friend bool operator==(const Route&, const Route&) = default;
        };
        std::int64_t song = 0, section = 0, step = 0;
        ControlMode mode = ControlMode::ccMute;
        std::optional<std::string> mackiePort;
        std::int64_t trackOffset = 0;
        DawHost host = DawHost::logic;
        UuidSet muted;
        std::vector<Route> routes;
        friend bool operator==(const SectionState&, const SectionState&) = default;
    };
    static SectionState sectionStateKey(const AppState& app);
    // The current song's jump triggers, section by section; no song, no triggers.
    struct JumpTriggers {
        std::optional<std::int64_t> song;
        std::vector<std::optional<AdvanceTrigger>> bySection;
        friend bool operator==(const JumpTriggers&, const JumpTriggers&) = default;
    };
    static JumpTriggers jumpTriggerKey(const AppState& app);
    // The triggers of the current section's hand-fired Moments; no section, no triggers.
    struct MomentTriggers {
        std::optional<std::pair<std::int64_t, std::int64_t>> songAndSection;
        std::vector<std::pair<Uuid, AdvanceTrigger>> triggers;
        friend bool operator==(const MomentTriggers&, const MomentTriggers&) = default;
    };
    static MomentTriggers momentTriggerKey(const AppState& app);

    // ---- Appearance ----------------------------------------------------------------------------

    // Starts driving the DAW: installs AppState.pushNow, pushes the mute state, hands the jump
    // triggers to the MIDI engine and arms the auto-advance clock. The program calls it before
    // it builds the window, so that the bank moves a Mackie surface needs first go on while the
    // window loads. Only the first call does anything.
    void start();
    // The main view appeared: start() if that has not been done, then the first-run steps.
    // Only the first call does anything.
    void appear();
    bool hasAppeared() const { return appeared_; }

    // ---- Operations ----------------------------------------------------------------------------

    // Sends the current mute state (returns at once; the MIDI engine sends on its queue).
    void pushSectionState();
    // ALL ON: every visible layer sounds, and a Moment's override is cleared.
    void panic();
    // Hands the current song's jump triggers to the MIDI engine.
    void replaceJumpTriggers();
    // Hands the current section's Moment triggers to the MIDI engine.
    void replaceMomentTriggers();
    // Times the current step afresh from now: cancels the clock, and arms it when Cadenzo plays
    // and the step has bars. Position changes and the start of Cadenzo's playing do this by
    // themselves; anything else keeps the step's running time (see followAutoAdvance).
    void scheduleAutoAdvance();

    // Event handlers (also callable directly).
    void handleProgramChange(std::int64_t n);
    void handleFire(const Fire& fire);
    void handleLiveTick(const LiveState& state);
    // The MIDI clock's state, as the input thread derived it (live_clock_time.cpp). While the set
    // takes its time from the clock, a step's end is a count of clocks, Moments count bars of
    // clocks, and Cadenzo's live state times nothing (its FIRE still jumps).
    void handleClockState(const ClockState& state);
    // The network beat session the set may take its time from (live_link_time.cpp); none: that
    // source is never heard. The session joins the network only while the set's time source is
    // Link. Not owned; it must outlive the coordinator or be replaced by none first.
    void setBeatSession(BeatSession* session);
    void applySnapshot(const SetlistSnapshot& snapshot);
    void handleLearned(const std::optional<AdvanceTrigger>& trigger);
    // A Moment's trigger was pressed: the Moment fires as by its TEST button, when it is still a
    // hand-fired Moment of the current section.
    void handleMomentTrigger(const Uuid& momentID);
    // The MIDI engine moved the position on its own and queued the mutes for it: the position is
    // taken over, and nothing is sent again unless what the engine sent differs from what the
    // state here asks for now (the set was edited meanwhile, say).
    void adoptReflexMove(const ReflexMove& move);
    // Hands the MIDI engine what it needs to answer moves on its own (nothing before start() or
    // without a current section). Every change of the state does this by itself.
    void publishReflex();

    // ---- The toolbar ---------------------------------------------------------------------------

    // The toolbar's controls that change what the DAW is driven with. Each writes the state, then
    // forgets the Mackie shadow and sends the mute state at once.
    void setMode(StrataMode mode);
    void setControlMode(ControlMode mode);
    // Empty or none: the main surface "Strata".
    void setMackiePort(std::optional<std::string> port);
    // Clamped to 0...248 and rounded down to a bank of 8; nothing happens when it stays the same.
    void setMackieTrackOffset(std::int64_t offset);
    void stepBank(int banks) { setMackieTrackOffset(currentBankOffset() + 8 * banks); }
    std::int64_t currentBankOffset() const;
    // The DAW host; Logic Pro / MainStage, the default, is stored as no host at all. Nothing
    // happens when it stays the same.
    void setDawHost(DawHost host);
    // "Resync CC mutes" (Ardour): every track is taken to sound, then the current state is sent.
    void resyncCCMutes();
    // "Save Ardour MIDI map…": the binding map for the set's layers (see ArdourMidiMap). On
    // failure `error` (when given) receives the reason and one "[MIDI] ..." line is printed.
    bool saveArdourMidiMap(const std::filesystem::path& path, std::string* error = nullptr);

    // The trigger menu, the grid's jump-trigger chips and the Moment editor's trigger control.
    // Starting a learn while another one runs replaces it.
    void learnNextTrigger();
    void clearNextTrigger();
    void learnJumpTrigger(const Uuid& sectionID);
    void learnMomentTrigger(const Uuid& momentID);
    // "Cancel Learning", Escape, a second click on a listening control, and the time-out: the
    // learn ends without a result and every trigger stays as it was.
    void cancelLearning();

    // The Moment editor's TEST: fires the Moment by hand, sends its program and control changes,
    // then the mute state.
    void testMoment(const Moment& moment);

    // ---- Musical time -------------------------------------------------------------------------

    // The set's time source and the clock's device; each writes the set, and the step is timed
    // afresh from the new source.
    void setTimeSource(TimeSource source);
    void setClockDevice(std::optional<std::string> device);
    bool usesClock() const { return app_.setlist().effectiveTimeSource() == TimeSource::midiClock; }
    bool usesLink() const { return app_.setlist().effectiveTimeSource() == TimeSource::link; }
    std::string clockDeviceName() const { return app_.setlist().clockDevice.value_or(""); }
    // The set's time source or clock device may have changed (any change of the set notifies).
    Signal<> timeSourceChanged;
    // What the toolbar shows of the clock: whether it is heard at all (a message within the last
    // two seconds), whether it plays, and its tempo rounded to whole beats per minute. With Link:
    // heard while the session runs, and the number of other peers in it.
    struct ClockReading {
        bool heard = false;
        bool playing = false;
        std::optional<std::int64_t> bpm;
        std::optional<std::int64_t> peers;
        friend bool operator==(const ClockReading&, const ClockReading&) = default;
    };
    Published<ClockReading> clockReading{};
    // Bars a section is taken to last when its steps do not all have bar counts: "after N bars"
    // anchors count up from its start, "last N bars" ones never come due.
    static constexpr std::int64_t kOpenSectionBars = 1 << 20;
    // Silence after which the clock counts as stopped.
    static constexpr Duration kClockSilence = std::chrono::seconds(2);

    // ---- What the window shows about the live state --------------------------------------------

    // True from ALL ON until the next send of the section's own mix (a change of position, an
    // edit, a control of the toolbar): every driven layer sounds in the DAW meanwhile.
    Published<bool> allOn{false};
    // A Cadenzo snapshot removed sections of the current song; emitted after the change.
    Signal<const DroppedSections&> sectionsDropped;
    // Puts dropped sections back into their song where they stood (those of them the song does
    // not hold again already), the performer staying on the section they are on. Returns whether
    // anything was put back; nothing happens once the song is gone.
    bool restoreSections(const DroppedSections& dropped);

    // ---- View flags of the first-run flow (the sheets bind to them) ----------------------------

    Published<bool> showSetup{false};
    Published<bool> showModeChooser{false};
    Published<bool> showQuickStart{false};

    // The mode chooser's "CONTINUE" on a launch that showed it: after the current event, the MIDI
    // setup guide comes up.
    void modeChooserContinued();
    // "showModeChooserAtStartup", read tolerantly: true when absent or not a Boolean.
    bool showModeChooserAtStartup() const;
    void setShowModeChooserAtStartup(bool show);

    // ---- Inspection ----------------------------------------------------------------------------

    // The layers driven now: the first 8 in Essentials, the first 16 in Pro.
    std::vector<Layer> activeLayers() const;
    StepClock& stepClock() { return clock_; }
    SetlistBackups& backups() { return backups_; }

private:
    // How the current step is being timed. Bars are counted while Cadenzo plays at a usable
    // tempo; a change of tempo (or of the step's bars) re-times what is left of the step, so that
    // the step still ends on its bar.
    struct StepTiming {
        // The position: song, section and step, and which step that is.
        std::int64_t song = 0;
        std::int64_t section = 0;
        std::int64_t step = 0;
        std::optional<Uuid> stepID;
        std::optional<std::int64_t> bars; // the step's advanceBars
        bool playing = false;             // Cadenzo reports that it plays
        double tempo = 0;                 // beats per minute; usable only when finite and > 0
        bool counting = false;            // playing at a usable tempo: bars go by
        TimePoint since{};                // when counting at `tempo` began
        double barsDone = 0;              // bars counted before `since`
    };

    void onStateChanged();
    void evaluateKeys();
    // The step's timing as of now, counted from `from`.
    StepTiming timingNow(TimePoint from) const;
    // Times the current step afresh, counted from `from`: not later than now, but for the
    // auto-advance's own step change, made a send lead ahead of its bar and counted from it.
    void armAutoAdvance(TimePoint from);
    // After any change: a new position is timed afresh from `changedAt`; a new tempo or bar
    // count re-times the rest of the step; anything else leaves the clock alone.
    void followAutoAdvance(TimePoint changedAt);
    void scheduleAdvance(TimePoint due);
    // The clock's side of the three above: the step's end as a tick of the clock.
    void armClockAdvance(bool newSection);
    void followClockAdvance();
    void advanceOnClock();
    // The clock's bars to the section's end, for the Moments; as Cadenzo's "barsToNext".
    std::optional<std::int64_t> clockBarsToNext() const;
    void applyClockSettings();
    void watchClockSilence();
    void publishClockReading();
    void checkClockSilence();
    // Both tick sources, the MIDI clock and Link (in clocks of 24 a beat), share the tick
    // arithmetic above; this is what follows the source's new state (already in clockLive_).
    // `startTick`: where playing began, when that is known better than "the latest tick".
    void followTicks(bool wasPlaying, std::optional<std::int64_t> startTick);
    bool countsTicks() const { return usesClock() || usesLink(); }
    // Link: reads the session, follows it like a clock, and wakes up again on the next tick
    // that matters (the step's end, the section's next bar line), a send lead before it.
    // `wakeTick`: the tick a wake-up is for, decided as of its time when that is still ahead.
    void followLink(std::optional<std::int64_t> wakeTick = std::nullopt);
    void scheduleLinkWake();
    // The next tick that matters: the step's end or the section's next bar line, whichever
    // comes first (Moments count bars from the section's start).
    std::int64_t nextTickThatMatters() const;
    // MIDI clock with a send lead: a wake-up a send lead before the next tick that matters, as
    // the clock's latest tick and tempo place it; there the tick is decided as reached.
    void scheduleClockWake();
    void decideClockAhead(std::int64_t tick, TimePoint due);
    void forgetTicks();
    void runFirstRunSteps();
    void sendMomentMessages(const Moment& moment);
    void beginLearning(AppState::LearnTarget target);

    AppState& app_;
    MidiService& midi_;
    CadenzoLink& link_;
    MainLoop& loop_;
    Settings& settings_;

    StepClock clock_;
    SetlistBackups backups_;

    SectionState lastSectionStateKey_;
    JumpTriggers lastJumpTriggerKey_;
    MomentTriggers lastMomentTriggerKey_;
    // The section state sent by a push since the last re-evaluation, if any.
    std::optional<SectionState> pushedKey_;
    bool evaluationPosted_ = false;
    // When the first change of the turn being re-evaluated happened.
    std::optional<TimePoint> changedAt_;
    // While the clock's own step change runs, or a Link tick decided ahead of its time: the time
    // it is due (its mutes and Moment messages are sent for it).
    std::optional<TimePoint> advancingAt_;
    std::optional<StepTiming> timing_;
    // Whether the last live state said that Cadenzo plays (false once the link is lost).
    bool cadenzoPlaying_ = false;
    // The clock: its last state, the tick the current step and section started on, the tick the
    // step ends on, and when the main loop last heard from it.
    std::optional<ClockState> clockLive_;
    std::int64_t stepStartTick_ = 0;
    std::int64_t sectionStartTick_ = 0;
    std::optional<std::int64_t> clockDueTick_;
    // While the clock's own step change runs: the tick it was due on.
    std::optional<std::int64_t> advancingTick_;
    TimePoint clockHeardAt_{};
    bool clockHeard_ = false;
    TimerHandle clockWatch_;
    // Link: the session and its change subscription.
    BeatSession* beats_ = nullptr;
    Connection beatsChanged_;
    // Either tick source: the wake-up before the next tick that matters.
    TimerHandle tickWake_;
    std::size_t linkPeers_ = 0;
    bool linkJoined_ = false;
    // A tick decided a send lead ahead of its time, and that time: it counts as reached until
    // then (Link) or until the clock's own ticks reach it (MIDI clock), so that nothing is
    // decided or sent twice for it.
    std::optional<std::int64_t> aheadTick_;
    TimePoint aheadAt_{};
    bool started_ = false;
    bool appeared_ = false;
    // While a move of the MIDI engine is being taken over, the snapshot is published once at its
    // end rather than after each of its writes.
    bool adopting_ = false;
    // Mute sends made here (pushes and panics); each snapshot carries the count it was built at.
    std::uint64_t sends_ = 0;

    TimerHandle quickStartTimer_;
    // Runs while a learn is in progress; its end cancels the learn.
    TimerHandle learnTimer_;
    ConnectionBag subscriptions_;
    // Posted tasks hold this weakly, so none runs against a destroyed coordinator.
    ThreadCheck thread_;
    Lifetime<LiveCoordinator> lifetime_;
};

} // namespace strata
