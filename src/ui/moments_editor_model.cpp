#include "moments_editor_model.h"

#include "editor_texts.h"
#include "engine/app_state.h"
#include "live/live_coordinator.h"
#include "midi/midi_service.h"
#include "model/default_ports.h"
#include "ui_text.h"

#include <QVariantMap>
#include <algorithm>
#include <functional>

namespace strata {

namespace {

std::optional<FireAnchor::Kind> anchorKind(const QString& kind) {
    for (auto k : {FireAnchor::Kind::manual, FireAnchor::Kind::onSectionEnter,
                   FireAnchor::Kind::barsBeforeSectionEnd, FireAnchor::Kind::barsAfterStart})
        if (kind == qtext(caseName(k)))
            return k;
    return std::nullopt;
}

// Finds the element with that id in a list of records.
template <typename T>
T* byID(std::vector<T>& list, const QString& id) {
    const auto uuid = parseUuid(id);
    if (!uuid)
        return nullptr;
    const auto it =
        std::find_if(list.begin(), list.end(), [&](const T& t) { return t.id == *uuid; });
    return it == list.end() ? nullptr : &*it;
}

} // namespace

MomentsEditorModel::MomentsEditorModel(AppState& state, MidiService& midi, LiveCoordinator& live,
                                       QObject* parent)
    : QObject(parent), state_(state), midi_(midi), live_(live), layers_({"id", "name"}),
      moments_({"id", "name", "anchor", "bars", "summary", "selected", "states", "patches", "ccs",
                "hasTrigger", "triggerText", "triggerHelp", "triggerConnected", "listening"}) {
    refresh();
    connections_ += state_.changed.connect([this] { refresh(); });
    connections_ +=
        midi_.destinations.changed.connect([this](const std::vector<std::string>&) { refresh(); });
    connections_ +=
        midi_.sources.changed.connect([this](const std::vector<std::string>&) { refresh(); });
    connections_ += midi_.isLearningTrigger.changed.connect([this](const bool&) { refresh(); });
}

void MomentsEditorModel::refresh() {
    std::vector<RowListModel::Row> layers;
    for (const Layer& layer : state_.visibleLayers())
        layers.push_back({qtext(layer.id), layerDisplayName(layer)});
    layers_.update(std::move(layers));
    moments_.update(buildMoments());
    QVariantList shown{open(), sectionName(), ports(), learning()};
    if (shown == shown_)
        return;
    shown_ = std::move(shown);
    Q_EMIT changed();
}

MomentsEditorModel::~MomentsEditorModel() = default;

namespace {

// The open section in the current song, if it is still there.
const Section* findSection(const AppState& state, const MomentsBinding* binding) {
    const Song* song = state.currentSong();
    if (!binding || !song)
        return nullptr;
    for (const Section& section : song->sections)
        if (section.id == binding->sectionID())
            return &section;
    return nullptr;
}

} // namespace

bool MomentsEditorModel::open() const {
    return findSection(state_, binding_.get()) != nullptr;
}

QString MomentsEditorModel::sectionName() const {
    const Section* section = findSection(state_, binding_.get());
    return section ? qtext(section->name) : QString();
}

QStringList MomentsEditorModel::ports() const {
    QStringList names;
    for (const std::string& name : midi_.destinations())
        names << qtext(name);
    return names;
}

std::vector<RowListModel::Row> MomentsEditorModel::buildMoments() const {
    std::vector<RowListModel::Row> list;
    if (!open())
        return list;
    const auto layers = state_.visibleLayers();
    const bool learning = midi_.isLearningTrigger();
    for (const Moment& moment : binding_->get()) {
        const auto& trigger = moment.trigger;
        const bool connected = trigger && midi_.deviceConnected(trigger->deviceName);
        std::string triggerHelp =
            trigger ? editor::momentTriggerHelp(*trigger) : std::string(editor::kLearnMomentHelp);
        if (trigger && !connected)
            triggerHelp += editor::notConnectedHelp(*trigger);
        const bool listening =
            learning && state_.learnTarget() == AppState::LearnTarget::moment(moment.id);
        if (listening)
            triggerHelp = editor::kListeningHelp;
        QVariantList states;
        int selected = 0;
        for (const Layer& layer : layers) {
            const int s = moment.unmuteLayerIDs.contains(layer.id) ? 1
                          : moment.muteLayerIDs.contains(layer.id) ? 2
                                                                   : 0;
            selected += s != 0 ? 1 : 0;
            states << s;
        }
        QVariantList patches;
        for (const PatchChange& p : moment.programChanges)
            patches << QVariantMap{{"id", qtext(p.id)},
                                   {"port", qtext(p.portName)},
                                   {"channel", static_cast<int>(p.channel)},
                                   {"program", static_cast<int>(p.program)}};
        QVariantList ccs;
        for (const CCSend& c : moment.ccSends)
            ccs << QVariantMap{{"id", qtext(c.id)},
                               {"port", qtext(c.portName)},
                               {"channel", static_cast<int>(c.channel)},
                               {"cc", static_cast<int>(c.cc)},
                               {"value", static_cast<int>(c.value)}};
        list.push_back({
            qtext(moment.id),
            qtext(moment.name),
            qtext(caseName(moment.anchor.kind)),
            static_cast<int>(std::clamp<std::int64_t>(moment.anchor.bars, -1000, 1000)),
            qtext(editor::momentSummary(moment, layers)),
            selected == 0 ? QStringLiteral("none selected")
                          : QStringLiteral("%1 selected").arg(selected),
            states,
            patches,
            ccs,
            trigger.has_value(),
            trigger ? qtext(editor::momentTriggerText(*trigger)) : QString(),
            qtext(triggerHelp),
            connected,
            listening,
        });
    }
    return list;
}

bool MomentsEditorModel::learning() const {
    return midi_.isLearningTrigger();
}

void MomentsEditorModel::triggerClicked(const QString& momentID) {
    const auto id = parseUuid(momentID);
    if (!id || !open())
        return;
    if (midi_.isLearningTrigger() && state_.learnTarget() == AppState::LearnTarget::moment(*id)) {
        live_.cancelLearning();
        return;
    }
    live_.learnMomentTrigger(*id);
}

void MomentsEditorModel::clearTrigger(const QString& momentID) {
    if (const auto id = parseUuid(momentID))
        state_.setMomentTrigger(std::nullopt, *id);
}

void MomentsEditorModel::cancelLearning() {
    live_.cancelLearning();
}

void MomentsEditorModel::openFor(const QString& sectionID) {
    const auto id = parseUuid(sectionID);
    if (!id)
        return;
    binding_ = std::make_unique<MomentsBinding>(state_.momentsBinding(*id));
    refresh();
}

void MomentsEditorModel::close() {
    // A learn for one of its Moments does not outlive the editor.
    const auto& target = state_.learnTarget();
    if (midi_.isLearningTrigger() && target && target->kind == AppState::LearnTarget::Kind::moment)
        live_.cancelLearning();
    binding_.reset();
    refresh();
}

void MomentsEditorModel::addMoment() {
    if (const Section* section = findSection(state_, binding_.get()))
        state_.addMoment(section->id);
}

void MomentsEditorModel::deleteMoment(const QString& momentID) {
    const Section* section = findSection(state_, binding_.get());
    const auto id = parseUuid(momentID);
    if (!section || !id)
        return;
    state_.deleteMoment(*id, section->id);
}

void MomentsEditorModel::test(const QString& momentID) {
    if (!open())
        return;
    auto moments = binding_->get();
    if (const Moment* moment = byID(moments, momentID))
        live_.testMoment(*moment);
}

namespace {

// Reads the Moments through the binding, edits the one with that id and writes them back.
void editMoment(const MomentsBinding* binding, const QString& momentID,
                const std::function<void(Moment&)>& edit) {
    if (!binding)
        return;
    auto moments = binding->get();
    Moment* moment = byID(moments, momentID);
    if (!moment)
        return;
    edit(*moment);
    binding->set(std::move(moments));
}

std::int64_t clampedInt(const QVariant& value, std::int64_t low, std::int64_t high) {
    return std::clamp<std::int64_t>(value.toLongLong(), low, high);
}

} // namespace

void MomentsEditorModel::setName(const QString& momentID, const QString& name) {
    editMoment(binding_.get(), momentID, [&](Moment& m) { m.name = name.toStdString(); });
}

void MomentsEditorModel::setAnchor(const QString& momentID, const QString& kind) {
    const auto k = anchorKind(kind);
    if (!k)
        return;
    editMoment(binding_.get(), momentID,
               [&](Moment& m) { m.anchor = editor::anchorOfKind(*k, m.anchor); });
}

void MomentsEditorModel::setBars(const QString& momentID, int bars) {
    const auto n = std::clamp<std::int64_t>(bars, editor::kMinStepperBars, editor::kMaxStepperBars);
    editMoment(binding_.get(), momentID, [&](Moment& m) {
        // The stepper is shown for the bar-timed anchors only; it writes nothing for the others.
        if (m.anchor.hasBars())
            m.anchor.bars = n;
    });
}

void MomentsEditorModel::setLayerState(const QString& momentID, const QString& layerID, int state) {
    const auto layer = parseUuid(layerID);
    if (!layer || state < 0 || state > 2)
        return;
    editMoment(binding_.get(), momentID, [&](Moment& m) {
        m.unmuteLayerIDs.erase(*layer);
        m.muteLayerIDs.erase(*layer);
        if (state == 1)
            m.unmuteLayerIDs.insert(*layer);
        else if (state == 2)
            m.muteLayerIDs.insert(*layer);
    });
}

void MomentsEditorModel::solo(const QString& momentID, const QString& layerID) {
    const auto layer = parseUuid(layerID);
    if (!layer)
        return;
    const auto layers = state_.visibleLayers();
    editMoment(binding_.get(), momentID, [&](Moment& m) {
        // The card's layers only: the others keep what they had.
        m.unmuteLayerIDs = {*layer};
        m.muteLayerIDs.clear();
        for (const Layer& l : layers)
            if (l.id != *layer)
                m.muteLayerIDs.insert(l.id);
    });
}

void MomentsEditorModel::addPatch(const QString& momentID) {
    editMoment(binding_.get(), momentID, [&](Moment& m) {
        PatchChange change = PatchChange::fresh();
        change.portName = defaultPatchPort(state_.setlist(), m);
        m.programChanges.push_back(std::move(change));
    });
}

void MomentsEditorModel::removePatch(const QString& momentID, const QString& patchID) {
    const auto id = parseUuid(patchID);
    if (!id)
        return;
    editMoment(binding_.get(), momentID, [&](Moment& m) {
        std::erase_if(m.programChanges, [&](const PatchChange& p) { return p.id == *id; });
    });
}

void MomentsEditorModel::setPatch(const QString& momentID, const QString& patchID,
                                  const QString& field, const QVariant& value) {
    editMoment(binding_.get(), momentID, [&](Moment& m) {
        PatchChange* p = byID(m.programChanges, patchID);
        if (!p)
            return;
        if (field == QLatin1String("port"))
            p->portName = value.toString().toStdString();
        else if (field == QLatin1String("channel"))
            p->channel = clampedInt(value, 1, 16);
        else if (field == QLatin1String("program"))
            p->program = clampedInt(value, 0, 127);
    });
}

void MomentsEditorModel::addCC(const QString& momentID) {
    editMoment(binding_.get(), momentID, [&](Moment& m) {
        CCSend send = CCSend::fresh();
        send.portName = defaultCCPort(state_.setlist(), m);
        m.ccSends.push_back(std::move(send));
    });
}

void MomentsEditorModel::removeCC(const QString& momentID, const QString& ccID) {
    const auto id = parseUuid(ccID);
    if (!id)
        return;
    editMoment(binding_.get(), momentID, [&](Moment& m) {
        std::erase_if(m.ccSends, [&](const CCSend& c) { return c.id == *id; });
    });
}

void MomentsEditorModel::setCC(const QString& momentID, const QString& ccID, const QString& field,
                               const QVariant& value) {
    editMoment(binding_.get(), momentID, [&](Moment& m) {
        CCSend* c = byID(m.ccSends, ccID);
        if (!c)
            return;
        if (field == QLatin1String("port"))
            c->portName = value.toString().toStdString();
        else if (field == QLatin1String("channel"))
            c->channel = clampedInt(value, 1, 16);
        else if (field == QLatin1String("cc"))
            c->cc = clampedInt(value, 0, 127);
        else if (field == QLatin1String("value"))
            c->value = clampedInt(value, 0, 127);
    });
}

} // namespace strata
