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

} // namespace

UndoHistory::UndoHistory(AppState& state, std::size_t limit)
    : state_(state), limit_(limit > 0 ? limit : 1), seen_(state.setlist()) {
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
            openSession_.reset();
        }
    } else {
        undo_.push_back(std::move(seen_));
        if (undo_.size() > limit_)
            undo_.pop_front();
        openSession_ = editing_;
    }
    seen_ = now;
    changed.emit();
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
    redo_.push_back(state_.setlist());
    restore(std::move(earlier));
    changed.emit();
}

void UndoHistory::redo() {
    if (redo_.empty())
        return;
    Setlist later = std::move(redo_.back());
    redo_.pop_back();
    undo_.push_back(state_.setlist());
    if (undo_.size() > limit_)
        undo_.pop_front();
    restore(std::move(later));
    changed.emit();
}

void UndoHistory::clear() {
    undo_.clear();
    redo_.clear();
    seen_ = state_.setlist();
    openSession_.reset();
    changed.emit();
}

} // namespace strata
