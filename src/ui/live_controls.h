#pragma once

#include <QObject>
#include <QString>
#include <QtQml/qqmlregistration.h>
#include <functional>

namespace strata {

class AppState;
class MIDIService;

// The two operations of the live coordinator that toolbar controls call. The application points
// them at its coordinator; this is the only place the UI reaches it.
struct CoordinatorHooks {
    // Sends the current mute state to the DAW at once.
    std::function<void()> pushSectionState;
    // The performer's panic: everything sounds, the Moment override is cleared.
    std::function<void()> panic;
};

// The toolbar controls that change how Strata drives the DAW. Each one writes its setting, then
// forgets the Mackie shadow and resends the mute state at once, so that the DAW follows without
// waiting for the next change of position. Main thread only.
class LiveControls : public QObject {
    Q_OBJECT
    QML_ELEMENT
    QML_UNCREATABLE("Created by the application")

public:
    LiveControls(AppState& state, MIDIService& midi, CoordinatorHooks hooks,
                 QObject* parent = nullptr);

    // The essentials/pro switch.
    Q_INVOKABLE void setPro(bool pro);
    // "ALL ON".
    Q_INVOKABLE void allOn();
    // "mackieControl" or "ccMute"; anything else is ignored.
    Q_INVOKABLE void setControlMode(const QString& rawMode);
    // A port name; empty clears the choice (the main surface "Strata").
    Q_INVOKABLE void setMackiePort(const QString& portName);
    // Moves the bank one step of 8 tracks (direction > 0: right, < 0: left) within 0…248.
    Q_INVOKABLE void stepBank(int direction);

private:
    void resendFromScratch();

    AppState& state_;
    MIDIService& midi_;
    CoordinatorHooks hooks_;
};

} // namespace strata
