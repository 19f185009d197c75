#pragma once

#include "engine/app_state.h"
#include "model/setlist.h"
#include "platform/signal.h"

#include <cstddef>
#include <cstdint>
#include <deque>
#include <optional>
#include <vector>

namespace strata {

// Undo and redo of the set being edited. It watches every write of AppState::setlist, whoever
// makes it (the pane, the grid, the editors, an import, a new set, the cue link's snapshots), and
// keeps the versions of the document before each change. Main thread only, like AppState.
//
// What is in the history: the set's name, its songs and its layers. What is not: the live position
// and the feature level (they are not part of the document), and the DAW connection settings
// (control mode, Mackie port, bank offset), which are live wiring changed from the toolbar with
// their own resends; an undo keeps them as they are now and a change of only those records nothing.
//
// Typing: edits made inside beginEdit(session) … endEdit() join the step that the first edit of
// that session opened, as long as nothing else changed the set in between. A view opens a session
// when a text field gains the keyboard, so a word typed letter by letter is one step; a write from
// anywhere else (a cue-link snapshot arriving mid-word) closes it. An edit that brings the text
// back to where the session started leaves no step behind.
//
// Cue-link snapshots are ordinary steps: undoing one puts the local section names back (Cadenzo's
// next differing snapshot renames them again). Keeping them in line is what lets an undo of an
// older edit never resurrect a state that skips or half-applies them.
class UndoHistory {
public:
    // Steps kept for undo; the oldest go first.
    static constexpr std::size_t kDefaultLimit = 100;
    // Every step is a whole copy of the document, so a very large set would make a hundred steps
    // cost gigabytes. The history also stops at this many records (songs, sections, steps,
    // Moments, layers, rules) summed over its steps, always keeping the newest step: a set of a
    // few dozen songs keeps all hundred, the largest sets keep a handful.
    static constexpr std::size_t kDefaultRecordBudget = 200'000;

    explicit UndoHistory(AppState& state, std::size_t limit = kDefaultLimit,
                         std::size_t recordBudget = kDefaultRecordBudget);
    ~UndoHistory();
    UndoHistory(const UndoHistory&) = delete;
    UndoHistory& operator=(const UndoHistory&) = delete;

    bool canUndo() const { return !undo_.empty(); }
    bool canRedo() const { return !redo_.empty(); }
    std::size_t undoCount() const { return undo_.size(); }
    std::size_t redoCount() const { return redo_.size(); }
    std::size_t limit() const { return limit_; }

    // Puts the set back as it was before the last step (after it, for redo). The position follows
    // AppState::restoreSetlist.
    void undo();
    void redo();
    // Forgets every step; the set as it is now is where the history starts.
    void clear();

    // A new editing session (never 0).
    std::uint64_t newSession() { return ++lastSessionIssued_; }
    // Marks the writes made until endEdit() as typing of `session`.
    void beginEdit(std::uint64_t session);
    void endEdit();

    // canUndo or canRedo may have changed.
    Signal<> changed;

private:
    void onSetlistWritten(const Setlist& now);
    void restore(Setlist content);
    // Adds the document before a step, dropping the oldest beyond the limit or the budget.
    void pushUndo(Setlist before);

    AppState& state_;
    std::size_t limit_;
    std::size_t recordBudget_;
    // The document before each step, oldest first; and after each undone step, newest last.
    std::deque<Setlist> undo_;
    std::deque<std::size_t> undoRecords_; // records of each entry of undo_
    std::size_t undoRecordTotal_ = 0;
    std::vector<Setlist> redo_;
    // The set as last seen, what the next step's "before" is.
    Setlist seen_;
    // The session of the newest step while it may still take more typing.
    std::optional<std::uint64_t> openSession_;
    // The session of the edit being made now.
    std::optional<std::uint64_t> editing_;
    std::uint64_t lastSessionIssued_ = 0;
    bool restoring_ = false;
    Connection subscription_;
};

} // namespace strata
