#include "setup_guide_model.h"

#include "midi/midi_service.h"

#include <QVariantMap>

namespace strata {

namespace {

QString text(std::string_view s) {
    return QString::fromUtf8(s.data(), static_cast<qsizetype>(s.size()));
}

} // namespace

SetupGuideModel::SetupGuideModel(MidiService& midi, QObject* parent)
    : QObject(parent), midi_(midi) {}

QStringList SetupGuideModel::hostLabels() const {
    QStringList labels;
    for (HostChoice host : allHostChoices)
        labels << text(rawValue(host));
    return labels;
}

QStringList SetupGuideModel::modeLabels() const {
    QStringList labels;
    for (ModeChoice mode : allModeChoices)
        labels << text(rawValue(mode));
    return labels;
}

void SetupGuideModel::setHost(int index) {
    if (index < 0 || index >= static_cast<int>(allHostChoices.size()) || index == host())
        return;
    host_ = allHostChoices[static_cast<std::size_t>(index)];
    Q_EMIT choiceChanged();
}

void SetupGuideModel::setMode(int index) {
    if (index < 0 || index >= static_cast<int>(allModeChoices.size()) || index == mode())
        return;
    mode_ = allModeChoices[static_cast<std::size_t>(index)];
    Q_EMIT choiceChanged();
}

QString SetupGuideModel::hostLabel() const {
    return text(rawValue(host_));
}

QString SetupGuideModel::modeLabel() const {
    return text(rawValue(mode_));
}

QString SetupGuideModel::modeDescription() const {
    return text(strata::modeDescription(host_, mode_));
}

QVariantList SetupGuideModel::steps() const {
    const auto main = midi_.surfacePorts(false);
    const auto extender = midi_.surfacePorts(true);
    const GuidePorts ports{
        {main.dawInput, main.dawOutput}, {extender.dawInput, extender.dawOutput}, pipeWire_};
    QVariantList list;
    int number = 0;
    for (const GuideStep& step : guideSteps(host_, mode_, ports))
        list << QVariantMap{
            {"number", ++number}, {"title", text(step.title)}, {"detail", text(step.detail)}};
    return list;
}

QString SetupGuideModel::closingLine() const {
    return text(strata::closingLine(host_));
}

QVariantList SetupGuideModel::clockSteps() const {
    QVariantList list;
    for (const GuideStep& step : strata::clockSteps(host_))
        list << QVariantMap{{"title", text(step.title)}, {"detail", text(step.detail)}};
    return list;
}

QVariantList SetupGuideModel::linkSteps() const {
    QVariantList list;
    for (const GuideStep& step : strata::linkSteps())
        list << QVariantMap{{"title", text(step.title)}, {"detail", text(step.detail)}};
    return list;
}

void SetupGuideModel::reset() {
    if (host_ == HostChoice::logic && mode_ == ModeChoice::ccMute)
        return;
    host_ = HostChoice::logic;
    mode_ = ModeChoice::ccMute;
    Q_EMIT choiceChanged();
}

QVariantList QuickStartModel::cards() const {
    QVariantList list;
    for (const QuickStartCard& card : quickStartCards())
        list << QVariantMap{
            {"icon", text(card.icon)}, {"title", text(card.title)}, {"body", text(card.body)}};
    return list;
}

} // namespace strata
