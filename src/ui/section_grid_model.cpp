#include "section_grid_model.h"

#include "editor_texts.h"
#include "engine/app_state.h"
#include "live/live_coordinator.h"
#include "midi/midi_service.h"
#include "ui_text.h"

#include <QVariantMap>

namespace strata {

namespace {

// The section at `index` of the current song, if there is one.
const Section* sectionAt(const AppState& state, int index) {
    const Song* song = state.currentSong();
    if (!song || index < 0 || index >= static_cast<int>(song->sections.size()))
        return nullptr;
    return &song->sections[static_cast<std::size_t>(index)];
}

} // namespace

SectionGridModel::SectionGridModel(AppState& state, MidiService& midi, LiveCoordinator& live,
                                   QObject* parent)
    : QObject(parent), state_(state), midi_(midi), live_(live), moments_(state, midi, live),
      columns_({"id", "name", "channel"}),
      sections_({"id", "name", "stepCount", "momentCount", "hasJumpTrigger", "jumpConnected",
                 "listening", "jumpText", "jumpHelp", "rows"}) {
    refresh();
    connections_ += state_.changed.connect([this] { refresh(); });
    connections_ += midi_.isLearningTrigger.changed.connect([this](const bool&) { refresh(); });
    // A jump trigger's device comes and goes.
    connections_ +=
        midi_.sources.changed.connect([this](const std::vector<std::string>&) { refresh(); });
}

void SectionGridModel::refresh() {
    columns_.update(buildColumns());
    sections_.update(buildSections());
    QVariantList song{hasSong(), songName(), isPro()};
    QVariantList position{currentSection(), currentStep(), currentStepCount()};
    const bool songMoved = song != song_;
    const bool positionMoved = position != position_;
    song_ = std::move(song);
    position_ = std::move(position);
    if (songMoved)
        Q_EMIT songChanged();
    if (positionMoved)
        Q_EMIT positionChanged();
}

bool SectionGridModel::hasSong() const {
    return state_.currentSong() != nullptr;
}

QString SectionGridModel::songName() const {
    const Song* song = state_.currentSong();
    return song ? qtext(song->name) : QString();
}

bool SectionGridModel::isPro() const {
    return state_.mode() == StrataMode::pro;
}

int SectionGridModel::currentSection() const {
    return state_.currentSection() ? static_cast<int>(state_.currentSectionIndex()) : -1;
}

int SectionGridModel::currentStep() const {
    const Section* section = state_.currentSection();
    const SectionStep* step = state_.currentStep();
    if (!section || !step)
        return -1;
    return static_cast<int>(step - section->steps.data());
}

int SectionGridModel::currentStepCount() const {
    const Section* section = state_.currentSection();
    return section ? static_cast<int>(section->steps.size()) : 0;
}

std::vector<RowListModel::Row> SectionGridModel::buildColumns() const {
    std::vector<RowListModel::Row> list;
    for (const Layer& layer : state_.visibleLayers())
        list.push_back({qtext(layer.id), qtext(layer.name), static_cast<int>(layer.channel)});
    return list;
}

std::vector<RowListModel::Row> SectionGridModel::buildSections() const {
    std::vector<RowListModel::Row> list;
    const Song* song = state_.currentSong();
    if (!song)
        return list;
    const auto layers = state_.visibleLayers();
    const bool pro = isPro();
    const bool learning = midi_.isLearningTrigger();
    const auto& target = state_.learnTarget();
    for (const Section& section : song->sections) {
        QVariantList rows;
        const std::size_t stepCount = section.steps.size();
        // Essentials has no steps: each section is its main step.
        const std::size_t shown = pro ? stepCount : std::min<std::size_t>(stepCount, 1);
        for (std::size_t j = 0; j < shown; ++j) {
            const SectionStep& step = section.steps[j];
            const auto badge = editor::stepBadge(step, j + 1 == stepCount);
            QVariantList cells;
            for (const Layer& layer : layers)
                cells << !step.mutedLayerIDs.contains(layer.id);
            rows << QVariantMap{
                {"number", QString::asprintf("%02d", static_cast<int>(j + 1))},
                {"badge", qtext(badge.text)},
                {"badgeHelp", qtext(badge.help)},
                {"badgeClickable", badge.clickable},
                {"momentary", step.returnToMain},
                {"canMomentary", j > 0 && stepCount >= 2},
                {"cells", cells},
            };
        }
        const bool listening = learning && target == AppState::LearnTarget::section(section.id);
        const auto& trigger = section.jumpTrigger;
        const bool connected = trigger && midi_.deviceConnected(trigger->deviceName);
        std::string help =
            trigger ? editor::jumpChipHelp(*trigger) : std::string(editor::kLearnJumpHelp);
        if (trigger && !connected)
            help += editor::notConnectedHelp(*trigger);
        if (listening)
            help = editor::kListeningHelp;
        list.push_back({
            qtext(section.id),
            qtext(section.name),
            static_cast<int>(stepCount),
            static_cast<int>(section.moments.size()),
            trigger.has_value(),
            connected,
            listening,
            trigger ? qtext(editor::jumpChipText(*trigger)) : QString(),
            qtext(help),
            rows,
        });
    }
    return list;
}

// ---- Header ------------------------------------------------------------------------------------

void SectionGridModel::renameSong(const QString& name) {
    state_.renameCurrentSong(name.toStdString());
}

void SectionGridModel::addSection() {
    state_.addSection();
}

void SectionGridModel::addStepToCurrentSection() {
    if (const Section* section = state_.currentSection())
        state_.addStep(section->id);
}

// ---- Sections ----------------------------------------------------------------------------------

void SectionGridModel::renameSection(int section, const QString& name) {
    state_.renameSection(section, name.toStdString());
}

void SectionGridModel::duplicateSection(int section) {
    state_.duplicateSection(section);
}

void SectionGridModel::moveSectionUp(int section) {
    if (sectionAt(state_, section))
        state_.moveSectionUp(section);
}

void SectionGridModel::moveSectionDown(int section) {
    if (sectionAt(state_, section))
        state_.moveSectionDown(section);
}

void SectionGridModel::deleteSection(int section) {
    state_.deleteSection(section);
}

// ---- Rows --------------------------------------------------------------------------------------

void SectionGridModel::selectRow(int section, int step) {
    const Section* s = sectionAt(state_, section);
    if (!s || step < 0 || step >= static_cast<int>(s->steps.size()))
        return;
    // The section first, so that a change of section resets its Moments before the step is set.
    state_.setCurrentSectionIndex(section);
    state_.setCurrentStepIndex(step);
}

void SectionGridModel::toggleCell(int section, int step, int column) {
    const Section* s = sectionAt(state_, section);
    const auto layers = state_.visibleLayers();
    if (!s || column < 0 || column >= static_cast<int>(layers.size()))
        return;
    state_.toggleLayer(layers[static_cast<std::size_t>(column)].id, s->id, step);
}

void SectionGridModel::cycleBadge(int section, int step) {
    const Section* s = sectionAt(state_, section);
    if (!s || step < 0 || step >= static_cast<int>(s->steps.size()))
        return;
    const auto j = static_cast<std::size_t>(step);
    const SectionStep& current = s->steps[j];
    if (!editor::stepBadge(current, j + 1 == s->steps.size()).clickable)
        return;
    state_.setAdvanceBars(editor::nextAdvanceBars(current.advanceBars), s->id, step);
}

void SectionGridModel::addStep(int section) {
    if (const Section* s = sectionAt(state_, section))
        state_.addStep(s->id);
}

void SectionGridModel::deleteStep(int section, int step) {
    if (const Section* s = sectionAt(state_, section))
        state_.deleteStep(s->id, step);
}

void SectionGridModel::toggleMomentary(int section, int step) {
    if (const Section* s = sectionAt(state_, section))
        state_.toggleMomentary(s->id, step);
}

// ---- Chips -------------------------------------------------------------------------------------

void SectionGridModel::jumpChipClicked(int section) {
    const Section* s = sectionAt(state_, section);
    if (!s)
        return;
    const auto target = AppState::LearnTarget::section(s->id);
    if (midi_.isLearningTrigger() && state_.learnTarget() == target) {
        // Listening for this section already: the click takes it back.
        live_.cancelLearning();
        return;
    }
    live_.learnJumpTrigger(s->id);
}

void SectionGridModel::clearJumpTrigger(int section) {
    if (const Section* s = sectionAt(state_, section))
        state_.setJumpTrigger(std::nullopt, s->id);
}

void SectionGridModel::editMoments(int section) {
    if (const Section* s = sectionAt(state_, section))
        moments_.openFor(qtext(s->id));
}

} // namespace strata
