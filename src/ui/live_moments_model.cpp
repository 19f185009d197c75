#include "live_moments_model.h"

#include "engine/app_state.h"
#include "live/live_coordinator.h"
#include "midi/midi_service.h"
#include "ui_text.h"

#include <QVariantMap>

namespace strata {

LiveMomentsModel::LiveMomentsModel(AppState& state, MidiService& midi, LiveCoordinator& live,
                                   QObject* parent)
    : QObject(parent), state_(state), midi_(midi), live_(live) {
    connections_ += state_.changed.connect([this] { Q_EMIT changed(); });
    connections_ += midi_.sources.changed.connect(
        [this](const std::vector<std::string>&) { Q_EMIT changed(); });
}

QVariantList LiveMomentsModel::moments() const {
    QVariantList list;
    const Section* section = state_.currentSection();
    if (!section)
        return list;
    for (const Moment& moment : section->moments) {
        if (moment.anchor.kind != FireAnchor::Kind::manual)
            continue;
        const auto& trigger = moment.trigger;
        list << QVariantMap{
            {"id", qtext(moment.id)},
            {"name", moment.name.empty() ? QStringLiteral("Moment %1").arg(list.size() + 1)
                                         : qtext(moment.name)},
            {"hasTrigger", trigger.has_value()},
            {"triggerText", trigger ? qtext(trigger->label()).toUpper() : QString()},
            {"connected", trigger && midi_.deviceConnected(trigger->deviceName)},
            {"fired", state_.hasFired(moment.id)},
        };
    }
    return list;
}

void LiveMomentsModel::fire(const QString& momentID) {
    if (const auto id = parseUuid(momentID))
        live_.handleMomentTrigger(*id);
}

} // namespace strata
