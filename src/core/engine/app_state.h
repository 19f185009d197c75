#pragma once

#include "engine/autosave.h"
#include "engine/moment_fire.h"
#include "engine/moment_scheduler.h"
#include "engine/visible_layers.h"
#include "model/setlist.h"
#include "model/store.h"
#include "platform/lifetime.h"
#include "platform/main_loop.h"
#include "platform/owned_published.h"
#include "platform/settings.h"
#include "platform/signal.h"
#include "platform/thread_check.h"

#include <chrono>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace strata {

class AppState;

// A two-way binding to the Moments of one section of the current song, for the Moments editor.
// It holds the state weakly: once the AppState is gone, reading gives an empty list and writing
// does nothing.
class MomentsBinding {
public:
    std::vector<Moment> get() const;
    void set(std::vector<Moment> moments) const;

    const Uuid& sectionID() const { return sectionID_; }

private:
    friend class AppState;
    MomentsBinding(Lifetime<AppState>::Watch state, Uuid sectionID)
        : state_(std::move(state)), sectionID_(sectionID) {}

    Lifetime<AppState>::Watch state_;
    Uuid sectionID_;
};

// The live performance state: the set being played and edited, the position in it, the feature
// level, the learn target and the bookkeeping of Moments. One instance lives for the whole run;
// everything here runs on the main thread.
//
// Published fields are read with `field()` and observed through `field.changed`; they are written
// only through the operations below, which keep their rules (the index-change reset, the stored
// feature level, the autosave). Each public operation also emits `changed` once when it is done,
// after every field it wrote has notified, for observers that recompute from the whole object.
//
// Every change of the document goes through setSetlist(), one write per user edit; an edit that
// finds nothing to do writes nothing. The edits themselves are pure functions of the document
// (engine/set_edits.h); the operations here run them on the current set and keep the position.
// The Moment bookkeeping lives in a MomentScheduler, the writing to disk in an Autosave. An undo
// history can record `setlist` before and after each write there.
class AppState {
public:
    // What the next learned MIDI trigger is for.
    struct LearnTarget {
        enum class Kind { section, next, moment };
        Kind kind = Kind::next;
        Uuid sectionID; // for `section` only
        Uuid momentID;  // for `moment` only

        static LearnTarget section(Uuid id) { return {Kind::section, id, Uuid()}; }
        static LearnTarget next() { return {Kind::next, Uuid(), Uuid()}; }
        static LearnTarget moment(Uuid id) { return {Kind::moment, Uuid(), id}; }

        friend bool operator==(const LearnTarget&, const LearnTarget&) = default;
    };

    // The pause after the last change before the set is written, and the retry interval while
    // writes fail.
    static constexpr Duration kSaveDebounce = Autosave::kDebounce;
    static constexpr Duration kSaveRetry = Autosave::kRetry;
    // The user-defaults key of the feature level.
    static constexpr std::string_view kModeKey = "strataMode";

    // Loads the set from the store (the default set when nothing can be read), reads the feature
    // level from `settings` and starts the autosave; the loaded set is written once after the
    // debounce interval.
    AppState(StoreLocation location, Settings& settings, MainLoop& loop);
    ~AppState();
    AppState(const AppState&) = delete;
    AppState& operator=(const AppState&) = delete;

    // ---- Published fields --------------------------------------------------------------------

    OwnedPublished<Setlist, AppState> setlist;
    OwnedPublished<std::int64_t, AppState> currentSongIndex;
    // May be -1: a song without sections, reached by retreat().
    OwnedPublished<std::int64_t, AppState> currentSectionIndex;
    OwnedPublished<std::int64_t, AppState> currentStepIndex;
    OwnedPublished<bool, AppState> stageMode;
    // When present, the complete muted set imposed by fired Moments; overrides the step's mutes.
    OwnedPublished<std::optional<UuidSet>, AppState> activeMomentMutedIDs;
    OwnedPublished<std::optional<LearnTarget>, AppState> learnTarget;
    OwnedPublished<StrataMode, AppState> mode;
    // Why the set cannot be written while saves fail (a full disk, a read-only folder); none while
    // they work. Written when an episode of failures starts, cleared by the write that works
    // again. Changes from the save timer, outside any operation: observe it directly, `changed`
    // does not cover it.
    OwnedPublished<std::optional<SaveFailure>, AppState> saveFailure;

    // Emitted once at the end of every public operation that wrote a published field.
    Signal<> changed;

    // Set by the live coordinator: sends the current mute state to MIDI at once. Step changes call
    // it; song and section changes leave the sending to the coordinator.
    std::function<void()> pushNow;

    // ---- Writing the fields --------------------------------------------------------------------

    // The one place where the document changes.
    void setSetlist(Setlist next);
    // Applies `edit` to a copy of the set and writes it back when `edit` returns true.
    bool updateSetlist(const std::function<bool(Setlist&)>& edit);
    // Puts back an earlier version of the set (undo, redo) in one operation. Only the document is
    // restored: the performer stays on the song and section they are on when the restored set
    // still holds them (found by id); otherwise the position is clamped into the set.
    void restoreSetlist(Setlist earlier);

    // A change of value clears the Moment bookkeeping of the section that was current.
    void setCurrentSongIndex(std::int64_t index);
    void setCurrentSectionIndex(std::int64_t index);
    void setCurrentStepIndex(std::int64_t index);
    void setStageMode(bool on);
    // The coordinator's ALL ON clears the override with std::nullopt.
    void setActiveMomentMutedIDs(std::optional<UuidSet> ids);
    void setLearnTarget(std::optional<LearnTarget> target);
    // Also stores the level under "strataMode", on every write.
    void setMode(StrataMode next);

    // ---- Derived values (pointers into `setlist`, valid until its next write) ------------------

    const Song* currentSong() const;
    const Section* currentSection() const;
    // The following section of the current song; never looks into the next song.
    const Section* nextSection() const;
    // Essentials: always the section's first step; Pro: the current step, clamped into range.
    const SectionStep* currentStep() const;

    // The layers shown in the grid and driven by the coordinator in the current feature level.
    std::span<const Layer> visibleLayers() const;

    // ---- Navigation ----------------------------------------------------------------------------

    void advance();
    void retreat();
    void nextStep();
    void prevStep();
    void jump(std::int64_t sectionIndex);

    // ---- Mutes ---------------------------------------------------------------------------------

    // The Moment override when present, else the current step's muted layers, else nothing.
    const UuidSet& activeMutedIDs() const;
    // Every layer of the set (not only the visible ones) that is not muted now, in stored order.
    std::vector<Layer> enabledLayers() const;
    // Flips the layer's mute in one step of a section of the current song. Never touches the
    // Moment override.
    void toggleLayer(Uuid layerID, Uuid sectionID, std::int64_t stepIndex);

    // ---- Moments and layer rules ---------------------------------------------------------------

    // Which Moments and rules fire on this cue-link tick; fires them (marks them, applies their
    // mutes). Nothing fires while stopped, in Essentials, or without a current section.
    MomentFire dueMoments(std::optional<std::int64_t> barsToNext, bool playing);
    // The TEST path: marks the Moment fired in this section and applies its mutes, whatever its
    // anchor, the level or playback. The caller sends its program and control changes.
    void fireManually(const Moment& moment);

    // Bookkeeping of the current section visit, read-only.
    bool hasFired(const Uuid& momentOrRuleID) const { return moments_.hasFired(momentOrRuleID); }
    std::optional<std::int64_t> sectionStartBars() const { return moments_.sectionStartBars(); }

    // ---- Editing the current song's sections (sections are found again by id) ------------------

    void addStep(Uuid sectionID);
    void deleteStep(Uuid sectionID, std::int64_t stepIndex);
    void setAdvanceBars(std::optional<std::int64_t> bars, Uuid sectionID, std::int64_t stepIndex);
    void toggleMomentary(Uuid sectionID, std::int64_t stepIndex);
    void addMoment(Uuid sectionID);
    void deleteMoment(Uuid momentID, Uuid sectionID);
    MomentsBinding momentsBinding(Uuid sectionID) const;
    void setJumpTrigger(std::optional<AdvanceTrigger> trigger, Uuid sectionID);
    // Section index in the current song → its jump trigger, for the sections that have one.
    std::map<std::int64_t, AdvanceTrigger> currentJumpTriggers() const;
    // The trigger of the Moment with that id, wherever it is in the set (a learn may end after
    // the performer has moved on).
    void setMomentTrigger(std::optional<AdvanceTrigger> trigger, Uuid momentID);
    // The hand-fired Moments of the current section that have a trigger, in section order: only
    // these fire from MIDI.
    std::vector<std::pair<Uuid, AdvanceTrigger>> currentMomentTriggers() const;

    // The grid's section operations, by index in the current song.
    void addSection();
    void renameSection(std::int64_t sectionIndex, std::string name);
    void duplicateSection(std::int64_t sectionIndex);
    // List-reorder move: the section ends up before the one that stood at `target`
    // (the count means the end). The performer stays on the section that was current.
    void moveSection(std::int64_t index, std::int64_t target);
    void moveSectionUp(std::int64_t sectionIndex) { moveSection(sectionIndex, sectionIndex - 1); }
    void moveSectionDown(std::int64_t sectionIndex) { moveSection(sectionIndex, sectionIndex + 2); }
    void deleteSection(std::int64_t sectionIndex);
    // The grid's song-name field; dropped when there is no current song.
    void renameCurrentSong(std::string name);

    // ---- Layers (layer editor) -----------------------------------------------------------------

    // Appends "Layer n" while the level allows more visible layers; its CC port is `portName`
    // (empty: none yet).
    void addLayer(std::string portName);
    // Removes the layer and its id from every step's mutes; Moments keep their references.
    void deleteLayer(Uuid layerID);

    // ---- The set and its songs (setlist pane) --------------------------------------------------

    void renameSet(std::string name);
    void renameSong(std::int64_t songIndex, std::string name);
    void selectSong(std::int64_t songIndex);
    void addSong();
    // List-reorder move; the current song stays current wherever it ends up.
    void moveSong(std::int64_t from, std::int64_t to);
    void deleteSong(std::int64_t songIndex);

    // Builds songs from pasted text, replacing the set's songs or appending to them, and selects
    // the first new song. Returns how many songs were built; 0 changes nothing.
    std::int64_t importSetlist(std::string_view text, bool replace);
    // One fresh "New Song"; keeps the layers and the transport settings.
    void newSet();

    // ---- Saving --------------------------------------------------------------------------------

    // Writes a change that is still waiting for the debounce (or whose last write failed) at
    // once; for the shell at quit. Returns whether the file holds the current set afterwards.
    bool flush();
    // Whether a change has not reached the file yet.
    bool hasUnsavedChanges() const { return autosave_.hasUnsavedChanges(); }
    // Whether the last write failed. Edits go on in memory meanwhile. A run of failures is one
    // episode: one "[Store] ..." line when writing starts failing, one when a write succeeds
    // again (and writes everything), nothing for the attempts in between.
    bool isSaveFailing() const { return autosave_.isFailing(); }
    // What happened to a stored file that could not be loaded at start-up (the run then began
    // with the default set); none when it loaded or there was none.
    const std::optional<Store::LoadProblem>& loadProblem() const { return loadProblem_; }

private:
    friend class MomentsBinding;

    // Groups the notifications of one public operation: `changed` goes out once, when the
    // outermost operation ends.
    class Batch {
    public:
        explicit Batch(AppState& state);
        ~Batch();
        Batch(const Batch&) = delete;
        Batch& operator=(const Batch&) = delete;

    private:
        AppState& state_;
    };

    template <typename T>
    void publish(OwnedPublished<T, AppState>& field, T value);
    void writeIndex(OwnedPublished<std::int64_t, AppState>& field, std::int64_t index);

    std::optional<std::size_t> sectionIndex(const Uuid& sectionID) const;
    // Writes the result of a pure edit when it changed something; returns whether it did.
    bool apply(std::optional<Setlist> edited);
    // Clears the Moment bookkeeping and the override of the section that was current (assigns
    // only: the caller notifies the override).
    void leaveSection();

    Settings& settings_;

    MomentScheduler moments_;

    int batchDepth_ = 0;
    bool batchChanged_ = false;

    std::optional<Store::LoadProblem> loadProblem_;
    Autosave autosave_;

    // Weak handles to this object (Moments bindings) see it vanish.
    ThreadCheck thread_;
    Lifetime<AppState> lifetime_;
};

} // namespace strata
