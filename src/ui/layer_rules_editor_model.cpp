#include "layer_rules_editor_model.h"

#include "editor_texts.h"
#include "engine/app_state.h"
#include "ui_text.h"

#include <QVariantMap>
#include <algorithm>
#include <functional>

namespace strata {

namespace {

const Layer* findLayer(const AppState& state, const QString& layerID) {
    const auto id = parseUuid(layerID);
    if (!id)
        return nullptr;
    for (const Layer& layer : state.setlist().layers)
        if (layer.id == *id)
            return &layer;
    return nullptr;
}

// Edits the rule with that id of the layer with that id, in place.
void editRule(AppState& state, const QString& layerID, const QString& ruleID,
              const std::function<bool(LayerRule&)>& edit) {
    const auto layer = parseUuid(layerID);
    const auto rule = parseUuid(ruleID);
    if (!layer || !rule)
        return;
    state.updateSetlist([&](Setlist& set) {
        for (Layer& l : set.layers) {
            if (l.id != *layer)
                continue;
            for (LayerRule& r : l.rules)
                if (r.id == *rule)
                    return edit(r);
            return false;
        }
        return false;
    });
}

std::optional<FireAnchor::Kind> ruleAnchorKind(const QString& kind) {
    // A rule repeats at a point of every matching section; it is never fired by hand.
    for (auto k : {FireAnchor::Kind::onSectionEnter, FireAnchor::Kind::barsBeforeSectionEnd,
                   FireAnchor::Kind::barsAfterStart})
        if (kind == qtext(caseName(k)))
            return k;
    return std::nullopt;
}

} // namespace

LayerRulesEditorModel::LayerRulesEditorModel(AppState& state, QObject* parent)
    : QObject(parent), state_(state),
      rules_({"id", "enabled", "effect", "anchor", "bars", "allSections", "chosen"}) {
    refresh();
    connections_ += state_.changed.connect([this] { refresh(); });
}

void LayerRulesEditorModel::refresh() {
    rules_.update(buildRules());
    QVariantList shown{open(), layerName(), sectionNames()};
    if (shown == shown_)
        return;
    shown_ = std::move(shown);
    Q_EMIT changed();
}

bool LayerRulesEditorModel::open() const {
    return findLayer(state_, layerID_) != nullptr;
}

QString LayerRulesEditorModel::layerName() const {
    const Layer* layer = findLayer(state_, layerID_);
    return layer ? layerDisplayName(*layer) : QString();
}

QStringList LayerRulesEditorModel::sectionNames() const {
    QStringList names;
    if (const Song* song = state_.currentSong())
        for (const Section& section : song->sections)
            if (!names.contains(qtext(section.name)))
                names << qtext(section.name);
    return names;
}

std::vector<RowListModel::Row> LayerRulesEditorModel::buildRules() const {
    std::vector<RowListModel::Row> list;
    const Layer* layer = findLayer(state_, layerID_);
    if (!layer)
        return list;
    const QStringList names = sectionNames();
    for (const LayerRule& rule : layer->rules) {
        QVariantList chosen;
        for (const QString& name : names)
            chosen << rule.sectionNames.contains(name.toStdString());
        list.push_back({
            qtext(rule.id),
            rule.enabled,
            qtext(rawValue(rule.effect)),
            qtext(caseName(rule.anchor.kind)),
            static_cast<int>(std::clamp<std::int64_t>(rule.anchor.bars, -1000, 1000)),
            rule.allSections,
            chosen,
        });
    }
    return list;
}

void LayerRulesEditorModel::openFor(const QString& layerID) {
    layerID_ = layerID;
    refresh();
}

void LayerRulesEditorModel::close() {
    layerID_.clear();
    refresh();
}

void LayerRulesEditorModel::addRule() {
    const auto id = parseUuid(layerID_);
    if (!id)
        return;
    state_.updateSetlist([&](Setlist& set) {
        for (Layer& layer : set.layers) {
            if (layer.id != *id)
                continue;
            // The record's defaults: on, swell in, two bars before the end, every section.
            layer.rules.push_back(LayerRule::fresh());
            return true;
        }
        return false;
    });
}

void LayerRulesEditorModel::deleteRule(const QString& ruleID) {
    const auto layer = parseUuid(layerID_);
    const auto rule = parseUuid(ruleID);
    if (!layer || !rule)
        return;
    state_.updateSetlist([&](Setlist& set) {
        for (Layer& l : set.layers)
            if (l.id == *layer)
                return std::erase_if(l.rules, [&](const LayerRule& r) { return r.id == *rule; }) >
                       0;
        return false;
    });
}

void LayerRulesEditorModel::setEnabled(const QString& ruleID, bool enabled) {
    editRule(state_, layerID_, ruleID, [&](LayerRule& r) {
        if (r.enabled == enabled)
            return false;
        r.enabled = enabled;
        return true;
    });
}

void LayerRulesEditorModel::setEffect(const QString& ruleID, const QString& effect) {
    const auto next = effectFromRaw(effect.toStdString());
    if (!next)
        return;
    editRule(state_, layerID_, ruleID, [&](LayerRule& r) {
        if (r.effect == *next)
            return false;
        r.effect = *next;
        return true;
    });
}

void LayerRulesEditorModel::setAnchor(const QString& ruleID, const QString& kind) {
    const auto k = ruleAnchorKind(kind);
    if (!k)
        return;
    editRule(state_, layerID_, ruleID, [&](LayerRule& r) {
        const FireAnchor next = editor::anchorOfKind(*k, r.anchor);
        if (r.anchor == next)
            return false;
        r.anchor = next;
        return true;
    });
}

void LayerRulesEditorModel::setBars(const QString& ruleID, int bars) {
    const auto n = std::clamp<std::int64_t>(bars, editor::kMinStepperBars, editor::kMaxStepperBars);
    editRule(state_, layerID_, ruleID, [&](LayerRule& r) {
        if (!r.anchor.hasBars() || r.anchor.bars == n)
            return false;
        r.anchor.bars = n;
        return true;
    });
}

void LayerRulesEditorModel::setAllSections(const QString& ruleID, bool all) {
    editRule(state_, layerID_, ruleID, [&](LayerRule& r) {
        if (r.allSections == all)
            return false;
        r.allSections = all;
        return true;
    });
}

void LayerRulesEditorModel::toggleSection(const QString& ruleID, const QString& name) {
    const std::string n = name.toStdString();
    editRule(state_, layerID_, ruleID, [&](LayerRule& r) {
        if (!r.sectionNames.erase(n))
            r.sectionNames.insert(n);
        return true;
    });
}

} // namespace strata
