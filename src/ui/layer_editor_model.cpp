#include "layer_editor_model.h"

#include "engine/app_state.h"
#include "midi/midi_service.h"
#include "model/default_ports.h"
#include "ui_text.h"

#include <QVariantMap>
#include <algorithm>
#include <functional>

namespace strata {

namespace {

// Edits the layer with that id in place; `edit` returns whether it changed anything.
void editLayer(AppState& state, const QString& layerID, const std::function<bool(Layer&)>& edit) {
    const auto id = parseUuid(layerID);
    if (!id)
        return;
    state.updateSetlist([&](Setlist& set) {
        for (Layer& layer : set.layers)
            if (layer.id == *id)
                return edit(layer);
        return false;
    });
}

// The layers of the main surface (the DAW reports track names for its strips only).
constexpr std::size_t kMainSurfaceStrips = 8;

} // namespace

LayerEditorModel::LayerEditorModel(AppState& state, MidiService& midi, QObject* parent)
    : QObject(parent), state_(state), midi_(midi), rules_(state),
      layers_({"id", "name", "driven", "track", "trackHelp", "dawLine", "port", "channel", "muteCC",
               "ruleCount"}) {
    refresh();
    connections_ += state_.changed.connect([this] { refresh(); });
    connections_ +=
        midi_.destinations.changed.connect([this](const std::vector<std::string>&) { refresh(); });
    connections_ += midi_.mackieSlotNames.changed.connect([this](const SlotNames&) { refresh(); });
}

void LayerEditorModel::refresh() {
    layers_.update(buildLayers());
    QVariantList shown{mackieMode(), canAddLayer(), canUseDawNames(), rulesEnabled(),
                       modeHint(),   layerCap(),    ports()};
    if (shown == shown_)
        return;
    shown_ = std::move(shown);
    Q_EMIT changed();
}

bool LayerEditorModel::mackieMode() const {
    return state_.setlist().effectiveControlMode() == ControlMode::mackieControl;
}

bool LayerEditorModel::canAddLayer() const {
    return state_.setlist().layers.size() < visibleLayerCap(state_.mode());
}

bool LayerEditorModel::canUseDawNames() const {
    return mackieMode() && !midi_.mackieSlotNames().empty();
}

bool LayerEditorModel::rulesEnabled() const {
    return state_.mode() == StrataMode::pro;
}

QString LayerEditorModel::modeHint() const {
    if (mackieMode())
        return QStringLiteral(
            "In MainStage Preferences \u2192 Controllers \u2192 Add \u2192 Mackie Control, pointed "
            "at the selected port. No per-layer mapping needed. Up to 8 layers per bank.");
    return QStringLiteral("In MainStage: right-click each channel strip's Mute \u2192 Learn \u2192 "
                          "press a key set to CC. Works with any host or hardware.");
}

int LayerEditorModel::layerCap() const {
    return static_cast<int>(visibleLayerCap(state_.mode()));
}

QStringList LayerEditorModel::ports() const {
    QStringList names;
    for (const std::string& name : midi_.destinations())
        names << qtext(name);
    return names;
}

std::vector<RowListModel::Row> LayerEditorModel::buildLayers() const {
    std::vector<RowListModel::Row> list;
    const Setlist& set = state_.setlist();
    const bool mackie = mackieMode();
    const std::size_t cap = visibleLayerCap(state_.mode());
    // The bank the MIDI engine positions the surfaces at.
    const std::int64_t offset =
        std::clamp<std::int64_t>(set.effectiveTrackOffset(), 0, MidiService::kMaxBankOffset);
    const SlotNames& dawNames = midi_.mackieSlotNames();
    for (std::size_t i = 0; i < set.layers.size(); ++i) {
        const Layer& layer = set.layers[i];
        QString track, trackHelp, dawLine;
        // Only the main surface and the extender have strips: 16 layers at most are driven.
        if (mackie && i < 2 * kMainSurfaceStrips) {
            const std::int64_t t = offset + static_cast<std::int64_t>(i) + 1;
            if (i < kMainSurfaceStrips) {
                track = QStringLiteral("TRK %1").arg(t);
                trackHelp = QStringLiteral("Controls track %1 via the main Mackie surface.").arg(t);
                const auto name = dawNames.find(static_cast<int>(i));
                dawLine = name != dawNames.end() && !name->second.empty()
                              ? QStringLiteral("DAW: ") + qtext(name->second)
                              : QStringLiteral("waiting for DAW track name\u2026");
            } else {
                track = QStringLiteral("XT %1").arg(t);
                trackHelp = QStringLiteral("Controls track %1 via the Mackie Extender (\"Strata "
                                           "XT\" port). Add a Mackie Control Extender in your DAW.")
                                .arg(t);
            }
        }
        list.push_back({
            qtext(layer.id),
            qtext(layer.name),
            i < cap,
            track,
            trackHelp,
            dawLine,
            qtext(layer.portName),
            static_cast<int>(std::clamp<std::int64_t>(layer.channel, -999, 999)),
            layer.muteCC ? static_cast<int>(std::clamp<std::int64_t>(*layer.muteCC, -1, 9999)) : -1,
            static_cast<int>(layer.rules.size()),
        });
    }
    return list;
}

void LayerEditorModel::addLayer() {
    state_.addLayer(defaultLayerPort(state_.setlist()));
}

void LayerEditorModel::deleteLayer(const QString& layerID) {
    if (const auto id = parseUuid(layerID))
        state_.deleteLayer(*id);
}

void LayerEditorModel::useDawNames() {
    if (!mackieMode())
        return;
    const SlotNames names = midi_.mackieSlotNames();
    state_.updateSetlist([&](Setlist& set) {
        bool changed = false;
        for (std::size_t i = 0; i < set.layers.size() && i < kMainSurfaceStrips; ++i) {
            const auto name = names.find(static_cast<int>(i));
            if (name == names.end() || name->second.empty() || set.layers[i].name == name->second)
                continue;
            set.layers[i].name = name->second;
            changed = true;
        }
        return changed;
    });
}

void LayerEditorModel::setName(const QString& layerID, const QString& name) {
    editLayer(state_, layerID, [&](Layer& layer) {
        std::string next = name.toStdString();
        if (layer.name == next)
            return false;
        layer.name = std::move(next);
        return true;
    });
}

void LayerEditorModel::setPort(const QString& layerID, const QString& port) {
    editLayer(state_, layerID, [&](Layer& layer) {
        std::string next = port.toStdString();
        if (layer.portName == next)
            return false;
        layer.portName = std::move(next);
        return true;
    });
}

void LayerEditorModel::setChannel(const QString& layerID, int channel) {
    const std::int64_t next = std::clamp(channel, 1, 16);
    editLayer(state_, layerID, [&](Layer& layer) {
        if (layer.channel == next)
            return false;
        layer.channel = next;
        return true;
    });
}

void LayerEditorModel::setMuteCC(const QString& layerID, int cc) {
    const std::optional<std::int64_t> next =
        cc < 0 ? std::nullopt : std::optional<std::int64_t>(std::min(cc, 127));
    editLayer(state_, layerID, [&](Layer& layer) {
        if (layer.muteCC == next)
            return false;
        layer.muteCC = next;
        return true;
    });
}

} // namespace strata
