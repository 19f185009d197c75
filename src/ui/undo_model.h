#pragma once

#include "platform/signal.h"

#include <QObject>
#include <QtQml/qqmlregistration.h>
#include <memory>

namespace strata {

class AppState;
class UndoHistory;

// Undo and redo of the set for the window: Ctrl+Z / Ctrl+Shift+Z (and Ctrl+Y), from any view. Text
// fields open an editing session when they gain the keyboard and wrap each change they hand over in
// beginEdit()/endEdit(), so one visit of a field is one step (see EditField.qml). Main thread only.
class UndoModel : public QObject {
    Q_OBJECT
    QML_ELEMENT
    QML_UNCREATABLE("Created by the application")

    Q_PROPERTY(bool canUndo READ canUndo NOTIFY historyChanged)
    Q_PROPERTY(bool canRedo READ canRedo NOTIFY historyChanged)

public:
    explicit UndoModel(AppState& state, QObject* parent = nullptr);
    ~UndoModel() override;

    UndoHistory& history() { return *history_; }

    bool canUndo() const;
    bool canRedo() const;

    Q_INVOKABLE void undo();
    Q_INVOKABLE void redo();
    // Forgets every step (a freshly loaded set starts a new history).
    Q_INVOKABLE void clear();

    // A new editing session for a text field that just gained the keyboard.
    Q_INVOKABLE int newSession();
    Q_INVOKABLE void beginEdit(int session);
    Q_INVOKABLE void endEdit();

Q_SIGNALS:
    void historyChanged();

private:
    std::unique_ptr<UndoHistory> history_;
    ConnectionBag connections_;
};

} // namespace strata
