#pragma once

#include "platform/signal.h"

#include <QObject>
#include <QString>
#include <QVariantList>
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

    // In section order: {id, name, hasTrigger, triggerText ("NOTE 64 · FCB1010"), connected
    // (its trigger's device is plugged in), fired (already fired in this visit of the section)}.
    // A Moment without a name is called "Moment <n>", n counting the section's hand-fired ones.
    Q_PROPERTY(QVariantList moments READ moments NOTIFY changed)

public:
    LiveMomentsModel(AppState& state, MidiService& midi, LiveCoordinator& live,
                     QObject* parent = nullptr);

    QVariantList moments() const;

    // Fires the hand-fired Moment of the current section with that id; anything else is ignored.
    Q_INVOKABLE void fire(const QString& momentID);

Q_SIGNALS:
    void changed();

private:
    AppState& state_;
    MidiService& midi_;
    LiveCoordinator& live_;
    ConnectionBag connections_;
};

} // namespace strata
