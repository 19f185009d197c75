#include "live_controls.h"

#include "app_state_model.h"
#include "engine/app_state.h"
#include "midi/midi_service.h"

#include <algorithm>

namespace strata {

LiveControls::LiveControls(AppState& state, MIDIService& midi, CoordinatorHooks hooks,
                           QObject* parent)
    : QObject(parent), state_(state), midi_(midi), hooks_(std::move(hooks)) {}

void LiveControls::resendFromScratch() {
    midi_.resetMackieShadow();
    if (hooks_.pushSectionState)
        hooks_.pushSectionState();
}

void LiveControls::setPro(bool pro) {
    state_.setMode(pro ? StrataMode::pro : StrataMode::essentials);
    resendFromScratch();
}

void LiveControls::allOn() {
    if (hooks_.panic)
        hooks_.panic();
}

void LiveControls::setControlMode(const QString& rawMode) {
    const auto mode = controlModeFromRaw(rawMode.toStdString());
    if (!mode)
        return;
    state_.updateSetlist([&](Setlist& set) {
        if (set.controlMode == mode)
            return false;
        set.controlMode = mode;
        return true;
    });
    resendFromScratch();
}

void LiveControls::setMackiePort(const QString& portName) {
    std::optional<std::string> port;
    if (!portName.isEmpty())
        port = portName.toStdString();
    state_.updateSetlist([&](Setlist& set) {
        if (set.mackiePort == port)
            return false;
        set.mackiePort = port;
        return true;
    });
    resendFromScratch();
}

void LiveControls::stepBank(int direction) {
    if (direction == 0)
        return;
    const std::int64_t current = std::clamp<std::int64_t>(state_.setlist().effectiveTrackOffset(),
                                                          0, MIDIService::kMaxBankOffset);
    // An offset stored beyond the stepper's range comes back into it with the first step left.
    const std::int64_t next = std::clamp<std::int64_t>(current + (direction > 0 ? 8 : -8), 0,
                                                       AppStateModel::kMaxStepperOffset);
    if (next == current || (direction > 0 && next < current))
        return;
    state_.updateSetlist([&](Setlist& set) {
        set.mackieTrackOffset = next;
        return true;
    });
    resendFromScratch();
}

} // namespace strata
