#include "app_state_model.h"

#include "engine/app_state.h"
#include "midi/midi_service.h"

#include <QVariantMap>
#include <algorithm>

namespace strata {

namespace {

QString text(const std::string& s) {
    return QString::fromStdString(s);
}

} // namespace

AppStateModel::AppStateModel(AppState& state, QObject* parent)
    : QObject(parent), state_(state), undo_(new UndoModel(state, this)),
      layers_({"name", "channel", "playing"}) {
    refresh();
    connections_ += state_.changed.connect([this] { refresh(); });
}

void AppStateModel::refresh() {
    std::vector<RowListModel::Row> layers;
    const UuidSet& muted = state_.activeMutedIDs();
    for (const Layer& layer : state_.visibleLayers())
        layers.push_back(
            {text(layer.name), static_cast<int>(layer.channel), !muted.contains(layer.id)});
    layers_.update(std::move(layers));

    // Stores the group's values and tells whether they differ from the last ones.
    const auto moved = [](QVariantList& last, QVariantList now) {
        if (now == last)
            return false;
        last = std::move(now);
        return true;
    };
    const bool set =
        moved(set_, {isPro(), stageMode(), setName(), songCount(), songNames(), mackieMode(),
                     controlModeTitle(), ardourHost(), mackiePort(), bankOffset()});
    const bool song = moved(song_, {songName(), songIndex()});
    const bool position =
        moved(position_, {hasSection(), sectionName(), sectionIndex(), hasNextSection(),
                          nextSectionName(), stepIndex(), stepCount(), momentActive()});
    const bool mix = moved(mix_, {playingLayers()});
    if (set)
        Q_EMIT setChanged();
    if (song)
        Q_EMIT songChanged();
    if (position)
        Q_EMIT positionChanged();
    if (mix)
        Q_EMIT mixChanged();
}

bool AppStateModel::isPro() const {
    return state_.mode() == StrataMode::pro;
}

bool AppStateModel::stageMode() const {
    return state_.stageMode();
}

QString AppStateModel::setName() const {
    return text(state_.setlist().name);
}

QString AppStateModel::songName() const {
    const Song* song = state_.currentSong();
    return song ? text(song->name) : QString();
}

int AppStateModel::songIndex() const {
    return static_cast<int>(state_.currentSongIndex());
}

int AppStateModel::songCount() const {
    return static_cast<int>(state_.setlist().songs.size());
}

QStringList AppStateModel::songNames() const {
    QStringList names;
    for (const Song& song : state_.setlist().songs)
        names << text(song.name);
    return names;
}

bool AppStateModel::hasSection() const {
    return state_.currentSection() != nullptr;
}

QString AppStateModel::sectionName() const {
    const Section* section = state_.currentSection();
    return section ? text(section->name) : QString();
}

int AppStateModel::sectionIndex() const {
    return static_cast<int>(state_.currentSectionIndex());
}

bool AppStateModel::hasNextSection() const {
    return state_.nextSection() != nullptr;
}

QString AppStateModel::nextSectionName() const {
    const Section* next = state_.nextSection();
    return next ? text(next->name) : QString();
}

int AppStateModel::stepIndex() const {
    const Section* section = state_.currentSection();
    const SectionStep* step = state_.currentStep();
    if (!section || !step)
        return 0;
    return static_cast<int>(step - section->steps.data());
}

int AppStateModel::stepCount() const {
    const Section* section = state_.currentSection();
    return section ? static_cast<int>(section->steps.size()) : 0;
}

QStringList AppStateModel::playingLayers() const {
    // Only the layers this feature level drives: a layer beyond them is not under Strata's
    // control, so the stage must not claim that it plays.
    QStringList names;
    if (!state_.currentSection())
        return names;
    const UuidSet& muted = state_.activeMutedIDs();
    for (const Layer& layer : state_.visibleLayers())
        if (!muted.contains(layer.id))
            names << text(layer.name);
    return names;
}

bool AppStateModel::momentActive() const {
    return state_.activeMomentMutedIDs().has_value();
}

bool AppStateModel::mackieMode() const {
    return state_.setlist().effectiveControlMode() == ControlMode::mackieControl;
}

QString AppStateModel::controlModeTitle() const {
    const std::string_view title = label(state_.setlist().effectiveControlMode());
    return QString::fromUtf8(title.data(), static_cast<qsizetype>(title.size()));
}

bool AppStateModel::ardourHost() const {
    return state_.setlist().effectiveDawHost() == DawHost::ardour;
}

QString AppStateModel::mackiePort() const {
    return text(state_.setlist().mackiePort.value_or(std::string()));
}

int AppStateModel::bankOffset() const {
    // What the MIDI engine positions the bank at.
    return static_cast<int>(std::clamp<std::int64_t>(state_.setlist().effectiveTrackOffset(), 0,
                                                     MidiService::kMaxBankOffset));
}

QString AppStateModel::bankLabelFor(std::int64_t offset) {
    return QStringLiteral("TRK %1\u2013%2").arg(offset + 1).arg(offset + 8);
}

QString AppStateModel::bankLabel() const {
    return bankLabelFor(bankOffset());
}

bool AppStateModel::canBankDown() const {
    return bankOffset() > 0;
}

bool AppStateModel::canBankUp() const {
    return bankOffset() < kMaxStepperOffset;
}

void AppStateModel::advance() {
    state_.advance();
}

void AppStateModel::retreat() {
    state_.retreat();
}

void AppStateModel::nextStep() {
    state_.nextStep();
}

void AppStateModel::prevStep() {
    state_.prevStep();
}

void AppStateModel::setStageMode(bool on) {
    state_.setStageMode(on);
}

void AppStateModel::toggleStageMode() {
    state_.setStageMode(!state_.stageMode());
}

} // namespace strata
