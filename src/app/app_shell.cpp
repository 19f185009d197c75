#include "app_shell.h"

namespace strata {

AppShell::AppShell(LiveCoordinator& live, bool midiAvailable, QString midiSystem, QObject* parent)
    : QObject(parent), live_(live), midiAvailable_(midiAvailable),
      midiSystem_(std::move(midiSystem)) {
    connections_ += live_.showModeChooser.changed.connect(
        [this](const bool&) { Q_EMIT showModeChooserChanged(); });
    connections_ += live_.showQuickStart.changed.connect(
        [this](const bool&) { Q_EMIT showQuickStartChanged(); });
    connections_ +=
        live_.showSetup.changed.connect([this](const bool&) { Q_EMIT showSetupChanged(); });
}

} // namespace strata
