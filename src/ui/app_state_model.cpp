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
    : QObject(parent), state_(state), undo_(new UndoModel(state, this)) {
    connections_ += state_.changed.connect([this] { Q_EMIT stateChanged(); });
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

QVariantList AppStateModel::sections() const {
    QVariantList list;
    if (const Song* song = state_.currentSong())
        for (const Section& section : song->sections)
            list << QVariantMap{{"name", text(section.name)},
                                {"steps", static_cast<int>(section.steps.size())}};
    return list;
}

QVariantList AppStateModel::layers() const {
    QVariantList list;
    const UuidSet& muted = state_.activeMutedIDs();
    for (const Layer& layer : state_.visibleLayers())
        list << QVariantMap{{"name", text(layer.name)},
                            {"channel", static_cast<int>(layer.channel)},
                            {"playing", !muted.contains(layer.id)}};
    return list;
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
