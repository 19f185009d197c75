#pragma once

#include <QObject>
#include <QString>
#include <QUrl>
#include <QtQml/qqmlregistration.h>

namespace strata {

class AppState;
class LiveCoordinator;

// The toolbar controls that change how Strata drives the DAW. Each goes through the live
// coordinator, which writes the setting, forgets the Mackie shadow and resends the mute state at
// once, so that the DAW follows without waiting for the next change of position. Main thread only.
class LiveControls : public QObject {
    Q_OBJECT
    QML_ELEMENT
    QML_UNCREATABLE("Created by the application")

public:
    LiveControls(AppState& state, LiveCoordinator& live, QObject* parent = nullptr);

    // The essentials/pro switch (and the mode chooser's cards).
    Q_INVOKABLE void setPro(bool pro);
    // "ALL ON".
    Q_INVOKABLE void allOn();
    // "mackieControl" or "ccMute"; anything else is ignored.
    Q_INVOKABLE void setControlMode(const QString& rawMode);
    // A port name; empty clears the choice (the main surface "Strata").
    Q_INVOKABLE void setMackiePort(const QString& portName);
    // "logic" or "ardour"; anything else is ignored.
    Q_INVOKABLE void setDawHost(const QString& rawHost);
    // "Resync CC mutes": every track is taken to sound in the DAW, and the wanted state is sent.
    Q_INVOKABLE void resyncCCMutes();
    // "Save Ardour MIDI map…": writes the set's binding map to `file` (a local file URL, or a
    // path). Returns an empty text on success, else why it failed.
    Q_INVOKABLE QString saveArdourMidiMap(const QUrl& file);
    // Where the file dialog starts: Ardour's midi_maps folder of the newest Ardour configuration
    // found under the user's configuration folder, else that folder's parent or the home folder.
    Q_INVOKABLE QUrl ardourMapFolder() const;
    // Moves the bank one step of 8 tracks (direction > 0: right, < 0: left) within 0…248.
    Q_INVOKABLE void stepBank(int direction);

private:
    AppState& state_;
    LiveCoordinator& live_;
};

} // namespace strata
