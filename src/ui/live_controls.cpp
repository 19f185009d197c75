#include "live_controls.h"

#include "app_state_model.h"
#include "engine/app_state.h"
#include "live/live_coordinator.h"
#include "midi/midi_service.h"

#include <QDir>
#include <QStandardPaths>
#include <algorithm>

namespace strata {

LiveControls::LiveControls(AppState& state, LiveCoordinator& live, QObject* parent)
    : QObject(parent), state_(state), live_(live) {}

void LiveControls::setPro(bool pro) {
    live_.setMode(pro ? StrataMode::pro : StrataMode::essentials);
}

void LiveControls::allOn() {
    live_.panic();
}

void LiveControls::setControlMode(const QString& rawMode) {
    if (const auto mode = controlModeFromRaw(rawMode.toStdString()))
        live_.setControlMode(*mode);
}

void LiveControls::setMackiePort(const QString& portName) {
    std::optional<std::string> port;
    if (!portName.isEmpty())
        port = portName.toStdString();
    live_.setMackiePort(std::move(port));
}

void LiveControls::setDawHost(const QString& rawHost) {
    if (const auto host = dawHostFromRaw(rawHost.toStdString()))
        live_.setDawHost(*host);
}

void LiveControls::resyncCCMutes() {
    live_.resyncCCMutes();
}

QString LiveControls::saveArdourMidiMap(const QUrl& file) {
    const QString path = file.isLocalFile() ? file.toLocalFile() : file.toString();
    if (path.isEmpty())
        return QStringLiteral("no file chosen");
    std::string error;
    if (live_.saveArdourMidiMap(std::filesystem::path(path.toStdString()), &error))
        return {};
    return QString::fromStdString(error);
}

QUrl LiveControls::ardourMapFolder() const {
    const QString config = QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation);
    // "ardour8", "ardour7", …: the highest version that has a configuration.
    QDir dir(config);
    QStringList versions =
        dir.entryList({QStringLiteral("ardour*")}, QDir::Dirs | QDir::NoDotAndDotDot);
    std::sort(versions.begin(), versions.end(), [](const QString& a, const QString& b) {
        return a.mid(6).toInt() < b.mid(6).toInt();
    });
    if (!versions.isEmpty()) {
        const QString maps = dir.filePath(versions.back() + QStringLiteral("/midi_maps"));
        // Ardour reads the folder but does not make it; made here, the map lands where it looks.
        if (QDir().mkpath(maps))
            return QUrl::fromLocalFile(maps);
    }
    if (!config.isEmpty() && QDir(config).exists())
        return QUrl::fromLocalFile(config);
    return QUrl::fromLocalFile(QDir::homePath());
}

void LiveControls::stepBank(int direction) {
    if (direction == 0)
        return;
    // From the bank the surface is at now (an offset stored beyond the stepper's range included):
    // a step right never lowers it, the first step left brings it back into range.
    const std::int64_t current = std::clamp<std::int64_t>(state_.setlist().effectiveTrackOffset(),
                                                          0, MidiService::kMaxBankOffset);
    const std::int64_t next = std::clamp<std::int64_t>(current + (direction > 0 ? 8 : -8), 0,
                                                       AppStateModel::kMaxStepperOffset);
    if (next == current || (direction > 0 && next < current))
        return;
    live_.setMackieTrackOffset(next);
}

} // namespace strata
