#include "shell_model.h"

#include "live/live_coordinator.h"

namespace strata {

namespace {

// Published fields notify on every write; the view hears only real changes.
void setIfChanged(Published<bool>& field, bool on) {
    if (field() != on)
        field.set(on);
}

} // namespace

ShellModel::ShellModel(LiveCoordinator& live, QObject* parent) : QObject(parent), live_(live) {
    connections_ +=
        live_.showSetup.changed.connect([this](const bool&) { Q_EMIT showSetupChanged(); });
    connections_ += live_.showModeChooser.changed.connect(
        [this](const bool&) { Q_EMIT showModeChooserChanged(); });
    connections_ += live_.showQuickStart.changed.connect(
        [this](const bool&) { Q_EMIT showQuickStartChanged(); });
}

bool ShellModel::showSetup() const {
    return live_.showSetup();
}

bool ShellModel::showModeChooser() const {
    return live_.showModeChooser();
}

bool ShellModel::showQuickStart() const {
    return live_.showQuickStart();
}

bool ShellModel::chooserAtStartup() const {
    return live_.showModeChooserAtStartup();
}

void ShellModel::setShowSetup(bool on) {
    setIfChanged(live_.showSetup, on);
}

void ShellModel::setShowModeChooser(bool on) {
    setIfChanged(live_.showModeChooser, on);
}

void ShellModel::setShowQuickStart(bool on) {
    setIfChanged(live_.showQuickStart, on);
}

void ShellModel::setChooserAtStartup(bool on) {
    const bool before = chooserAtStartup();
    live_.setShowModeChooserAtStartup(on);
    if (before != on)
        Q_EMIT chooserAtStartupChanged();
}

void ShellModel::mainViewAppeared() {
    live_.appear();
}

void ShellModel::continueFromChooser() {
    live_.modeChooserContinued();
    setShowModeChooser(false);
}

} // namespace strata
