#include "live_controls.h"

#include "app_state_model.h"
#include "engine/app_state.h"
#include "live/live_coordinator.h"
#include "midi/midi_service.h"

#include <algorithm>

namespace strata {

LiveControls::LiveControls(AppState& state, LiveCoordinator& live, QObject* parent)
    : QObject(parent), state_(state), live_(live) {}

void LiveControls::setPro(bool pro) {
    live_.setMode(pro ? StrataMode::pro : StrataMode::essentials);
}

void LiveControls::allOn() {
    live_.panic();
}

void LiveControls::setControlMode(const QString& rawMode) {
    if (const auto mode = controlModeFromRaw(rawMode.toStdString()))
        live_.setControlMode(*mode);
}

void LiveControls::setMackiePort(const QString& portName) {
    std::optional<std::string> port;
    if (!portName.isEmpty())
        port = portName.toStdString();
    live_.setMackiePort(std::move(port));
}

void LiveControls::stepBank(int direction) {
    if (direction == 0)
        return;
    // From the bank the surface is at now (an offset stored beyond the stepper's range included):
    // a step right never lowers it, the first step left brings it back into range.
    const std::int64_t current = std::clamp<std::int64_t>(state_.setlist().effectiveTrackOffset(),
                                                          0, MIDIService::kMaxBankOffset);
    const std::int64_t next = std::clamp<std::int64_t>(current + (direction > 0 ? 8 : -8), 0,
                                                       AppStateModel::kMaxStepperOffset);
    if (next == current || (direction > 0 && next < current))
        return;
    live_.setMackieTrackOffset(next);
}

} // namespace strata
