#include "midi_model.h"

#include "live/live_coordinator.h"
#include "midi/midi_service.h"

#include <algorithm>

namespace strata {

MidiModel::MidiModel(MidiService& midi, LiveCoordinator& live, MainLoop& loop, QObject* parent)
    : QObject(parent), midi_(midi), live_(live), loop_(loop) {
    connections_ +=
        midi_.isLearningTrigger.changed.connect([this](const bool&) { Q_EMIT triggerChanged(); });
    connections_ += midi_.advanceTrigger.changed.connect(
        [this](const std::optional<AdvanceTrigger>&) { Q_EMIT triggerChanged(); });
    connections_ += midi_.advanceTriggerConnected.changed.connect(
        [this](const bool&) { Q_EMIT triggerChanged(); });
    connections_ += midi_.destinations.changed.connect(
        [this](const std::vector<std::string>&) { Q_EMIT destinationsChanged(); });
    connections_ += midi_.lastTxAt.changed.connect(
        [this](const std::optional<TimePoint>&) { evaluateLights(); });
    connections_ += midi_.lastMackieRxAt.changed.connect(
        [this](const std::optional<TimePoint>&) { evaluateLights(); });
    available_ = midi_.midiAvailable();
    connections_ += midi_.midiAvailable.changed.connect([this](const bool& available) {
        if (available_ == available)
            return;
        available_ = available;
        Q_EMIT availableChanged();
    });
    evaluateLights();
}

QString MidiModel::triggerLabel() const {
    if (midi_.isLearningTrigger())
        return QStringLiteral("LISTENING\u2026");
    if (const auto& trigger = midi_.advanceTrigger()) {
        const QString label = QString::fromStdString(trigger->label()).toUpper();
        return midi_.advanceTriggerConnected() ? label
                                               : QStringLiteral("NOT CONNECTED \u00B7 ") + label;
    }
    return QStringLiteral("SET TRIGGER");
}

bool MidiModel::learning() const {
    return midi_.isLearningTrigger();
}

bool MidiModel::hasTrigger() const {
    return midi_.advanceTrigger().has_value();
}

bool MidiModel::triggerConnected() const {
    return midi_.advanceTriggerConnected();
}

QString MidiModel::triggerDevice() const {
    const auto& trigger = midi_.advanceTrigger();
    return trigger ? QString::fromStdString(trigger->deviceName) : QString();
}

QStringList MidiModel::destinations() const {
    QStringList names;
    for (const std::string& name : midi_.destinations())
        names << QString::fromStdString(name);
    return names;
}

bool MidiModel::available() const {
    return midi_.midiAvailable();
}

void MidiModel::learnNextTrigger() {
    live_.learnNextTrigger();
}

void MidiModel::clearNextTrigger() {
    live_.clearNextTrigger();
}

void MidiModel::cancelLearning() {
    live_.cancelLearning();
}

void MidiModel::evaluateLights() {
    const TimePoint now = loop_.now();
    // Time left until a light stamped at `at` goes dark; zero or less: dark.
    auto remaining = [now](const std::optional<TimePoint>& at, Duration litFor) {
        return at ? *at + litFor - now : Duration::zero();
    };
    const Duration midiLeft = remaining(midi_.lastTxAt(), kMidiLitFor);
    const Duration dawLeft = remaining(midi_.lastMackieRxAt(), kDawLitFor);
    const bool midiLit = midiLeft > Duration::zero();
    const bool dawLit = dawLeft > Duration::zero();

    lightTimer_.reset();
    if (midiLit || dawLit) {
        Duration next = Duration::max();
        if (midiLit)
            next = std::min(next, midiLeft);
        if (dawLit)
            next = std::min(next, dawLeft);
        lightTimer_ = loop_.after(next, [this] { evaluateLights(); });
    }

    if (midiLit != midiLit_ || dawLit != dawLit_) {
        midiLit_ = midiLit;
        dawLit_ = dawLit;
        Q_EMIT lightsChanged();
    }
}

} // namespace strata
