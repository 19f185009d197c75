#pragma once

#include "platform/main_loop.h"
#include "platform/settings.h"

#include <QObject>
#include <QtQml/qqmlregistration.h>
#include <functional>
#include <string_view>

namespace strata {

// The main view's sheet flags and the first-run flow: the mode chooser at start (unless the user
// turned it off), else the quick start once, 0.4 s after the window appears. Main thread only.
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
    static constexpr std::string_view kChooserAtStartupKey = "showModeChooserAtStartup";
    static constexpr std::string_view kSeenQuickStartKey = "hasSeenQuickStart";
    static constexpr Duration kQuickStartDelay = std::chrono::milliseconds(400);

    // `onAppear` runs first when the main view appears (the coordinator's appearance steps).
    ShellModel(Settings& settings, MainLoop& loop, std::function<void()> onAppear = {},
               QObject* parent = nullptr);

    bool showSetup() const { return showSetup_; }
    bool showModeChooser() const { return showModeChooser_; }
    bool showQuickStart() const { return showQuickStart_; }
    bool chooserAtStartup() const;

    void setShowSetup(bool on);
    void setShowModeChooser(bool on);
    void setShowQuickStart(bool on);
    void setChooserAtStartup(bool on);

    // The main view is on screen: the appearance steps, then the first-run steps. Only the first
    // call does anything.
    Q_INVOKABLE void mainViewAppeared();
    // The chooser's "CONTINUE": the chooser shown at start leads into the setup guide (after the
    // current event), then closes.
    Q_INVOKABLE void continueFromChooser();

Q_SIGNALS:
    void showSetupChanged();
    void showModeChooserChanged();
    void showQuickStartChanged();
    void chooserAtStartupChanged();

private:
    Settings& settings_;
    MainLoop& loop_;
    std::function<void()> onAppear_;
    bool appeared_ = false;
    bool chooserLeadsToSetup_ = false;
    bool showSetup_ = false;
    bool showModeChooser_ = false;
    bool showQuickStart_ = false;
    TimerHandle quickStartTimer_;
};

} // namespace strata
