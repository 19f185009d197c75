#include "undo_model.h"

#include "engine/undo_history.h"

namespace strata {

UndoModel::UndoModel(AppState& state, QObject* parent)
    : QObject(parent), history_(std::make_unique<UndoHistory>(state)) {
    connections_ += history_->changed.connect([this] { Q_EMIT historyChanged(); });
}

UndoModel::~UndoModel() = default;

bool UndoModel::canUndo() const {
    return history_->canUndo();
}

bool UndoModel::canRedo() const {
    return history_->canRedo();
}

void UndoModel::undo() {
    history_->undo();
}

void UndoModel::redo() {
    history_->redo();
}

void UndoModel::clear() {
    history_->clear();
}

int UndoModel::newSession() {
    // QML numbers are ints here; sessions only need to differ from the few before them.
    return static_cast<int>(history_->newSession() & 0x7fffffff);
}

void UndoModel::beginEdit(int session) {
    history_->beginEdit(static_cast<std::uint64_t>(session));
}

void UndoModel::endEdit() {
    history_->endEdit();
}

} // namespace strata
