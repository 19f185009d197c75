#pragma once

#include "platform/signal.h"
#include "row_list_model.h"

#include <QObject>
#include <QString>
#include <QtQml/qqmlregistration.h>

namespace strata {

class AppState;
class LiveCoordinator;
class MidiService;

// The hand-fired Moments of the current section, as the stage view offers them: one button each,
// which fires the Moment the way the editor's TEST does. Main thread only.
class LiveMomentsModel : public QObject {
    Q_OBJECT
    QML_ELEMENT
    QML_UNCREATABLE("Created by the application")

    // In section order; roles id, name, hasTrigger, triggerText ("NOTE 64 · FCB1010"), connected
    // (its trigger's device is plugged in), fired (already fired in this visit of the section).
    // A Moment without a name is called "Moment <n>", n counting the section's hand-fired ones.
    // Updated row by row: a button stays put while its Moment changes, as it does when it fires.
    Q_PROPERTY(strata::RowListModel* moments READ moments CONSTANT)

public:
    LiveMomentsModel(AppState& state, MidiService& midi, LiveCoordinator& live,
                     QObject* parent = nullptr);

    RowListModel* moments() { return &moments_; }

    // Fires the hand-fired Moment of the current section with that id; anything else is ignored.
    Q_INVOKABLE void fire(const QString& momentID);

private:
    void refresh();

    AppState& state_;
    MidiService& midi_;
    LiveCoordinator& live_;
    RowListModel moments_;
    ConnectionBag connections_;
};

} // namespace strata
