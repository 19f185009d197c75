#include "rig_controller.h"

#include "model/setlist_codec.h"
#include "ui_rig.h"

#include <QFile>
#include <QJsonDocument>

namespace strata::testing {

RigController::RigController(QObject* parent) : QObject(parent), rig_(std::make_unique<UiRig>()) {}

RigController::~RigController() = default;

void RigController::restart(const QVariant& storedFile) {
    const std::string bytes = storedFile.toString().toStdString();
    rig_->start(true, storedFile.isValid() ? &bytes : nullptr);
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
    for (const auto& packet : rig_->midi.heardPackets(rig_->daw)) {
        QVariantList bytes;
        for (std::uint8_t b : packet)
            bytes << int(b);
        packets << QVariant(bytes);
    }
    return packets;
}

void RigController::clearHeard() {
    rig_->midi.clearHeard();
}

void RigController::pressNote(const QString& device, int note) {
    rig_->pressNote(device.toStdString(), note);
}

void RigController::plugDestination(const QString& name) {
    rig_->midi.addDestination(name.toStdString());
    rig_->midi.notifySetupChanged();
    rig_->settle();
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

void RigController::fireMoment() {
    rig_->fireMoment();
}

void RigController::blockSaving(bool blocked) {
    rig_->blockSaving(blocked);
}

void RigController::cueDatagram(const QString& json) {
    rig_->cueDatagram(json.toStdString());
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

bool RigController::nextTriggerStored() const {
    return rig_->settings.contains(MidiService::kAdvanceTriggerKey);
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

void RigController::setStoredTrackOffset(int offset) {
    rig_->app->updateSetlist([offset](Setlist& set) {
        set.mackieTrackOffset = offset;
        return true;
    });
}

QVariant RigController::stored(const QString& pointer) const {
    const auto bytes = encodeSetlist(rig_->app->setlist());
    QVariant value =
        QJsonDocument::fromJson(QByteArray::fromStdString(bytes.value_or(""))).toVariant();
    for (const QString& key : pointer.split(QLatin1Char('/'), Qt::SkipEmptyParts)) {
        bool isIndex = false;
        const int index = key.toInt(&isIndex);
        if (value.typeId() == QMetaType::QVariantList && isIndex)
            value = value.toList().value(index);
        else if (value.typeId() == QMetaType::QVariantMap)
            value = value.toMap().value(key);
        else
            return {};
    }
    return value;
}

} // namespace strata::testing
