#include "live_moments_model.h"

#include "engine/app_state.h"
#include "live/live_coordinator.h"
#include "midi/midi_service.h"
#include "ui_text.h"

namespace strata {

LiveMomentsModel::LiveMomentsModel(AppState& state, MidiService& midi, LiveCoordinator& live,
                                   QObject* parent)
    : QObject(parent), state_(state), midi_(midi), live_(live),
      moments_({"id", "name", "hasTrigger", "triggerText", "connected", "fired"}) {
    refresh();
    connections_ += state_.changed.connect([this] { refresh(); });
    connections_ +=
        midi_.sources.changed.connect([this](const std::vector<std::string>&) { refresh(); });
}

void LiveMomentsModel::refresh() {
    std::vector<RowListModel::Row> list;
    const Section* section = state_.currentSection();
    if (section) {
        for (const Moment& moment : section->moments) {
            if (moment.anchor.kind != FireAnchor::Kind::manual)
                continue;
            const auto& trigger = moment.trigger;
            list.push_back({
                qtext(moment.id),
                moment.name.empty() ? QStringLiteral("Moment %1").arg(list.size() + 1)
                                    : qtext(moment.name),
                trigger.has_value(),
                trigger ? qtext(trigger->label()).toUpper() : QString(),
                trigger && midi_.deviceConnected(trigger->deviceName),
                state_.hasFired(moment.id),
            });
        }
    }
    moments_.update(std::move(list));
}

void LiveMomentsModel::fire(const QString& momentID) {
    if (const auto id = parseUuid(momentID))
        live_.handleMomentTrigger(*id);
}

} // namespace strata
