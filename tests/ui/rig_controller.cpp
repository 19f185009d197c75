#include "rig_controller.h"

#include "ui_rig.h"

#include <QFile>

namespace strata::testing {

RigController::RigController(QObject* parent) : QObject(parent), rig_(std::make_unique<UiRig>()) {}

RigController::~RigController() = default;

void RigController::restart(bool clearSettings) {
    rig_->start(clearSettings);
}

void RigController::restartWithStoredFile(const QString& text) {
    const std::string bytes = text.toStdString();
    rig_->start(true, &bytes);
}

QVariantMap RigController::models() const {
    return rig_->models->properties();
}

void RigController::settle() {
    rig_->settle();
}

void RigController::advance(int milliseconds) {
    rig_->advance(std::chrono::milliseconds(milliseconds));
}

QVariantList RigController::heard() const {
    QVariantList packets;
    for (const auto& packet : rig_->heard()) {
        QVariantList bytes;
        for (std::uint8_t b : packet)
            bytes << int(b);
        packets << QVariant(bytes);
    }
    return packets;
}

void RigController::clearHeard() {
    rig_->clearHeard();
}

void RigController::cueHello(const QString& host) {
    rig_->cueHello(host.toStdString());
}

void RigController::cueGoodbye() {
    rig_->cueGoodbye();
}

void RigController::pressNote(const QString& device, int note) {
    rig_->pressNote(device.toStdString(), note);
}

void RigController::plugDestination(const QString& name) {
    rig_->midi.addDestination(name.toStdString());
    rig_->midi.notifySetupChanged();
    rig_->settle();
}

QString RigController::layerPort(int index) const {
    const auto& layers = rig_->app->setlist().layers;
    if (index < 0 || static_cast<std::size_t>(index) >= layers.size())
        return QStringLiteral("(no layer)");
    return QString::fromStdString(layers[static_cast<std::size_t>(index)].portName);
}

void RigController::unplug(const QString& device) {
    rig_->unplug(device.toStdString());
}

void RigController::addHandFiredMoment(const QString& name, const QString& device, int note) {
    rig_->addHandFiredMoment(name.toStdString(), device.toStdString(), note);
}

void RigController::stampTransmit() {
    rig_->service->noteTx();
    rig_->settle();
}

void RigController::setMidiAvailable(bool available) {
    // As a MIDI system that goes away or comes back: the engine publishes it, the toolbar follows.
    rig_->midi.setAvailable(available);
    rig_->settle();
}

void RigController::loadDemoSet() {
    rig_->app->setSetlist(UiRig::demoSet());
    rig_->settle();
    // As a set read at launch: the history starts with it.
    rig_->models->appState.undo()->clear();
}

void RigController::addStepToCurrentSection() {
    if (const Section* section = rig_->app->currentSection())
        rig_->app->addStep(section->id);
    rig_->settle();
}

void RigController::fireMoment() {
    rig_->fireMoment();
}

void RigController::blockSaving(bool blocked) {
    rig_->blockSaving(blocked);
}

void RigController::cueDatagram(const QString& json) {
    rig_->cueDatagram(json.toStdString());
}

QStringList RigController::sectionNames() const {
    QStringList names;
    if (const Song* song = rig_->app->currentSong())
        for (const Section& section : song->sections)
            names << QString::fromStdString(section.name);
    return names;
}

void RigController::setSetting(const QString& key, const QVariant& value) {
    if (value.typeId() == QMetaType::Bool)
        rig_->settings.setBool(key.toStdString(), value.toBool());
    else
        rig_->settings.setString(key.toStdString(), value.toString().toStdString());
}

QVariant RigController::boolSetting(const QString& key) const {
    const auto value = rig_->settings.boolValue(key.toStdString());
    return value ? QVariant(*value) : QVariant();
}

QString RigController::storedControlMode() const {
    const auto& mode = rig_->app->setlist().controlMode;
    return mode ? QString::fromUtf8(rawValue(*mode).data()) : QString();
}

QVariant RigController::storedMackiePort() const {
    const auto& port = rig_->app->setlist().mackiePort;
    return port ? QVariant(QString::fromStdString(*port)) : QVariant();
}

bool RigController::nextTriggerStored() const {
    return rig_->settings.contains(MidiService::kAdvanceTriggerKey);
}

QVariant RigController::storedDawHost() const {
    const auto& host = rig_->app->setlist().dawHost;
    return host ? QVariant(QString::fromUtf8(rawValue(*host).data())) : QVariant();
}

void RigController::routeLayersTo(const QString& port) {
    rig_->app->updateSetlist([&](Setlist& set) {
        for (Layer& layer : set.layers)
            layer.portName = port.toStdString();
        return true;
    });
    rig_->settle();
}

QUrl RigController::tempFileUrl(const QString& name) const {
    return QUrl::fromLocalFile(
        QString::fromStdString((rig_->dir->path() / name.toStdString()).string()));
}

QString RigController::fileText(const QUrl& file) const {
    QFile f(file.toLocalFile());
    if (!f.open(QIODevice::ReadOnly))
        return {};
    return QString::fromUtf8(f.readAll());
}

QVariant RigController::storedTrackOffset() const {
    const auto& offset = rig_->app->setlist().mackieTrackOffset;
    return offset ? QVariant(static_cast<int>(*offset)) : QVariant();
}

void RigController::setStoredTrackOffset(int offset) {
    rig_->app->updateSetlist([offset](Setlist& set) {
        set.mackieTrackOffset = offset;
        return true;
    });
}

int RigController::storedSectionIndex() const {
    return static_cast<int>(rig_->app->currentSectionIndex());
}

int RigController::storedStepIndex() const {
    return static_cast<int>(rig_->app->currentStepIndex());
}

} // namespace strata::testing
