#pragma once

#include "live/live_coordinator.h"
#include "platform/signal.h"

#include <QObject>
#include <QString>

namespace strata {

// What the window binds to for the application shell: the first-run view flags (the sheets
// show while they are true and set them back when dismissed), whether MIDI is available, and the
// commands of the "Section" menu and the toolbar, all handed on to the live coordinator.
// Main thread only.
class AppShell : public QObject {
    Q_OBJECT
    Q_PROPERTY(bool showModeChooser READ showModeChooser WRITE setShowModeChooser NOTIFY
                   showModeChooserChanged)
    Q_PROPERTY(bool showQuickStart READ showQuickStart WRITE setShowQuickStart NOTIFY
                   showQuickStartChanged)
    Q_PROPERTY(bool showSetup READ showSetup WRITE setShowSetup NOTIFY showSetupChanged)
    // False when no MIDI system could be reached at start: the app runs on its own in-memory
    // system, so nothing reaches a DAW.
    Q_PROPERTY(bool midiAvailable READ midiAvailable CONSTANT)
    // "jack", "alsa" or "none".
    Q_PROPERTY(QString midiSystem READ midiSystem CONSTANT)

public:
    AppShell(LiveCoordinator& live, bool midiAvailable, QString midiSystem,
             QObject* parent = nullptr);

    bool showModeChooser() const { return live_.showModeChooser(); }
    bool showQuickStart() const { return live_.showQuickStart(); }
    bool showSetup() const { return live_.showSetup(); }
    void setShowModeChooser(bool on) { live_.showModeChooser.set(on); }
    void setShowQuickStart(bool on) { live_.showQuickStart.set(on); }
    void setShowSetup(bool on) { live_.showSetup.set(on); }
    bool midiAvailable() const { return midiAvailable_; }
    QString midiSystem() const { return midiSystem_; }

    // "Section" menu.
    Q_INVOKABLE void nextSection() { live_.nextSection(); }
    Q_INVOKABLE void previousSection() { live_.previousSection(); }
    Q_INVOKABLE void nextStep() { live_.nextStep(); }
    Q_INVOKABLE void previousStep() { live_.prevStep(); }
    Q_INVOKABLE void toggleStageMode() { live_.toggleStageMode(); }
    // Toolbar: ALL ON.
    Q_INVOKABLE void panic() { live_.panic(); }
    // The mode chooser's "CONTINUE" on a launch that showed it.
    Q_INVOKABLE void modeChooserContinued() { live_.modeChooserContinued(); }

Q_SIGNALS:
    void showModeChooserChanged();
    void showQuickStartChanged();
    void showSetupChanged();

private:
    LiveCoordinator& live_;
    bool midiAvailable_;
    QString midiSystem_;
    ConnectionBag connections_;
};

} // namespace strata
