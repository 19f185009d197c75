#include "engine/undo_history.h"

#include <utility>

namespace strata {

namespace {

// The part of the set the history keeps: everything but the DAW connection settings.
bool sameContent(const Setlist& a, const Setlist& b) {
    return a.name == b.name && a.songs == b.songs && a.layers == b.layers;
}

// `content` with the connection settings of `live`.
Setlist withConnection(Setlist content, const Setlist& live) {
    content.controlMode = live.controlMode;
    content.mackiePort = live.mackiePort;
    content.mackieTrackOffset = live.mackieTrackOffset;
    return content;
}

std::size_t recordCount(const Setlist& set) {
    std::size_t records = 1 + set.layers.size();
    for (const Layer& layer : set.layers)
        records += layer.rules.size();
    for (const Song& song : set.songs) {
        records += 1 + song.sections.size();
        for (const Section& section : song.sections)
            records += section.steps.size() + section.moments.size();
    }
    return records;
}

} // namespace

UndoHistory::UndoHistory(AppState& state, std::size_t limit, std::size_t recordBudget)
    : state_(state), limit_(limit > 0 ? limit : 1), recordBudget_(recordBudget),
      seen_(state.setlist()) {
    subscription_ =
        state_.setlist.changed.connect([this](const Setlist& now) { onSetlistWritten(now); });
}

UndoHistory::~UndoHistory() = default;

void UndoHistory::beginEdit(std::uint64_t session) {
    editing_ = session != 0 ? std::optional<std::uint64_t>(session) : std::nullopt;
}

void UndoHistory::endEdit() {
    editing_.reset();
}

void UndoHistory::onSetlistWritten(const Setlist& now) {
    if (restoring_ || sameContent(now, seen_)) {
        // Our own restore, or only the connection settings moved: nothing to record.
        seen_ = now;
        return;
    }
    redo_.clear();
    if (editing_ && openSession_ == editing_ && !undo_.empty()) {
        // More typing in the same visit of the same field: the open step grows. Typed back to
        // where the visit started, there is nothing left to undo in it.
        if (sameContent(undo_.back(), now)) {
            undo_.pop_back();
            undoRecordTotal_ -= undoRecords_.back();
            undoRecords_.pop_back();
            openSession_.reset();
        }
    } else {
        pushUndo(std::move(seen_));
        openSession_ = editing_;
    }
    seen_ = now;
    changed.notify();
}

void UndoHistory::restore(Setlist content) {
    const Setlist live = state_.setlist();
    restoring_ = true;
    state_.restoreSetlist(withConnection(std::move(content), live));
    restoring_ = false;
    seen_ = state_.setlist();
    openSession_.reset();
}

void UndoHistory::undo() {
    if (undo_.empty())
        return;
    Setlist earlier = std::move(undo_.back());
    undo_.pop_back();
    undoRecordTotal_ -= undoRecords_.back();
    undoRecords_.pop_back();
    redo_.push_back(state_.setlist());
    restore(std::move(earlier));
    changed.notify();
}

void UndoHistory::redo() {
    if (redo_.empty())
        return;
    Setlist later = std::move(redo_.back());
    redo_.pop_back();
    pushUndo(state_.setlist());
    restore(std::move(later));
    changed.notify();
}

void UndoHistory::pushUndo(Setlist before) {
    const std::size_t records = recordCount(before);
    undo_.push_back(std::move(before));
    undoRecords_.push_back(records);
    undoRecordTotal_ += records;
    while (undo_.size() > limit_ || (undo_.size() > 1 && undoRecordTotal_ > recordBudget_)) {
        undo_.pop_front();
        undoRecordTotal_ -= undoRecords_.front();
        undoRecords_.pop_front();
    }
}

void UndoHistory::clear() {
    undo_.clear();
    undoRecords_.clear();
    undoRecordTotal_ = 0;
    redo_.clear();
    seen_ = state_.setlist();
    openSession_.reset();
    changed.notify();
}

} // namespace strata
