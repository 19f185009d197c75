#pragma once

#include "platform/signal.h"

#include <QObject>
#include <QtQml/qqmlregistration.h>

namespace strata {

class LiveCoordinator;

// The main view's sheet flags and the first-run flow, as the live coordinator keeps them: the
// mode chooser at start (unless the user turned it off), else the quick start once, 0.4 s after
// the window appears. The sheets show while a flag is true and set it back when dismissed.
// Main thread only.
class ShellModel : public QObject {
    Q_OBJECT
    QML_ELEMENT
    QML_UNCREATABLE("Created by the application")

    Q_PROPERTY(bool showSetup READ showSetup WRITE setShowSetup NOTIFY showSetupChanged)
    Q_PROPERTY(bool showModeChooser READ showModeChooser WRITE setShowModeChooser NOTIFY
                   showModeChooserChanged)
    Q_PROPERTY(bool showQuickStart READ showQuickStart WRITE setShowQuickStart NOTIFY
                   showQuickStartChanged)
    // The stored "showModeChooserAtStartup"; absent or not a Boolean reads as true.
    Q_PROPERTY(bool chooserAtStartup READ chooserAtStartup WRITE setChooserAtStartup NOTIFY
                   chooserAtStartupChanged)

public:
    explicit ShellModel(LiveCoordinator& live, QObject* parent = nullptr);

    bool showSetup() const;
    bool showModeChooser() const;
    bool showQuickStart() const;
    bool chooserAtStartup() const;

    void setShowSetup(bool on);
    void setShowModeChooser(bool on);
    void setShowQuickStart(bool on);
    void setChooserAtStartup(bool on);

    // The main view is on screen: the coordinator's appearance steps, then the first-run steps.
    // Only the first call does anything.
    Q_INVOKABLE void mainViewAppeared();
    // The chooser's "CONTINUE": the setup guide follows after the current event; the chooser
    // closes.
    Q_INVOKABLE void continueFromChooser();

Q_SIGNALS:
    void showSetupChanged();
    void showModeChooserChanged();
    void showQuickStartChanged();
    void chooserAtStartupChanged();

private:
    LiveCoordinator& live_;
    ConnectionBag connections_;
};

} // namespace strata
