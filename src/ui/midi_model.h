#pragma once

#include "platform/main_loop.h"
#include "platform/signal.h"

#include <QObject>
#include <QStringList>
#include <QtQml/qqmlregistration.h>

namespace strata {

class LiveCoordinator;
class MidiService;

// What the toolbar shows of the MIDI engine: the trigger control, the activity lights, the port
// list and whether there is a MIDI system at all. Main thread only.
//
// The lights are re-evaluated when the engine publishes a new time and once more when the last lit
// light is due to go dark; while nothing is lit no timer runs, so an idle window does not redraw.
class MidiModel : public QObject {
    Q_OBJECT
    QML_ELEMENT
    QML_UNCREATABLE("Created by the application")

    // "LISTENING…", the learned NEXT trigger's label in upper case (after "NOT CONNECTED · " while
    // its device is not plugged in: it cannot fire then), or "SET TRIGGER".
    Q_PROPERTY(QString triggerLabel READ triggerLabel NOTIFY triggerChanged)
    Q_PROPERTY(bool learning READ learning NOTIFY triggerChanged)
    Q_PROPERTY(bool hasTrigger READ hasTrigger NOTIFY triggerChanged)
    // Whether the NEXT trigger's device is plugged in now (false without a trigger).
    Q_PROPERTY(bool triggerConnected READ triggerConnected NOTIFY triggerChanged)
    // The device the NEXT trigger is learned from, as stored; empty without a trigger.
    Q_PROPERTY(QString triggerDevice READ triggerDevice NOTIFY triggerChanged)
    Q_PROPERTY(bool midiLit READ midiLit NOTIFY lightsChanged)
    Q_PROPERTY(bool dawLit READ dawLit NOTIFY lightsChanged)
    Q_PROPERTY(QStringList destinations READ destinations NOTIFY destinationsChanged)
    Q_PROPERTY(bool available READ available NOTIFY availableChanged)

public:
    // How long each light stays lit after the last stamp.
    static constexpr Duration kMidiLitFor = std::chrono::milliseconds(400);
    static constexpr Duration kDawLitFor = std::chrono::milliseconds(3000);

    MidiModel(MidiService& midi, LiveCoordinator& live, MainLoop& loop, QObject* parent = nullptr);

    QString triggerLabel() const;
    bool learning() const;
    bool hasTrigger() const;
    bool triggerConnected() const;
    QString triggerDevice() const;
    bool midiLit() const { return midiLit_; }
    bool dawLit() const { return dawLit_; }
    QStringList destinations() const;
    // MidiService::midiAvailable.
    bool available() const;
    // Whether a light timer is armed (tests: an idle window runs none).
    bool lightTimerArmed() const { return static_cast<bool>(lightTimer_); }

    // "Learn NEXT Trigger…": the next learned trigger becomes the NEXT trigger.
    Q_INVOKABLE void learnNextTrigger();
    // "Clear NEXT Trigger".
    Q_INVOKABLE void clearNextTrigger();
    // "Cancel Learning" and Escape: ends whichever learn is running, keeping every trigger.
    Q_INVOKABLE void cancelLearning();

Q_SIGNALS:
    void triggerChanged();
    void lightsChanged();
    void destinationsChanged();
    void availableChanged();

private:
    void evaluateLights();

    MidiService& midi_;
    LiveCoordinator& live_;
    MainLoop& loop_;
    bool midiLit_ = false;
    bool dawLit_ = false;
    bool available_ = false; // the value last announced
    TimerHandle lightTimer_;
    ConnectionBag connections_;
};

} // namespace strata
